// The fuzz entry points and the checks they make on every input.
//
// Beyond "does not crash", each entry holds the code to a property that a
// wrong parser would break without crashing: a rejected filter leaves the
// cursor alone and an indexed filter selects what a scan selects; a settings
// file is rewritten byte for byte except the value set, and other keys stay;
// a catalogue written back out reads back the same; a script run never
// leaves the control busy, never lets an exception reach the host, and
// prints only well-formed lines.
#include "fuzz_entries.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <utility>

#include "control/ctlKevraTaskList.h"
#include "headless/headless_site.h"
#include "headless/host.h"
#include "headless/script.h"
#include "platform/dataspace.h"
#include "platform/error.h"
#include "platform/faults.h"
#include "platform/json.h"
#include "platform/recordset.h"
#include "service/json_catalogue.h"
#include "settings/ini_document.h"

namespace kevra::fuzz {

namespace {

[[noreturn]] void Fail(const std::string& what) { throw Violation(what); }

// A message the user may read must say something and be readable text.
void CheckMessage(const char* where, const std::string& description) {
    if (description.empty()) Fail(std::string(where) + ": an error with an empty description");
    if (!IsValidUtf8(description))
        Fail(std::string(where) +
             ": an error description that is not valid UTF-8: " + json::Quote(description));
}

std::string AsText(const uint8_t* data, size_t size) {
    return size == 0 ? std::string() : std::string(reinterpret_cast<const char*>(data), size);
}

// ---------------------------------------------------------------------------
// Filter

TableRef FilterTable() {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    TableBuilder b({"TaskId", "TaskParent", "TaskDescription", "IsLink", "TaskURL", "Score", "Big",
                    "Field Name"});
    const Variant null = Variant::Null();
    auto row = [&](int32_t id, int32_t parent, Variant description, Variant link, Variant url,
                   double score, int64_t big, Variant note) {
        b.AddRow({Variant(id), Variant(parent), std::move(description), std::move(link),
                  std::move(url), Variant(score), Variant(big), std::move(note)});
    };
    row(1, 0, "Front Office", Variant::Boolean(true), "https://x/1", 1.5, int64_t{1} << 40, "a'b");
    row(2, 1, "Reservations", Variant::Boolean(false), null, -0.0, -1, "");
    row(3, 1, "Rooms & Rates", null, "  spaced  ", 1e300, std::numeric_limits<int64_t>::max(),
        "\xc3\x9c"
        "n\xc3\xaf"
        "code \xe2\x9c\x93");
    row(4, 2, "New booking", Variant::Boolean(true), "u", nan, std::numeric_limits<int64_t>::min(),
        "%_*?[]");
    row(5, 2, "Cancel", Variant(int32_t{1}), "", 42.0, 42, "42");
    row(6, 0, "back office", Variant::Boolean(false), null, 0.1, 0, null);
    row(7, 6, "ROOMS", Variant(int32_t{-1}), "x", -1e-300, 7, "x\"y");
    row(8, 6, "", null, null, inf, 8, "line\nbreak");
    row(9, 99, "orphan", Variant::Boolean(true), Variant(int32_t{12}), -inf, 9, Variant());
    row(10, 0, null, null, null, 10.0, 10, Variant(2.5));
    row(11, 10, "tab\there", Variant(0.0), "\xff\xfe", 11.25, 11, Variant(int64_t{11}));
    row(12, 10, "\xc3\xbcmlaut", Variant::Boolean(true), "12", -12.0, -12, "12.0");
    return b.Build();
}

int32_t CurrentId(const Recordset& rs) { return rs.Fields("TaskId").Value().ToInt32(); }

std::vector<int32_t> WalkIds(Recordset& rs) {
    std::vector<int32_t> ids;
    for (; !rs.Eof(); rs.MoveNext()) ids.push_back(CurrentId(rs));
    return ids;
}

// ---------------------------------------------------------------------------
// Settings file

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
    return parts;
}

// ---------------------------------------------------------------------------
// JSON catalogue

service::JsonLimits SmallLimits() {
    service::JsonLimits limits;
    limits.max_file_bytes = 1 << 20;
    limits.max_rows = 2000;
    limits.max_fields = 32;
    limits.max_cells = 20000;
    limits.max_string_bytes = 256 << 10;
    limits.max_total_text_bytes = 1 << 20;
    limits.max_grants_per_row = 16;
    return limits;
}

// A string as a JSON literal that keeps every byte: unlike json::Quote, bytes
// that are not UTF-8 are written as they are, so that a reader which took
// them in must give them back.
std::string RawQuote(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string JsonValue(const Variant& v) {
    switch (v.type()) {
        case Variant::Type::Empty:
        case Variant::Type::Null:
            return "null";
        case Variant::Type::Boolean:
            return v.BoolValue() ? "true" : "false";
        case Variant::Type::Int32:
            return std::to_string(v.Int32Value());
        case Variant::Type::Int64:
            return std::to_string(v.Int64Value());
        case Variant::Type::Double: {
            if (!std::isfinite(v.DoubleValue()))
                Fail("the catalogue reader produced " + v.Describe());
            char buf[40];
            std::snprintf(buf, sizeof buf, "%.17g", v.DoubleValue());
            return buf;
        }
        case Variant::Type::String:
            return RawQuote(v.StringValue());
        case Variant::Type::Object:
            break;
    }
    Fail("the catalogue reader produced an object as a cell value");
}

bool SameCell(const Variant& a, const Variant& b) {
    const bool a_null = a.IsNull() || a.IsEmpty(), b_null = b.IsNull() || b.IsEmpty();
    if (a_null || b_null) return a_null == b_null;
    if (a.type() == Variant::Type::Boolean || b.type() == Variant::Type::Boolean) return a == b;
    if (a.type() == Variant::Type::String || b.type() == Variant::Type::String) return a == b;
    // Numbers: the same value, whichever width the reader chose.
    if (a.type() != Variant::Type::Double && b.type() != Variant::Type::Double)
        return a.ToInt64() == b.ToInt64();
    return a.ToDouble() == b.ToDouble();
}

// ---------------------------------------------------------------------------
// Host script

// The saved selection kept in memory.
class MemorySettings : public SettingsStore {
  public:
    std::string GetSetting(const std::string& application, const std::string& section,
                           const std::string& key, const std::string& default_value) override {
        auto it = values_.find(application + '\x1f' + section + '\x1f' + key);
        return it == values_.end() ? default_value : it->second;
    }
    void SaveSetting(const std::string& application, const std::string& section,
                     const std::string& key, const std::string& value) override {
        values_[application + '\x1f' + section + '\x1f' + key] = value;
    }

  private:
    std::map<std::string, std::string> values_;
};

// Small catalogues served by name, so that a script can reach every kind of
// data without touching a file: MachineName picks one, or holds a JSON
// catalogue itself when it starts with '['.
TableRef NamedCatalogue(const std::string& name) {
    TableBuilder b({"TaskId", "TaskParent", "TaskDescription", "IsLink", "TaskURL", "TaskParms"});
    const Variant null = Variant::Null(), yes = Variant::Boolean(true),
                  no = Variant::Boolean(false);
    auto row = [&](Variant id, Variant parent, Variant text, Variant link = Variant::Null(),
                   Variant url = Variant::Null(), Variant parms = Variant::Null()) {
        b.AddRow({std::move(id), std::move(parent), std::move(text), std::move(link),
                  std::move(url), std::move(parms)});
    };
    auto standard = [&] {
        row(1, 0, "Front Office");
        row(2, 1, "Reservations", no);
        row(3, 2, "New booking", yes, " app://booking ", "mode=new");
        row(4, 3, "Group booking", yes, "app://group", null);
        row(5, 2, "Cancel", Variant(int32_t{1}), "app://cancel");
        row(6, 1, "Rooms & Rates");
        row(7, 0, "Back Office");
        row(8, 7, "Accounts");
        row(9, 8, "Ledger", yes, "app://ledger", "--all");
        row(10, 8, "No URL", yes, "   ");
    };
    if (name == "empty") {
    } else if (name == "deep") {
        row(1, 0, "Top");
        for (int32_t id = 2; id <= 300; ++id)
            row(id, id - 1, "Level " + std::to_string(id), yes, "u");
    } else if (name == "null-id") {
        standard();
        row(null, 1, "No id");
    } else if (name == "zero-id") {
        standard();
        row(0, 0, "Zero");
    } else if (name == "dup-group") {
        standard();
        row(1, 0, "Front Office again");
    } else if (name == "dup-node") {
        standard();
        row(3, 5, "Booking under Cancel");
        row(2, 3, "Cycle back to Reservations");
    } else if (name == "null-description") {
        standard();
        row(11, 3, null);
    } else if (name == "big-id") {
        standard();
        row(int64_t{3000000000}, 2, "Beyond 32 bits", yes, "u");
        row(12.5, 2, "Fraction", yes, "u");
    } else if (name == "text-id") {
        standard();
        row("1 OR TaskParent >= 0", 2, "Filter text as id", yes, "u");
        row("x", 2, "Text id", yes, "u");
    } else if (name == "offline") {
        throw RuntimeError(err::kServerUnavailable,
                           "The server \"offline\" is not available: test catalogue");
    } else {
        standard();
    }
    return b.Build();
}

class FixedTaskService : public Dispatchable {
  public:
    explicit FixedTaskService(std::string server) : server_(std::move(server)) {}
    std::string TypeName() const override { return "FixedTaskService"; }
    Variant InvokeByName(const std::string& name, std::vector<Variant*> args) override {
        if (name != "RetrieveTasks" || args.size() != 5 || args[4] == nullptr)
            throw RuntimeError(err::kNoSuchMember, "FixedTaskService: unexpected call " + name);
        TableRef rows =
            !server_.empty() && server_[0] == '['
                ? service::ParseJsonCatalogue(server_, "MachineName", SmallLimits()).rows
                : NamedCatalogue(server_);
        *args[4] = Variant(ObjectRef(Recordset::Open(std::move(rows))));
        return Variant();
    }

  private:
    std::string server_;
};

// The end of the JSON string literal that starts at text[at], or npos.
size_t LiteralEnd(std::string_view text, size_t at) {
    if (at >= text.size() || text[at] != '"') return std::string_view::npos;
    for (size_t i = at + 1; i < text.size(); ++i) {
        if (text[i] == '\\') {
            ++i;
        } else if (text[i] == '"') {
            return i + 1;
        }
    }
    return std::string_view::npos;
}

void CheckMsgBox(std::string_view line) {
    constexpr std::string_view kPrefix = "msgbox critical ok ";
    if (line.substr(0, kPrefix.size()) != kPrefix)
        Fail("an error report that is not a critical box with an OK button: " + std::string(line));
    const size_t title_at = kPrefix.size();
    const size_t title_end = LiteralEnd(line, title_at);
    std::string title, prompt, why;
    if (title_end == std::string_view::npos ||
        !json::Unquote(line.substr(title_at, title_end - title_at), title, why) ||
        title_end + 1 >= line.size() || line[title_end] != ' ' ||
        !json::Unquote(line.substr(title_end + 1), prompt, why))
        Fail("a malformed msgbox line: " + std::string(line));
    static const char* const kProcedures[] = {
        "LoadData", "SelectTask", "sslistTaskList_ListItemClick", "sstreeTaskList_DblClick",
        "sslistTaskList_CurrentGroupChanged"};
    bool known = false;
    for (const char* p : kProcedures) known = known || title == std::string("KevraTaskList - ") + p;
    if (!known) Fail("an error report from no known procedure: " + std::string(line));
    // The prompt is the number, a blank and the description (which a
    // script's own fault may leave empty).
    const size_t blank = prompt.find(' ');
    if (blank == 0 || blank == std::string::npos)
        Fail("an error report without number and description: " + std::string(line));
    for (size_t i = 0; i < blank; ++i)
        if (!(std::isdigit(static_cast<unsigned char>(prompt[i])) || (i == 0 && prompt[0] == '-')))
            Fail("an error report whose number is not a number: " + std::string(line));
}

bool IsCount(std::string_view text) {
    if (text.empty() || text.size() > 10) return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return text.size() == 1 || text[0] != '0';
}

// "found ID KIND PATH", "favourite ID KIND PATH", "recent ID KIND PATH COUNT":
// the id a number, the kind one of four words, the path a JSON array.
void CheckSearchResult(const std::string& line) {
    std::string_view rest(line);
    const bool recent = rest.starts_with("recent ");
    rest.remove_prefix(rest.find(' ') + 1);
    const size_t id_end = rest.find(' ');
    std::string_view id = rest.substr(0, id_end);
    if (id.starts_with('-')) id.remove_prefix(1);
    if (id_end == std::string_view::npos || !IsCount(id))
        Fail("a search result without its id: " + line);
    rest.remove_prefix(id_end + 1);
    const size_t kind_end = rest.find(' ');
    const std::string_view kind = rest.substr(0, kind_end);
    if (kind_end == std::string_view::npos ||
        (kind != "group" && kind != "item" && kind != "task" && kind != "link"))
        Fail("a search result of no known kind: " + line);
    rest.remove_prefix(kind_end + 1);
    if (recent) {
        const size_t count_at = rest.rfind(' ');
        if (count_at == std::string_view::npos || !IsCount(rest.substr(count_at + 1)))
            Fail("a recent entry without its launch count: " + line);
        rest = rest.substr(0, count_at);
    }
    if (!rest.starts_with('[') || !IsValidJson(rest))
        Fail("a search result whose path is not a JSON array: " + line);
}

// Every line, the script's own echo lines included: whatever words a script
// gives, it cannot forge a line or print one that is not text.
void CheckLine(const std::string& line) {
    if (!IsValidUtf8(line)) Fail("an output line that is not valid UTF-8: " + json::Quote(line));
    if (line.find('\n') != std::string::npos || line.find('\r') != std::string::npos)
        Fail("an output line with a line break in it: " + json::Quote(line));
    if (line.find('\0') != std::string::npos)
        Fail("an output line with a NUL in it: " + json::Quote(line));
    if (line == "echo" || line.starts_with("echo ")) return;
    if (line.starts_with("dump ")) {
        if (!IsValidJson(std::string_view(line).substr(5)))
            Fail("a dump that is not valid JSON: " + line);
        return;
    }
    if (line.starts_with("msgbox ")) return CheckMsgBox(line);
    if (line.starts_with("found ") || line.starts_with("favourite ") || line.starts_with("recent "))
        return CheckSearchResult(line);
    for (const char* end : {"found-end ", "favourites-end ", "recent-end "})
        if (line.starts_with(end)) {
            if (!IsCount(std::string_view(line).substr(std::string_view(end).size())))
                Fail("a list end without its count: " + line);
            return;
        }
    static const char* const kKinds[] = {"pointer ",       "enabled ",         "yield",
                                         "setting-write ", "event StartTask ", "invoke-error ",
                                         "refused "};
    for (const char* kind : kKinds)
        if (line.starts_with(kind)) return;
    Fail("an output line of no known kind: " + json::Quote(line));
}

// ---------------------------------------------------------------------------
// JSON validation

class JsonChecker {
  public:
    explicit JsonChecker(std::string_view text) : s_(text) {}
    bool Whole() {
        Space();
        if (!Value(0)) return false;
        Space();
        return i_ == s_.size();
    }

  private:
    bool Value(int depth) {
        if (depth > 256 || i_ >= s_.size()) return false;
        switch (s_[i_]) {
            case '{':
                return Container(depth, '}', true);
            case '[':
                return Container(depth, ']', false);
            case '"':
                return String();
            case 't':
                return Word("true");
            case 'f':
                return Word("false");
            case 'n':
                return Word("null");
            default:
                return Number();
        }
    }
    bool Container(int depth, char close, bool object) {
        ++i_;
        Space();
        if (i_ < s_.size() && s_[i_] == close) return ++i_, true;
        for (;;) {
            if (object) {
                if (i_ >= s_.size() || s_[i_] != '"' || !String()) return false;
                Space();
                if (i_ >= s_.size() || s_[i_] != ':') return false;
                ++i_;
                Space();
            }
            if (!Value(depth + 1)) return false;
            Space();
            if (i_ >= s_.size()) return false;
            if (s_[i_] == close) return ++i_, true;
            if (s_[i_] != ',') return false;
            ++i_;
            Space();
        }
    }
    bool String() {
        ++i_;
        while (i_ < s_.size()) {
            const auto c = static_cast<unsigned char>(s_[i_++]);
            if (c == '"') return true;
            if (c < 0x20) return false;
            if (c != '\\') continue;
            if (i_ >= s_.size()) return false;
            const char e = s_[i_++];
            if (e == 'u') {
                for (int k = 0; k < 4; ++k, ++i_)
                    if (i_ >= s_.size() || !std::isxdigit(static_cast<unsigned char>(s_[i_])))
                        return false;
            } else if (std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos) {
                return false;
            }
        }
        return false;
    }
    bool Word(std::string_view w) {
        if (s_.substr(i_, w.size()) != w) return false;
        i_ += w.size();
        return true;
    }
    bool Digits() {
        const size_t start = i_;
        while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
        return i_ > start;
    }
    bool Number() {
        if (i_ < s_.size() && s_[i_] == '-') ++i_;
        if (i_ < s_.size() && s_[i_] == '0') {
            ++i_;
        } else if (!Digits()) {
            return false;
        }
        if (i_ < s_.size() && s_[i_] == '.') {
            ++i_;
            if (!Digits()) return false;
        }
        if (i_ < s_.size() && (s_[i_] == 'e' || s_[i_] == 'E')) {
            ++i_;
            if (i_ < s_.size() && (s_[i_] == '+' || s_[i_] == '-')) ++i_;
            if (!Digits()) return false;
        }
        return true;
    }
    void Space() {
        while (i_ < s_.size() &&
               (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r'))
            ++i_;
    }

    std::string_view s_;
    size_t i_ = 0;
};

}  // namespace

// ---------------------------------------------------------------------------

bool IsValidUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        size_t n;
        uint32_t cp, min;
        if (b < 0x80) {
            ++i;
            continue;
        } else if ((b & 0xE0) == 0xC0) {
            n = 2, cp = b & 0x1F, min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            n = 3, cp = b & 0x0F, min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            n = 4, cp = b & 0x07, min = 0x10000;
        } else {
            return false;
        }
        if (i + n > s.size()) return false;
        for (size_t k = 1; k < n; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n;
    }
    return true;
}

bool IsValidJson(std::string_view text) { return JsonChecker(text).Whole(); }

void FilterInput(const uint8_t* data, size_t size) {
    const std::string expression = AsText(data, size);
    static const TableRef table = FilterTable();
    RecordsetRef rs = Recordset::Open(table);
    rs->Filter("TaskId = 5");
    try {
        rs->Filter(expression);
    } catch (const RuntimeError& e) {
        if (e.Number() != err::kBadFilter && e.Number() != err::kFieldNotFound)
            Fail("a rejected filter raised " + std::to_string(e.Number()) + ", not 3001 or 3265");
        CheckMessage("Filter", e.Description());
        if (rs->Filter() != "TaskId = 5" || rs->Eof() || CurrentId(*rs) != 5 ||
            rs->RecordCount() != 1)
            Fail("a rejected filter changed the cursor's filter or position");
        return;
    }
    if (rs->Filter() != expression) Fail("Filter() does not give back the expression put");
    const int32_t count = rs->RecordCount();
    const std::vector<int32_t> rows = WalkIds(*rs);
    if (static_cast<int32_t>(rows.size()) != count)
        Fail("RecordCount " + std::to_string(count) + " but the cursor visited " +
             std::to_string(rows.size()) + " rows");

    // The same condition as an OR, which no index answers, selects the same
    // rows in the same order; filtering the clone leaves this cursor alone.
    RecordsetRef scan = rs->Clone();
    try {
        scan->Filter("(" + expression + ") OR TaskId = -987654");
    } catch (const RuntimeError&) {
        return;  // an empty expression, or one nested to the limit, cannot be wrapped
    }
    if (WalkIds(*scan) != rows) Fail("an indexed filter and a scan selected different rows");
    if (!rs->Eof() || rs->Filter() != expression) Fail("filtering a clone moved its original");
}

void SettingsFileInput(const uint8_t* data, size_t size) {
    const std::string input = AsText(data, size);
    // Input with three separators names its own section, key and value.
    std::vector<std::string> parts = Split(input, '\x01');
    std::string section = "Selected Task", key = "Group", value = "X42", text = input;
    if (parts.size() >= 4) {
        section = parts[0];
        key = parts[1];
        value = parts[2];
        text = input.substr(parts[0].size() + parts[1].size() + parts[2].size() + 3);
    }

    if (ini::DecodeValue(ini::EncodeValue(value)) != value)
        Fail("the value " + json::Quote(value) + " does not survive EncodeValue and DecodeValue");

    ini::IniDocument doc(text);
    if (doc.Text() != text) Fail("an untouched document does not give back its text");
    if (!ini::SectionNameProblem(section).empty() || !ini::KeyNameProblem(key).empty()) return;

    // Keys that other writers put in the file must read the same afterwards.
    const std::pair<std::string, std::string> others[] = {{"Selected Task", "ListItem"},
                                                          {"Selected Task", "Task"},
                                                          {section, "Other"},
                                                          {"Other", key}};
    std::vector<std::optional<std::string>> before;
    for (const auto& [s, k] : others) before.push_back(doc.Get(s, k));

    doc.Set(section, key, value);
    const std::string written = doc.Text();
    ini::IniDocument reread(written);
    if (doc.Get(section, key) != value || reread.Get(section, key) != value)
        Fail("a value set does not read back: " + json::Quote(value));
    if (reread.Text() != written) Fail("a rewritten document does not give back its text");
    for (size_t i = 0; i < std::size(others); ++i) {
        const auto& [s, k] = others[i];
        if (ini::NamesEqual(s, section) && ini::NamesEqual(k, key)) continue;
        if (reread.Get(s, k) != before[i])
            Fail("setting " + json::Quote(section) + "/" + json::Quote(key) + " changed " +
                 json::Quote(s) + "/" + json::Quote(k));
    }
}

void JsonCatalogueInput(const uint8_t* data, size_t size) {
    const std::string text = AsText(data, size);
    service::JsonCatalogue first;
    try {
        first = service::ParseJsonCatalogue(text, "fuzz.json", SmallLimits());
    } catch (const RuntimeError& e) {
        if (e.Number() != err::kBadCatalogue)
            Fail("a bad catalogue raised " + std::to_string(e.Number()) + ": " + e.Description());
        CheckMessage("ParseJsonCatalogue", e.Description());
        if (e.Description().find("\"fuzz.json\"") == std::string::npos)
            Fail("a catalogue error that does not name the file: " + e.Description());
        return;
    }
    RecordsetRef rs = Recordset::Open(first.rows);
    const auto rows = static_cast<size_t>(rs->RecordCount());
    if (first.grants.size() != rows || first.row_lines.size() != rows)
        Fail("grants or row lines do not match the rows");
    for (size_t i = 0; i < rows; ++i)
        if (first.row_lines[i] == 0 || (i > 0 && first.row_lines[i] < first.row_lines[i - 1]))
            Fail("row lines out of order");

    // Written back out, the six task fields of every row read back the same.
    std::vector<std::vector<Variant>> cells;
    std::string out = "[";
    for (; !rs->Eof(); rs->MoveNext()) {
        cells.emplace_back();
        out += cells.size() > 1 ? ",{" : "{";
        for (size_t f = 0; f < service::kTaskFieldCount; ++f) {
            cells.back().push_back(rs->Fields(service::kTaskFields[f]).Value());
            if (f > 0) out += ",";
            out += RawQuote(service::kTaskFields[f]) + ":" + JsonValue(cells.back().back());
        }
        out += "}";
    }
    out += "]";
    service::JsonLimits roomy = SmallLimits();
    roomy.max_file_bytes = roomy.max_total_text_bytes = 16 << 20;
    service::JsonCatalogue second;
    try {
        second = service::ParseJsonCatalogue(out, "again.json", roomy);
    } catch (const RuntimeError& e) {
        Fail("a catalogue written back out does not read: " + e.Description() + "\n" + out);
    }
    RecordsetRef again = Recordset::Open(second.rows);
    if (static_cast<size_t>(again->RecordCount()) != rows) Fail("the row count changed");
    for (size_t r = 0; r < rows; ++r, again->MoveNext()) {
        for (size_t f = 0; f < service::kTaskFieldCount; ++f) {
            const Variant value = again->Fields(service::kTaskFields[f]).Value();
            if (!SameCell(cells[r][f], value))
                Fail(std::string("row ") + std::to_string(r + 1) + ", " + service::kTaskFields[f] +
                     ": " + cells[r][f].Describe() + " read back as " + value.Describe());
        }
    }
}

void HostScriptInput(const uint8_t* data, size_t size) {
    static const bool registered = [] {
        ComponentRegistry::Instance().Register("KEVRA.clsKEVRA", [](const std::string& server) {
            return std::make_shared<FixedTaskService>(server);
        });
        return true;
    }();
    (void)registered;
    constexpr size_t kMaxCommands = 128;

    const std::string text = AsText(data, size);
    std::vector<host::Command> commands;
    host::ParseError error;
    if (!host::ParseScript(text, commands, error)) {
        if (error.line < 1 || error.message.empty())
            Fail("a script that does not parse, without line or reason");
        return;
    }
    if (commands.size() > kMaxCommands) commands.resize(kMaxCommands);

    faults::Reset();
    struct ResetFaults {
        ~ResetFaults() { faults::Reset(); }
    } reset_faults;
    MemorySettings settings;
    std::string failure;
    host::HeadlessHost host(
        [&](const std::string& line) {
            if (!failure.empty()) return;
            try {
                CheckLine(line);
            } catch (const Violation& v) {
                failure = v.what();
            }
        },
        settings);
    for (const host::Command& c : commands) {
        try {
            host.Run(c);
        } catch (const std::exception& e) {
            Fail("line " + std::to_string(c.line) + " (" + c.name +
                 "): an exception reached the host: " + e.what());
        }
        if (!failure.empty())
            Fail("line " + std::to_string(c.line) + " (" + c.name + "): " + failure);
        if (!host.Site().Enabled() || host.Site().MousePointer() != 0)
            Fail("line " + std::to_string(c.line) + " (" + c.name +
                 "): the control was left disabled or with the busy pointer");
    }
    host.Finish();
    if (!failure.empty()) Fail("at the end: " + failure);
}

const std::vector<Target>& Targets() {
    static const std::vector<Target> targets = {{"filter", FilterInput},
                                                {"settings", SettingsFileInput},
                                                {"json_catalogue", JsonCatalogueInput},
                                                {"host_script", HostScriptInput}};
    return targets;
}

}  // namespace kevra::fuzz
