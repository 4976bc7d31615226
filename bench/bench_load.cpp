// LoadData through the real task service, from each catalogue store: a JSON
// file, a SQLite file and (when KEVRA_TEST_PG names a database) PostgreSQL.
// One load is the whole cycle the host waits for: the service reads the
// store into a record set, the control builds the list bar from it.
//
// The catalogue has the list bar's shape (a million tasks in ten thousand
// groups). Its files are written once per size, before timing, into a
// scratch folder that goes when the run ends.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "bench/bench_stores.h"
#include "bench/bench_support.h"

namespace kevra::bench {
namespace {

void Register(const char* name, Store store) {
    auto* b = benchmark::RegisterBenchmark(name, BM_LoadData, store);
    b->ArgName("rows");
    for (int64_t n : kSizes) b->Arg(n);
    b->Unit(benchmark::kMillisecond);
    // The server does the work of a PostgreSQL load in its own processes,
    // where this process's CPU time cannot see it.
    if (store == Store::kPostgres) b->UseRealTime();
}

}  // namespace
}  // namespace kevra::bench

int main(int argc, char** argv) {
    using kevra::bench::Register;
    using kevra::bench::Store;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Register("BM_LoadData_Json", Store::kJson);
    Register("BM_LoadData_Sqlite", Store::kSqlite);
    // PostgreSQL needs a server; without one its figures are left out
    // rather than reported as failures.
    const char* pg = std::getenv("KEVRA_TEST_PG");
    if (pg && *pg) Register("BM_LoadData_Postgres", Store::kPostgres);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
