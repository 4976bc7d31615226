// Catalogue files for the benchmarks that load through the real task
// service: a scratch folder that lives as long as the process, and the
// generated rows written as a JSON catalogue, a SQLite catalogue or into a
// PostgreSQL database.
#pragma once

#include <cstdint>
#include <string>

#include "platform/recordset.h"

namespace benchmark {
class State;
}

namespace kevra::bench {

// The application id under which the benchmarks store their rows in a
// database, apart from any real catalogue's.
inline constexpr int32_t kBenchAppId = 7001;

// A folder under $TMPDIR (or /tmp) made on first use and removed, with all
// it holds, when the process ends.
const std::string& ScratchFolder();

// `rows` as a JSON catalogue file in the scratch folder; returns its path.
std::string WriteJsonStore(const TableRef& rows, const std::string& name);

// `rows` as a SQLite catalogue file in the scratch folder, granted to
// everyone under kBenchAppId; returns its path.
std::string WriteSqliteStore(const TableRef& rows, const std::string& name);

// Replaces the rows of kBenchAppId in the PostgreSQL database that
// `connection` names (a libpq connection string or URI) with `rows`, granted
// to everyone. Raises the store's error when the database cannot be reached
// or this build has no PostgreSQL support.
void WritePostgresStore(const TableRef& rows, const std::string& connection);

enum class Store { kJson, kSqlite, kPostgres };

// Where the generated list-bar catalogue of `rows` tasks is in `store`: a
// file path, or for PostgreSQL the connection string in KEVRA_TEST_PG.
// Written on first use; the database holds one size at a time, the last
// asked for, so asking for another size writes it again.
std::string StoreTarget(Store store, uint32_t rows);

// LoadData of StoreTarget(store, state.range(0)) through the real task
// service, once per iteration; skips with a message when the catalogue
// cannot be written or the load did not bring every task.
void BM_LoadData(benchmark::State& state, Store store);

}  // namespace kevra::bench
