// Connecting to a PostgreSQL catalogue server: the address read and its
// settings checked (their values never quoted, as they may hold a
// password), then the servers of its host list tried in turn, each within
// a connect timeout driven by PQconnectPoll and poll(), and a failure told
// by what to fix.
#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"
#include "platform/json.h"
#include "platform/number_text.h"
#include "service/catalogue_location.h"
#include "service/postgres_database_p.h"

namespace kevra::service::postgres_detail {

namespace {

constexpr int kDefaultConnectTimeoutSeconds = 5;
// libpq's own floor for connect_timeout.
constexpr int kMinConnectTimeoutSeconds = 2;

[[noreturn]] void ThrowMalformed(const std::string& why) {
    throw RuntimeError(err::kInvalidArgument,
                       "The catalogue server address is not a valid PostgreSQL connection string "
                       "or URI: " +
                           why + "; docs/catalogues.md shows the forms");
}

// Why libpq could not read an address that reads well to us: a setting name
// libpq does not know, which is named (a name, unlike a value, is no secret).
std::string UnreadableAddress(const std::string& target) {
    std::unique_ptr<PQconninfoOption, decltype(&PQconninfoFree)> known(PQconndefaults(),
                                                                       PQconninfoFree);
    for (const auto& [key, value] : ReadPostgresAddress(target).settings) {
        bool found = false;
        for (PQconninfoOption* o = known.get(); o && o->keyword && !found; ++o)
            found = key == o->keyword;
        if (!found)
            return "there is no connection setting " + json::Quote(key) +
                   " (the settings are host, port, dbname, user, password, sslmode, options and "
                   "the others libpq documents)";
    }
    return "libpq cannot read it";
}

// libpq's integer reading: blanks around an optional sign and digits.
std::optional<long> IntegerSetting(std::string_view text) {
    size_t b = 0, e = text.size();
    while (b < e && (text[b] == ' ' || (text[b] >= '\t' && text[b] <= '\r'))) ++b;
    while (e > b && (text[e - 1] == ' ' || (text[e - 1] >= '\t' && text[e - 1] <= '\r'))) --e;
    std::string digits(text.substr(b, e - b));
    if (digits.empty() || digits.size() > 9) return std::nullopt;
    int64_t v = 0;
    if (number_text::ParseInteger(digits, v) != number_text::ParseResult::Ok) return std::nullopt;
    return static_cast<long>(v);
}

// Every port of a comma-separated list must be empty (the default) or a port
// number. The value is not quoted: a URI that lost the "@" after its
// password reads the password as the port.
void CheckPorts(std::string_view ports) {
    size_t start = 0;
    for (;;) {
        const size_t comma = ports.find(',', start);
        std::string_view one = ports.substr(start, comma - start);
        if (!one.empty()) {
            std::optional<long> port = IntegerSetting(one);
            if (!port || *port < 1 || *port > 65535)
                ThrowMalformed("a port is not a number from 1 to 65535");
        }
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
}

void CheckChoice(const char* key, std::string_view value,
                 std::initializer_list<std::string_view> choices) {
    std::string list;
    for (std::string_view c : choices) {
        if (value == c) return;
        list += (list.empty() ? "" : ", ") + std::string(c);
    }
    ThrowMalformed(std::string(key) + " " + json::Quote(value) + " is not one of " + list);
}

// connect_timeout in seconds: 0 (libpq's "wait for ever") and negative
// values give the default, as a load must never wait without end.
int ConnectTimeout(std::string_view text) {
    std::optional<long> seconds = IntegerSetting(text);
    if (!seconds) ThrowMalformed("connect_timeout is not a whole number of seconds");
    if (*seconds <= 0) return kDefaultConnectTimeoutSeconds;
    return static_cast<int>(std::max<long>(*seconds, kMinConnectTimeoutSeconds));
}

// A server's error in libpq's verbose form, "FATAL:  28000: role ... does
// not exist" (then DETAIL, HINT, LOCATION lines): its SQLSTATE and first
// line, the last one of the message (libpq tries host after host).
struct ServerError {
    std::string state, text;
};

std::optional<ServerError> ServerErrorIn(const std::string& message) {
    auto is_state_char = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'); };
    std::optional<ServerError> found;
    for (size_t at = message.find(":  "); at != std::string::npos;
         at = message.find(":  ", at + 1)) {
        const size_t b = at + 3;
        if (b + 7 > message.size() || message[b + 5] != ':' || message[b + 6] != ' ') continue;
        if (!std::all_of(message.begin() + static_cast<std::ptrdiff_t>(b),
                         message.begin() + static_cast<std::ptrdiff_t>(b + 5), is_state_char))
            continue;
        const size_t end = message.find('\n', b + 7);
        found = ServerError{message.substr(b, 5), message.substr(b + 7, end - (b + 7))};
    }
    return found;
}

// Why a connection failed, from libpq's `message`: a server's refusal by
// its SQLSTATE, with what to fix in the address or the account.
RuntimeError ConnectFailure(const std::string& name, const std::string& message,
                            bool needs_password) {
    const std::string cannot = "Cannot connect to the catalogue " + name + ": ";
    std::optional<ServerError> refusal = ServerErrorIn(message);
    if (!refusal) {
        if (needs_password)
            return RuntimeError(err::kPermissionDenied,
                                cannot +
                                    "the server asks for a password and the address gives "
                                    "none (add password=..., or the server to ~/.pgpass)");
        return RuntimeError(err::kServerUnavailable, cannot + Trimmed(message));
    }
    const std::string& state = refusal->state;
    const std::string& text = refusal->text;
    // The server answered: what to fix is the address or the account.
    if (state == "28000")
        return RuntimeError(err::kPermissionDenied,
                            cannot + "the server refused the role: " + text +
                                " (check the user in the address; the server's administrator "
                                "creates roles and lets them connect in pg_hba.conf)");
    if (state == "28P01")
        return RuntimeError(err::kPermissionDenied,
                            cannot + text + " (check the password in the address or ~/.pgpass)");
    if (state == "3D000")
        return RuntimeError(
            err::kDatabase,
            cannot + text + " (create the database first, for example with createdb)");
    if (state == "42501")
        return RuntimeError(err::kPermissionDenied,
                            cannot + text + " (ask for the CONNECT grant on the database)");
    if (state.rfind("08", 0) == 0 || state.rfind("57P", 0) == 0 || state == "53300")
        return RuntimeError(err::kServerUnavailable, cannot + text);
    return RuntimeError(err::kDatabase, cannot + text + " (SQLSTATE " + state + ")");
}

// One attempt on one host (libpq still walks the addresses of a name):
// connected within `timeout_seconds`, or the error that says what to
// fix, which the caller raises.
std::optional<RuntimeError> ConnectOne(PGconn*& connection, const std::string& name,
                                       const char* const* keys, const char* const* values,
                                       int timeout_seconds) {
    connection = PQconnectStartParams(keys, values, 0);
    if (!connection)
        throw RuntimeError(err::kOutOfMemory,
                           "Cannot connect to the catalogue " + name + ": out of memory");
    // The verbose form carries the SQLSTATE of a server's refusal.
    PQsetErrorVerbosity(connection, PQERRORS_VERBOSE);
    const auto timeout = std::chrono::seconds(timeout_seconds);
    auto attempt = [&connection] {
        const char* host = PQhost(connection);
        const char* port = PQport(connection);
        return std::string(host ? host : "") + '\n' + (port ? port : "") + '\n' +
               std::to_string(PQsocket(connection));
    };
    std::string tried = attempt();
    auto deadline = std::chrono::steady_clock::now() + timeout;
    PostgresPollingStatusType polled = PGRES_POLLING_WRITING;
    while (PQstatus(connection) != CONNECTION_BAD && polled != PGRES_POLLING_OK &&
           polled != PGRES_POLLING_FAILED) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            PQfinish(connection);
            connection = nullptr;
            return RuntimeError(err::kServerUnavailable,
                                "Cannot connect to the catalogue " + name + ": no answer within " +
                                    SecondsText(timeout_seconds * 1000) + " (connect_timeout)");
        }
        const int fd = PQsocket(connection);
        if (fd >= 0) {
            pollfd pfd{fd, static_cast<short>(polled == PGRES_POLLING_READING ? POLLIN : POLLOUT),
                       0};
            const int ready = ::poll(&pfd, 1, static_cast<int>(left));
            if (ready < 0 && errno != EINTR) {
                const int error = errno;
                PQfinish(connection);
                connection = nullptr;
                return RuntimeError(
                    err::kServerUnavailable,
                    "Cannot connect to the catalogue " + name + ": " + std::strerror(error));
            }
            if (ready <= 0) continue;
        }
        polled = PQconnectPoll(connection);
        // libpq moved on to the next host or address: it gets a full
        // timeout of its own, as with libpq's blocking connect.
        std::string now_trying = attempt();
        if (now_trying != tried) {
            tried = std::move(now_trying);
            deadline = std::chrono::steady_clock::now() + timeout;
        }
    }
    if (PQstatus(connection) == CONNECTION_OK) return std::nullopt;
    const std::string message = PQerrorMessage(connection);
    const bool needs_password = PQconnectionNeedsPassword(connection);
    PQfinish(connection);
    connection = nullptr;
    return ConnectFailure(name, message, needs_password);
}

// One server of the address's list, as libpq would try it.
struct Host {
    std::string host, hostaddr, port;
};

// The address's host, hostaddr and port lists, host by host; one entry
// (maybe all empty, libpq's defaults) when it lists none or one.
std::vector<Host> Hosts(const char* hosts, const char* hostaddrs, const char* ports) {
    auto split = [](const char* list) {
        std::vector<std::string> parts;
        if (!list) return parts;
        std::string_view text(list);
        for (size_t start = 0;;) {
            const size_t comma = text.find(',', start);
            parts.emplace_back(text.substr(start, comma - start));
            if (comma == std::string_view::npos) break;
            start = comma + 1;
        }
        return parts;
    };
    const std::vector<std::string> h = split(hosts), a = split(hostaddrs), p = split(ports);
    if (!h.empty() && !a.empty() && h.size() != a.size())
        ThrowMalformed("host lists " + std::to_string(h.size()) + " servers and hostaddr " +
                       std::to_string(a.size()));
    const size_t count = std::max<size_t>({h.size(), a.size(), 1});
    if (p.size() > 1 && p.size() != count)
        ThrowMalformed("port lists " + std::to_string(p.size()) + " numbers for " +
                       std::to_string(count) + " servers");
    std::vector<Host> out(count);
    for (size_t i = 0; i < count; ++i) {
        if (!h.empty()) out[i].host = h[i];
        if (!a.empty()) out[i].hostaddr = a[i];
        if (!p.empty()) out[i].port = p.size() == 1 ? p[0] : p[i];
    }
    return out;
}

// Tries the servers in turn, each with a whole connect timeout of its
// own: libpq's own walk of a host list, driven by PQconnectPoll, would
// spend the one timeout on a first server that never answers and never
// reach the next. A server that is not what target_session_attrs asks
// for is passed over as libpq would; "prefer-standby" takes a standby
// from the whole list first, then any server.
PGconn* Connect(const std::string& name, std::vector<const char*> keys,
                std::vector<const char*> values, const std::vector<Host>& hosts,
                const char* session_attrs, int timeout_seconds) {
    std::vector<std::string> passes;
    const std::string attrs = session_attrs ? session_attrs : "";
    if (attrs == "prefer-standby")
        passes = {"standby", "any"};
    else
        passes = {attrs};
    const size_t fixed = keys.size();
    std::vector<std::pair<const Host*, RuntimeError>> failures;
    for (const std::string& pass : passes) {
        for (const Host& h : hosts) {
            keys.resize(fixed);
            values.resize(fixed);
            auto add = [&](const char* key, const std::string& value) {
                if (value.empty()) return;
                keys.push_back(key);
                values.push_back(value.c_str());
            };
            add("host", h.host);
            add("hostaddr", h.hostaddr);
            add("port", h.port);
            add("target_session_attrs", pass);
            keys.push_back(nullptr);
            values.push_back(nullptr);
            PGconn* conn = nullptr;
            std::optional<RuntimeError> failed =
                ConnectOne(conn, name, keys.data(), values.data(), timeout_seconds);
            if (!failed) return conn;
            failures.emplace_back(&h, *failed);
        }
    }
    if (hosts.size() == 1 && failures.size() == 1) throw failures.front().second;
    // Each server's reason, without the sentence's start they share.
    const std::string cannot = "Cannot connect to the catalogue " + name + ": ";
    std::string reasons;
    for (const auto& [host, error] : failures) {
        std::string why = error.Description();
        if (why.rfind(cannot, 0) == 0) why.erase(0, cannot.size());
        const std::string& where = host->host.empty() ? host->hostaddr : host->host;
        reasons += (reasons.empty() ? "" : "; ") + json::Quote(where) +
                   (host->port.empty() ? "" : " port " + host->port) + ": " + why;
    }
    // The last server's kind of failure, as with a single server.
    const std::string text = cannot + "no server of the list could be used (" + reasons + ")";
    switch (failures.back().second.Number()) {
        case err::kPermissionDenied:
            throw RuntimeError(err::kPermissionDenied, text);
        case err::kDatabase:
            throw RuntimeError(err::kDatabase, text);
        default:
            throw RuntimeError(err::kServerUnavailable, text);
    }
}

}  // namespace

std::string SecondsText(int64_t ms) {
    int64_t s = (ms + 999) / 1000;
    return std::to_string(s) + (s == 1 ? " second" : " seconds");
}

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

PGconn* ConnectPostgres(const CatalogueLocation& loc, const std::string& name) {
    if (!loc.malformed.empty()) ThrowMalformed(loc.malformed);
    char* parse_error = nullptr;
    std::unique_ptr<PQconninfoOption, decltype(&PQconninfoFree)> options(
        PQconninfoParse(loc.target.c_str(), &parse_error), PQconninfoFree);
    if (!options) {
        // libpq's words quote the address, password and all.
        const bool out_of_memory = !parse_error;
        PQfreemem(parse_error);
        if (out_of_memory)
            throw RuntimeError(err::kOutOfMemory,
                               "Out of memory reading the catalogue server address");
        ThrowMalformed(UnreadableAddress(loc.target));
    }
    std::vector<const char*> keys, values;
    int timeout_seconds = kDefaultConnectTimeoutSeconds;
    const char *hosts = nullptr, *hostaddrs = nullptr, *ports = nullptr, *session_attrs = nullptr;
    for (PQconninfoOption* o = options.get(); o->keyword; ++o) {
        if (!o->val) continue;
        const std::string_view k = o->keyword;
        if (k == "connect_timeout") {
            // PQconnectPoll ignores it; ConnectOne() applies it.
            timeout_seconds = ConnectTimeout(o->val);
            continue;
        }
        if (k == "port") CheckPorts(o->val);
        if (k == "sslmode")
            CheckChoice("sslmode", o->val,
                        {"disable", "allow", "prefer", "require", "verify-ca", "verify-full"});
        if (k == "gssencmode") CheckChoice("gssencmode", o->val, {"disable", "prefer", "require"});
        // The host list is walked here, one host at a time (Connect).
        if (k == "host") hosts = o->val;
        if (k == "hostaddr") hostaddrs = o->val;
        if (k == "port") ports = o->val;
        if (k == "target_session_attrs") session_attrs = o->val;
        if (k == "host" || k == "hostaddr" || k == "port" || k == "target_session_attrs") continue;
        keys.push_back(o->keyword);
        values.push_back(o->val);
    }
    keys.push_back("client_encoding");
    values.push_back("UTF8");
    keys.push_back("fallback_application_name");
    values.push_back("kevra");

    return Connect(name, keys, values, Hosts(hosts, hostaddrs, ports), session_attrs,
                   timeout_seconds);
}

}  // namespace kevra::service::postgres_detail
