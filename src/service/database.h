// A connection to a catalogue database, SQLite or PostgreSQL, seen through
// the few operations the catalogue code needs.
//
// Everything above this interface (the schema and its migrations, the task
// selection, import, export and check) is written once for both databases.
// The SQL it sends is the common dialect of the two: numbered parameters
// $1, $2, ... (which SQLite also accepts, numbered in order of first use),
// INTEGER, TEXT and BOOLEAN columns.
//
// Every value from outside reaches the database as a bound parameter; the
// SQL text is always a constant of this program.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/variant.h"
#include "service/catalogue_location.h"

namespace kevra::service {

using Row = std::vector<Variant>;

class Database {
  public:
    virtual ~Database() = default;

    // How messages name this catalogue ("catalogue.db", "server db1:5432").
    virtual const std::string& Name() const = 0;
    virtual StoreKind Kind() const = 0;

    // Runs SQL text of one or more statements, without parameters.
    virtual void ExecScript(const std::string& sql) = 0;
    // Runs one statement with bound parameters (Null, Boolean, Int32,
    // Int64, Double or String) and calls `on_row` for each result row.
    // Result values: NULL -> Null, integers -> Int32 when they fit else
    // Int64, BOOLEAN -> Boolean, REAL -> Double, TEXT -> String.
    virtual void Query(const std::string& sql, const Row& params,
                       const std::function<void(const Row&)>& on_row) = 0;
    void Execute(const std::string& sql, const Row& params = {}) {
        Query(sql, params, [](const Row&) {});
    }
    // True when the table exists in the connection's schema.
    virtual bool HasTable(const std::string& name) = 0;

    // Inserts rows into `table` (names are constants of this program):
    // `values` holds the rows one after another, a value per column of
    // `columns`. Meant for bulk writes such as an import, which hands rows
    // over in batches as it reads them; a store may override it with a
    // faster path (a statement prepared once, a bulk copy). The default runs
    // one INSERT per row.
    virtual void InsertRows(const std::string& table, const std::vector<std::string>& columns,
                            const std::vector<Variant>& values) {
        const size_t n = columns.size();
        if (n == 0) return;
        std::string sql = "INSERT INTO " + table + " (";
        std::string params;
        for (size_t c = 0; c < n; ++c) {
            sql += (c ? ", " : "") + columns[c];
            params += (c ? ", $" : "$") + std::to_string(c + 1);
        }
        sql += ") VALUES (" + params + ")";
        Row row(n);
        for (size_t at = 0; at + n <= values.size(); at += n) {
            std::copy_n(values.begin() + static_cast<std::ptrdiff_t>(at), n, row.begin());
            Execute(sql, row);
        }
    }
};

enum class OpenMode {
    kReadOnly,   // the file or database must exist; nothing is ever written
    kReadWrite,  // must exist
    kCreate,     // a SQLite file is created when missing
};

// Opens the catalogue database at `loc` (kSqlite or kPostgres). Errors name
// the file or the server: err::kFileNotFound for a missing SQLite file,
// err::kServerUnavailable for a server that does not answer,
// err::kDatabase for other failures.
std::unique_ptr<Database> OpenDatabase(const CatalogueLocation& loc, OpenMode mode);

std::unique_ptr<Database> OpenSqlite(const CatalogueLocation& loc, OpenMode mode);
// Raises err::kCannotCreateComponent when this build has no PostgreSQL
// support.
std::unique_ptr<Database> OpenPostgres(const CatalogueLocation& loc, OpenMode mode);

// How long one statement may take before the load gives up on it: the wait
// for a PostgreSQL server, the run of a SQLite statement (which a hostile
// file can make endless).
inline constexpr std::chrono::milliseconds kDefaultStatementTimeout{30'000};

// How long one PostgreSQL statement may wait for the server before the
// server counts as no longer answering (kDefaultStatementTimeout unless
// set). For tests, and for hosts that want a tighter bound.
void SetPostgresStatementTimeout(std::chrono::milliseconds timeout);
// How long one SQLite statement may run (kDefaultStatementTimeout unless
// set); one that runs longer fails with err::kDatabase.
void SetSqliteStatementTimeout(std::chrono::milliseconds timeout);

}  // namespace kevra::service
