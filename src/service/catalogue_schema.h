// The catalogue schema shared by the SQLite and PostgreSQL stores, its
// versioned migrations, and the task selection RetrieveTasks runs on it.
//
//   task        (app_id, id) identifies a task; parent, description,
//               is_link, url, parms are the record set's fields (NULL kept
//               as Null); sort_order orders the rows, id breaks ties.
//   task_grant  who may see a task: NULL in user_number, brand or
//               facility_id matches anyone; a row of three NULLs grants the
//               task to everyone. A task without grants is seen by no one.
//   kevra_migration  one row per applied schema version.
//
// Migrations only ever append: a database made by an older release is
// brought up to date by applying the versions it lacks, each in the same
// transaction as its row in kevra_migration.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/recordset.h"
#include "service/database.h"
#include "service/task_service.h"

namespace kevra::service {

// The schema version this build writes and reads.
int32_t CurrentSchemaVersion();

// The version of the schema in `db`: 0 when it has none.
int32_t SchemaVersion(Database& db);

// Creates the schema in `db` or upgrades it to the current version. Raises
// err::kBadCatalogue for a database made by a newer release.
void UpgradeSchema(Database& db);

// Raises err::kBadCatalogue, with the command that fixes it, unless `db`
// holds the current schema.
void RequireSchema(Database& db);

// The task record set's rows for `query`: the tasks of the application that
// are granted to the user at that brand and facility, ordered by sort order
// then id.
TableRef SelectTasks(Database& db, const TaskQuery& query);

// The statements SelectTasks runs on a database of `kind` for `query`, with
// the parameters each binds, in the order it runs them: what a check of
// their query plans needs.
struct TaskStatement {
    std::string sql;
    Row params;
};
std::vector<TaskStatement> TaskSelectionStatements(StoreKind kind, const TaskQuery& query);

// Runs a block inside a transaction: committed when it returns, rolled back
// when it throws.
template <typename Fn>
void InTransaction(Database& db, Fn&& fn) {
    db.ExecScript("BEGIN");
    try {
        fn();
    } catch (...) {
        try {
            db.ExecScript("ROLLBACK");
        } catch (...) {
            // The first error is the one worth reporting; a connection that
            // cannot roll back has dropped the transaction anyway.
        }
        throw;
    }
    db.ExecScript("COMMIT");
}

}  // namespace kevra::service
