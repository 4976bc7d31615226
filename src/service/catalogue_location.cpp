// Reading a MachineName into a catalogue location.
#include "service/catalogue_location.h"

#include <cstdlib>
#include <string_view>

#include "platform/error.h"

namespace kevra::service {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EndsWith(std::string_view s, std::string_view suffix) {
    if (s.size() < suffix.size()) return false;
    for (size_t i = 0; i < suffix.size(); ++i)
        if (Lower(s[s.size() - suffix.size() + i]) != suffix[i]) return false;
    return true;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (Lower(s[i]) != prefix[i]) return false;
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

}  // namespace

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
        loc.display = name;
    }
    // A connection string may carry a password: the PostgreSQL store names
    // the server from its parsed parts instead.
    if (loc.display.empty() && loc.kind != StoreKind::kPostgres) loc.display = loc.target;
    return loc;
}

}  // namespace kevra::service
