// The PostgreSQL catalogue store.
//
// Every wait on the server is bounded: the connection gets a connect timeout
// of 5 seconds unless its string sets one, and each statement is sent
// asynchronously and waited for with poll(), so a server that stops
// answering in the middle of a load (stopped, frozen, cut off) ends the
// load with a report naming the server instead of hanging the host's user
// interface. Values travel only as bound parameters.
//
// Messages name the server by host, port and database, never by the
// connection string, which may hold a password.
#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <vector>

#include "platform/error.h"
#include "platform/json.h"
#include "service/database.h"

namespace kevra::service {

namespace {

constexpr const char* kDefaultConnectTimeout = "5";
std::atomic<int64_t> g_statement_timeout_ms{30'000};

std::string SecondsText(int64_t ms) {
    int64_t s = (ms + 999) / 1000;
    return std::to_string(s) + (s == 1 ? " second" : " seconds");
}

// PostgreSQL type OIDs of the results we convert.
constexpr Oid kBoolOid = 16, kInt8Oid = 20, kInt2Oid = 21, kInt4Oid = 23, kFloat4Oid = 700,
              kFloat8Oid = 701, kNumericOid = 1700;

// libpq's messages span lines ("...failed: ...\n\tIs the server running");
// an error report reads better as one line.
std::string Trimmed(std::string_view s) {
    std::string out;
    bool blank = false;
    for (char c : s) {
        if (c == '\n' || c == '\t' || c == '\r' || c == ' ') {
            blank = true;
            continue;
        }
        if (blank && !out.empty()) out += ' ';
        blank = false;
        out += c;
    }
    return out;
}

class PostgresDatabase : public Database {
  public:
    PostgresDatabase(const CatalogueLocation& loc, OpenMode mode) {
        char* parse_error = nullptr;
        PQconninfoOption* options = PQconninfoParse(loc.target.c_str(), &parse_error);
        if (!options) {
            std::string why = parse_error ? Trimmed(parse_error) : "out of memory";
            PQfreemem(parse_error);
            throw RuntimeError(err::kInvalidArgument,
                               "The catalogue server address is not a valid PostgreSQL connection "
                               "string or URI: " +
                                   why);
        }
        std::vector<const char*> keys, values;
        bool has_timeout = false;
        std::string host, port, dbname;
        for (PQconninfoOption* o = options; o->keyword; ++o) {
            if (!o->val) continue;
            keys.push_back(o->keyword);
            values.push_back(o->val);
            std::string_view k = o->keyword;
            if (k == "connect_timeout") has_timeout = true;
            if (k == "host" || (k == "hostaddr" && host.empty())) host = o->val;
            if (k == "port") port = o->val;
            if (k == "dbname") dbname = o->val;
        }
        if (!has_timeout) {
            keys.push_back("connect_timeout");
            values.push_back(kDefaultConnectTimeout);
        }
        keys.push_back("client_encoding");
        values.push_back("UTF8");
        keys.push_back("fallback_application_name");
        values.push_back("kevra");
        keys.push_back(nullptr);
        values.push_back(nullptr);

        name_ = "server " + json::Quote(host.empty() ? "localhost" : host);
        if (!port.empty()) name_ += " port " + port;
        if (!dbname.empty()) name_ += " database " + json::Quote(dbname);

        conn_ = PQconnectdbParams(keys.data(), values.data(), 0);
        PQconninfoFree(options);
        if (!conn_)
            throw RuntimeError(err::kServerUnavailable,
                               "Cannot connect to the catalogue " + name_ + ": out of memory");
        if (PQstatus(conn_) != CONNECTION_OK) {
            std::string message = Trimmed(PQerrorMessage(conn_));
            // A server that answered with a refusal ("FATAL: database does
            // not exist", a bad password) is reachable; the user has to fix
            // the address or the account, not the network.
            const bool answered =
                message.find("FATAL") != std::string::npos || PQconnectionNeedsPassword(conn_);
            PQfinish(conn_);
            conn_ = nullptr;
            if (answered && message.find("does not exist") != std::string::npos)
                message += " (create the database first, for example with createdb)";
            throw RuntimeError(answered ? err::kDatabase : err::kServerUnavailable,
                               "Cannot connect to the catalogue " + name_ + ": " + message);
        }
        PQsetnonblocking(conn_, 1);
        try {
            ExecScript("SET client_min_messages = warning");
            if (mode == OpenMode::kReadOnly) ExecScript("SET default_transaction_read_only = on");
        } catch (...) {
            PQfinish(conn_);
            conn_ = nullptr;
            throw;
        }
    }

    ~PostgresDatabase() override {
        if (conn_) PQfinish(conn_);
    }

    const std::string& Name() const override { return name_; }
    StoreKind Kind() const override { return StoreKind::kPostgres; }

    void ExecScript(const std::string& sql) override {
        Live();
        if (!PQsendQuery(conn_, sql.c_str())) Lost();
        Drain([](PGresult*) {});
    }

    void Query(const std::string& sql, const Row& params,
               const std::function<void(const Row&)>& on_row) override {
        const std::string& statement = Prepare(sql);
        std::vector<std::string> texts(params.size());
        std::vector<const char*> values(params.size());
        for (size_t i = 0; i < params.size(); ++i) values[i] = ParamText(params[i], texts[i]);
        if (!PQsendQueryPrepared(conn_, statement.c_str(), static_cast<int>(params.size()),
                                 values.data(), nullptr, nullptr, 0))
            Lost();
        Drain([&](PGresult* res) {
            const int rows = PQntuples(res), columns = PQnfields(res);
            Row row(static_cast<size_t>(columns));
            for (int r = 0; r < rows; ++r) {
                for (int c = 0; c < columns; ++c) row[static_cast<size_t>(c)] = Value(res, r, c);
                on_row(row);
            }
        });
    }

    bool HasTable(const std::string& name) override {
        bool found = false;
        Query(
            "SELECT 1 FROM information_schema.tables WHERE table_schema = current_schema() AND "
            "table_name = $1",
            {Variant(name)}, [&](const Row&) { found = true; });
        return found;
    }

  private:
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

    const std::string& Prepare(const std::string& sql) {
        Live();
        auto it = statements_.find(sql);
        if (it != statements_.end()) return it->second;
        std::string statement = "kevra_" + std::to_string(statements_.size() + 1);
        if (!PQsendPrepare(conn_, statement.c_str(), sql.c_str(), 0, nullptr)) Lost();
        Drain([](PGresult*) {});
        return statements_.emplace(sql, statement).first->second;
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
            case Variant::Type::Double: {
                char buf[40];
                std::snprintf(buf, sizeof buf, "%.17g", v.DoubleValue());
                text = buf;
                break;
            }
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

    static Variant Value(PGresult* res, int r, int c) {
        if (PQgetisnull(res, r, c)) return Variant::Null();
        const char* text = PQgetvalue(res, r, c);
        switch (PQftype(res, c)) {
            case kBoolOid:
                return Variant::Boolean(text[0] == 't');
            case kInt2Oid:
            case kInt4Oid:
            case kInt8Oid: {
                long long v = std::strtoll(text, nullptr, 10);
                if (v >= INT32_MIN && v <= INT32_MAX) return Variant(static_cast<int32_t>(v));
                return Variant(static_cast<int64_t>(v));
            }
            case kFloat4Oid:
            case kFloat8Oid:
            case kNumericOid:
                return Variant(std::strtod(text, nullptr));
            default:
                return Variant(std::string(text, static_cast<size_t>(PQgetlength(res, r, c))));
        }
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
            if (status == PGRES_TUPLES_OK || status == PGRES_COMMAND_OK) {
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
        if (code == "25006")
            return RuntimeError(err::kPermissionDenied,
                                "The catalogue " + name_ + " cannot be written: " + message);
        if (code == "42501")
            return RuntimeError(err::kPermissionDenied, "The catalogue " + name_ +
                                                            " refused access: " + message +
                                                            " (ask for the needed grants)");
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
    std::map<std::string, std::string> statements_;
};

}  // namespace

std::unique_ptr<Database> OpenPostgres(const CatalogueLocation& loc, OpenMode mode) {
    return std::make_unique<PostgresDatabase>(loc, mode);
}

void SetPostgresStatementTimeout(std::chrono::milliseconds timeout) {
    g_statement_timeout_ms = std::max<int64_t>(1, timeout.count());
}

}  // namespace kevra::service
