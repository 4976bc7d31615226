// Keeps docs/errors.md honest: every error number the sources can raise has
// a row there, so that a user who meets a report can look its number up.
//
// The sources are read as text. The numbers come from two places: the
// constants of src/platform/error.h, and the first argument of every
// RuntimeError constructed under src/ and apps/ (a constant, a literal, or a
// value passed on from another error). A raise site whose number is none of
// these fails the test until it is looked at and listed below.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kSourceDir = KEVRA_SOURCE_DIR;

// First arguments that pass on a number decided elsewhere, with where it was
// decided. A new entry needs the same check: does every value it can carry
// have a row in docs/errors.md?
const std::set<std::string> kPassedOn = {
    "e.Number()",    // the same error, raised again with more context
    "fired.number",  // a fault a test or a kevra-host script armed
    "number",        // chosen among err:: constants just above the raise
};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool IsIdentifierChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

// Whether s[i] opens a string or character literal; a quote after a digit
// is a digit separator (1'000'000).
bool OpensLiteral(const std::string& s, size_t i) {
    if (s[i] == '"') return true;
    return s[i] == '\'' && (i == 0 || !std::isdigit(static_cast<unsigned char>(s[i - 1])));
}

// The text with comments replaced by blanks; string and character literals,
// raw ones included, are kept as they are so that a "//" inside a URL does
// not end the line early.
std::string WithoutComments(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        if (s.compare(i, 2, "//") == 0) {
            while (i < s.size() && s[i] != '\n') ++i;
        } else if (s.compare(i, 2, "/*") == 0) {
            const size_t end = s.find("*/", i + 2);
            i = end == std::string::npos ? s.size() : end + 2;
            out += ' ';
        } else if (s[i] == 'R' && i + 1 < s.size() && s[i + 1] == '"' &&
                   (i == 0 || !IsIdentifierChar(s[i - 1]))) {
            const size_t open = s.find('(', i + 2);
            if (open == std::string::npos) {
                out += s.substr(i);
                break;
            }
            const std::string close = ")" + s.substr(i + 2, open - i - 2) + "\"";
            const size_t end = s.find(close, open);
            const size_t stop = end == std::string::npos ? s.size() : end + close.size();
            out += s.substr(i, stop - i);
            i = stop;
        } else if (OpensLiteral(s, i)) {
            const char quote = s[i];
            out += s[i++];
            while (i < s.size() && s[i] != quote) {
                if (s[i] == '\\' && i + 1 < s.size()) out += s[i++];
                out += s[i++];
            }
            if (i < s.size()) out += s[i++];
        } else {
            out += s[i++];
        }
    }
    return out;
}

std::string Trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

// The err:: constants: name and number.
std::map<std::string, long long> ErrorConstants() {
    const std::string header = WithoutComments(ReadFile(kSourceDir / "src/platform/error.h"));
    const std::regex constant(R"(constexpr\s+int32_t\s+(k\w+)\s*=\s*(-?\d+)\s*;)");
    std::map<std::string, long long> out;
    for (std::sregex_iterator it(header.begin(), header.end(), constant), end; it != end; ++it)
        out[(*it)[1]] = std::stoll((*it)[2]);
    return out;
}

// The numbers in the first column of docs/errors.md's table.
std::set<long long> DocumentedNumbers() {
    std::istringstream doc(ReadFile(kSourceDir / "docs/errors.md"));
    const std::regex row(R"(^\|\s*(-?\d+)\s*\|)");
    std::set<long long> out;
    std::smatch m;
    for (std::string line; std::getline(doc, line);)
        if (std::regex_search(line, m, row)) out.insert(std::stoll(m[1]));
    return out;
}

struct RaiseSite {
    std::string where;   // file:line
    std::string number;  // the first argument as written
};

// Every `RuntimeError(` that constructs an error (not AsRuntimeError, not
// the constructor's own declaration) in the C++ sources below `dir`.
std::vector<RaiseSite> RaiseSites(const fs::path& dir) {
    std::vector<RaiseSite> out;
    const std::string name = "RuntimeError";
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        const std::string ext = entry.path().extension().string();
        if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
        const std::string text = WithoutComments(ReadFile(entry.path()));
        for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
            if (at > 0 && IsIdentifierChar(text[at - 1])) continue;
            size_t i = at + name.size();
            while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
            if (i >= text.size() || text[i] != '(') continue;
            // The first argument ends at the first comma or closing
            // parenthesis outside nested brackets and literals.
            int depth = 0;
            const size_t begin = ++i;
            for (; i < text.size(); ++i) {
                const char c = text[i];
                if (OpensLiteral(text, i)) {
                    for (++i; i < text.size() && text[i] != c; ++i)
                        if (text[i] == '\\') ++i;
                } else if (c == '(' || c == '[' || c == '{') {
                    ++depth;
                } else if (c == ')' || c == ']' || c == '}') {
                    if (depth-- == 0) break;
                } else if (c == ',' && depth == 0) {
                    break;
                }
            }
            const std::string first = Trimmed(text.substr(begin, i - begin));
            if (first.rfind("int32_t ", 0) == 0) continue;  // the constructor itself
            const auto line = 1 + std::count(text.begin(), text.begin() + at, '\n');
            out.push_back(
                {fs::relative(entry.path(), kSourceDir).string() + ":" + std::to_string(line),
                 first});
        }
    }
    return out;
}

TEST(ErrorTable, EveryConstantOfTheErrorHeaderHasARow) {
    const auto constants = ErrorConstants();
    const auto documented = DocumentedNumbers();
    ASSERT_GE(constants.size(), 20u) << "src/platform/error.h no longer reads as expected";
    ASSERT_GE(documented.size(), 20u) << "docs/errors.md no longer reads as expected";
    for (const auto& [name, number] : constants)
        EXPECT_TRUE(documented.count(number))
            << "err::" << name << " = " << number << " has no row in docs/errors.md";
    // Both directions: a row for a number nothing raises sends the user
    // looking for a cause that cannot occur.
    std::set<long long> raisable;
    for (const auto& [name, number] : constants) raisable.insert(number);
    for (long long number : documented)
        EXPECT_TRUE(raisable.count(number))
            << number << " has a row in docs/errors.md but no constant in src/platform/error.h";
}

TEST(ErrorTable, EveryRaiseSiteRaisesADocumentedNumber) {
    const auto constants = ErrorConstants();
    const auto documented = DocumentedNumbers();
    std::vector<RaiseSite> sites = RaiseSites(kSourceDir / "src");
    for (auto& site : RaiseSites(kSourceDir / "apps")) sites.push_back(std::move(site));
    ASSERT_GE(sites.size(), 50u) << "the raise sites are no longer found";

    const std::regex constant(R"(err::(\w+))");
    const std::regex literal(R"((^|[^\w.])(-?\d+)\b)");
    for (const auto& site : sites) {
        SCOPED_TRACE(site.where + ": RuntimeError(" + site.number + ", ...)");
        bool named = false;
        for (std::sregex_iterator it(site.number.begin(), site.number.end(), constant), end;
             it != end; ++it) {
            named = true;
            EXPECT_TRUE(constants.count((*it)[1]))
                << "err::" << (*it)[1] << " is not a constant of src/platform/error.h";
        }
        for (std::sregex_iterator it(site.number.begin(), site.number.end(), literal), end;
             it != end; ++it) {
            named = true;
            EXPECT_TRUE(documented.count(std::stoll((*it)[2])))
                << "the number " << (*it)[2] << " has no row in docs/errors.md";
        }
        if (!named) {
            EXPECT_TRUE(kPassedOn.count(site.number))
                << "a number neither a constant nor a literal: check that every value it can "
                   "carry is in docs/errors.md, then add it to kPassedOn";
        }
    }
}

}  // namespace
