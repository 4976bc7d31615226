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
#pragma once

#include <string>

namespace kevra::service {

enum class StoreKind { kJson, kSqlite, kPostgres };

struct CatalogueLocation {
    StoreKind kind = StoreKind::kJson;
    // kJson, kSqlite: the file path. kPostgres: a libpq connection string or
    // URI (for a bare host name, one built from it).
    std::string target;
    // How messages name the catalogue: the file path, or the host name of
    // the bare-host form. Empty for PostgreSQL URIs and connection strings,
    // which may hold a password; their store names the server itself.
    std::string display;
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

}  // namespace kevra::service
