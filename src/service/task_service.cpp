// KEVRA.clsKEVRA: the dispatch layer of the task service and the choice of
// catalogue store.
//
// The service itself holds nothing but the MachineName it was created with:
// each RetrieveTasks opens its store, reads the rows into a table the record
// set owns, and closes the store again before it returns, on every path.
#include "service/task_service.h"

#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/names.h"
#include "service/catalogue_location.h"
#include "service/catalogue_schema.h"
#include "service/database.h"
#include "service/json_catalogue.h"

namespace kevra::service {

namespace {

// Converts one by-reference argument, naming it when the value will not do.
template <typename Convert>
auto Argument(const Variant* arg, const char* what, Convert convert) -> decltype(convert(*arg)) {
    try {
        return convert(*arg);
    } catch (const RuntimeError& e) {
        throw RuntimeError(e.Number(), "RetrieveTasks: the " + std::string(what) + " (" +
                                           arg->Describe() + ") is not usable: " + e.Description());
    }
}

class TaskService : public Dispatchable {
  public:
    explicit TaskService(std::string machine_name) : machine_name_(std::move(machine_name)) {}

    std::string TypeName() const override { return "clsKEVRA"; }

    Variant InvokeByName(const std::string& name, std::vector<Variant*> args) override {
        if (SameName(name, "RetrieveTasks")) return RetrieveTasks(args);
        throw RuntimeError(err::kNoSuchMember,
                           "Object doesn't support this property or method: KEVRA.clsKEVRA has no "
                           "member \"" +
                               name + "\" (its one member is RetrieveTasks)");
    }

  private:
    Variant RetrieveTasks(const std::vector<Variant*>& args) {
        if (args.size() != 5)
            throw RuntimeError(err::kWrongArgumentCount,
                               "Wrong number of arguments: RetrieveTasks takes 5 (user number, "
                               "facility id, brand, application id, record set), not " +
                                   std::to_string(args.size()));
        for (const Variant* a : args)
            if (a == nullptr)
                throw RuntimeError(err::kInvalidArgument,
                                   "Invalid procedure call: RetrieveTasks was given a missing "
                                   "by-reference argument");
        TaskQuery query;
        query.user_number =
            Argument(args[0], "user number", [](const Variant& v) { return v.ToInt32(); });
        query.facility_id =
            Argument(args[1], "facility id", [](const Variant& v) { return v.ToString(); });
        query.brand = Argument(args[2], "brand", [](const Variant& v) { return v.ToString(); });
        query.app_id =
            Argument(args[3], "application id", [](const Variant& v) { return v.ToInt32(); });

        TableRef rows = RetrieveTaskRows(machine_name_, query);
        // The previous record set in argument 5 is the caller's: it is
        // replaced, not closed, so cursors the caller still holds stay valid.
        *args[4] = Variant(ObjectRef(Recordset::Open(std::move(rows))));
        return Variant();
    }

    std::string machine_name_;
};

}  // namespace

TableRef RetrieveTaskRows(const std::string& machine_name, const TaskQuery& query) {
    CatalogueLocation loc = ResolveMachineName(machine_name);
    if (loc.kind == StoreKind::kJson) {
        // A JSON catalogue is shown whole, whoever asks.
        return ReadJsonCatalogueRows(loc.target);
    }
    // The connection ends with this call; the rows are copied into a table
    // that the record set owns.
    std::unique_ptr<Database> db = OpenDatabase(loc, OpenMode::kReadOnly);
    RequireSchema(*db);
    return SelectTasks(*db, query);
}

void RegisterTaskService(ComponentRegistry& registry) {
    registry.Register(kTaskServiceProgId, [](const std::string& server) -> ObjectRef {
        return std::make_shared<TaskService>(server);
    });
}

}  // namespace kevra::service
