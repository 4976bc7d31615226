// Parsing, editing and writing back the text of a settings file.
//
// The parser never fails: a line it does not understand is kept as text and
// otherwise ignored. That is what lets the store rewrite a file that a person
// or another program has edited without losing anything of theirs.
#include "settings/ini_document.h"

#include <algorithm>

#include "platform/ascii.h"

namespace kevra::ini {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsControl(char c) {
    auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7f;
}

std::string_view TrimBlanks(std::string_view text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

// What section and key names have in common: they are read back with the
// blanks around them removed and must stay on one line.
std::string CommonNameProblem(std::string_view name) {
    if (name.empty()) return "it is empty";
    if (IsBlank(name.front()) || IsBlank(name.back())) return "it begins or ends with a blank";
    for (char c : name) {
        if (c == ']') return "it contains ']'";
        if (c == '=') return "it contains '='";
        if (c == '\n' || c == '\r') return "it contains a line break";
        if (IsControl(c)) return "it contains a control character";
    }
    return {};
}

}  // namespace

std::string SectionNameProblem(std::string_view name) { return CommonNameProblem(name); }

std::string KeyNameProblem(std::string_view name) {
    std::string problem = CommonNameProblem(name);
    if (!problem.empty()) return problem;
    // A key line starting with these would read back as a header or a comment.
    if (name.front() == '[' || name.front() == ';' || name.front() == '#') {
        return std::string("it begins with '") + name.front() + "'";
    }
    return {};
}

bool NamesEqual(std::string_view a, std::string_view b) { return SameIgnoringAsciiCase(a, b); }

std::string EncodeValue(std::string_view value) {
    bool quote = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()));
    for (char c : value) {
        if (c == '"' || c == '\\' || c == ';' || c == '#' || IsControl(c)) quote = true;
    }
    if (!quote) return std::string(value);

    std::string out;
    out.reserve(value.size() + 8);
    out += '"';
    for (char c : value) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            // Other control characters have no escape that every reader of
            // this format knows; inside the quotes they are harmless as they
            // are, since only a line feed ends a line.
            default:
                out += c;
                break;
        }
    }
    out += '"';
    return out;
}

std::string DecodeValue(std::string_view text) {
    std::string_view t = TrimBlanks(text);
    if (t.empty() || t.front() != '"') return std::string(t);

    std::string out;
    for (size_t i = 1; i < t.size(); ++i) {
        char c = t[i];
        if (c == '"') {
            std::string_view rest = TrimBlanks(t.substr(i + 1));
            if (rest.empty() || rest.front() == ';' || rest.front() == '#') return out;
            break;  // something after the closing quote: not our form
        }
        if (c == '\\' && i + 1 < t.size()) {
            char next = t[++i];
            switch (next) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                // Hand-edited paths like "C:\Temp" read as they look.
                default:
                    out += '\\';
                    out += next;
                    break;
            }
            continue;
        }
        out += c;
    }
    // Not closed, or followed by other text: the whole value as it stands.
    return std::string(t);
}

IniDocument::IniDocument(std::string_view text) {
    if (text.substr(0, kBom.size()) == kBom) {
        bom_ = std::string(kBom);
        text.remove_prefix(kBom.size());
    }
    bool newline_known = false;
    while (!text.empty()) {
        size_t lf = text.find('\n');
        std::string_view piece = text.substr(0, lf);
        std::string_view eol;
        if (lf == std::string_view::npos) {
            text = {};
        } else {
            text.remove_prefix(lf + 1);
            eol = "\n";
            if (!piece.empty() && piece.back() == '\r') {
                piece.remove_suffix(1);
                eol = "\r\n";
            }
            // New lines follow the convention the file already uses.
            if (!newline_known) newline_ = std::string(eol);
            newline_known = true;
        }
        lines_.push_back(ParseLine(std::string(piece), std::string(eol)));
    }
}

IniDocument::Line IniDocument::ParseLine(std::string body, std::string eol) {
    Line line;
    line.body = std::move(body);
    line.eol = std::move(eol);
    const std::string& b = line.body;

    size_t first = 0;
    while (first < b.size() && IsBlank(b[first])) ++first;
    if (first == b.size() || b[first] == ';' || b[first] == '#') return line;

    if (b[first] == '[') {
        // A line that looks like a header but is not a good one still ends
        // the previous section: its keys must not be read as belonging there.
        line.kind = Kind::kBrokenSection;
        size_t close = b.find(']', first + 1);
        if (close == std::string::npos) return line;
        std::string_view after = TrimBlanks(std::string_view(b).substr(close + 1));
        if (!after.empty() && after.front() != ';' && after.front() != '#') return line;
        std::string_view name =
            TrimBlanks(std::string_view(b).substr(first + 1, close - first - 1));
        if (name.empty()) return line;
        line.kind = Kind::kSection;
        line.name = std::string(name);
        return line;
    }

    size_t eq = b.find('=', first);
    if (eq == std::string::npos) return line;
    std::string_view key = TrimBlanks(std::string_view(b).substr(first, eq - first));
    if (key.empty()) return line;
    line.kind = Kind::kKey;
    line.name = std::string(key);
    line.value_start = eq + 1;
    while (line.value_start < b.size() && IsBlank(b[line.value_start])) ++line.value_start;
    return line;
}

std::optional<size_t> IniDocument::FindKey(std::string_view section, std::string_view key) const {
    bool in_section = false;
    for (size_t i = 0; i < lines_.size(); ++i) {
        const Line& line = lines_[i];
        switch (line.kind) {
            case Kind::kSection:
                in_section = NamesEqual(line.name, section);
                break;
            case Kind::kBrokenSection:
                in_section = false;
                break;
            case Kind::kKey:
                if (in_section && NamesEqual(line.name, key)) return i;
                break;
            case Kind::kOther:
                break;
        }
    }
    return std::nullopt;
}

std::optional<std::string> IniDocument::Get(std::string_view section, std::string_view key) const {
    std::optional<size_t> index = FindKey(section, key);
    if (!index) return std::nullopt;
    const Line& line = lines_[*index];
    return DecodeValue(std::string_view(line.body).substr(line.value_start));
}

void IniDocument::EnsureTerminated(size_t index) {
    Line& line = lines_[index];
    if (!line.eol.empty()) return;
    // A last line that ends in a lone CR (part of someone's value) followed
    // by "\n" would read back as a CRLF break and lose that CR; "\r\n"
    // keeps it.
    line.eol = !line.body.empty() && line.body.back() == '\r' ? "\r\n" : newline_;
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    std::string encoded = EncodeValue(value);

    if (std::optional<size_t> index = FindKey(section, key)) {
        Line& line = lines_[*index];
        line.body.resize(line.value_start);
        line.body += encoded;
        return;
    }

    std::string key_line = std::string(key) + "=" + encoded;
    for (size_t h = 0; h < lines_.size(); ++h) {
        if (lines_[h].kind != Kind::kSection || !NamesEqual(lines_[h].name, section)) continue;
        // After the block's last key, so that blank lines and comments that
        // lead into the next section stay where they are.
        size_t last = h;
        for (size_t j = h + 1; j < lines_.size(); ++j) {
            if (lines_[j].kind == Kind::kSection || lines_[j].kind == Kind::kBrokenSection) break;
            if (lines_[j].kind == Kind::kKey) last = j;
        }
        EnsureTerminated(last);
        lines_.insert(lines_.begin() + static_cast<ptrdiff_t>(last) + 1,
                      ParseLine(std::move(key_line), newline_));
        return;
    }

    if (!lines_.empty()) {
        EnsureTerminated(lines_.size() - 1);
        if (!TrimBlanks(lines_.back().body).empty()) lines_.push_back(ParseLine("", newline_));
    }
    lines_.push_back(ParseLine("[" + std::string(section) + "]", newline_));
    lines_.push_back(ParseLine(std::move(key_line), newline_));
}

std::string IniDocument::Text() const {
    std::string out = bom_;
    for (const Line& line : lines_) {
        out += line.body;
        out += line.eol;
    }
    return out;
}

}  // namespace kevra::ini
