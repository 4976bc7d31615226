// Memory per catalogue row: what a loaded control holds for each task of
// its catalogue, and the peak it reaches while loading, each with and
// without the task's own text.
//
// Each size is measured in a fresh process (this binary started again with
// --measure-load), so that neither the catalogue generated here nor heap
// left over from an earlier size is counted. The child loads a JSON or a
// SQLite catalogue through the real task service, fills the tree for the first list
// item and looks a task up by id, so that every index the control uses
// exists, then reports:
//   retained  heap in use (mallinfo2) after all that, minus before it;
//   peak      the high-water mark of resident memory (VmHWM) over it, minus
//             the resident memory before it.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "bench/bench_stores.h"
#include "bench/bench_support.h"
#include "service/task_service.h"

namespace kevra::bench {
namespace {

constexpr const char* kChildFlag = "--measure-load";

// A "Vm...:" line of /proc/self/status, in bytes.
uint64_t StatusBytes(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(key);
    while (std::getline(status, line))
        if (line.compare(0, n, key) == 0) return std::stoull(line.substr(n)) * 1024;
    return 0;
}

uint64_t HeapInUse() {
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

// The child: measures one load and prints "retained peak" in bytes.
int MeasureLoad(const char* machine_name) {
    HeadlessControl host;
    service::RegisterTaskService(host.Registry());
    ctlKevraTaskList& control = host.Control();
    control.MachineName(machine_name);
    control.AppId(kBenchAppId);  // the SQLite catalogue's; a JSON file ignores it

    // Start the high-water mark afresh where the kernel allows it.
    if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
    const uint64_t heap_before = HeapInUse();
    const uint64_t resident_before = std::max(StatusBytes("VmRSS:"), StatusBytes("VmHWM:"));

    control.LoadData();
    const ListBar& list_bar = control.sslistTaskList();
    if (list_bar.Groups().Count() > 0 && list_bar.Groups().Item(1)->ListItems().Count() > 0)
        control.sslistTaskList().UserClickItem(
            list_bar.Groups().Item(1)->ListItems().Item(1)->Key());
    if (control.Tasks()) control.Tasks()->Clone()->Filter("TaskId=1");

    const uint64_t heap_after = HeapInUse();
    const uint64_t peak = StatusBytes("VmHWM:");
    const std::string error = host.TakeError();
    if (!error.empty()) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    // Under a sanitizer's allocator mallinfo2 reports nothing: 0, not a wrap.
    const uint64_t retained = heap_after > heap_before ? heap_after - heap_before : 0;
    std::printf(
        "%llu %llu\n", static_cast<unsigned long long>(retained),
        static_cast<unsigned long long>(peak > resident_before ? peak - resident_before : 0));
    return 0;
}

// Runs this binary again on `path`; false with `error` set when that fails.
bool RunChild(const std::string& path, uint64_t& retained, uint64_t& peak, std::string& error) {
    const SelfRun run = RunSelf({"bench_memory", kChildFlag, path});
    unsigned long long r = 0, p = 0;
    if (!run.ok || std::sscanf(run.output.c_str(), "%llu %llu", &r, &p) != 2) {
        error = "the measuring process failed (see its message above)";
        return false;
    }
    retained = r;
    peak = p;
    return true;
}

void BM_MemoryPerRow(benchmark::State& state, bool sqlite) {
    const uint32_t rows = static_cast<uint32_t>(state.range(0));
    std::string path;
    double text_per_row = 0;
    try {
        const testdata::Catalogue cat = testdata::GenerateCatalogue(ListBarShape(rows));
        const std::string name = "memory-" + std::to_string(rows);
        path = sqlite ? WriteSqliteStore(cat.table, name) : WriteJsonStore(cat.table, name);
        text_per_row = static_cast<double>(cat.text_bytes) / rows;
    } catch (const RuntimeError& e) {
        state.SkipWithError(("cannot write the catalogue: " + e.Description()).c_str());
        return;
    }
    uint64_t retained = 0, peak = 0;
    for (auto _ : state) {
        std::string error;
        if (!RunChild(path, retained, peak, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
    }
    const double retained_per_row = static_cast<double>(retained) / rows;
    const double peak_per_row = static_cast<double>(peak) / rows;
    state.counters["text_B_per_row"] = text_per_row;
    state.counters["retained_B_per_row"] = retained_per_row;
    state.counters["retained_beyond_text_B_per_row"] = retained_per_row - text_per_row;
    state.counters["peak_B_per_row"] = peak_per_row;
    state.counters["peak_beyond_text_B_per_row"] = peak_per_row - text_per_row;
}

void Register(const char* name, bool sqlite) {
    auto* b = benchmark::RegisterBenchmark(name, BM_MemoryPerRow, sqlite);
    b->ArgName("rows");
    for (int64_t n : kSizes) b->Arg(n);
    b->Iterations(1)->Unit(benchmark::kMillisecond);
}

}  // namespace
}  // namespace kevra::bench

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], kevra::bench::kChildFlag) == 0)
        return kevra::bench::MeasureLoad(argv[2]);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    kevra::bench::Register("BM_MemoryPerRow_Json", false);
    kevra::bench::Register("BM_MemoryPerRow_Sqlite", true);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
