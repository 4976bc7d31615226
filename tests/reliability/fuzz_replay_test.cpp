// Replays the fuzz corpora through the fuzz entries with the ordinary
// compiler: every seed in fuzz/corpus/<target>/ and every input that once
// broke a target, kept in fuzz/regressions/<target>/. Under the sanitizer
// build this is the regression test for each crash the fuzzers found.
//
// Also checks the two validators the entries judge output with, since a
// validator that accepts everything would make every fuzz run pass.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_entries.h"
#include "platform/error.h"
#include "platform/recordset.h"
#include "settings/ini_document.h"

namespace kevra::fuzz {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> InputsOf(const fs::path& dir) {
    std::vector<fs::path> files;
    if (!fs::is_directory(dir)) return files;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

class Replay : public ::testing::TestWithParam<Target> {};

}  // namespace

// Names a target in test listings instead of dumping its bytes.
void PrintTo(const Target& target, std::ostream* os) { *os << target.name; }

namespace {

TEST_P(Replay, SeedsAndSavedFailuresKeepEveryPromise) {
    const Target& target = GetParam();
    const fs::path fuzz_dir = KEVRA_REPO_DIR "/fuzz";
    const auto seeds = InputsOf(fuzz_dir / "corpus" / target.name);
    EXPECT_GE(seeds.size(), 5u) << "the seed corpus of " << target.name << " is missing";
    std::vector<fs::path> inputs = seeds;
    for (const auto& f : InputsOf(fuzz_dir / "regressions" / target.name)) inputs.push_back(f);
    for (const auto& file : inputs) {
        std::ifstream in(file, std::ios::binary);
        std::stringstream buffer;
        buffer << in.rdbuf();
        const std::string data = buffer.str();
        try {
            target.entry(reinterpret_cast<const uint8_t*>(data.data()), data.size());
        } catch (const std::exception& e) {
            ADD_FAILURE() << fs::relative(file, fuzz_dir).string() << ": " << e.what();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Fuzz, Replay, ::testing::ValuesIn(Targets()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Validators, Utf8) {
    EXPECT_TRUE(IsValidUtf8("plain \xc3\xa9 \xe2\x9c\x93 \xf0\x9f\x98\x80"));
    EXPECT_FALSE(IsValidUtf8("\xff"));
    EXPECT_FALSE(IsValidUtf8("\xc0\xaf"));          // overlong '/'
    EXPECT_FALSE(IsValidUtf8("\xed\xa0\x80"));      // a surrogate
    EXPECT_FALSE(IsValidUtf8("\xf4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(IsValidUtf8("\xe2\x9c"));          // cut short
}

TEST(Validators, Json) {
    EXPECT_TRUE(IsValidJson(R"( {"a": [1, -2.5e3, true, null, "x\"\u00e9"], "b": {}} )"));
    EXPECT_FALSE(IsValidJson("{\"a\": inf}"));
    EXPECT_FALSE(IsValidJson("{\"a\": 1,}"));
    EXPECT_FALSE(IsValidJson("[01]"));
    EXPECT_FALSE(IsValidJson("\"tab\tinside\""));
    EXPECT_FALSE(IsValidJson("[1] [2]"));
    EXPECT_FALSE(IsValidJson(std::string(300, '[') + std::string(300, ']')));
}

// Crashes the fuzzers found, beyond the replay of the saved inputs above.

TEST(FuzzCrashes, FilterNestingIsLimitedInsteadOfOverflowingTheStack) {
    // fuzz/regressions/filter/deep-parentheses: 2279 '(' overflowed the
    // stack of the recursive parser under AddressSanitizer.
    TableBuilder b({"TaskId"});
    b.AddRow({Variant(1)});
    RecordsetRef rs = Recordset::Open(b.Build());
    const std::string deep = std::string(100000, '(') + "TaskId=1" + std::string(100000, ')');
    try {
        rs->Filter(deep);
        ADD_FAILURE() << "a filter nested 100000 deep was accepted";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), err::kBadFilter);
        EXPECT_NE(e.Description().find("nested more than 100 deep"), std::string::npos)
            << e.Description().substr(e.Description().size() - 200);
    }
    rs->Filter(std::string(100, '(') + "TaskId=1" + std::string(100, ')'));
    EXPECT_EQ(rs->RecordCount(), 1);
}

// Findings of the fuzzers, each pinned where it was found.

// A filter's error named the character after a number by its first byte,
// half a character beyond ASCII, and echoed bytes that are not UTF-8.
TEST(FuzzFindings, FilterMessagesAreValidUtf8) {
    TableBuilder b({"TaskId"});
    b.AddRow({Variant(1)});
    RecordsetRef rs = Recordset::Open(b.Build());
    try {
        rs->Filter("TaskId = 2147483648\xc2\x9cn'");  // fuzz/regressions/filter
        ADD_FAILURE() << "the filter was accepted";
    } catch (const RuntimeError& e) {
        EXPECT_TRUE(IsValidUtf8(e.Description())) << e.Description();
    }
}

// Saving terminated an unterminated last line with "\n"; when that line
// ended in a lone CR, the two read back as one CRLF and the CR, part of
// another writer's value, was lost.
TEST(FuzzFindings, SavingKeepsALoneCarriageReturnAtTheEndOfTheFile) {
    ini::IniDocument doc("[Other]\nK=\"unclosed\r");  // fuzz/regressions/settings
    const std::optional<std::string> before = doc.Get("Other", "K");
    ASSERT_EQ(before, "\"unclosed\r");
    doc.Set("Mine", "K", "v");
    EXPECT_EQ(ini::IniDocument(doc.Text()).Get("Other", "K"), before);
}

}  // namespace
}  // namespace kevra::fuzz
