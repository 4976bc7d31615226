// Where a catalogue lives: the reading of a MachineName.
//
// The control hands the task service one string, MachineName. Its form picks
// the store (docs/catalogues.md, "MachineName forms"):
//
//   ""                              the per-user default SQLite catalogue,
//                                   $XDG_DATA_HOME/kevra/tasks.db
//   ends in .json                   a JSON catalogue file
//   ends in .db .sqlite .sqlite3,   a SQLite database file
//   or starts with sqlite:
//   starts with postgresql:// or    a PostgreSQL connection URI
//   postgres://
//   contains '=' (key=value ...)    a PostgreSQL connection string
//   anything else                   a PostgreSQL server host, database "kevra"
//
// Suffixes and prefixes match without regard to letter case. Blanks around
// the value are ignored. Resolving touches no file and no network.
//
// A PostgreSQL address may hold a password, so no message ever quotes it:
// messages name the server by host, port and database (`display`), and a
// malformed address is described in words of our own (`malformed`), never in
// libpq's, which quote the address whole.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kevra::service {

enum class StoreKind { kJson, kSqlite, kPostgres };

struct CatalogueLocation {
    StoreKind kind = StoreKind::kJson;
    // kJson, kSqlite: the file path. kPostgres: a libpq connection string or
    // URI (for a bare host name, one built from it; a URI's scheme in lower
    // case, the only case libpq reads).
    std::string target;
    // How messages name the catalogue: the file path, or for PostgreSQL
    // `server "HOST" port PORT database "DB"` with the parts the address sets.
    std::string display;
    // kPostgres: what is malformed in the address, in words that never quote
    // it; empty when it reads well.
    std::string malformed;
    // True for the per-user default catalogue (the empty MachineName).
    bool is_default = false;
};

// Reads a MachineName. Raises err::kPathAccess when the default catalogue is
// asked for but neither XDG_DATA_HOME nor HOME is set.
CatalogueLocation ResolveMachineName(const std::string& machine_name);

// The path of the per-user default catalogue: $XDG_DATA_HOME/kevra/tasks.db,
// with XDG_DATA_HOME defaulting to $HOME/.local/share (a relative
// XDG_DATA_HOME is ignored, as the XDG base directory rules require).
std::string DefaultCataloguePath();

// How messages name the catalogue a MachineName points at: `display` of
// its location ("the default catalogue" when that cannot be found). The one
// way a catalogue is named in messages, so that no message shows a
// PostgreSQL address whole.
std::string DisplayName(const std::string& machine_name);

// `display` as it follows "The catalogue " in a message: a file path in
// quotes, a PostgreSQL server phrase as it is (it quotes its own parts).
std::string MessageName(StoreKind kind, const std::string& display);

// A PostgreSQL address read the way libpq reads it: its settings in order
// (a later one wins; a URI's parts as host, port, user, password, dbname,
// its "ssl=true" as sslmode=require), or what is malformed. Does not know
// libpq's list of setting names; the store checks those.
struct PostgresAddress {
    std::vector<std::pair<std::string, std::string>> settings;
    std::string problem;  // empty when the address reads well
    // The value of the last setting `key`, or "".
    std::string Get(std::string_view key) const;
};
PostgresAddress ReadPostgresAddress(std::string_view address);

}  // namespace kevra::service
