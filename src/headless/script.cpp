// The kevra-host script parser.
#include "headless/script.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <set>

#include "platform/ascii.h"
#include "platform/faults.h"
#include "platform/json.h"
#include "platform/number_text.h"

namespace kevra::host {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

bool ParseDecimal(std::string_view text, double& value) {
    if (text.empty()) return false;
    std::string s(text);
    size_t i = 0;
    if (s[i] == '-' || s[i] == '+') ++i;
    bool digits = false, dot = false;
    for (; i < s.size(); ++i) {
        if (s[i] >= '0' && s[i] <= '9')
            digits = true;
        else if (s[i] == '.' && !dot)
            dot = true;
        else
            return false;
    }
    if (!digits) return false;
    return number_text::ParseDouble(text, value) != number_text::ParseResult::NotANumber &&
           std::isfinite(value);
}

const std::set<std::string, std::less<>> kProperties = {"MachineName", "UserNumber", "Brand",
                                                        "FacilityId", "AppId"};

}  // namespace

bool ParseInt32Word(std::string_view text, int32_t& value) {
    if (text.empty()) return false;
    std::string s(text);
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        if (s.size() > 10) return false;
        uint32_t v = 0;
        for (size_t i = 2; i < s.size(); ++i) {
            const int d = HexDigitValue(s[i]);
            if (d < 0) return false;
            v = v * 16 + static_cast<uint32_t>(d);
        }
        value = static_cast<int32_t>(v);
        return true;
    }
    size_t i = (s[0] == '-' || s[0] == '+') ? 1 : 0;
    if (i == s.size()) return false;
    for (size_t k = i; k < s.size(); ++k)
        if (s[k] < '0' || s[k] > '9') return false;
    int64_t v = 0;
    if (number_text::ParseInteger(s, v) != number_text::ParseResult::Ok || v < INT32_MIN ||
        v > INT32_MAX)
        return false;
    value = static_cast<int32_t>(v);
    return true;
}

bool SplitWords(std::string_view line, std::vector<Word>& words, std::string& error) {
    words.clear();
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsBlank(line[i])) ++i;
        if (i >= line.size()) break;
        if (line[i] == '"') {
            size_t j = i + 1;
            while (j < line.size() && line[j] != '"') j += (line[j] == '\\') ? 2 : 1;
            if (j >= line.size()) {
                error = "unterminated string literal";
                return false;
            }
            Word w;
            w.literal = true;
            std::string why;
            if (!json::Unquote(line.substr(i, j + 1 - i), w.text, why)) {
                error = "bad string literal: " + why;
                return false;
            }
            if (j + 1 < line.size() && !IsBlank(line[j + 1])) {
                error = "a string literal must be followed by a blank";
                return false;
            }
            words.push_back(std::move(w));
            i = j + 1;
        } else {
            size_t j = i;
            while (j < line.size() && !IsBlank(line[j])) ++j;
            words.push_back(Word{std::string(line.substr(i, j - i)), false});
            i = j;
        }
    }
    return true;
}

namespace {

// A whole number in decimal (an optional minus, digits), as task ids and
// limits are written.
bool ParseDecimalWord(const Word& w, int64_t& value) {
    const std::string& t = w.text;
    if (w.literal || t.empty()) return false;
    const size_t digits = t[0] == '-' ? 1 : 0;
    if (digits == t.size()) return false;
    for (size_t i = digits; i < t.size(); ++i)
        if (t[i] < '0' || t[i] > '9') return false;
    return number_text::ParseInteger(t, value) == number_text::ParseResult::Ok;
}

bool CheckLimit(Command& c, size_t at, std::string& message) {
    if (c.args.size() <= at) return true;
    if (!ParseDecimalWord(c.args[at], c.limit) || c.limit < 0 || c.limit > INT32_MAX) {
        message =
            "the limit must be a whole number from 0 to 2147483647, not '" + c.args[at].text + "'";
        return false;
    }
    return true;
}

// True when `c` has exactly `count` arguments; otherwise `message` gives the
// command's `usage`.
bool NeedArgs(const Command& c, size_t count, const char* usage, std::string& message) {
    if (c.args.size() == count) return true;
    message = std::string("'") + c.name + "' takes " + usage;
    return false;
}

bool CheckTaskId(Command& c, std::string& message) {
    if (!NeedArgs(c, 1, "one task ID", message)) return false;
    if (!ParseDecimalWord(c.args[0], c.task_id)) {
        message = "a task id is a whole number in decimal, not '" + c.args[0].text + "'";
        return false;
    }
    return true;
}

bool CheckSet(const Command& c, std::string& message) {
    if (!NeedArgs(c, 2, "NAME VALUE", message)) return false;
    if (!kProperties.count(c.args[0].text)) {
        message = "unknown property '" + c.args[0].text +
                  "' (use MachineName, UserNumber, Brand, FacilityId or AppId)";
        return false;
    }
    bool numeric = c.args[0].text == "UserNumber" || c.args[0].text == "AppId";
    int32_t v;
    if (numeric && !c.args[1].literal && !ParseInt32Word(c.args[1].text, v)) {
        message = c.args[0].text + " takes a decimal 32-bit integer, not '" + c.args[1].text + "'";
        return false;
    }
    return true;
}

bool CheckInvoke(Command& c, std::string& message) {
    if (c.args.empty() || c.args.size() > 2) {
        message = "'invoke' takes DISPID [VALUE]";
        return false;
    }
    int32_t id;
    if (c.args[0].literal || !ParseInt32Word(c.args[0].text, id)) {
        message = "dispatch id '" + c.args[0].text + "' is not a decimal or 0x... number";
        return false;
    }
    c.numbers.push_back(id);
    if (c.args.size() == 2 && !c.args[1].literal) {
        double d;
        std::string_view t = c.args[1].text;
        bool number = ParseDecimal(t, d) && t.find('.') == std::string_view::npos;
        if (!number) {
            message = "invoke VALUE '" + c.args[1].text +
                      "' must be a decimal integer or a JSON string literal";
            return false;
        }
    }
    return true;
}

// "resize" and "border": two numbers of twips.
bool CheckTwips(Command& c, std::string& message) {
    const bool resize = c.name == "resize";
    if (!NeedArgs(c, 2, resize ? "WIDTH HEIGHT" : "HORIZONTAL VERTICAL", message)) return false;
    for (auto& w : c.args) {
        double d;
        if (w.literal || !ParseDecimal(w.text, d)) {
            message = "'" + w.text + "' is not a number of twips";
            return false;
        }
        c.numbers.push_back(d);
    }
    if (resize && (c.numbers[0] < 0 || c.numbers[1] < 0)) {
        message = "a size cannot be negative";
        return false;
    }
    return true;
}

bool CheckFault(Command& c, std::string& message) {
    if (!NeedArgs(c, 4, "OPERATION N NUMBER DESCRIPTION", message)) return false;
    if (!faults::IsKnownOperation(c.args[0].text)) {
        message = "unknown fault operation '" + c.args[0].text + "'";
        return false;
    }
    int32_t count;
    if (c.args[1].literal || !ParseInt32Word(c.args[1].text, count) || count < 1) {
        message = "the call to fail must be a whole number from 1 up, not '" + c.args[1].text + "'";
        return false;
    }
    c.count = count;
    int32_t number;
    if (c.args[2].literal || !ParseInt32Word(c.args[2].text, number)) {
        message = "error number '" + c.args[2].text + "' is not a 32-bit integer";
        return false;
    }
    c.numbers.push_back(number);
    return true;
}

bool CheckCommand(Command& c, std::string& message) {
    const std::string& n = c.name;
    if (n == "load" || n == "select" || n == "paint" || n == "dblclick" || n == "terminate" ||
        n == "dump" || n == "favourites")
        return NeedArgs(c, 0, "no arguments", message);
    if (n == "echo") return true;
    if (n == "open-group" || n == "click-item" || n == "select-node")
        return NeedArgs(c, 1, "one KEY", message);
    if (n == "find") {
        if (c.args.empty() || c.args.size() > 2) {
            message = "'find' takes TEXT [LIMIT]";
            return false;
        }
        return CheckLimit(c, 1, message);
    }
    if (n == "recent") {
        if (c.args.size() > 1) {
            message = "'recent' takes [LIMIT]";
            return false;
        }
        return CheckLimit(c, 0, message);
    }
    if (n == "show-task" || n == "pin" || n == "unpin") return CheckTaskId(c, message);
    if (n == "set") return CheckSet(c, message);
    if (n == "invoke") return CheckInvoke(c, message);
    if (n == "resize" || n == "border") return CheckTwips(c, message);
    if (n == "fault") return CheckFault(c, message);
    message = "unknown command '" + n + "'";
    return false;
}

}  // namespace

namespace {

std::string TooLong() {
    return "the line is longer than " + std::to_string(kMaxLineBytes) +
           " bytes, the longest a script line may be";
}

// Line numbers are ints in every message and command; a script of blank
// lines could otherwise count past the largest one.
bool NextLine(int& line_no, ParseError& error) {
    if (line_no == std::numeric_limits<int>::max()) {
        error = ParseError{line_no, "the script has more lines than a line number can count"};
        return false;
    }
    ++line_no;
    return true;
}

// Parses one line (its line break removed) and appends its command, if it
// has one.
bool ParseLine(int line_no, std::string_view line, std::vector<Command>& commands,
               ParseError& error) {
    if (line.size() > kMaxLineBytes) {
        error = ParseError{line_no, TooLong()};
        return false;
    }
    size_t first = 0;
    while (first < line.size() && IsBlank(line[first])) ++first;
    if (first == line.size() || line[first] == '#') return true;
    std::vector<Word> words;
    std::string why;
    if (!SplitWords(line, words, why)) {
        error = ParseError{line_no, why};
        return false;
    }
    Command c;
    c.line = line_no;
    if (words[0].literal) {
        error = ParseError{line_no, "a command name cannot be a string literal"};
        return false;
    }
    c.name = words[0].text;
    c.args.assign(words.begin() + 1, words.end());
    if (!CheckCommand(c, why)) {
        error = ParseError{line_no, why};
        return false;
    }
    commands.push_back(std::move(c));
    return true;
}

}  // namespace

bool ParseScript(std::string_view text, std::vector<Command>& commands, ParseError& error) {
    commands.clear();
    int line_no = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        if (!NextLine(line_no, error) ||
            !ParseLine(line_no, text.substr(pos, end - pos), commands, error))
            return false;
        pos = end + 1;
    }
    return true;
}

ReadResult ReadScript(std::FILE* in, std::vector<Command>& commands, ParseError& error) {
    commands.clear();
    int line_no = 0;
    std::string line;
    char buffer[64 * 1024];
    for (;;) {
        const size_t got = std::fread(buffer, 1, sizeof buffer, in);
        for (size_t i = 0; i < got;) {
            const char* start = buffer + i;
            const auto* newline = static_cast<const char*>(std::memchr(start, '\n', got - i));
            const size_t take = newline ? static_cast<size_t>(newline - start) : got - i;
            if (line.size() + take > kMaxLineBytes) {
                if (NextLine(line_no, error)) error = ParseError{line_no, TooLong()};
                return ReadResult::parse_error;
            }
            line.append(start, take);
            i += take;
            if (!newline) break;
            ++i;
            if (!NextLine(line_no, error) || !ParseLine(line_no, line, commands, error))
                return ReadResult::parse_error;
            line.clear();
        }
        if (got < sizeof buffer) break;
    }
    if (std::ferror(in)) {
        error = ParseError{0, std::strerror(errno)};
        return ReadResult::read_error;
    }
    if (!line.empty() && (!NextLine(line_no, error) || !ParseLine(line_no, line, commands, error)))
        return ReadResult::parse_error;
    return ReadResult::ok;
}

}  // namespace kevra::host
