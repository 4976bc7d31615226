// Reading a MachineName into a catalogue location.
#include "service/catalogue_location.h"

#include <cstdlib>
#include <string_view>

#include "platform/ascii.h"
#include "platform/error.h"
#include "platform/json.h"

namespace kevra::service {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool EndsWith(std::string_view s, std::string_view suffix) {
    if (s.size() < suffix.size()) return false;
    for (size_t i = 0; i < suffix.size(); ++i)
        if (LowerAscii(s[s.size() - suffix.size() + i]) != suffix[i]) return false;
    return true;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (LowerAscii(s[i]) != prefix[i]) return false;
    return true;
}

// A value for a libpq key=value string: quoted, with ' and \ escaped, so a
// host name can never add keys of its own.
std::string ConninfoValue(std::string_view v) {
    std::string out = "'";
    for (char c : v) {
        if (c == '\'' || c == '\\') out += '\\';
        out += c;
    }
    return out + "'";
}

// libpq's blanks between key=value settings (isspace in the C locale).
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The key=value form: settings apart by blanks, a value in single quotes
// when it holds blanks, a backslash taking the next character as it is.
PostgresAddress ReadKeyValues(std::string_view s) {
    PostgresAddress out;
    size_t i = 0, index = 0;
    const size_t n = s.size();
    for (;;) {
        while (i < n && IsSpace(s[i])) ++i;
        if (i >= n) break;
        ++index;
        const size_t key_start = i;
        while (i < n && !IsSpace(s[i]) && s[i] != '=') ++i;
        std::string key(s.substr(key_start, i - key_start));
        while (i < n && IsSpace(s[i])) ++i;
        if (i >= n || s[i] != '=') {
            // The word is not named: a password that lost its key is what
            // most often ends up here.
            out.problem = "setting " + std::to_string(index) +
                          " is no key=value pair (a value with blanks goes in single quotes)";
            return out;
        }
        if (key.empty()) {
            out.problem = "setting " + std::to_string(index) + " has no name before its \"=\"";
            return out;
        }
        ++i;
        while (i < n && IsSpace(s[i])) ++i;
        std::string value;
        const bool quoted = i < n && s[i] == '\'';
        if (quoted) ++i;
        bool closed = !quoted;
        while (i < n) {
            const char c = s[i];
            if (c == '\\') {
                if (++i < n) value += s[i++];
                continue;
            }
            if (quoted && c == '\'') {
                ++i;
                closed = true;
                break;
            }
            if (!quoted && IsSpace(c)) break;
            value += c;
            ++i;
        }
        if (!closed) {
            out.problem = "the value of setting " + std::to_string(index) + " (\"" + key +
                          "\") opens a single quote that is never closed";
            return out;
        }
        out.settings.emplace_back(std::move(key), std::move(value));
    }
    return out;
}

// Percent-decodes `part` of a URI into `out`; false with `problem` set when
// an escape is not two hexadecimal digits, or is %00.
bool UriDecode(std::string_view text, const std::string& part, std::string& out,
               std::string& problem) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size() || HexDigitValue(text[i + 1]) < 0 ||
            HexDigitValue(text[i + 2]) < 0) {
            problem = "a % in the " + part +
                      " is not followed by two hexadecimal digits (write a % itself as %25)";
            return false;
        }
        const char c =
            static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
        if (c == '\0') {
            problem = "the " + part + " holds %00, which no setting may hold";
            return false;
        }
        out += c;
        i += 2;
    }
    return true;
}

// Stores the percent-decoded `raw` as the setting `key` unless it is empty;
// false with the problem set in `out` when it cannot be decoded.
bool StoreUriSetting(PostgresAddress& out, const char* key, std::string_view raw,
                     const std::string& part) {
    std::string value;
    if (!UriDecode(raw, part, value, out.problem)) return false;
    if (!value.empty()) out.settings.emplace_back(key, std::move(value));
    return true;
}

// User and password, which end at the first "@" before any "/". `i` moves
// past them when there are any; false on a problem.
bool ReadUriUserInfo(std::string_view s, size_t& i, PostgresAddress& out) {
    const size_t n = s.size();
    size_t at = i;
    while (at < n && s[at] != '@' && s[at] != '/') ++at;
    if (at >= n || s[at] != '@') return true;
    std::string_view info = s.substr(i, at - i);
    const size_t colon = info.find(':');
    if (!StoreUriSetting(out, "user", info.substr(0, colon), "user name")) return false;
    if (colon != std::string_view::npos &&
        !StoreUriSetting(out, "password", info.substr(colon + 1), "password"))
        return false;
    i = at + 1;
    return true;
}

// One host at `i`, an IPv6 address in [ ] or a name, appended to `hosts`;
// false on a problem.
bool ReadUriHost(std::string_view s, size_t& i, const std::string& which, std::string& hosts,
                 PostgresAddress& out) {
    const size_t n = s.size();
    if (i < n && s[i] == '[') {
        const size_t close = s.find(']', i + 1);
        if (close == std::string_view::npos) {
            out.problem = "the IPv6 address in [ ] of the " + which + " is not closed by ]";
            return false;
        }
        if (close == i + 1) {
            out.problem = "the IPv6 address in [ ] of the " + which + " is empty";
            return false;
        }
        hosts.append(s.substr(i + 1, close - i - 1));
        i = close + 1;
        if (i < n && s[i] != ':' && s[i] != '/' && s[i] != '?' && s[i] != ',') {
            out.problem = "the IPv6 address in [ ] of the " + which +
                          " is followed by other than :, /, ? or a comma";
            return false;
        }
        return true;
    }
    const size_t start = i;
    while (i < n && s[i] != ':' && s[i] != '/' && s[i] != '?' && s[i] != ',') ++i;
    std::string_view host = s.substr(start, i - start);
    // libpq takes the first "@" as the end of the password, so the
    // rest of a password with an "@" in it would be taken for the host.
    if (host.find('@') != std::string_view::npos) {
        out.problem =
            "the " + which + " holds an @ (write an @ in the user name or password as %40)";
        return false;
    }
    hosts.append(host);
    return true;
}

// Hosts, each with an optional port, apart by commas. `stop` is what ends
// them: "/", "?" or '\0' at the end; false on a problem.
bool ReadUriHosts(std::string_view s, size_t& i, char& stop, PostgresAddress& out) {
    const size_t n = s.size();
    std::string hosts, ports;
    for (size_t count = 1;; ++count) {
        const std::string which = count == 1 ? "host" : "host " + std::to_string(count);
        if (!ReadUriHost(s, i, which, hosts, out)) return false;
        if (i < n && s[i] == ':') {
            const size_t start = ++i;
            while (i < n && s[i] != '/' && s[i] != '?' && s[i] != ',') ++i;
            ports.append(s.substr(start, i - start));
        }
        stop = i < n ? s[i] : '\0';
        if (stop != ',') break;
        ++i;
        hosts += ',';
        ports += ',';
    }
    return StoreUriSetting(out, "host", hosts, "host") &&
           StoreUriSetting(out, "port", ports, "port");
}

// Query parameters from `i` to the end: key=value, apart by "&"; false on
// a problem.
bool ReadUriQuery(std::string_view s, size_t i, PostgresAddress& out) {
    const size_t n = s.size();
    for (size_t index = 1; i < n; ++index) {
        size_t end = s.find('&', i);
        if (end == std::string_view::npos) end = n;
        std::string_view param = s.substr(i, end - i);
        i = end < n ? end + 1 : n;
        const std::string part = "query parameter " + std::to_string(index);
        const size_t eq = param.find('=');
        if (eq == std::string_view::npos) {
            out.problem = part + " is no key=value pair";
            return false;
        }
        if (eq == 0) {
            out.problem = part + " has no name before its \"=\"";
            return false;
        }
        if (param.find('=', eq + 1) != std::string_view::npos) {
            out.problem = part + " has more than one \"=\" (write an = in a value as %3D)";
            return false;
        }
        std::string key, value;
        if (!UriDecode(param.substr(0, eq), part, key, out.problem) ||
            !UriDecode(param.substr(eq + 1), part, value, out.problem))
            return false;
        if (key == "ssl" && value == "true") {
            key = "sslmode";
            value = "require";
        }
        out.settings.emplace_back(std::move(key), std::move(value));
    }
    return true;
}

// The URI form: postgresql://[user[:password]@][host][:port][,...][/dbname][?key=value&...]
PostgresAddress ReadUri(std::string_view s) {
    PostgresAddress out;
    const size_t n = s.size();
    size_t i = s.find("://") + 3;
    char stop = '\0';
    if (!ReadUriUserInfo(s, i, out) || !ReadUriHosts(s, i, stop, out)) return out;
    if (stop == '/') {
        const size_t start = ++i;
        while (i < n && s[i] != '?') ++i;
        if (!StoreUriSetting(out, "dbname", s.substr(start, i - start), "database name"))
            return out;
        stop = i < n ? s[i] : '\0';
    }
    if (stop != '?') return out;
    ReadUriQuery(s, i + 1, out);
    return out;
}

// A list of ports shown only when it is one: a URI that lost the "@" after
// its password reads the password as the port.
bool IsPortList(std::string_view ports) {
    if (ports.empty()) return false;
    for (char c : ports)
        if (!(c >= '0' && c <= '9') && c != ',') return false;
    return true;
}

// How messages name the server of an address.
std::string ServerName(const PostgresAddress& address) {
    if (!address.problem.empty()) return "a PostgreSQL server (its address is malformed)";
    std::string host = address.Get("host");
    if (host.empty()) host = address.Get("hostaddr");
    const std::string service = address.Get("service");
    std::string name = host.empty() && !service.empty()
                           ? "service " + json::Quote(service)
                           : "server " + json::Quote(host.empty() ? "localhost" : host);
    const std::string port = address.Get("port");
    if (IsPortList(port)) name += " port " + port;
    const std::string dbname = address.Get("dbname");
    if (!dbname.empty()) name += " database " + json::Quote(dbname);
    return name;
}

}  // namespace

std::string PostgresAddress::Get(std::string_view key) const {
    for (auto it = settings.rbegin(); it != settings.rend(); ++it)
        if (it->first == key) return it->second;
    return "";
}

PostgresAddress ReadPostgresAddress(std::string_view address) {
    return address.rfind("postgresql://", 0) == 0 || address.rfind("postgres://", 0) == 0
               ? ReadUri(address)
               : ReadKeyValues(address);
}

std::string DisplayName(const std::string& machine_name) {
    try {
        return ResolveMachineName(machine_name).display;
    } catch (const RuntimeError&) {
        return "the default catalogue";
    }
}

std::string MessageName(StoreKind kind, const std::string& display) {
    return kind == StoreKind::kPostgres ? display : json::Quote(display);
}

std::string DefaultCataloguePath() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    std::string base;
    if (xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !*home)
            throw RuntimeError(err::kPathAccess,
                               "Cannot find the default catalogue: neither XDG_DATA_HOME nor HOME "
                               "is set; set one of them or give MachineName a catalogue");
        base = std::string(home) + "/.local/share";
    }
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base + "/kevra/tasks.db";
}

CatalogueLocation ResolveMachineName(const std::string& machine_name) {
    size_t b = 0, e = machine_name.size();
    while (b < e && IsBlank(machine_name[b])) ++b;
    while (e > b && IsBlank(machine_name[e - 1])) --e;
    std::string_view name(machine_name.data() + b, e - b);

    CatalogueLocation loc;
    if (name.empty()) {
        loc.kind = StoreKind::kSqlite;
        loc.target = DefaultCataloguePath();
        loc.display = loc.target;
        loc.is_default = true;
    } else if (StartsWith(name, "postgresql://") || StartsWith(name, "postgres://")) {
        loc.kind = StoreKind::kPostgres;
        loc.target = name;
        for (size_t i = 0; loc.target[i] != ':'; ++i) loc.target[i] = LowerAscii(loc.target[i]);
    } else if (StartsWith(name, "sqlite:")) {
        std::string_view path = name.substr(7);
        if (path.substr(0, 2) == "//") path.remove_prefix(2);  // sqlite:///abs/path
        loc.kind = StoreKind::kSqlite;
        loc.target = path;
    } else if (EndsWith(name, ".json")) {
        loc.kind = StoreKind::kJson;
        loc.target = name;
    } else if (EndsWith(name, ".db") || EndsWith(name, ".sqlite") || EndsWith(name, ".sqlite3")) {
        loc.kind = StoreKind::kSqlite;
        loc.target = name;
    } else if (name.find('=') != std::string_view::npos) {
        loc.kind = StoreKind::kPostgres;
        loc.target = name;
    } else {
        loc.kind = StoreKind::kPostgres;
        loc.target = "host=" + ConninfoValue(name) + " dbname=kevra";
    }
    if (loc.kind == StoreKind::kPostgres) {
        const PostgresAddress address = ReadPostgresAddress(loc.target);
        loc.display = ServerName(address);
        loc.malformed = address.problem;
    } else if (loc.display.empty()) {
        loc.display = loc.target;
    }
    return loc;
}

}  // namespace kevra::service
