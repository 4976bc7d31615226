// Importing a JSON catalogue into a database: every row checked in a first
// pass that writes nothing, then checked again and inserted in batches in
// one transaction, which a failure rolls back.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "service/catalogue_location.h"
#include "service/catalogue_schema.h"
#include "service/catalogue_tools.h"
#include "service/catalogue_tools_p.h"
#include "service/database.h"

namespace kevra::service {

using namespace catalogue_detail;

namespace {

// Tasks written into PostgreSQL before the first grants go (see Store),
// unless the grants held meanwhile reach kGrantsHeldAtMost values (five of
// 40 bytes a grant: 20 MB at most, 10 MB for the grants to everyone of
// 50,000 tasks).
constexpr size_t kGrantsAfterTasks = 50'000;
constexpr size_t kGrantsHeldAtMost = 500'000;

class Importer {
  public:
    Importer(CatalogueLocation loc, std::string json_path, const ProgressFn& progress)
        : loc_(std::move(loc)), json_path_(std::move(json_path)), progress_(progress) {}
    ~Importer() { Abandon(); }

    // The first pass: every row checked, nothing written. The problems,
    // if any, are thrown when it ends.
    void Check(const TaskRow& row) { Add(row, false); }
    void EndCheck();
    // The second pass: the rows checked again (the file may have changed
    // since) and written as they come.
    void Write(const TaskRow& row) { Add(row, true); }
    void BadApp(const TaskRow& row, const Variant& app) {
        Refuse(row, "AppId must be a whole number that fits 32 bits, not " + app.Describe());
    }
    ImportResult Finish();

  private:
    // Notes a row that cannot be stored: nothing will be written.
    void Refuse(const TaskRow& row, std::string what);
    void Add(const TaskRow& row, bool write);
    void Open();
    void Store(const TaskRow& row, int32_t id, Variant parent, Variant link);
    void FlushTasks();
    void FlushGrants();
    void Abandon();
    Variant AsText(const Variant& v, const TaskRow& row, const char* field);

    const CatalogueLocation loc_;
    const std::string json_path_;
    const ProgressFn& progress_;
    std::unique_ptr<Database> db_;
    bool in_transaction_ = false;
    bool created_file_ = false;
    bool hold_grants_ = false;    // see Store
    bool counted_tasks_ = false;  // see FlushGrants
    ImportResult result_;
    IdIndex seen_;                      // application and id -> (row << 32 | line) of its first row
    std::map<int32_t, int32_t> order_;  // the sort order so far per application
    std::vector<Problem> problems_;     // the first kMaxListedProblems
    size_t problem_count_ = 0;
    std::vector<Variant> tasks_, grants_;  // rows waiting for the next batch
};

void Importer::Refuse(const TaskRow& row, std::string what) {
    if (problems_.size() < kMaxListedProblems) problems_.push_back({Where(row), std::move(what)});
    ++problem_count_;
}

// A value the control reads as text (description, URL, parameters): text
// stays, Null stays, anything else is stored as the text the control would
// make of it.
Variant Importer::AsText(const Variant& v, const TaskRow& row, const char* field) {
    if (v.IsNull() || v.IsEmpty()) return Variant::Null();
    if (v.type() == Variant::Type::String) return v;
    result_.warnings.push_back(Where(row) + ": " + field + " " + v.Describe() +
                               " is stored as the text " + Quoted(v.ToString()));
    return Variant(v.ToString());
}

void Importer::Add(const TaskRow& row, bool write) {
    std::optional<int32_t> id = WholeInt32(row.task_id);
    if (row.task_id.IsNull()) return Refuse(row, "TaskId is missing");
    if (!id || *id == 0)
        return Refuse(row, "TaskId must be a whole number other than 0 that fits 32 bits, not " +
                               row.task_id.Describe());
    const uint64_t place = (uint64_t{static_cast<uint32_t>(row.number)} << 32) | row.line;
    auto [first, fresh] = seen_.Insert(IdKeyOf(row.app_id, *id), place);
    if (!fresh)
        return Refuse(row, "TaskId " + std::to_string(*id) + " is already used by " +
                               JsonWhere(static_cast<uint32_t>((first >> 32) - 1),
                                         static_cast<uint32_t>(first)) +
                               " in application " + std::to_string(row.app_id));
    Variant parent = Variant::Null();
    if (!row.parent.IsNull()) {
        std::optional<int32_t> p = WholeInt32(row.parent);
        if (!p)
            return Refuse(row,
                          "TaskParent must be a whole number that fits 32 bits, or "
                          "null, not " +
                              row.parent.Describe());
        parent = Variant(*p);
    }
    Variant link = Variant::Null();
    if (!row.is_link.IsNull()) {
        link = Variant::Boolean(row.is_link.EqualsTrue());
        if (write && row.is_link.type() != Variant::Type::Boolean)
            result_.warnings.push_back(
                Where(row) + ": IsLink " + row.is_link.Describe() + " is stored as " +
                (row.is_link.EqualsTrue() ? "true" : "false") + " (only true or -1 makes a link)");
    }
    if (write) Store(row, *id, std::move(parent), std::move(link));
}

// Opens the database, once the file has been read through without a
// problem.
void Importer::Open() {
    if (db_) return;
    if (loc_.kind == StoreKind::kSqlite) {
        struct stat st {};
        created_file_ = ::stat(loc_.target.c_str(), &st) != 0 && errno == ENOENT;
    }
    db_ = OpenDatabase(loc_, OpenMode::kCreate);
    UpgradeSchema(*db_);
    // The rows come in file order, their ids in none: each insert lands at
    // a random place of three indexes. With SQLite's default cache of 2 MiB
    // nearly every one of them is a read from the file; 64 MiB holds the
    // indexes of a million tasks (docs/performance.md, "Catalogue tools").
    if (db_->Kind() == StoreKind::kSqlite) db_->ExecScript("PRAGMA cache_size = -65536");
    hold_grants_ = db_->Kind() == StoreKind::kPostgres;
    db_->ExecScript("BEGIN");
    in_transaction_ = true;
}

void Importer::Store(const TaskRow& row, int32_t id, Variant parent, Variant link) {
    if (problem_count_ > 0) return;  // nothing is written; the rest is only checked
    Variant description = AsText(row.description, row, "TaskDescription");
    Variant url = AsText(row.url, row, "TaskURL");
    Variant parms = AsText(row.parms, row, "TaskParms");
    Open();
    const int32_t app = row.app_id;
    auto [order, first_of_app] = order_.emplace(app, 0);
    if (first_of_app) {
        FlushTasks();
        db_->Execute("DELETE FROM task_grant WHERE app_id = $1", {Variant(app)});
        db_->Execute("DELETE FROM task WHERE app_id = $1", {Variant(app)});
        result_.applications.push_back(app);
    }
    for (Variant v : {Variant(app), Variant(id), std::move(parent), std::move(description),
                      std::move(link), std::move(url), std::move(parms), Variant(++order->second)})
        tasks_.push_back(std::move(v));
    const std::vector<Grant> everyone{Grant{}};
    for (const Grant& g : row.grants ? *row.grants : everyone) {
        grants_.emplace_back(app);
        grants_.emplace_back(id);
        grants_.push_back(g.user_number ? Variant(*g.user_number) : Variant::Null());
        grants_.push_back(g.brand ? Variant(*g.brand) : Variant::Null());
        grants_.push_back(g.facility_id ? Variant(*g.facility_id) : Variant::Null());
    }
    ++result_.tasks;
    if (tasks_.size() >= kInsertBatch * 8) FlushTasks();
    // Into PostgreSQL the grants wait until the tasks they check their
    // reference against are many, and are counted (FlushGrants): the server
    // plans that check once for the session, by what it knows of the task
    // table at the first grants, and a plan made for a table it takes for
    // nearly empty looks a task up through task_by_order, reading every
    // task of the application for every grant thereafter (a fresh
    // database took hours at a million rows). SQLite looks each one up by
    // the key.
    if (grants_.size() >= kInsertBatch * 5 &&
        (!hold_grants_ || result_.tasks >= kGrantsAfterTasks ||
         grants_.size() >= kGrantsHeldAtMost))
        FlushGrants();
}

void Importer::FlushTasks() {
    static const std::vector<std::string> kTaskColumns{"app_id",  "id",  "parent", "description",
                                                       "is_link", "url", "parms",  "sort_order"};
    if (!tasks_.empty()) db_->InsertRows("task", kTaskColumns, tasks_);
    tasks_.clear();
}

void Importer::FlushGrants() {
    static const std::vector<std::string> kGrantColumns{"app_id", "task_id", "user_number", "brand",
                                                        "facility_id"};
    FlushTasks();  // their tasks first
    if (grants_.empty()) return;
    if (hold_grants_ && !counted_tasks_) {
        // ANALYZE counts the rows this transaction wrote, and skips with a
        // notice, not an error, for a role that does not own the table.
        db_->ExecScript("ANALYZE task");
        counted_tasks_ = true;
    }
    db_->InsertRows("task_grant", kGrantColumns, grants_);
    grants_.clear();
}

void Importer::EndCheck() {
    if (problem_count_ == 0) {
        seen_ = IdIndex();  // the second pass meets every id again
        return;
    }
    Abandon();
    std::string text = "The catalogue " + Quoted(json_path_) + " cannot be imported:";
    for (const auto& p : problems_) text += "\n  " + p.where + ": " + p.what;
    if (problem_count_ > kMaxListedProblems)
        text += "\n  ... and " + Counted(problem_count_ - kMaxListedProblems, "more problem") +
                " (kevra-catalog check lists them all)";
    throw RuntimeError(err::kBadCatalogue, text);
}

ImportResult Importer::Finish() {
    EndCheck();  // rows that changed between the passes
    Open();      // a catalogue without rows still gets the schema
    FlushGrants();
    db_->ExecScript("COMMIT");
    in_transaction_ = false;
    created_file_ = false;
    Report(progress_, "imported", result_.tasks, result_.tasks);
    return std::move(result_);
}

// Rolls back what was written, and removes a SQLite file this import made:
// an import that fails leaves the target as it was.
void Importer::Abandon() {
    if (in_transaction_) {
        in_transaction_ = false;
        try {
            db_->ExecScript("ROLLBACK");
        } catch (...) {
            // The first error is the one worth reporting; a connection that
            // cannot roll back has dropped the transaction anyway.
        }
    }
    db_.reset();
    if (created_file_) {
        ::unlink(loc_.target.c_str());
        ::unlink((loc_.target + "-journal").c_str());
        created_file_ = false;
    }
}

}  // namespace

ImportResult ImportJson(const std::string& json_path, const std::string& target,
                        int32_t default_app, const ProgressFn& progress,
                        const std::optional<std::string>& json_text) {
    CatalogueLocation loc = ResolveMachineName(target);
    if (loc.kind == StoreKind::kJson)
        throw RuntimeError(err::kInvalidArgument,
                           "Cannot import into " + Quoted(target) +
                               ": it is a JSON file; import into a database (a .db file, "
                               "sqlite:FILE, a PostgreSQL server), or copy the JSON file");
    // Two passes: the first checks every row and writes nothing, so a file
    // with problems leaves the database untouched (and unopened); the
    // second writes the rows as it reads them, knowing how many there are.
    Importer importer(loc, json_path, progress);
    JsonTaskReader reader;
    reader.default_app = default_app;
    reader.on_bad_app = [&](const TaskRow& row, const Variant& app) { importer.BadApp(row, app); };
    JsonProgress parsing = Parsing(json_path);
    if (json_text) parsing.every = SIZE_MAX;  // text in memory: no parse to wait for
    size_t rows = 0;
    ForEachJsonTask(
        json_path, json_text, reader,
        [&](TaskRow& row) {
            importer.Check(row);
            ++rows;
        },
        progress, parsing);
    importer.EndCheck();
    JsonTaskReader again = reader;  // its fields are found afresh, as the parser's are
    again.app_field = kNoField;
    again.fields_seen = 0;
    ForEachJsonTask(json_path, json_text, again, [&](TaskRow& row) { importer.Write(row); },
                    progress, {"importing", kProgressEvery, rows});
    return importer.Finish();
}

}  // namespace kevra::service
