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
#include <map>

#include "bench/bench_stores.h"
#include "bench/bench_support.h"
#include "service/task_service.h"

namespace kevra::bench {
namespace {

enum class Store { kJson, kSqlite, kPostgres };

// The MachineName that reaches the catalogue of `rows` tasks in `store`,
// written on first use.
std::string MachineNameFor(Store store, uint32_t rows) {
    static std::map<std::pair<Store, uint32_t>, std::string> written;
    auto it = written.find({store, rows});
    if (it != written.end()) return it->second;
    const TableRef& table = GeneratedCatalogue(rows).table;
    const std::string name = "catalogue-" + std::to_string(rows);
    std::string machine;
    switch (store) {
        case Store::kJson:
            machine = WriteJsonStore(table, name);
            break;
        case Store::kSqlite:
            machine = WriteSqliteStore(table, name);
            break;
        case Store::kPostgres:
            machine = std::getenv("KEVRA_TEST_PG");
            WritePostgresStore(table, machine);
            break;
    }
    written.emplace(std::make_pair(store, rows), machine);
    return machine;
}

void BM_LoadData(benchmark::State& state, Store store) {
    const uint32_t rows = static_cast<uint32_t>(state.range(0));
    std::string machine;
    try {
        machine = MachineNameFor(store, rows);
    } catch (const RuntimeError& e) {
        state.SkipWithError(("cannot write the catalogue: " + e.Description()).c_str());
        return;
    }
    HeadlessControl host;
    service::RegisterTaskService(host.Registry());
    ctlKevraTaskList& control = host.Control();
    control.MachineName(machine);
    control.AppId(kBenchAppId);
    for (auto _ : state)
        if (!host.Load(state)) return;
    if (!control.Tasks() || control.Tasks()->RecordCount() != static_cast<int32_t>(rows)) {
        state.SkipWithError("the load did not bring every task of the catalogue");
        return;
    }
    state.SetItemsProcessed(state.iterations() * rows);
}

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
