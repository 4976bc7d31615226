// Writing generated rows into the catalogue stores, through the same
// database layer and schema the task service reads.
#include "bench/bench_stores.h"

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <vector>

#include "bench/bench_support.h"
#include "bench/catalogue_generator.h"
#include "platform/error.h"
#include "service/catalogue_location.h"
#include "service/catalogue_schema.h"
#include "service/database.h"
#include "service/task_service.h"

namespace kevra::bench {

namespace {

class Scratch {
  public:
    Scratch() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/kevra-bench-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            throw RuntimeError(err::kPathAccess,
                               "Cannot make a scratch folder for the benchmark catalogues under " +
                                   pattern + "; set TMPDIR to a writable folder");
        path_ = pattern;
    }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

// Every row of `rows` into the task and task_grant tables under kBenchAppId,
// in one transaction, in row order (which becomes the sort order), a batch
// at a time through the store's bulk path (PostgreSQL: COPY), as an import
// writes them. All tasks go in before any grant. On PostgreSQL the tables
// are analysed in the transaction: the grants' key check is then planned
// on the full task table, and the server's own analysis does not start in
// the middle of the figures that follow.
void InsertRows(service::Database& db, const TableRef& rows, bool analyse) {
    static const std::vector<std::string> kTaskColumns{"app_id",  "id",  "parent", "description",
                                                       "is_link", "url", "parms",  "sort_order"};
    static const std::vector<std::string> kGrantColumns{"app_id", "task_id", "user_number", "brand",
                                                        "facility_id"};
    constexpr size_t kBatchRows = 1000;
    service::UpgradeSchema(db);
    service::InTransaction(db, [&] {
        db.Execute("DELETE FROM task_grant WHERE app_id = $1", {Variant(kBenchAppId)});
        db.Execute("DELETE FROM task WHERE app_id = $1", {Variant(kBenchAppId)});
        RecordsetRef rs = Recordset::Open(rows);
        const Field id = rs->Fields("TaskId"), parent = rs->Fields("TaskParent"),
                    description = rs->Fields("TaskDescription"), link = rs->Fields("IsLink"),
                    url = rs->Fields("TaskURL"), parms = rs->Fields("TaskParms");
        std::vector<Variant> batch;
        auto flush = [&](const char* table, const std::vector<std::string>& columns) {
            db.InsertRows(table, columns, batch);
            batch.clear();
        };
        for (int32_t order = 0; !rs->Eof(); rs->MoveNext(), ++order) {
            batch.insert(batch.end(),
                         {Variant(kBenchAppId), id.Value(), parent.Value(), description.Value(),
                          link.Value(), url.Value(), parms.Value(), Variant(order)});
            if (batch.size() == kBatchRows * kTaskColumns.size()) flush("task", kTaskColumns);
        }
        flush("task", kTaskColumns);
        if (analyse) db.Execute("ANALYZE task", {});
        RecordsetRef again = Recordset::Open(rows);
        const Field granted = again->Fields("TaskId");
        for (; !again->Eof(); again->MoveNext()) {
            batch.insert(batch.end(), {Variant(kBenchAppId), granted.Value(), Variant::Null(),
                                       Variant::Null(), Variant::Null()});
            if (batch.size() == kBatchRows * kGrantColumns.size())
                flush("task_grant", kGrantColumns);
        }
        flush("task_grant", kGrantColumns);
        if (analyse) db.Execute("ANALYZE task_grant", {});
    });
}

}  // namespace

const std::string& ScratchFolder() {
    static Scratch scratch;
    return scratch.Path();
}

std::string WriteJsonStore(const TableRef& rows, const std::string& name) {
    const std::string path = ScratchFolder() + "/" + name + ".json";
    testdata::WriteJsonCatalogueFile(rows, path);
    return path;
}

std::string WriteSqliteStore(const TableRef& rows, const std::string& name) {
    const std::string path = ScratchFolder() + "/" + name + ".db";
    service::CatalogueLocation loc;
    loc.kind = service::StoreKind::kSqlite;
    loc.target = path;
    loc.display = path;
    auto db = service::OpenDatabase(loc, service::OpenMode::kCreate);
    InsertRows(*db, rows, /*analyse=*/false);
    return path;
}

void WritePostgresStore(const TableRef& rows, const std::string& connection) {
    service::CatalogueLocation loc = service::ResolveMachineName(connection);
    if (loc.kind != service::StoreKind::kPostgres)
        throw RuntimeError(err::kInvalidArgument,
                           "KEVRA_TEST_PG does not name a PostgreSQL database; give a connection "
                           "string such as \"host=localhost dbname=kevra_test\"");
    auto db = service::OpenDatabase(loc, service::OpenMode::kReadWrite);
    InsertRows(*db, rows, /*analyse=*/true);
}

std::string StoreTarget(Store store, uint32_t rows) {
    static std::map<std::pair<Store, uint32_t>, std::string> written;
    static uint32_t postgres_rows = 0;
    if (store == Store::kPostgres && postgres_rows != rows) written.erase({store, rows});
    auto it = written.find({store, rows});
    if (it != written.end()) return it->second;
    const TableRef& table = GeneratedCatalogue(rows).table;
    const std::string name = "catalogue-" + std::to_string(rows);
    std::string target;
    switch (store) {
        case Store::kJson:
            target = WriteJsonStore(table, name);
            break;
        case Store::kSqlite:
            target = WriteSqliteStore(table, name);
            break;
        case Store::kPostgres:
            target = std::getenv("KEVRA_TEST_PG");
            WritePostgresStore(table, target);
            postgres_rows = rows;
            break;
    }
    written.emplace(std::make_pair(store, rows), target);
    return target;
}

void BM_LoadData(benchmark::State& state, Store store) {
    const uint32_t rows = static_cast<uint32_t>(state.range(0));
    std::string machine;
    try {
        machine = StoreTarget(store, rows);
    } catch (const RuntimeError& e) {
        state.SkipWithError(("cannot write the catalogue: " + e.Description()).c_str());
        return;
    }
    HeadlessControl host;
    service::RegisterTaskService(host.Registry());
    ctlKevraTaskList& control = host.Control();
    control.MachineName(machine);
    control.AppId(kBenchAppId);
    for (auto _ : state)
        if (!host.Load(state)) return;
    if (!control.Tasks() || control.Tasks()->RecordCount() != static_cast<int32_t>(rows)) {
        state.SkipWithError("the load did not bring every task of the catalogue");
        return;
    }
    state.SetItemsProcessed(state.iterations() * rows);
}

}  // namespace kevra::bench
