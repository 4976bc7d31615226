// Schema migrations and the task selection, in the SQL both databases read.
#include "service/catalogue_schema.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/json.h"
#include "service/json_catalogue.h"

namespace kevra::service {

namespace {

struct Migration {
    int32_t version;
    const char* description;
    const char* sql;
};

// Append only: never edit a migration that has been released.
const Migration kMigrations[] = {
    {1, "tasks and grants", R"sql(
CREATE TABLE task (
    app_id      INTEGER NOT NULL,
    id          INTEGER NOT NULL,
    parent      INTEGER,
    description TEXT,
    is_link     BOOLEAN,
    url         TEXT,
    parms       TEXT,
    sort_order  INTEGER NOT NULL,
    PRIMARY KEY (app_id, id)
);
CREATE INDEX task_by_order ON task (app_id, sort_order, id);
CREATE TABLE task_grant (
    app_id      INTEGER NOT NULL,
    task_id     INTEGER NOT NULL,
    user_number INTEGER,
    brand       TEXT,
    facility_id TEXT,
    FOREIGN KEY (app_id, task_id) REFERENCES task (app_id, id) ON DELETE CASCADE
);
CREATE INDEX task_grant_by_task ON task_grant (app_id, task_id);
)sql"},
    // RetrieveTasks at a hotel group's size: the grants of one user, one
    // facility, one brand and everyone, each a range (see the selection).
    {2, "grants by who they are for", R"sql(
CREATE INDEX task_grant_by_who ON task_grant (app_id, user_number, facility_id, brand, task_id);
)sql"},
};

// The ids of the tasks granted to the user at the brand and facility, as
// four ranges of task_grant_by_who, one per kind of grant row: the user's
// own, the facility's, the brand's and everyone's. Each range holds only
// rows that may match, so the cost follows the size of the user's view, not
// of the catalogue (a hotel group's catalogue has a million grant rows and a
// user sees a few hundred of them); the index holds task_id, so the ranges
// are read from the index alone. The one OR left per range filters rows of
// the range itself.
constexpr const char* kGrantRanges[] = {
    R"sql(SELECT g.task_id FROM task_grant g
WHERE g.app_id = $1 AND g.user_number = $2
  AND (g.brand IS NULL OR g.brand = $3) AND (g.facility_id IS NULL OR g.facility_id = $4))sql",
    R"sql(SELECT g.task_id FROM task_grant g
WHERE g.app_id = $1 AND g.user_number IS NULL AND g.facility_id = $4
  AND (g.brand IS NULL OR g.brand = $3))sql",
    R"sql(SELECT g.task_id FROM task_grant g
WHERE g.app_id = $1 AND g.user_number IS NULL AND g.facility_id IS NULL AND g.brand = $3)sql",
    R"sql(SELECT g.task_id FROM task_grant g
WHERE g.app_id = $1 AND g.user_number IS NULL AND g.facility_id IS NULL AND g.brand IS NULL)sql",
};

std::string GrantRanges(const char* joined_by) {
    std::string sql;
    for (const char* range : kGrantRanges)
        sql += (sql.empty() ? "" : joined_by) + std::string(range);
    return sql;
}

// PostgreSQL's selection as one statement: the granted ids gathered into an
// array first, then the tasks fetched by their key. The planner cannot
// estimate the grant ranges (it takes the everyone range, whose user,
// facility and brand are all NULL together, for a seventh of the table), so
// with an IN over them it hashed every task of the application to keep a
// few hundred, which cost a new server process more than the rest of the
// load. An array it takes for a handful of ids, looked up in the task key:
// only the granted tasks are read. A task granted twice is one element of
// ANY, so the ranges need no UNION. At a catalogue granted whole to
// everyone the million ids are looked up one by one where an IN merged
// them with the key, about a tenth slower there (docs/performance.md, "A
// shared PostgreSQL server under load").
const std::string& SelectTasksStatement() {
    static const std::string sql =
        "SELECT t.id, t.parent, t.description, t.is_link, t.url, t.parms\n"
        "FROM task t\n"
        "WHERE t.app_id = $1\n"
        "  AND t.id = ANY (ARRAY(" +
        GrantRanges("\nUNION ALL\n") +
        "))\n"
        "ORDER BY t.sort_order, t.id\n";
    return sql;
}

// SQLite would run that IN as one descent of the task key per granted id
// or, worse, the tasks in sort order with a probe each, random reads both:
// at a million tasks that is most of the load. It gets the selection in two
// sequential passes instead: the ids of the granted tasks (a task granted
// twice named twice), then the tasks in order, kept when their id was
// granted.
const std::string& SelectGrantedTaskIdsStatement() {
    static const std::string sql = GrantRanges("\nUNION ALL\n");
    return sql;
}

constexpr const char* kSelectAllTasks = R"sql(
SELECT t.id, t.parent, t.description, t.is_link, t.url, t.parms
FROM task t
WHERE t.app_id = $1
ORDER BY t.sort_order, t.id
)sql";

// The ids of the granted tasks. Ids are integers in any catalogue the tools
// write; they are kept as a bitmap over their span when that takes no more
// memory than the list of them, else as a sorted list. A SQLite column can
// still hold an id that is no integer (a file written by other means);
// those are kept aside and compared as SQL would: same kind, same value.
class GrantedIds {
  public:
    void Add(const Variant& id) {
        if (id.type() == Variant::Type::Int32 || id.type() == Variant::Type::Int64) {
            const int64_t v = id.ToInt64();
            if (ids_.empty() || v < first_) first_ = v;
            if (ids_.empty() || v > last_) last_ = v;
            ids_.push_back(v);
        } else if (!id.IsNull()) {
            others_.push_back(id);
        }
    }

    // Called once, after the last Add.
    void Seal() {
        if (ids_.empty()) return;
        // The span in 64-bit words; unsigned, so that no span overflows.
        const uint64_t words = (Offset(last_) / 64) + 1;
        if (words <= ids_.size()) {
            bits_.assign(words, 0);
            for (int64_t id : ids_) bits_[Offset(id) / 64] |= uint64_t{1} << (Offset(id) % 64);
            std::vector<int64_t>().swap(ids_);
        } else {
            std::sort(ids_.begin(), ids_.end());
            ids_.erase(std::unique(ids_.begin(), ids_.end()), ids_.end());
            ids_.shrink_to_fit();
        }
    }

    bool Contains(const Variant& id) const {
        if (id.type() == Variant::Type::Int32 || id.type() == Variant::Type::Int64) {
            const int64_t v = id.ToInt64();
            if (bits_.empty()) return std::binary_search(ids_.begin(), ids_.end(), v);
            if (v < first_ || v > last_) return false;
            return (bits_[Offset(v) / 64] >> (Offset(v) % 64) & 1) != 0;
        }
        return std::find(others_.begin(), others_.end(), id) != others_.end();
    }

  private:
    uint64_t Offset(int64_t id) const {
        return static_cast<uint64_t>(id) - static_cast<uint64_t>(first_);
    }

    std::vector<int64_t> ids_;  // until Seal, or sorted when there is no bitmap
    std::vector<uint64_t> bits_;
    int64_t first_ = 0, last_ = 0;
    std::vector<Variant> others_;
};

std::string Named(Database& db) { return MessageName(db.Kind(), db.Name()); }

}  // namespace

int32_t CurrentSchemaVersion() { return kMigrations[std::size(kMigrations) - 1].version; }

int32_t SchemaVersion(Database& db) {
    if (!db.HasTable("kevra_migration")) return 0;
    int32_t version = 0;
    db.Query("SELECT max(version) FROM kevra_migration", {}, [&](const Row& row) {
        if (!row[0].IsNull()) version = row[0].ToInt32();
    });
    return version;
}

void UpgradeSchema(Database& db) {
    InTransaction(db, [&] {
        db.ExecScript(
            "CREATE TABLE IF NOT EXISTS kevra_migration (version INTEGER PRIMARY KEY, "
            "description TEXT NOT NULL)");
        const int32_t have = SchemaVersion(db);
        if (have > CurrentSchemaVersion())
            throw RuntimeError(
                err::kBadCatalogue,
                "The catalogue " + Named(db) + " has schema version " + std::to_string(have) +
                    ", made by a newer KevraTaskList; this one knows versions up "
                    "to " +
                    std::to_string(CurrentSchemaVersion()) + ". Use the newer kevra-catalog.");
        for (const Migration& m : kMigrations) {
            if (m.version <= have) continue;
            db.ExecScript(m.sql);
            db.Execute("INSERT INTO kevra_migration (version, description) VALUES ($1, $2)",
                       {Variant(m.version), Variant(m.description)});
        }
    });
}

void RequireSchema(Database& db) {
    const int32_t have = SchemaVersion(db);
    if (have == CurrentSchemaVersion()) return;
    if (have == 0)
        throw RuntimeError(err::kBadCatalogue,
                           "The catalogue " + Named(db) +
                               " holds no task catalogue (its tables are missing); create them "
                               "with: kevra-catalog init TARGET");
    if (have < CurrentSchemaVersion())
        throw RuntimeError(err::kBadCatalogue, "The catalogue " + Named(db) +
                                                   " has schema version " + std::to_string(have) +
                                                   ", older than this program's " +
                                                   std::to_string(CurrentSchemaVersion()) +
                                                   "; upgrade it with: kevra-catalog init TARGET");
    throw RuntimeError(err::kBadCatalogue,
                       "The catalogue " + Named(db) + " has schema version " +
                           std::to_string(have) +
                           ", made by a newer KevraTaskList; this one reads versions up to " +
                           std::to_string(CurrentSchemaVersion()) + ". Update KevraTaskList.");
}

std::vector<TaskStatement> TaskSelectionStatements(StoreKind kind, const TaskQuery& query) {
    const Row params{Variant(query.app_id), Variant(query.user_number), Variant(query.brand),
                     Variant(query.facility_id)};
    if (kind != StoreKind::kSqlite) return {{SelectTasksStatement(), params}};
    return {{SelectGrantedTaskIdsStatement(), params}, {kSelectAllTasks, {params[0]}}};
}

TableRef SelectTasks(Database& db, const TaskQuery& query) {
    std::vector<std::string> fields(std::begin(kTaskFields), std::end(kTaskFields));
    TableBuilder builder(fields);
    const std::vector<TaskStatement> statements = TaskSelectionStatements(db.Kind(), query);
    auto add = [&](const Row& row) {
        // SQLite has no real Boolean column; a stored 0/1 comes back as an
        // integer unless the driver recognised the column.
        if (row[3].type() == Variant::Type::Int32 || row[3].type() == Variant::Type::Int64) {
            Row values = row;
            values[3] = Variant::Boolean(row[3].ToInt64() != 0);
            builder.AddRow(values);
        } else {
            builder.AddRow(row);
        }
    };
    if (statements.size() == 1) {
        db.Query(statements[0].sql, statements[0].params, add);
        return builder.Build();
    }
    GrantedIds granted;
    db.Query(statements[0].sql, statements[0].params, [&](const Row& row) { granted.Add(row[0]); });
    granted.Seal();
    db.Query(statements[1].sql, statements[1].params, [&](const Row& row) {
        if (granted.Contains(row[0])) add(row);
    });
    return builder.Build();
}

}  // namespace kevra::service
