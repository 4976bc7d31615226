// Stands in for the PostgreSQL store in builds without libpq, so that a
// PostgreSQL MachineName fails the load with a message saying why.
#include "platform/error.h"
#include "service/database.h"

namespace kevra::service {

std::unique_ptr<Database> OpenPostgres(const CatalogueLocation&, OpenMode) {
    throw RuntimeError(err::kCannotCreateComponent,
                       "This KevraTaskList was built without PostgreSQL support; use a JSON or "
                       "SQLite catalogue, or rebuild with libpq installed (KEVRA_WITH_POSTGRES)");
}

void SetPostgresStatementTimeout(std::chrono::milliseconds) {}

}  // namespace kevra::service
