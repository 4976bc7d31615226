// Schema migrations and the task selection, in the SQL both databases read.
#include "service/catalogue_schema.h"

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
};

constexpr const char* kSelectTasks = R"sql(
SELECT t.id, t.parent, t.description, t.is_link, t.url, t.parms
FROM task t
WHERE t.app_id = $1
  AND EXISTS (SELECT 1 FROM task_grant g
              WHERE g.app_id = t.app_id AND g.task_id = t.id
                AND (g.user_number IS NULL OR g.user_number = $2)
                AND (g.brand IS NULL OR g.brand = $3)
                AND (g.facility_id IS NULL OR g.facility_id = $4))
ORDER BY t.sort_order, t.id
)sql";

std::string Named(Database& db) { return json::Quote(db.Name()); }

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

TableRef SelectTasks(Database& db, const TaskQuery& query) {
    std::vector<std::string> fields(std::begin(kTaskFields), std::end(kTaskFields));
    TableBuilder builder(fields);
    db.Query(kSelectTasks,
             {Variant(query.app_id), Variant(query.user_number), Variant(query.brand),
              Variant(query.facility_id)},
             [&](const Row& row) {
                 Row values = row;
                 // SQLite has no real Boolean column; a stored 0/1 comes back
                 // as an integer unless the driver recognised the column.
                 if (values[3].type() == Variant::Type::Int32 ||
                     values[3].type() == Variant::Type::Int64)
                     values[3] = Variant::Boolean(values[3].ToInt64() != 0);
                 builder.AddRow(values);
             });
    return builder.Build();
}

}  // namespace kevra::service
