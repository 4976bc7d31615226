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
//
// With KEVRA_TEST_PG naming a PostgreSQL database of the benchmark's own,
// the same against it, the server's CPU time counted in (see PgConnection):
//
//   BM_Import_Postgres     kevra-catalog import FILE.json CONNECTION, into
//                          empty tables
//   BM_CopyFloor_Postgres  the same rows, already in COPY's text form, sent
//                          as one COPY ... FROM STDIN per table over libpq in
//                          one transaction: the least an import can cost
//   BM_Check_Postgres      kevra-catalog check CONNECTION
//   BM_Export_Postgres     kevra-catalog export CONNECTION OUT.json
//   BM_ReadFloor_Postgres  both tables read over libpq a row at a time in
//                          the orders an export reads them, values copied
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

// The PostgreSQL figures' floors speak libpq directly. The library comes
// with the PostgreSQL store (linked through kevra_service); in a build
// without that store these weak references stay null and the PostgreSQL
// figures are not registered.
#if __has_include(<postgresql/libpq-fe.h>)
#include <postgresql/libpq-fe.h>
#define KEVRA_BENCH_LIBPQ 1
#pragma weak PQconnectdb
#pragma weak PQstatus
#pragma weak PQfinish
#pragma weak PQexec
#pragma weak PQresultStatus
#pragma weak PQclear
#pragma weak PQerrorMessage
#pragma weak PQputCopyData
#pragma weak PQputCopyEnd
#pragma weak PQgetResult
#pragma weak PQsendQuery
#pragma weak PQsetSingleRowMode
#pragma weak PQntuples
#pragma weak PQnfields
#pragma weak PQgetvalue
#pragma weak PQgetlength
#else
#define KEVRA_BENCH_LIBPQ 0
#endif

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
    // A PostgreSQL figure: the server's processes' CPU time over the run,
    // when it could be read; without it the figure is timed by the wall.
    bool on_server = false;
    std::optional<double> server_seconds;
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
    std::vector<std::string> argv{"bench_tools", kSpawnFlag};
    argv.insert(argv.end(), args.begin(), args.end());
    const SelfRun run = RunSelf(argv);
    ChildCost cost;
    cost.wall_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    double cpu = 0;
    long peak_kb = 0;
    int status = -1;
    if (!run.ok || std::sscanf(run.output.c_str(), "%lf %ld %d", &cpu, &peak_kb, &status) != 3)
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
    if (!cost.on_server) {
        state.SetIterationTime(cost.cpu_seconds);
    } else if (cost.server_seconds) {
        state.SetIterationTime(cost.cpu_seconds + *cost.server_seconds);
        state.counters["client_cpu_s"] = cost.cpu_seconds;
        state.counters["server_cpu_s"] = *cost.server_seconds;
    } else {
        state.SetIterationTime(cost.wall_seconds);
        state.counters["client_cpu_s"] = cost.cpu_seconds;
    }
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

// PostgreSQL, when KEVRA_TEST_PG names a database of the benchmark's own
// (an import replaces application 1 there; check and export read every
// application). Most of the work is the server's, which the tool's own CPU
// time does not show, so a figure's time is the measured process's CPU and
// the server's together: read from /proc for the server's postmaster and
// its children, which works for a server on this machine whose
// postmaster.pid can be read (one started by tests/service/pg-server.sh,
// host=FOLDER with its data in FOLDER/data). Elsewhere the wall time.
const char* PgConnection() {
    const char* c = std::getenv("KEVRA_TEST_PG");
    return c != nullptr && *c != '\0' ? c : nullptr;
}

pid_t PostmasterPid() {
    static const pid_t pid = [] {
        const std::string conn = PgConnection();
        const size_t at = conn.find("host=");
        if (at == std::string::npos) return pid_t{0};
        const size_t end = conn.find(' ', at);
        const std::string host =
            conn.substr(at + 5, end == std::string::npos ? std::string::npos : end - at - 5);
        std::ifstream in(host + "/data/postmaster.pid");
        pid_t p = 0;
        return in >> p ? p : pid_t{0};
    }();
    return pid;
}

// Fields 3 on of /proc/PID/stat, or none when it is gone.
std::vector<std::string> StatFields(const std::string& pid) {
    std::ifstream in("/proc/" + pid + "/stat");
    std::string text;
    std::getline(in, text);
    const size_t name_end = text.rfind(')');
    std::vector<std::string> fields;
    if (name_end == std::string::npos) return fields;
    std::istringstream rest(text.substr(name_end + 1));
    for (std::string f; rest >> f;) fields.push_back(f);
    return fields;
}

struct ServerCpu {
    double seconds = 0;
    std::set<std::string> children;
};

// The postmaster's CPU with that of the children it has reaped, and that
// of its live children.
ServerCpu ReadServerCpu(pid_t postmaster) {
    ServerCpu cpu;
    const double tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
    auto seconds = [&](const std::vector<std::string>& f, bool reaped) {
        // utime, stime, cutime, cstime are fields 14 to 17.
        double ticks = std::stod(f[11]) + std::stod(f[12]);
        if (reaped) ticks += std::stod(f[13]) + std::stod(f[14]);
        return ticks / tick;
    };
    const std::string parent = std::to_string(postmaster);
    const std::vector<std::string> own = StatFields(parent);
    if (own.size() < 15) return cpu;
    cpu.seconds = seconds(own, true);
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::vector<std::string> f = StatFields(name);
        if (f.size() < 15 || f[1] != parent) continue;
        cpu.seconds += seconds(f, false);
        cpu.children.insert(name);
    }
    return cpu;
}

// The server's CPU once no connection is open: only its own processes left
// (those of the first call), every backend reaped, its time in the
// postmaster's. Waits up to ten seconds for that.
const std::set<std::string>& ServerOwnProcesses(pid_t postmaster) {
    static const std::set<std::string> own = ReadServerCpu(postmaster).children;
    return own;
}

ServerCpu SettledServerCpu(pid_t postmaster) {
    const std::set<std::string>& own = ServerOwnProcesses(postmaster);
    ServerCpu cpu;
    for (int tries = 0; tries < 1000; ++tries) {
        cpu = ReadServerCpu(postmaster);
        if (std::includes(own.begin(), own.end(), cpu.children.begin(), cpu.children.end())) break;
        ::usleep(10'000);
    }
    return cpu;
}

// `run`, with the server's CPU time over it.
ChildCost WithServer(const std::function<ChildCost()>& run) {
    const pid_t postmaster = PostmasterPid();
    const ServerCpu before = postmaster ? SettledServerCpu(postmaster) : ServerCpu{};
    ChildCost cost = run();
    cost.on_server = true;
    if (postmaster != 0)
        cost.server_seconds = SettledServerCpu(postmaster).seconds - before.seconds;
    return cost;
}

#if KEVRA_BENCH_LIBPQ
// A connection of libpq's own, for the floors and for emptying the tables.
class PgSession {
  public:
    PgSession() : conn_(PQconnectdb(PgConnection())) {
        if (PQstatus(conn_) != CONNECTION_OK) Fail("cannot connect");
    }
    ~PgSession() { PQfinish(conn_); }
    PgSession(const PgSession&) = delete;
    PgSession& operator=(const PgSession&) = delete;

    void Exec(const char* sql) {
        PGresult* r = PQexec(conn_, sql);
        const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
        PQclear(r);
        if (!ok) Fail(sql);
    }
    // `sql`, a COPY ... FROM STDIN, fed `text` in the pieces the store's
    // import sends.
    void CopyIn(const std::string& sql, const std::string& text) {
        PGresult* r = PQexec(conn_, sql.c_str());
        const bool started = PQresultStatus(r) == PGRES_COPY_IN;
        PQclear(r);
        if (!started) Fail(sql.c_str());
        constexpr size_t kPiece = 64 * 1024;
        for (size_t at = 0; at < text.size(); at += kPiece) {
            const size_t n = std::min(kPiece, text.size() - at);
            if (PQputCopyData(conn_, text.data() + at, static_cast<int>(n)) != 1) Fail(sql.c_str());
        }
        if (PQputCopyEnd(conn_, nullptr) != 1) Fail(sql.c_str());
        bool ok = true;
        while (PGresult* end = PQgetResult(conn_)) {
            ok = ok && PQresultStatus(end) == PGRES_COMMAND_OK;
            PQclear(end);
        }
        if (!ok) Fail(sql.c_str());
    }
    // Every row of `sql`, one at a time, each value copied out; returns the
    // bytes read.
    size_t ReadRows(const char* sql) {
        if (!PQsendQuery(conn_, sql) || !PQsetSingleRowMode(conn_)) Fail(sql);
        size_t bytes = 0;
        std::string value;
        bool ok = true;
        while (PGresult* r = PQgetResult(conn_)) {
            const ExecStatusType status = PQresultStatus(r);
            ok = ok && (status == PGRES_SINGLE_TUPLE || status == PGRES_TUPLES_OK);
            for (int row = 0; row < PQntuples(r); ++row)
                for (int c = 0; c < PQnfields(r); ++c) {
                    value.assign(PQgetvalue(r, row, c),
                                 static_cast<size_t>(PQgetlength(r, row, c)));
                    bytes += value.size();
                }
            PQclear(r);
        }
        if (!ok) Fail(sql);
        return bytes;
    }

  private:
    [[noreturn]] void Fail(const char* what) {
        throw RuntimeError(err::kDatabase,
                           std::string("PostgreSQL: ") + what + ": " + PQerrorMessage(conn_));
    }
    PGconn* conn_;
};

// A value in COPY's text form.
void AppendCopyText(std::string& out, const Variant& v) {
    if (v.IsNull()) {
        out += "\\N";
        return;
    }
    for (char c : v.StringValue()) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
}

// The rows an import of the catalogue's JSON file stores, in COPY's text
// form: its tasks in file order as application 1, each granted to everyone.
struct CopyRows {
    std::string tasks, grants;
};

const CopyRows& CopyRowsOf(const testdata::Catalogue& cat) {
    static std::map<uint32_t, std::unique_ptr<CopyRows>> made;
    auto& rows = made[cat.Rows()];
    if (rows) return *rows;
    rows = std::make_unique<CopyRows>();
    RecordsetRef rs = Recordset::Open(cat.table);
    const Field link = rs->Fields("IsLink"), url = rs->Fields("TaskURL"),
                parms = rs->Fields("TaskParms");
    for (uint32_t r = 0; !rs->Eof(); rs->MoveNext(), ++r) {
        std::string& t = rows->tasks;
        t +=
            "1\t" + std::to_string(cat.task_id[r]) + "\t" + std::to_string(cat.parent_id[r]) + "\t";
        AppendCopyText(t, Variant(cat.description[r]));
        const Variant is_link = link.Value();
        t += is_link.IsNull() ? "\t\\N\t" : is_link.EqualsTrue() ? "\tt\t" : "\tf\t";
        AppendCopyText(t, url.Value());
        t += '\t';
        AppendCopyText(t, parms.Value());
        t += "\t" + std::to_string(r + 1) + "\n";
        rows->grants += "1\t" + std::to_string(cat.task_id[r]) + "\t\\N\t\\N\t\\N\n";
    }
    return *rows;
}

// The rows of the catalogue held in the database now: 0 for none or
// unknown.
uint32_t g_pg_rows = 0;

void EmptyPostgres() {
    PgSession session;
    session.Exec("TRUNCATE task_grant, task");
    g_pg_rows = 0;
}

// The database holding the catalogue of `f` as its import leaves it.
bool FillPostgres(const Files& f) {
    if (g_pg_rows == f.cat.Rows()) return true;
    EmptyPostgres();
    if (!RunTool({"import", f.json, PgConnection()}).ok) return false;
    g_pg_rows = f.cat.Rows();
    return true;
}

void BM_Import_Postgres(benchmark::State& state) {
    Measure(state, true, [](const Files& f) {
        EmptyPostgres();
        ChildCost cost = WithServer([&] { return RunTool({"import", f.json, PgConnection()}); });
        if (cost.ok) g_pg_rows = f.cat.Rows();
        return cost;
    });
}

// The bare COPY: the rows already in COPY's text form, sent as two COPY
// ... FROM STDIN into the schema the import makes, in one transaction.
void BM_CopyFloor_Postgres(benchmark::State& state) {
    Measure(state, false, [](const Files& f) {
        const CopyRows& rows = CopyRowsOf(f.cat);
        EmptyPostgres();
        ChildCost cost = WithServer([&] {
            return RunForked([&] {
                PgSession session;
                session.Exec("BEGIN");
                session.CopyIn(
                    "COPY task (app_id, id, parent, description, is_link, url, parms, "
                    "sort_order) FROM STDIN",
                    rows.tasks);
                session.CopyIn(
                    "COPY task_grant (app_id, task_id, user_number, brand, facility_id) FROM "
                    "STDIN",
                    rows.grants);
                session.Exec("COMMIT");
            });
        });
        if (cost.ok) g_pg_rows = f.cat.Rows();
        return cost;
    });
}

void BM_Check_Postgres(benchmark::State& state) {
    Measure(state, true, [](const Files& f) {
        if (!FillPostgres(f)) return ChildCost{};
        return WithServer([&] { return RunTool({"check", PgConnection()}); });
    });
}

void BM_Export_Postgres(benchmark::State& state) {
    Measure(state, true, [](const Files& f) {
        if (!FillPostgres(f)) return ChildCost{};
        const std::string out = f.db + ".pg-export.json";
        ChildCost cost = WithServer([&] { return RunTool({"export", PgConnection(), out}); });
        ::unlink(out.c_str());
        return cost;
    });
}

// The bare read: both tables in the orders an export reads them, a row at a
// time, every value copied out.
void BM_ReadFloor_Postgres(benchmark::State& state) {
    Measure(state, false, [](const Files& f) {
        if (!FillPostgres(f)) return ChildCost{};
        return WithServer([] {
            return RunForked([] {
                PgSession session;
                size_t bytes = session.ReadRows(
                    "SELECT app_id, id, parent, description, is_link, url, parms FROM task "
                    "ORDER BY app_id, sort_order, id");
                bytes += session.ReadRows(
                    "SELECT app_id, task_id, user_number, brand, facility_id FROM task_grant "
                    "ORDER BY app_id, task_id, user_number, brand, facility_id");
                benchmark::DoNotOptimize(bytes);
            });
        });
    });
}
#endif  // KEVRA_BENCH_LIBPQ

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
#if KEVRA_BENCH_LIBPQ
    // libpq is there in a build with the PostgreSQL store (see above).
    if (PgConnection() != nullptr && &PQconnectdb != nullptr) {
        if (PostmasterPid() != 0) ServerOwnProcesses(PostmasterPid());  // before any connection
        if (!RunTool({"init", PgConnection()}).ok) {
            std::fprintf(stderr, "bench_tools: kevra-catalog init %s failed\n", PgConnection());
            return 1;
        }
        // Autovacuum passes over the rows a figure wrote come at a time of
        // their own, often within the next figure's run: not here.
        PgSession session;
        session.Exec("ALTER TABLE task SET (autovacuum_enabled = off)");
        session.Exec("ALTER TABLE task_grant SET (autovacuum_enabled = off)");
        Register("BM_Import_Postgres", BM_Import_Postgres);
        Register("BM_CopyFloor_Postgres", BM_CopyFloor_Postgres);
        Register("BM_Check_Postgres", BM_Check_Postgres);
        Register("BM_Export_Postgres", BM_Export_Postgres);
        Register("BM_ReadFloor_Postgres", BM_ReadFloor_Postgres);
    }
#endif
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
