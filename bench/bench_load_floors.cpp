// LoadData from each catalogue store beside that store's floor: the least a
// reader of the same rows must do. A floor reads the rows the control's
// load reads and copies their six fields into plain column vectors, with
// nothing else: no record set, no list bar, no limits, no messages.
//
//   SQLite      the task statement the store sends for this view, prepared
//               once and stepped, each row's six columns copied
//   PostgreSQL  the statement the store sends, its rows fetched through
//               COPY (...) TO STDOUT and decoded into the columns
//   JSON        the file read whole, then one pass of a tight scanner of
//               this file's shape (an array of flat objects whose values are
//               text with escapes, numbers, true, false or null)
//
// The JSON floor checks the structure it walks but not that text is valid
// UTF-8, and keeps no line and column; the control's reader does both.
//
// LoadData and its floor run in the same binary, on the same files, in the
// same run. CPU time, except for PostgreSQL, whose server works in other
// processes: there the clock.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "bench/bench_stores.h"
#include "bench/bench_support.h"
#include "platform/ascii.h"
#include "platform/json.h"
#include "service/catalogue_schema.h"
#include "service/task_service.h"

#ifdef KEVRA_BENCH_HAVE_LIBPQ
#include <libpq-fe.h>
#endif

namespace kevra::bench {
namespace {

// The view the control loads in BM_LoadData: its context left at the
// defaults, the benchmark's application.
service::TaskQuery BenchQuery() {
    service::TaskQuery query;
    query.app_id = kBenchAppId;
    return query;
}

// Text fields of every row: their bytes one after another, where each
// ends, and which were Null (read as "").
struct TextColumn {
    std::string bytes;
    std::vector<uint32_t> end;
    std::vector<uint8_t> null;

    void Add(std::string_view text, bool is_null) {
        bytes.append(text);
        end.push_back(static_cast<uint32_t>(bytes.size()));
        null.push_back(is_null);
    }
};

// The six task fields of every row read, a vector per field. A Null number
// reads 0; `parent_null` says which parents were Null.
struct Columns {
    std::vector<int32_t> id, parent;
    std::vector<uint8_t> parent_null, is_link;
    TextColumn description, url, parms;

    size_t Rows() const { return id.size(); }
};

// --- SQLite floor ----------------------------------------------------------

void CopyText(sqlite3_stmt* stmt, int c, TextColumn& to) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
    to.Add(std::string_view(p ? p : "", static_cast<size_t>(sqlite3_column_bytes(stmt, c))),
           p == nullptr);
}

bool ReadSqliteFloor(const std::string& path, Columns& out, std::string& error) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        error = sqlite3_errmsg(db);
        sqlite3_close(db);
        return false;
    }
    // The last statement the store sends reads the tasks; the one before
    // it only their grants.
    const service::TaskStatement task =
        service::TaskSelectionStatements(service::StoreKind::kSqlite, BenchQuery()).back();
    sqlite3_stmt* stmt = nullptr;
    bool ok = sqlite3_prepare_v2(db, task.sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
              sqlite3_bind_int(stmt, 1, task.params.at(0).ToInt32()) == SQLITE_OK;
    int rc = SQLITE_ERROR;
    while (ok && (rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        out.id.push_back(sqlite3_column_int(stmt, 0));
        out.parent_null.push_back(sqlite3_column_type(stmt, 1) == SQLITE_NULL);
        out.parent.push_back(sqlite3_column_int(stmt, 1));
        CopyText(stmt, 2, out.description);
        out.is_link.push_back(sqlite3_column_int(stmt, 3) != 0);
        CopyText(stmt, 4, out.url);
        CopyText(stmt, 5, out.parms);
    }
    if (rc != SQLITE_DONE) error = sqlite3_errmsg(db);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return error.empty();
}

// --- JSON floor ------------------------------------------------------------

// One pass over a catalogue held in memory. Returns false, with `error`
// set, at the first byte that does not fit the shape.
class JsonFloor {
  public:
    JsonFloor(std::string_view text, Columns& out)
        : begin_(text.data()), p_(begin_), end_(p_ + text.size()), out_(out) {}

    bool Run(std::string& error) {
        if (!Walk()) {
            error =
                "the floor's scanner stopped at byte " + std::to_string(p_ - begin_) + ": " + what_;
            return false;
        }
        return true;
    }

  private:
    enum Field { kId, kParent, kDescription, kIsLink, kUrl, kParms, kOther };

    bool Fail(const char* what) {
        what_ = what;
        return false;
    }
    void Space() {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
    }
    bool Take(char c) {
        Space();
        if (p_ == end_ || *p_ != c) return false;
        ++p_;
        return true;
    }

    bool Hex4(uint32_t& v) {
        if (end_ - p_ < 4) return false;
        v = 0;
        for (int i = 0; i < 4; ++i) {
            const int d = HexDigitValue(static_cast<unsigned char>(p_[i]));
            if (d < 0) return false;
            v = v * 16 + static_cast<uint32_t>(d);
        }
        p_ += 4;
        return true;
    }

    // A string, the opening quote next: runs without escapes are copied
    // whole.
    bool String(std::string& s) {
        ++p_;
        s.clear();
        for (;;) {
            const char* run = p_;
            while (p_ < end_ && *p_ != '"' && *p_ != '\\' &&
                   static_cast<unsigned char>(*p_) >= 0x20)
                ++p_;
            s.append(run, p_);
            if (p_ == end_) return Fail("text without its closing quote");
            if (*p_ == '"') {
                ++p_;
                return true;
            }
            if (*p_ != '\\') return Fail("a control character in text");
            if (++p_ == end_) return Fail("an escape at the end of the file");
            const char e = *p_++;
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    s += e;
                    break;
                case 'b':
                    s += '\b';
                    break;
                case 'f':
                    s += '\f';
                    break;
                case 'n':
                    s += '\n';
                    break;
                case 'r':
                    s += '\r';
                    break;
                case 't':
                    s += '\t';
                    break;
                case 'u': {
                    uint32_t cp = 0;
                    if (!Hex4(cp)) return Fail("a \\u escape without four hex digits");
                    if (cp >= 0xD800 && cp <= 0xDBFF) {
                        uint32_t lo = 0;
                        if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u')
                            return Fail("a lone surrogate");
                        p_ += 2;
                        if (!Hex4(lo) || lo < 0xDC00 || lo > 0xDFFF)
                            return Fail("a lone surrogate");
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                        return Fail("a lone surrogate");
                    }
                    json::AppendUtf8(s, cp);
                    break;
                }
                default:
                    return Fail("an unknown escape");
            }
        }
    }

    // The field a member name names, when its name has no escapes; field
    // names ignore letter case.
    Field Name(std::string_view name) const {
        static constexpr std::pair<std::string_view, Field> kNames[] = {
            {"TaskId", kId},     {"TaskParent", kParent}, {"TaskDescription", kDescription},
            {"IsLink", kIsLink}, {"TaskURL", kUrl},       {"TaskParms", kParms}};
        for (const auto& [n, f] : kNames)
            if (n.size() == name.size() && SameIgnoringAsciiCase(n, name)) return f;
        return kOther;
    }

    enum class Kind { kNull, kText, kNumber, kTrue, kFalse };
    bool Value(Kind& kind, int64_t& number) {
        Space();
        if (p_ == end_) return Fail("a value missing at the end");
        const char c = *p_;
        if (c == '"') {
            kind = Kind::kText;
            return String(text_);
        }
        auto word = [&](std::string_view w, Kind k) {
            if (static_cast<size_t>(end_ - p_) < w.size() || std::memcmp(p_, w.data(), w.size()))
                return Fail("an unknown word");
            p_ += w.size();
            kind = k;
            return true;
        };
        if (c == 'n') return word("null", Kind::kNull);
        if (c == 't') return word("true", Kind::kTrue);
        if (c == 'f') return word("false", Kind::kFalse);
        const bool minus = c == '-';
        if (minus) ++p_;
        if (p_ == end_ || *p_ < '0' || *p_ > '9') return Fail("a number without digits");
        int64_t v = 0;
        int digits = 0;
        while (p_ < end_ && *p_ >= '0' && *p_ <= '9') {
            if (++digits > 18) return Fail("a number longer than this floor reads");
            v = v * 10 + (*p_++ - '0');
        }
        if (p_ < end_ && (*p_ == '.' || *p_ == 'e' || *p_ == 'E'))
            return Fail("a number with a fraction, which no task field holds");
        kind = Kind::kNumber;
        number = minus ? -v : v;
        return true;
    }

    // The text fields of the row being read, added to the columns when the
    // row ends.
    struct RowText {
        std::string text;
        bool null = true;
        void Set(Kind kind, const std::string& value) {
            null = kind != Kind::kText;
            if (!null) text.assign(value);
        }
        void AddTo(TextColumn& column) {
            column.Add(null ? std::string_view() : std::string_view(text), null);
            null = true;
        }
    };

    bool Row() {
        out_.id.push_back(0);
        out_.parent.push_back(0);
        out_.is_link.push_back(0);
        out_.parent_null.push_back(1);
        if (Take('}')) return EndRow();
        for (;;) {
            Space();
            if (p_ == end_ || *p_ != '"') return Fail("a member name expected");
            if (!String(name_)) return false;
            if (!Take(':')) return Fail("':' expected");
            Kind kind = Kind::kNull;
            int64_t number = 0;
            if (!Value(kind, number)) return false;
            switch (Name(name_)) {
                case kId:
                    out_.id.back() = static_cast<int32_t>(number);
                    break;
                case kParent:
                    out_.parent.back() = static_cast<int32_t>(number);
                    out_.parent_null.back() = kind == Kind::kNull;
                    break;
                case kDescription:
                    description_.Set(kind, text_);
                    break;
                case kIsLink:
                    out_.is_link.back() = kind == Kind::kTrue;
                    break;
                case kUrl:
                    url_.Set(kind, text_);
                    break;
                case kParms:
                    parms_.Set(kind, text_);
                    break;
                case kOther:
                    break;
            }
            if (Take(',')) continue;
            if (Take('}')) return EndRow();
            return Fail("',' or '}' expected");
        }
    }

    bool EndRow() {
        description_.AddTo(out_.description);
        url_.AddTo(out_.url);
        parms_.AddTo(out_.parms);
        return true;
    }

    bool Walk() {
        if (!Take('[')) return Fail("'[' expected");
        if (Take(']')) return true;
        for (;;) {
            if (!Take('{')) return Fail("'{' expected");
            if (!Row()) return false;
            if (Take(',')) continue;
            if (Take(']')) break;
            return Fail("',' or ']' expected");
        }
        Space();
        return p_ == end_ || Fail("bytes after the closing ']'");
    }

    const char* begin_;
    const char* p_;
    const char* end_;
    Columns& out_;
    std::string text_, name_;
    RowText description_, url_, parms_;
    const char* what_ = "";
};

bool ReadJsonFloor(const std::string& path, Columns& out, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || st.st_size == 0) {
        error = "cannot open " + path + ", or it is empty";
        if (fd >= 0) ::close(fd);
        return false;
    }
    // The file mapped whole, its pages mapped in one call rather than one
    // fault at a time.
    const auto size = static_cast<size_t>(st.st_size);
    void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    ::close(fd);
    if (map == MAP_FAILED) {
        error = "cannot map " + path;
        return false;
    }
    const bool ok =
        JsonFloor(std::string_view(static_cast<const char*>(map), size), out).Run(error);
    ::munmap(map, size);
    return ok;
}

// --- PostgreSQL floor ------------------------------------------------------

#ifdef KEVRA_BENCH_HAVE_LIBPQ
// The store's statement with its parameters written in: COPY takes none.
std::string WithLiterals(const service::TaskStatement& statement, PGconn* conn) {
    std::string sql = statement.sql;
    for (size_t i = statement.params.size(); i-- > 0;) {
        const Variant& v = statement.params[i];
        std::string literal;
        if (v.type() == Variant::Type::String) {
            char* quoted = PQescapeLiteral(conn, v.StringValue().data(), v.StringValue().size());
            literal = quoted;
            PQfreemem(quoted);
        } else {
            literal = v.ToString();
        }
        const std::string name = "$" + std::to_string(i + 1);
        for (size_t at; (at = sql.find(name)) != std::string::npos;)
            sql.replace(at, name.size(), literal);
    }
    return sql;
}

// One field of COPY's text format, unescaped into `to`: \N is Null, a
// backslash escapes. True for Null.
bool CopyField(std::string_view f, std::string& to) {
    to.clear();
    if (f == "\\N") return true;
    for (size_t i = 0; i < f.size(); ++i) {
        char c = f[i];
        if (c == '\\' && i + 1 < f.size()) {
            switch (f[++i]) {
                case 'n':
                    c = '\n';
                    break;
                case 't':
                    c = '\t';
                    break;
                case 'r':
                    c = '\r';
                    break;
                case 'b':
                    c = '\b';
                    break;
                case 'f':
                    c = '\f';
                    break;
                case 'v':
                    c = '\v';
                    break;
                default:
                    c = f[i];
            }
        }
        to += c;
    }
    return false;
}

int32_t CopyInt(std::string_view f) {
    int32_t v = 0;
    const bool minus = !f.empty() && f[0] == '-';
    for (size_t i = minus; i < f.size(); ++i) v = v * 10 + (f[i] - '0');
    return minus ? -v : v;
}

bool ReadPostgresFloor(const std::string& connection, Columns& out, std::string& error) {
    PGconn* conn = PQconnectdb(connection.c_str());
    if (PQstatus(conn) != CONNECTION_OK) {
        error = PQerrorMessage(conn);
        PQfinish(conn);
        return false;
    }
    const service::TaskStatement task =
        service::TaskSelectionStatements(service::StoreKind::kPostgres, BenchQuery()).back();
    PGresult* res = PQexec(conn, ("COPY (" + WithLiterals(task, conn) + ") TO STDOUT").c_str());
    const bool copying = PQresultStatus(res) == PGRES_COPY_OUT;
    if (!copying) error = PQresultErrorMessage(res);
    PQclear(res);
    std::string_view fields[6];
    std::string scratch;
    char* line = nullptr;
    int n;
    while (copying && (n = PQgetCopyData(conn, &line, 0)) > 0) {
        std::string_view row(line, static_cast<size_t>(n));
        if (!row.empty() && row.back() == '\n') row.remove_suffix(1);
        size_t f = 0;
        for (size_t start = 0; f < 6; ++f) {
            const size_t tab = row.find('\t', start);
            fields[f] = row.substr(start, tab == std::string_view::npos ? tab : tab - start);
            if (tab == std::string_view::npos) break;
            start = tab + 1;
        }
        out.id.push_back(CopyInt(fields[0]));
        out.parent_null.push_back(fields[1] == "\\N");
        out.parent.push_back(out.parent_null.back() ? 0 : CopyInt(fields[1]));
        out.is_link.push_back(fields[3] == "t");
        const std::pair<size_t, TextColumn*> text[] = {
            {2, &out.description}, {4, &out.url}, {5, &out.parms}};
        for (const auto& [field, column] : text) {
            const bool null = CopyField(fields[field], scratch);
            column->Add(scratch, null);
        }
        PQfreemem(line);
    }
    if (copying) {
        res = PQgetResult(conn);
        if (PQresultStatus(res) != PGRES_COMMAND_OK) error = PQresultErrorMessage(res);
        PQclear(res);
    }
    PQfinish(conn);
    return error.empty();
}
#endif

// --- floors, timed ---------------------------------------------------------

void BM_Floor(benchmark::State& state, Store store) {
    const uint32_t rows = static_cast<uint32_t>(state.range(0));
    std::string target;
    try {
        target = StoreTarget(store, rows);
    } catch (const RuntimeError& e) {
        state.SkipWithError(("cannot write the catalogue: " + e.Description()).c_str());
        return;
    }
    size_t read = 0;
    for (auto _ : state) {
        Columns columns;
        std::string error;
        bool ok = false;
        switch (store) {
            case Store::kJson:
                ok = ReadJsonFloor(target, columns, error);
                break;
            case Store::kSqlite:
                ok = ReadSqliteFloor(target, columns, error);
                break;
            case Store::kPostgres:
#ifdef KEVRA_BENCH_HAVE_LIBPQ
                ok = ReadPostgresFloor(target, columns, error);
#else
                error = "this build has no libpq";
#endif
                break;
        }
        if (!ok) {
            state.SkipWithError(error.c_str());
            return;
        }
        read = columns.Rows();
        benchmark::DoNotOptimize(columns);
    }
    if (read != rows) {
        state.SkipWithError(
            ("the floor read " + std::to_string(read) + " rows, not " + std::to_string(rows))
                .c_str());
        return;
    }
    state.SetItemsProcessed(state.iterations() * rows);
}

void Register(const std::string& name, void (*fn)(benchmark::State&, Store), Store store,
              int64_t rows) {
    auto* b = benchmark::RegisterBenchmark(name.c_str(), fn, store);
    b->ArgName("rows");
    b->Arg(rows);
    b->Unit(benchmark::kMillisecond);
    if (store == Store::kPostgres) b->UseRealTime();
}

// Each store's load and floor side by side, size by size (a PostgreSQL
// database holds one size at a time). The sizes of the figure, and the
// smoke run's smallest.
void RegisterAll() {
    std::vector<std::pair<std::string, Store>> stores{{"Json", Store::kJson},
                                                      {"Sqlite", Store::kSqlite}};
    // PostgreSQL needs a server; without one its figures are left out
    // rather than reported as failures.
    const char* pg = std::getenv("KEVRA_TEST_PG");
    if (pg && *pg) stores.emplace_back("Postgres", Store::kPostgres);
    for (const auto& [name, store] : stores) {
        for (int64_t rows : {int64_t{1'000}, int64_t{100'000}, int64_t{1'000'000}}) {
            Register("BM_LoadData_" + name, BM_LoadData, store, rows);
#ifndef KEVRA_BENCH_HAVE_LIBPQ
            if (store == Store::kPostgres) continue;  // no floor without libpq
#endif
            Register("BM_Floor_" + name, BM_Floor, store, rows);
        }
    }
}

}  // namespace
}  // namespace kevra::bench

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    kevra::bench::RegisterAll();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
