// A shared PostgreSQL server at a shift change: many hosts load their
// user's view of a hotel group's catalogue (bench_pg_load_catalogue.h) at
// once. For 1, 10, 50 and 100 concurrent loaders (each a thread with
// connections of its own, a new one per load as a host opening its control
// makes) it reports loads per second and the p50 and p99 latency of a
// load, and beside them one loader on a SQLite file of the same catalogue
// and where one PostgreSQL loader's time goes (the connection alone, the
// statements alone on a connection kept open), and the same levels through
// PgBouncer in transaction pooling mode.
//
//   bench_pg_load [--levels 1,10,50,100] [--seconds S] [--max-loads N]
//
// It starts a throwaway server and pooler of its own on Unix sockets
// (pg-server.sh) and stops them at the end; each level runs until S seconds (default 10) or
// N loads (default 3000) have passed, whichever comes first.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_pg_load_catalogue.h"
#include "platform/error.h"
#include "service/catalogue_location.h"
#include "service/catalogue_schema.h"
#include "service/database.h"
#include "service/task_service.h"

namespace kevra::bench {
namespace {

using Clock = std::chrono::steady_clock;
using service::TaskQuery;

struct Level {
    int loaders = 0;
    size_t loads = 0;
    size_t failed = 0;
    double seconds = 0;
    double p50_ms = 0, p99_ms = 0;
    std::string first_error;
};

double Quantile(std::vector<double>& v, double q) {
    if (v.empty()) return 0;
    const size_t at =
        std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size())));
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(at), v.end());
    return v[at];
}

// What one load of a user's view does, by default the whole load.
using LoadFn = std::function<void(const TaskQuery&)>;

// `loaders` threads loading users' views until the time or the count runs
// out.
Level Run(const LoadFn& load, int loaders, double seconds, size_t max_loads) {
    Level level;
    level.loaders = loaders;
    std::atomic<size_t> next{0};
    std::mutex mutex;
    std::vector<double> latencies;
    const auto start = Clock::now();
    const auto stop =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    std::vector<std::thread> threads;
    for (int t = 0; t < loaders; ++t)
        threads.emplace_back([&] {
            std::vector<double> mine;
            size_t failed = 0;
            std::string error;
            for (;;) {
                const size_t n = next++;
                if (n >= max_loads || Clock::now() >= stop) break;
                const auto begin = Clock::now();
                try {
                    load(ScaleUser(static_cast<int>(n)));
                } catch (const RuntimeError& e) {
                    if (error.empty()) error = e.Description();
                    ++failed;
                    continue;
                }
                mine.push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
            }
            std::lock_guard<std::mutex> lock(mutex);
            latencies.insert(latencies.end(), mine.begin(), mine.end());
            level.failed += failed;
            if (level.first_error.empty()) level.first_error = error;
        });
    for (std::thread& t : threads) t.join();
    level.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    level.loads = latencies.size();
    level.p50_ms = Quantile(latencies, 0.50);
    level.p99_ms = Quantile(latencies, 0.99);
    return level;
}

void Fill(const std::string& machine) {
    auto db =
        service::OpenDatabase(service::ResolveMachineName(machine), service::OpenMode::kCreate);
    service::UpgradeSchema(*db);
    // A statement of the fill writes up to 800,000 rows.
    service::SetSqliteStatementTimeout(std::chrono::minutes(10));
    service::SetPostgresStatementTimeout(std::chrono::minutes(10));
    service::InTransaction(*db, [&] {
        for (const std::string& sql : ScaleCatalogueSql(db->Kind())) db->ExecScript(sql);
    });
    service::SetSqliteStatementTimeout(service::kDefaultStatementTimeout);
    service::SetPostgresStatementTimeout(service::kDefaultStatementTimeout);
}

LoadFn WholeLoad(const std::string& machine) {
    return [machine](const TaskQuery& q) { service::RetrieveTaskRows(machine, q); };
}

void Print(const char* store, const Level& l) {
    std::printf("| %-24s | %4d | %6zu | %8.1f | %8.2f | %8.2f |%s%s\n", store, l.loaders, l.loads,
                static_cast<double>(l.loads) / l.seconds, l.p50_ms, l.p99_ms,
                l.failed ? " failed: " : "", l.failed ? l.first_error.c_str() : "");
}

struct Options {
    std::vector<int> levels = {1, 10, 50, 100};
    double seconds = 10;
    size_t max_loads = 3000;
};

std::vector<int> ReadLevels(const char* list) {
    std::vector<int> levels;
    for (const char* p = list; *p;) {
        levels.push_back(std::max(1, std::atoi(p)));
        p = std::strchr(p, ',');
        if (!p) break;
        ++p;
    }
    return levels;
}

// False, after saying which, when an option is unknown or lacks its value.
bool ReadOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--levels" && value) {
            options.levels = ReadLevels(value);
            ++i;
        } else if (arg == "--seconds" && value) {
            options.seconds = std::max(0.1, std::atof(value));
            ++i;
        } else if (arg == "--max-loads" && value) {
            options.max_loads = static_cast<size_t>(std::max(1, std::atoi(value)));
            ++i;
        } else {
            std::fprintf(stderr,
                         "bench_pg_load: unknown option %s; the options are --levels 1,10,50,100, "
                         "--seconds S and --max-loads N\n",
                         arg.c_str());
            return false;
        }
    }
    return true;
}

// Runs `command` of pg-server.sh, which starts `what` with its files in
// `link`, and returns the connection string it wrote there.
std::string StartServer(const std::string& command, const std::string& link, const char* what) {
    if (std::system(command.c_str()) != 0 || std::ifstream(link + "/unavailable"))
        throw RuntimeError(err::kServerUnavailable,
                           std::string("no ") + what + " could be started (pg-server.sh says why)");
    std::string conninfo;
    std::getline(std::ifstream(link + "/conninfo"), conninfo);
    return conninfo;
}

// Where one loader's time goes: the connection alone (made, then closed),
// and the load's statements on a connection kept open.
void RunPostgresParts(const std::string& conninfo, const Options& options) {
    const service::CatalogueLocation where = service::ResolveMachineName(conninfo);
    Print("PostgreSQL connect only",
          Run([&](const TaskQuery&) { service::OpenDatabase(where, service::OpenMode::kReadOnly); },
              1, options.seconds, options.max_loads));
    auto kept = service::OpenDatabase(where, service::OpenMode::kReadOnly);
    Print("PostgreSQL query only", Run(
                                       [&](const TaskQuery& q) {
                                           service::RequireSchema(*kept);
                                           service::SelectTasks(*kept, q);
                                       },
                                       1, options.seconds, options.max_loads));
}

void RunLevels(const char* store, const std::string& machine, const Options& options) {
    for (int loaders : options.levels)
        Print(store, Run(WholeLoad(machine), loaders, options.seconds, options.max_loads));
}

// Where the server and the pooler started in the scratch folder `dir` keep
// their files.
std::string ServerFiles(const std::string& dir) { return dir + "/server"; }
std::string PoolerFiles(const std::string& dir) { return dir + "/pooler"; }

// The table, store by store, each store's files in the scratch folder `dir`.
void RunStores(const std::string& dir, const std::string& script, const Options& options) {
    const std::string link = ServerFiles(dir), pool_link = PoolerFiles(dir);
    std::printf("catalogue: %d applications of %d tasks, %d grant rows\n\n", kScaleApps,
                kScaleTasksPerApp, kScaleGrantRows);
    std::printf("| store | loaders | loads | loads/s | p50 ms | p99 ms |\n");
    std::printf("|---|---:|---:|---:|---:|---:|\n");
    const std::string file = dir + "/scale.db";
    Fill(file);
    Print("SQLite", Run(WholeLoad(file), 1, options.seconds, options.max_loads));

    const std::string conninfo =
        StartServer(script + " start " + link + " 54349", link, "PostgreSQL server");
    Fill(conninfo);
    RunPostgresParts(conninfo, options);
    RunLevels("PostgreSQL", conninfo, options);

    // The same through PgBouncer in transaction pooling mode, two server
    // connections (one a core): the server makes no process per load.
    const std::string pooled = StartServer(script + " pooler " + pool_link + " " + link + " 54350",
                                           pool_link, "PgBouncer");
    RunLevels("PostgreSQL via PgBouncer", pooled, options);
}

int Main(int argc, char** argv) {
    Options options;
    if (!ReadOptions(argc, argv, options)) return 2;

    char scratch[] = "/tmp/kevra-pg-load.XXXXXX";
    if (!::mkdtemp(scratch)) {
        std::perror("bench_pg_load: mkdtemp");
        return 1;
    }
    const std::string dir = scratch;
    const std::string script = KEVRA_PG_SERVER_SCRIPT;
    int status = 0;
    try {
        RunStores(dir, script, options);
    } catch (const RuntimeError& e) {
        std::fprintf(stderr, "bench_pg_load: %s\n", e.Description().c_str());
        status = 1;
    }
    std::system((script + " stop " + PoolerFiles(dir) + " 2>/dev/null").c_str());
    std::system((script + " stop " + ServerFiles(dir) + " 2>/dev/null").c_str());
    std::filesystem::remove_all(dir);
    return status;
}

}  // namespace
}  // namespace kevra::bench

int main(int argc, char** argv) { return kevra::bench::Main(argc, argv); }
