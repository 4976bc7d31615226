// The catalogue tools at scale: kevra-catalog import, export and check of a
// generated catalogue, each beside the floor it is held to, measured in the
// same run.
//
// Every figure runs in a child process of its own, so that neither the
// catalogue generated here nor the heap of an earlier figure is counted:
// the tools as the real kevra-catalog binary, the floors in a forked child.
// The time of a figure is the child's CPU time (user and system, from
// wait4), its memory the child's peak resident set (ru_maxrss) less the peak
// of `kevra-catalog --version`, what the tool holds before it does anything.
//
//   BM_Import_Sqlite   kevra-catalog import FILE.json FILE.db, into a new file
//   BM_InsertFloor     the same rows, already in memory, put into the same
//                      schema (foreign keys checked, as the store does) with
//                      one prepared statement per table in one transaction:
//                      the least an import can cost
//   BM_InsertFloor_Cache64  the same with the import's 64 MiB page cache
//   BM_Check_Json      kevra-catalog check FILE.json
//   BM_JsonLoadFloor   the JSON reader a load runs, over the same file
//   BM_Check_Sqlite    kevra-catalog check FILE.db
//   BM_Export_Sqlite   kevra-catalog export FILE.db OUT.json
//   BM_Export_Sqlite_Stdout  kevra-catalog export FILE.db - (to /dev/null)
//   BM_ReadFloor       the rows of the task and task_grant tables stepped by
//                      one prepared statement each, their columns copied
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_stores.h"
#include "bench/bench_support.h"
#include "bench/catalogue_generator.h"
#include "service/catalogue_location.h"
#include "service/catalogue_schema.h"
#include "service/database.h"
#include "service/json_catalogue.h"

#ifndef KEVRA_CATALOG_TOOL
#error "KEVRA_CATALOG_TOOL must name the kevra-catalog binary (set by bench/CMakeLists.txt)"
#endif

namespace kevra::bench {
namespace {

const std::vector<int64_t> kToolSizes = {1'000, 100'000, 1'000'000};

struct ChildCost {
    double cpu_seconds = 0;
    double wall_seconds = 0;
    double peak_bytes = 0;  // ru_maxrss
    bool ok = false;
};

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; }

// Waits for `pid` and reads what it cost.
ChildCost Reap(pid_t pid, std::chrono::steady_clock::time_point start) {
    ChildCost cost;
    int status = 0;
    rusage usage{};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid) return cost;
    cost.wall_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cost.cpu_seconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    cost.peak_bytes = static_cast<double>(usage.ru_maxrss) * 1024;
    cost.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return cost;
}

constexpr const char* kSpawnFlag = "--spawn-tool";

// The small process between this one and the tool: forks, runs the tool
// with its output dropped, and prints what it cost. A child forked from this
// process directly would carry the generated catalogues' pages into its
// peak resident set (the kernel keeps the high-water mark across exec).
int SpawnTool(char** args) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (std::FILE* null = std::fopen("/dev/null", "w")) {
            ::dup2(fileno(null), 1);
            ::dup2(fileno(null), 2);
        }
        args[0] = const_cast<char*>("kevra-catalog");
        ::execv(KEVRA_CATALOG_TOOL, args);
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid) return 1;
    std::printf("%.6f %ld %d\n", Seconds(usage.ru_utime) + Seconds(usage.ru_stime), usage.ru_maxrss,
                WIFEXITED(status) ? WEXITSTATUS(status) : 128);
    return 0;
}

// kevra-catalog with `args`, through SpawnTool.
ChildCost RunTool(const std::vector<std::string>& args) {
    const auto start = std::chrono::steady_clock::now();
    int out[2];
    if (::pipe(out) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::close(out[1]);
        std::vector<char*> argv{const_cast<char*>("bench_tools"), const_cast<char*>(kSpawnFlag)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv("/proc/self/exe", argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<size_t>(n));
    ::close(out[0]);
    ChildCost cost = Reap(pid, start);
    double cpu = 0;
    long peak_kb = 0;
    int status = -1;
    if (!cost.ok || std::sscanf(text.c_str(), "%lf %ld %d", &cpu, &peak_kb, &status) != 3)
        return {};
    cost.cpu_seconds = cpu;
    cost.peak_bytes = static_cast<double>(peak_kb) * 1024;
    cost.ok = status == 0;
    return cost;
}

// `work` in a forked child; a child that throws fails.
ChildCost RunForked(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        try {
            work();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            ::_exit(1);
        }
        ::_exit(0);
    }
    return Reap(pid, start);
}

// What kevra-catalog holds before it does anything.
double ToolStartBytes() {
    static const double bytes = RunTool({"--version"}).peak_bytes;
    return bytes;
}

// The generated catalogue of each size, its JSON file and a SQLite file
// imported from it, made once per process.
struct Files {
    testdata::Catalogue cat;
    std::string json, db;
};

const Files& FilesOf(uint32_t rows) {
    static std::map<uint32_t, std::unique_ptr<Files>> made;
    auto& f = made[rows];
    if (!f) {
        f = std::make_unique<Files>();
        f->cat = testdata::GenerateCatalogue(ListBarShape(rows));
        const std::string name = "tools-" + std::to_string(rows);
        f->json = WriteJsonStore(f->cat.table, name);
        f->db = ScratchFolder() + "/" + name + ".db";
        if (!RunTool({"import", f->json, f->db}).ok)
            throw RuntimeError(err::kDatabase, "kevra-catalog could not import " + f->json);
    }
    return *f;
}

void Record(benchmark::State& state, const ChildCost& cost, bool with_memory) {
    if (!cost.ok) {
        state.SkipWithError("the measured process failed");
        return;
    }
    state.SetIterationTime(cost.cpu_seconds);
    state.counters["wall_s"] = cost.wall_seconds;
    if (with_memory) state.counters["peak_MB"] = (cost.peak_bytes - ToolStartBytes()) / 1e6;
}

// Runs `measure` once per iteration after the files exist; the last cost
// is recorded.
void Measure(benchmark::State& state, bool with_memory,
             const std::function<ChildCost(const Files&)>& measure) {
    const Files* files = nullptr;
    try {
        files = &FilesOf(static_cast<uint32_t>(state.range(0)));
    } catch (const RuntimeError& e) {
        state.SkipWithError(e.Description().c_str());
        return;
    }
    ChildCost cost;
    for (auto _ : state) {
        cost = measure(*files);
        Record(state, cost, with_memory);
    }
}

void Unlink(const std::string& path) {
    ::unlink(path.c_str());
    ::unlink((path + "-journal").c_str());
}

// The bare bulk insert: the schema made as an import makes it, then every
// row and its grant to everyone with one prepared statement per table.
void InsertFloor(const testdata::Catalogue& cat, const std::string& path, bool big_cache) {
    {
        service::CatalogueLocation loc;
        loc.kind = service::StoreKind::kSqlite;
        loc.target = loc.display = path;
        auto db = service::OpenDatabase(loc, service::OpenMode::kCreate);
        service::UpgradeSchema(*db);
    }
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK)
        throw RuntimeError(err::kDatabase, "cannot open " + path);
    sqlite3_stmt *task = nullptr, *grant = nullptr;
    // The grants' reference to their task is checked, as in the store.
    sqlite3_exec(db, "PRAGMA foreign_keys = ON", nullptr, nullptr, nullptr);
    if (big_cache) sqlite3_exec(db, "PRAGMA cache_size = -65536", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(db,
                       "INSERT INTO task (app_id, id, parent, description, is_link, url, parms, "
                       "sort_order) VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
                       -1, &task, nullptr);
    sqlite3_prepare_v2(db,
                       "INSERT INTO task_grant (app_id, task_id, user_number, brand, facility_id) "
                       "VALUES (?, ?, NULL, NULL, NULL)",
                       -1, &grant, nullptr);
    RecordsetRef rs = Recordset::Open(cat.table);
    const Field link = rs->Fields("IsLink"), url = rs->Fields("TaskURL"),
                parms = rs->Fields("TaskParms");
    auto bind_text = [](sqlite3_stmt* s, int i, const Variant& v) {
        if (v.IsNull())
            sqlite3_bind_null(s, i);
        else
            sqlite3_bind_text(s, i, v.StringValue().data(),
                              static_cast<int>(v.StringValue().size()), SQLITE_TRANSIENT);
    };
    for (uint32_t r = 0; !rs->Eof(); rs->MoveNext(), ++r) {
        sqlite3_bind_int(task, 1, 1);
        sqlite3_bind_int(task, 2, cat.task_id[r]);
        sqlite3_bind_int(task, 3, cat.parent_id[r]);
        sqlite3_bind_text(task, 4, cat.description[r].data(),
                          static_cast<int>(cat.description[r].size()), SQLITE_STATIC);
        sqlite3_bind_int(task, 5, link.Value().EqualsTrue() ? 1 : 0);
        bind_text(task, 6, url.Value());
        bind_text(task, 7, parms.Value());
        sqlite3_bind_int(task, 8, static_cast<int>(r + 1));
        if (sqlite3_step(task) != SQLITE_DONE) throw RuntimeError(err::kDatabase, "insert failed");
        sqlite3_reset(task);
        sqlite3_bind_int(grant, 1, 1);
        sqlite3_bind_int(grant, 2, cat.task_id[r]);
        if (sqlite3_step(grant) != SQLITE_DONE) throw RuntimeError(err::kDatabase, "insert failed");
        sqlite3_reset(grant);
    }
    sqlite3_finalize(task);
    sqlite3_finalize(grant);
    if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        throw RuntimeError(err::kDatabase, "commit failed");
    sqlite3_close(db);
}

// The bare read: both tables stepped in the orders an export reads them,
// every column copied out.
void ReadFloor(const std::string& path) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        throw RuntimeError(err::kDatabase, "cannot open " + path);
    size_t bytes = 0;
    for (const char* sql :
         {"SELECT app_id, id, parent, description, is_link, url, parms FROM task ORDER BY app_id, "
          "sort_order, id",
          "SELECT app_id, task_id, user_number, brand, facility_id FROM task_grant ORDER BY "
          "app_id, task_id, user_number, brand, facility_id"}) {
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
        std::string text;
        while (sqlite3_step(s) == SQLITE_ROW) {
            for (int c = 0; c < sqlite3_column_count(s); ++c) {
                if (sqlite3_column_type(s, c) == SQLITE_TEXT) {
                    text.assign(reinterpret_cast<const char*>(sqlite3_column_text(s, c)),
                                static_cast<size_t>(sqlite3_column_bytes(s, c)));
                    bytes += text.size();
                } else {
                    bytes += static_cast<size_t>(sqlite3_column_int64(s, c) & 1);
                }
            }
        }
        sqlite3_finalize(s);
    }
    sqlite3_close(db);
    benchmark::DoNotOptimize(bytes);
}

void BM_Import_Sqlite(benchmark::State& state) {
    Measure(state, true, [](const Files& f) {
        const std::string out = f.db + ".import.db";
        Unlink(out);
        ChildCost cost = RunTool({"import", f.json, out});
        Unlink(out);
        return cost;
    });
}

void BM_InsertFloor(benchmark::State& state, bool big_cache) {
    Measure(state, false, [&](const Files& f) {
        const std::string out = f.db + ".floor.db";
        Unlink(out);
        ChildCost cost = RunForked([&] { InsertFloor(f.cat, out, big_cache); });
        Unlink(out);
        return cost;
    });
}

void BM_Check_Json(benchmark::State& state) {
    Measure(state, true, [](const Files& f) { return RunTool({"check", f.json}); });
}

void BM_JsonLoadFloor(benchmark::State& state) {
    Measure(state, false, [](const Files& f) {
        return RunForked([&] { benchmark::DoNotOptimize(service::ReadJsonCatalogueRows(f.json)); });
    });
}

void BM_Check_Sqlite(benchmark::State& state) {
    Measure(state, true, [](const Files& f) { return RunTool({"check", f.db}); });
}

void BM_Export_Sqlite(benchmark::State& state) {
    Measure(state, true, [](const Files& f) {
        const std::string out = f.db + ".export.json";
        ChildCost cost = RunTool({"export", f.db, out});
        ::unlink(out.c_str());
        return cost;
    });
}

void BM_Export_Sqlite_Stdout(benchmark::State& state) {
    Measure(state, true, [](const Files& f) { return RunTool({"export", f.db, "-"}); });
}

void BM_ReadFloor(benchmark::State& state) {
    Measure(state, false, [](const Files& f) { return RunForked([&] { ReadFloor(f.db); }); });
}

template <typename... Args>
void Register(const char* name, void (*fn)(benchmark::State&, Args...), Args... args) {
    auto* b = benchmark::RegisterBenchmark(name, fn, args...);
    b->ArgName("rows");
    for (int64_t n : kToolSizes) b->Arg(n);
    b->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
}

}  // namespace
}  // namespace kevra::bench

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], kevra::bench::kSpawnFlag) == 0)
        return kevra::bench::SpawnTool(argv + 1);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    using namespace kevra::bench;
    Register("BM_Import_Sqlite", BM_Import_Sqlite);
    Register("BM_InsertFloor", BM_InsertFloor, false);
    Register("BM_InsertFloor_Cache64", BM_InsertFloor, true);
    Register("BM_Check_Json", BM_Check_Json);
    Register("BM_JsonLoadFloor", BM_JsonLoadFloor);
    Register("BM_Check_Sqlite", BM_Check_Sqlite);
    Register("BM_Export_Sqlite", BM_Export_Sqlite);
    Register("BM_Export_Sqlite_Stdout", BM_Export_Sqlite_Stdout);
    Register("BM_ReadFloor", BM_ReadFloor);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
