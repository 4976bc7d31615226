// What the PostgreSQL store's parts share: the connect that yields a
// connection, and the wording of its messages. Private to src/service.
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "service/database.h"

namespace kevra::service::postgres_detail {

// A connection to the server of `loc` (named `name` in messages), or the
// error that says what to fix.
PGconn* ConnectPostgres(const CatalogueLocation& loc, const std::string& name);

// A span of milliseconds as whole seconds, rounded up: "1 second", "5 seconds".
std::string SecondsText(int64_t ms);

// libpq's messages span lines ("...failed: ...\n\tIs the server running");
// an error report reads better as one line.
std::string Trimmed(std::string_view s);

}  // namespace kevra::service::postgres_detail
