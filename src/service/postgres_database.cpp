// The PostgreSQL catalogue store.
//
// Every wait on the server is bounded: the connection is made with
// PQconnectPoll and poll() within a connect timeout (5 seconds unless the
// address sets a positive one: libpq's "0 waits for ever" would let a silent
// server hang the load), and each statement is sent asynchronously and
// waited for with poll(), so a server that stops answering in the middle of
// a load (stopped, frozen, cut off) ends the load with a report naming the
// server instead of hanging the host's user interface. Values travel only as
// bound parameters.
//
// Messages name the server by host, port and database, never by the
// address, which may hold a password: libpq's own reading of a malformed
// address quotes it whole, so its words are replaced by ours, and settings
// whose bad values libpq would quote (the port) are checked here first.
// A server's refusal is told apart by its SQLSTATE (a role that does not
// exist, a bad password, a missing database, a missing grant), which the
// verbose error form carries. The connecting is in postgres_connect.cpp.
#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/ascii.h"
#include "platform/error.h"
#include "platform/json.h"
#include "platform/number_text.h"
#include "service/database.h"
#include "service/postgres_database_p.h"

namespace kevra::service {

using namespace postgres_detail;

namespace {

std::atomic<int64_t> g_statement_timeout_ms{kDefaultStatementTimeout.count()};

// PostgreSQL type OIDs of the results we convert.
constexpr Oid kBoolOid = 16, kInt8Oid = 20, kInt2Oid = 21, kInt4Oid = 23, kFloat4Oid = 700,
              kFloat8Oid = 701, kNumericOid = 1700;

class PostgresDatabase : public Database {
  public:
    PostgresDatabase(const CatalogueLocation& loc, OpenMode mode)
        : name_(loc.display), mode_(mode) {
        conn_ = ConnectPostgres(loc, name_);
        PQsetnonblocking(conn_, 1);
        // Notices (an object that already exists, a transaction already
        // begun) are no news to a catalogue's user; libpq would print them.
        PQsetNoticeProcessor(
            conn_, [](void*, const char*) {}, nullptr);
        // A load is one read-only transaction rather than a read-only
        // session: behind a pooler in transaction mode, a session setting
        // would stay on a server connection that others go on to use, and a
        // transaction keeps the load's statements on one server connection.
        // A standby serves it as well as the primary does.
        if (mode == OpenMode::kReadOnly) {
            try {
                ExecScript("BEGIN READ ONLY");
            } catch (...) {
                if (conn_) PQfinish(conn_);
                conn_ = nullptr;
                throw;
            }
        }
    }

    ~PostgresDatabase() override {
        if (!conn_) return;
        // A pooler drops a server connection its client left inside a
        // transaction; ended, it goes back to the pool.
        if (PQtransactionStatus(conn_) != PQTRANS_IDLE &&
            PQtransactionStatus(conn_) != PQTRANS_UNKNOWN) {
            try {
                ExecScript("ROLLBACK");
            } catch (...) {
                // The connection goes either way.
            }
        }
        if (conn_) PQfinish(conn_);
    }

    const std::string& Name() const override { return name_; }
    StoreKind Kind() const override { return StoreKind::kPostgres; }

    void ExecScript(const std::string& sql) override {
        Live();
        if (!PQsendQuery(conn_, sql.c_str())) Lost();
        Drain([](PGresult*) {});
    }

    // The rows as one COPY ... FROM STDIN: the server parses no statement
    // and sends no reply per row. Values go in COPY's text form, which is
    // each parameter's text with backslash, tab, newline and carriage
    // return escaped, and \N for NULL.
    void InsertRows(const std::string& table, const std::vector<std::string>& columns,
                    const std::vector<Variant>& values) override {
        const size_t n = columns.size();
        if (n == 0 || values.size() < n) return;
        Live();
        std::string sql = "COPY " + table + " (";
        for (size_t c = 0; c < n; ++c) sql += (c ? ", " : "") + columns[c];
        sql += ") FROM STDIN";
        if (!PQsendQuery(conn_, sql.c_str())) Lost();
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::milliseconds(g_statement_timeout_ms.load());
        WaitForResult(deadline);
        PGresult* start = PQgetResult(conn_);
        if (PQresultStatus(start) != PGRES_COPY_IN) {
            // Refused before any row (a read-only server, a missing grant):
            // that error, once the command's other results are read.
            RuntimeError refused =
                start ? ErrorOf(start)
                      : RuntimeError(err::kDatabase,
                                     "The catalogue " + name_ + " did not take a COPY of its rows");
            PQclear(start);
            Drain([](PGresult*) {});
            throw refused;
        }
        PQclear(start);
        std::string buffer, text;
        for (size_t at = 0; at + n <= values.size(); at += n) {
            for (size_t c = 0; c < n; ++c) {
                if (c) buffer += '\t';
                const char* value = ParamText(values[at + c], text);
                if (!value) {
                    buffer += "\\N";
                    continue;
                }
                for (const char* p = value; *p; ++p) {
                    switch (*p) {
                        case '\\':
                            buffer += "\\\\";
                            break;
                        case '\t':
                            buffer += "\\t";
                            break;
                        case '\n':
                            buffer += "\\n";
                            break;
                        case '\r':
                            buffer += "\\r";
                            break;
                        default:
                            buffer += *p;
                    }
                }
            }
            buffer += '\n';
            if (buffer.size() >= 64 * 1024) {
                PutCopyData(buffer, deadline);
                buffer.clear();
            }
        }
        if (!buffer.empty()) PutCopyData(buffer, deadline);
        for (;;) {
            const int ended = PQputCopyEnd(conn_, nullptr);
            if (ended < 0) Lost();
            if (ended == 1) break;
            WaitWritable(deadline);
        }
        Drain([](PGresult*) {});
    }

    void Query(const std::string& sql, const Row& params,
               const std::function<void(const Row&)>& on_row) override {
        Live();
        std::vector<std::string> texts(params.size());
        std::vector<const char*> values(params.size());
        for (size_t i = 0; i < params.size(); ++i) values[i] = ParamText(params[i], texts[i]);
        // The unnamed statement, parsed, bound and run in one round trip: a
        // named one would outlive the transaction, and behind a pooler in
        // transaction mode the next transaction may run on a server
        // connection that never saw it (or one where another client's
        // statement of the same name is).
        if (!PQsendQueryParams(conn_, sql.c_str(), static_cast<int>(params.size()), nullptr,
                               values.data(), nullptr, nullptr, 0))
            Lost();
        // Row by row, as the server sends them: libpq would otherwise keep
        // the whole result until its last row, beside the table the rows are
        // copied into. At a million tasks that took the client 1.80 s of CPU
        // and 318 MB at its peak, row by row 1.06-1.13 s and 123 MB
        // (docs/performance.md, "A shared PostgreSQL server under load").
        PQsetSingleRowMode(conn_);
        Drain([&](PGresult* res) {
            const int rows = PQntuples(res), columns = PQnfields(res);
            Row row(static_cast<size_t>(columns));
            for (int r = 0; r < rows; ++r) {
                for (int c = 0; c < columns; ++c) row[static_cast<size_t>(c)] = Value(res, r, c);
                on_row(row);
            }
        });
    }

    // Asks the server's name lookup, which sees every table whatever the
    // role's grants (information_schema shows only the tables the role has
    // some grant on, so a role without SELECT would be told the tables are
    // missing). The lookup reads the caches the load's statements fill
    // anyway; a join of pg_class and pg_namespace cost a new server process
    // a tenth of a load more, to plan. A table in a schema of the search
    // path that the role may not use (no USAGE) is a refusal, not an
    // absence: that is looked for only when the table was not found.
    bool HasTable(const std::string& name) override {
        bool found = false;
        Query(
            "SELECT pg_catalog.to_regclass(pg_catalog.quote_ident(pg_catalog.current_schema()) "
            "|| '.' || pg_catalog.quote_ident($1)) IS NOT NULL",
            {Variant(name)}, [&](const Row& r) {
                found = r[0].type() == Variant::Type::Boolean && r[0].BoolValue();
            });
        if (found) return true;
        std::string path, user;
        Query("SELECT current_setting('search_path'), current_user", {}, [&](const Row& r) {
            path = r[0].ToString();
            user = r[1].ToString();
        });
        for (const std::string& schema : SearchPath(path, user)) {
            bool blocked = false;
            Query(
                "SELECT 1 FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n ON n.oid = "
                "c.relnamespace WHERE n.nspname = $1 AND c.relname = $2 AND NOT "
                "has_schema_privilege(n.oid, 'USAGE')",
                {Variant(schema), Variant(name)}, [&](const Row&) { blocked = true; });
            if (blocked)
                throw RuntimeError(err::kPermissionDenied,
                                   "The catalogue " + name_ + " refused access: the role " +
                                       json::Quote(user) + " may not use the schema " +
                                       json::Quote(schema) + " (ask for: GRANT USAGE ON SCHEMA " +
                                       QuotedIdentifier(schema) + " TO " + QuotedIdentifier(user) +
                                       ")");
        }
        return false;
    }

    void Live() {
        if (!conn_)
            throw RuntimeError(err::kServerUnavailable,
                               "The catalogue " + name_ + " is no longer connected");
    }

    [[noreturn]] void Lost(const std::string& what = {}) {
        std::string message = what.empty() && conn_ ? Trimmed(PQerrorMessage(conn_)) : what;
        if (conn_) PQfinish(conn_);
        conn_ = nullptr;
        throw RuntimeError(err::kServerUnavailable,
                           "The catalogue " + name_ + " stopped answering: " + message);
    }

    // The schema names of a search_path setting: "$user" is the role,
    // quoted names are taken as they are, others in lower case.
    static std::vector<std::string> SearchPath(const std::string& path, const std::string& user) {
        std::vector<std::string> names;
        size_t i = 0;
        while (i < path.size()) {
            while (i < path.size() && (path[i] == ' ' || path[i] == ',')) ++i;
            if (i >= path.size()) break;
            std::string name;
            if (path[i] == '"') {
                for (++i; i < path.size(); ++i) {
                    if (path[i] == '"' && i + 1 < path.size() && path[i + 1] == '"') {
                        name += '"';
                        ++i;
                    } else if (path[i] == '"') {
                        ++i;
                        break;
                    } else {
                        name += path[i];
                    }
                }
            } else {
                for (; i < path.size() && path[i] != ',' && path[i] != ' '; ++i)
                    name += LowerAscii(path[i]);
            }
            names.push_back(name == "$user" ? user : name);
        }
        return names;
    }

    static std::string QuotedIdentifier(const std::string& name) {
        std::string out = "\"";
        for (char c : name) out += c == '"' ? std::string("\"\"") : std::string(1, c);
        return out + "\"";
    }

    static const char* ParamText(const Variant& v, std::string& text) {
        switch (v.type()) {
            case Variant::Type::Empty:
            case Variant::Type::Null:
                return nullptr;
            case Variant::Type::Boolean:
                // assign(count, char): GCC 12 warns wrongly (-Wrestrict) on
                // assigning the literal.
                text.assign(1, v.BoolValue() ? 't' : 'f');
                break;
            case Variant::Type::Int32:
                text = std::to_string(v.Int32Value());
                break;
            case Variant::Type::Int64:
                text = std::to_string(v.Int64Value());
                break;
            case Variant::Type::Double:
                text = number_text::General(v.DoubleValue(), 17);
                break;
            case Variant::Type::String:
                // A text parameter ends at its first NUL: refuse rather than
                // store a shortened value.
                if (v.StringValue().find('\0') != std::string::npos)
                    throw RuntimeError(err::kBadCatalogue,
                                       "Text with a NUL character (\\u0000) cannot be stored in "
                                       "PostgreSQL: " +
                                           json::Quote(v.StringValue().substr(0, 60)));
                text = v.StringValue();
                break;
            case Variant::Type::Object:
                throw RuntimeError(err::kTypeMismatch,
                                   "Type mismatch: an object cannot be stored in a catalogue");
        }
        return text.c_str();
    }

    static RuntimeError NotANumber(const char* text) {
        return RuntimeError(err::kDatabase, "PostgreSQL returned " +
                                                json::Quote(std::string(text).substr(0, 60)) +
                                                " for a number column");
    }

    static Variant Value(PGresult* res, int r, int c) {
        if (PQgetisnull(res, r, c)) return Variant::Null();
        const char* text = PQgetvalue(res, r, c);
        switch (PQftype(res, c)) {
            case kBoolOid:
                return Variant::Boolean(text[0] == 't');
            case kInt2Oid:
            case kInt4Oid:
            case kInt8Oid: {
                int64_t v = 0;
                if (number_text::ParseInteger(text, v) != number_text::ParseResult::Ok)
                    throw NotANumber(text);
                if (v >= INT32_MIN && v <= INT32_MAX) return Variant(static_cast<int32_t>(v));
                return Variant(v);
            }
            case kFloat4Oid:
            case kFloat8Oid:
            case kNumericOid: {
                // The server's words for the values that are no finite number.
                const std::string_view word(text);
                if (word == "NaN") return Variant(std::numeric_limits<double>::quiet_NaN());
                if (word == "Infinity") return Variant(std::numeric_limits<double>::infinity());
                if (word == "-Infinity") return Variant(-std::numeric_limits<double>::infinity());
                double v = 0;
                if (number_text::ParseDouble(word, v) == number_text::ParseResult::NotANumber)
                    throw NotANumber(text);
                return Variant(v);
            }
            default:
                return Variant(std::string(text, static_cast<size_t>(PQgetlength(res, r, c))));
        }
    }

    // Waits for the socket until `deadline`: for writing when libpq has
    // data queued, else for the server's answer.
    void WaitSocket(std::chrono::steady_clock::time_point deadline, bool write) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) Lost("no answer within " + SecondsText(g_statement_timeout_ms.load()));
        pollfd pfd{PQsocket(conn_), static_cast<short>(POLLIN | (write ? POLLOUT : 0)), 0};
        const int ready = ::poll(&pfd, 1, static_cast<int>(left));
        if (ready < 0 && errno != EINTR) Lost(std::strerror(errno));
        if (ready > 0 && !PQconsumeInput(conn_)) Lost();
    }

    // Sends what libpq has queued.
    void WaitWritable(std::chrono::steady_clock::time_point deadline) {
        for (;;) {
            const int flushed = PQflush(conn_);
            if (flushed < 0) Lost();
            if (flushed == 0) return;
            WaitSocket(deadline, true);
        }
    }

    // Sends the command and waits until its first result is in.
    void WaitForResult(std::chrono::steady_clock::time_point deadline) {
        WaitWritable(deadline);
        while (PQisBusy(conn_)) WaitSocket(deadline, false);
    }

    void PutCopyData(const std::string& data, std::chrono::steady_clock::time_point deadline) {
        for (;;) {
            const int put = PQputCopyData(conn_, data.data(), static_cast<int>(data.size()));
            if (put < 0) Lost();
            if (put == 1) break;
            WaitWritable(deadline);
        }
        WaitWritable(deadline);
    }

    // Waits, within the statement timeout, for every result of the command
    // just sent; hands each row-bearing result to `on_result` and raises the
    // first error.
    template <typename OnResult>
    void Drain(OnResult&& on_result) {
        const int64_t timeout_ms = g_statement_timeout_ms.load();
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        std::optional<RuntimeError> error;
        for (;;) {
            // Send what is queued, then wait until a whole result is in.
            for (;;) {
                int flushed = PQflush(conn_);
                if (flushed < 0) Lost();
                bool busy = flushed == 1 || PQisBusy(conn_);
                if (!busy) break;
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                deadline - std::chrono::steady_clock::now())
                                .count();
                if (left <= 0) Lost("no answer within " + SecondsText(timeout_ms));
                pollfd pfd{PQsocket(conn_), static_cast<short>(POLLIN | (flushed ? POLLOUT : 0)),
                           0};
                int ready = ::poll(&pfd, 1, static_cast<int>(left));
                if (ready < 0 && errno != EINTR) Lost(std::strerror(errno));
                if (ready > 0 && !PQconsumeInput(conn_)) Lost();
            }
            PGresult* res = PQgetResult(conn_);
            if (!res) break;
            ExecStatusType status = PQresultStatus(res);
            if (status == PGRES_TUPLES_OK || status == PGRES_SINGLE_TUPLE ||
                status == PGRES_COMMAND_OK) {
                if (!error) {
                    try {
                        on_result(res);
                    } catch (const RuntimeError& e) {
                        error = e;
                    }
                }
            } else if (!error) {
                error = ErrorOf(res);
            }
            PQclear(res);
        }
        if (PQstatus(conn_) == CONNECTION_BAD) Lost(error ? raw_error_ : "");
        if (error) throw *error;
    }

    RuntimeError ErrorOf(PGresult* res) {
        const char* state = PQresultErrorField(res, PG_DIAG_SQLSTATE);
        const char* primary = PQresultErrorField(res, PG_DIAG_MESSAGE_PRIMARY);
        std::string message = primary ? primary : Trimmed(PQresultErrorMessage(res));
        std::string code = state ? state : "";
        raw_error_ = message;
        if (code == "25006") {
            if (mode_ == OpenMode::kReadOnly)
                return RuntimeError(err::kPermissionDenied,
                                    "The catalogue " + name_ +
                                        " cannot be written: a load's connection is read-only (" +
                                        message + ")");
            return RuntimeError(
                err::kPermissionDenied,
                "The catalogue " + name_ +
                    " cannot be written: the server is read-only (a standby, or a server or role "
                    "that allows no writes): " +
                    message +
                    ". Imports need the primary: give its address, or list the servers with "
                    "target_session_attrs=read-write");
        }
        if (code == "42501") {
            const char* user = conn_ ? PQuser(conn_) : nullptr;
            return RuntimeError(
                err::kPermissionDenied,
                "The catalogue " + name_ + " refused access: " + message + " (the role " +
                    json::Quote(user ? user : "") +
                    " needs USAGE on the schema and SELECT on the tables to load the catalogue; "
                    "INSERT and DELETE besides to import, CREATE on the schema to init)");
        }
        // Shutdown and crash of the server arrive as errors of the class 57.
        if (code.rfind("57P", 0) == 0 || code.rfind("08", 0) == 0)
            return RuntimeError(err::kServerUnavailable,
                                "The catalogue " + name_ + " stopped answering: " + message);
        return RuntimeError(err::kDatabase, "The catalogue " + name_ + " failed: " + message +
                                                (code.empty() ? "" : " (SQLSTATE " + code + ")"));
    }

    std::string name_;
    std::string raw_error_;  // the server's words for the last error
    PGconn* conn_ = nullptr;
    OpenMode mode_ = OpenMode::kReadOnly;
};

}  // namespace

std::unique_ptr<Database> OpenPostgres(const CatalogueLocation& loc, OpenMode mode) {
    return std::make_unique<PostgresDatabase>(loc, mode);
}

void SetPostgresStatementTimeout(std::chrono::milliseconds timeout) {
    g_statement_timeout_ms = std::max<int64_t>(1, timeout.count());
}

}  // namespace kevra::service
