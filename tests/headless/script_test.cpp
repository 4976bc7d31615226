// The script reader that kevra-host uses on files and standard input, held
// to the in-memory parser, its line bound and its read errors; and the echo
// command's promise that a script's words cannot break the one-effect-per-
// line output.
#include "headless/script.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "headless/host.h"
#include "platform/settings_store.h"

namespace kevra::host {
namespace {

// A temporary file holding `text`, rewound for reading.
struct ScriptFile {
    explicit ScriptFile(const std::string& text) : file(std::tmpfile()) {
        if (file) {
            std::fwrite(text.data(), 1, text.size(), file);
            std::rewind(file);
        }
    }
    ~ScriptFile() {
        if (file) std::fclose(file);
    }
    std::FILE* file;
};

std::string Describe(const std::vector<Command>& commands) {
    std::string out;
    for (const Command& c : commands) {
        out += std::to_string(c.line) + ":" + c.name;
        for (const Word& w : c.args)
            out += (w.literal ? " L" : " B") + std::to_string(w.text.size());
        out += "\n";
    }
    return out;
}

TEST(ScriptReader, ReadsWhatTheParserParsesAcrossBufferEdges) {
    // Lines of many lengths, so that line breaks fall on and around the
    // reader's buffer edges, with blank and comment lines, CRLF endings,
    // string literals, and a last line without a line break.
    std::string text;
    for (int i = 0; i < 400; ++i) {
        switch (i % 5) {
            case 0:
                text += "echo " + std::string(static_cast<size_t>(i) * 331 % 9001, 'x') + "\n";
                break;
            case 1:
                text += "\n";
                break;
            case 2:
                text += "# " + std::string(static_cast<size_t>(i) * 97 % 5003, '#') + "\r\n";
                break;
            case 3:
                text += "echo \"a b\" \"\" c\r\n";
                break;
            case 4:
                text += "resize 100 " + std::to_string(i) + "\n";
                break;
        }
    }
    text += "dump";
    ASSERT_GT(text.size(), 3u * 64 * 1024);

    std::vector<Command> parsed;
    ParseError parse_error;
    ASSERT_TRUE(ParseScript(text, parsed, parse_error)) << parse_error.message;
    ScriptFile script(text);
    ASSERT_NE(script.file, nullptr);
    std::vector<Command> read;
    ParseError read_error;
    ASSERT_EQ(ReadScript(script.file, read, read_error), ReadResult::ok) << read_error.message;
    EXPECT_EQ(Describe(read), Describe(parsed));
    EXPECT_EQ(read.back().line, 401);
}

TEST(ScriptReader, RefusesALineLongerThanTheBound) {
    const std::string longest = "echo " + std::string(kMaxLineBytes - 5, 'x');
    const std::string too_long = longest + "x";
    struct Case {
        const char* what;
        std::string text;
        int bad_line;  // 0: the script is read
    } cases[] = {
        {"a line as long as the bound", "echo first\n" + longest + "\n", 0},
        {"the last line, without a line break", "echo first\n" + longest, 0},
        {"one byte over", "echo first\n" + too_long + "\necho after\n", 2},
        {"one byte over on the last line", "\n\n" + too_long, 3},
        {"a bad line after it is not reached", too_long + "\nfrobnicate\n", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptFile script(c.text);
        ASSERT_NE(script.file, nullptr);
        std::vector<Command> commands;
        ParseError error;
        const ReadResult result = ReadScript(script.file, commands, error);
        std::vector<Command> parsed;
        ParseError parse_error;
        const bool parses = ParseScript(c.text, parsed, parse_error);
        if (c.bad_line == 0) {
            EXPECT_EQ(result, ReadResult::ok) << error.message;
            ASSERT_EQ(commands.size(), 2u);
            EXPECT_EQ(commands[1].args[0].text.size(), kMaxLineBytes - 5);
            EXPECT_TRUE(parses) << parse_error.message;
        } else {
            EXPECT_EQ(result, ReadResult::parse_error);
            EXPECT_EQ(error.line, c.bad_line);
            EXPECT_EQ(error.message,
                      "the line is longer than 1048576 bytes, the longest a script line may be");
            EXPECT_FALSE(parses);
            EXPECT_EQ(parse_error.line, c.bad_line);
            EXPECT_EQ(parse_error.message, error.message);
        }
    }
}

TEST(ScriptReader, StopsAtTheBoundOnAStreamWithoutLineBreaks) {
    std::FILE* zero = std::fopen("/dev/zero", "rb");
    if (!zero) GTEST_SKIP() << "no /dev/zero here";
    std::vector<Command> commands;
    ParseError error;
    EXPECT_EQ(ReadScript(zero, commands, error), ReadResult::parse_error);
    EXPECT_EQ(error.line, 1);
    EXPECT_LE(std::ftell(zero), static_cast<long>(kMaxLineBytes + 64 * 1024));
    std::fclose(zero);
}

TEST(ScriptReader, ReportsAStreamThatCannotBeRead) {
    // A directory opens for reading, and every read of it fails.
    std::FILE* directory = std::fopen(".", "rb");
    if (!directory) GTEST_SKIP() << "a directory does not open as a stream here";
    std::vector<Command> commands;
    ParseError error;
    EXPECT_EQ(ReadScript(directory, commands, error), ReadResult::read_error);
    EXPECT_EQ(error.line, 0);
    EXPECT_EQ(error.message, "Is a directory");
    std::fclose(directory);
}

class MemorySettings : public SettingsStore {
  public:
    std::string GetSetting(const std::string&, const std::string&, const std::string& key,
                           const std::string& default_value) override {
        auto it = values_.find(key);
        return it == values_.end() ? default_value : it->second;
    }
    void SaveSetting(const std::string&, const std::string&, const std::string& key,
                     const std::string& value) override {
        values_[key] = value;
    }

  private:
    std::map<std::string, std::string> values_;
};

// The lines a script's echo commands print.
std::vector<std::string> Echo(const std::string& script) {
    std::vector<Command> commands;
    ParseError error;
    EXPECT_TRUE(ParseScript(script, commands, error)) << error.message;
    MemorySettings settings;
    std::vector<std::string> lines;
    HeadlessHost host([&lines](const std::string& line) { lines.push_back(line); }, settings);
    host.RunAll(commands);
    return lines;
}

// Numbers in a script: decimal within 32 bits, or 0x and up to eight hex
// digits of either case, which may set the sign bit as dispatch ids do.
TEST(ScriptNumbers, DecimalAndHexWithinThirtyTwoBits) {
    const std::pair<const char*, int32_t> accepted[] = {
        {"0", 0},
        {"-7", -7},
        {"+7", 7},
        {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"0x1F", 31},
        {"0XaB", 171},
        {"0x60030028", 0x60030028},
        {"0xFFFFFFFF", -1},
        {"0x80000000", INT32_MIN},
    };
    for (const auto& [text, expected] : accepted) {
        int32_t value = 12345;
        EXPECT_TRUE(ParseInt32Word(text, value)) << text;
        EXPECT_EQ(value, expected) << text;
    }
    for (const char* refused : {"", "-", "0x", "0x1G", "0x123456789", "0x-1", "2147483648",
                                "-2147483649", "1.5", "12a", " 1", "0x 1", "x1"}) {
        int32_t value = 12345;
        EXPECT_FALSE(ParseInt32Word(refused, value)) << refused;
    }
}

TEST(Echo, EscapesWhatWouldBreakTheLine) {
    using namespace std::string_literals;
    const auto lines = Echo(
        "echo \"a\\nmsgbox critical ok \\\"t\\\" \\\"p\\\"\"\n"
        "echo \"cr\\rlf\\r\\n\" \"\\u0000\"\n"
        "echo bare\0nul\n"s
        "echo \xff \"lit\xc3\" over\xc0\xaf surrogate\xed\xa0\x80 \"\\ud800\" cut\xe2\x9c\n"
        "echo \"\xc3\\n\"\n");
    const std::vector<std::string> expected = {
        "echo a\\nmsgbox critical ok \"t\" \"p\"",
        "echo cr\\rlf\\r\\n \\u0000",
        "echo bare\\u0000nul",
        "echo \xEF\xBF\xBD lit\xEF\xBF\xBD over\xEF\xBF\xBD\xEF\xBF\xBD "
        "surrogate\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD \xEF\xBF\xBD cut\xEF\xBF\xBD\xEF\xBF\xBD",
        "echo \xEF\xBF\xBD\\n",
    };
    EXPECT_EQ(lines, expected);
}

TEST(Echo, PrintsEveryOtherWordAsGiven) {
    const auto lines = Echo(
        "echo \"Rooms & Rates\" \"\" \"tab\\there\" back\\slash \"\\\\n\" \"\\u00fcber \\u2713\" "
        "\xf0\x9f\x8f\xa8 \"\\ud83c\\udfe8\"\n"
        "echo\n");
    const std::vector<std::string> expected = {
        "echo Rooms & Rates  tab\there back\\slash \\n \xc3\xbc"
        "ber \xe2\x9c\x93 \xf0\x9f\x8f\xa8 \xf0\x9f\x8f\xa8",
        "echo",
    };
    EXPECT_EQ(lines, expected);
}

}  // namespace
}  // namespace kevra::host
