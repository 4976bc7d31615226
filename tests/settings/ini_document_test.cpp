// The settings file's text format: value escaping, name matching, and
// rewriting a file without disturbing the lines the store does not own.
#include "settings/ini_document.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace kevra::ini {
namespace {

TEST(IniValue, RoundTripsValuesThatNeedQuoting) {
    const std::string values[] = {
        "",
        " X12 ",
        "\tlead",
        "trail ",
        "say \"hi\"",
        "C:\\Temp\\",
        "a;b",
        "#not a comment",
        "two\nlines",
        "cr\rlf\r\n",
        "tab\tin",
        "\x01\x1f\x7f",
        std::string("nul\0mid", 7),
        "   ",
        "Zürich & Genève — 東京",
        "\"",
        "\\n literal",
        "=[x]=",
    };
    for (const std::string& value : values) {
        IniDocument doc;
        doc.Set("Selected Task", "Group", value);
        const std::string text = doc.Text();
        EXPECT_EQ(IniDocument(text).Get("Selected Task", "Group"), value) << text;
        // Every value stays on its own line.
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;
    }
}

TEST(IniValue, PlainValuesAreWrittenBare) {
    EXPECT_EQ(EncodeValue("X12"), "X12");
    EXPECT_EQ(EncodeValue("Rooms and Rates"), "Rooms and Rates");
    EXPECT_EQ(EncodeValue("Zürich"), "Zürich");
    EXPECT_EQ(EncodeValue(""), "");
    EXPECT_EQ(EncodeValue(" X"), "\" X\"");
    EXPECT_EQ(EncodeValue("a\tb\"c\\"), "\"a\\tb\\\"c\\\\\"");
}

TEST(IniValue, ReadsHandWrittenAndMalformedValues) {
    EXPECT_EQ(DecodeValue("  X12  "), "X12");
    EXPECT_EQ(DecodeValue("a ; b"), "a ; b");  // bare text has no inline comment
    EXPECT_EQ(DecodeValue("\" x \"  ; why"), " x ");
    // Unknown escapes keep their backslash.
    EXPECT_EQ(DecodeValue("\"C:\\Temp\\x41\""), "C:\\Temp\\x41");
    // Not our quoted form: read as it stands.
    EXPECT_EQ(DecodeValue("\"open"), "\"open");
    EXPECT_EQ(DecodeValue("\"ends in escape\\\""), "\"ends in escape\\\"");
    EXPECT_EQ(DecodeValue("\"a\" b"), "\"a\" b");
}

TEST(IniNames, RejectsNamesThatWouldNotReadBack) {
    EXPECT_EQ(SectionNameProblem("Selected Task"), "");
    EXPECT_EQ(KeyNameProblem("List Item"), "");
    for (const char* bad : {"", " a", "a\t", "a]b", "a=b", "a\nb", "a\rb", "a\x01"}) {
        EXPECT_NE(SectionNameProblem(bad), "") << bad;
        EXPECT_NE(KeyNameProblem(bad), "") << bad;
    }
    EXPECT_NE(KeyNameProblem("[k"), "");
    EXPECT_NE(KeyNameProblem(";k"), "");
    EXPECT_NE(KeyNameProblem("#k"), "");
    EXPECT_NE(SectionNameProblem(std::string("a\0b", 3)), "");
}

TEST(IniDocument, MatchesNamesWithoutRegardToCase) {
    IniDocument doc("[selected TASK]\ngroup = X1\n");
    EXPECT_EQ(doc.Get("Selected Task", "GROUP"), "X1");
    doc.Set("SELECTED task", "Group", "X2");
    EXPECT_EQ(doc.Text(), "[selected TASK]\ngroup = X2\n");  // spelling as stored
    EXPECT_EQ(doc.Get("Selected Task", "Gröup"), std::nullopt);
}

// A file someone has edited by hand: every line the store does not own must
// come back byte for byte, whatever is set.
constexpr const char* kEdited =
    "\xEF\xBB\xBF; settings\r\n"
    "orphan=before any section\r\n"
    "[Selected Task]  ; the saved selection\r\n"
    "Group=X1\r\n"
    "garbage line\r\n"
    "Group=second copy\r\n"
    "ListItem  =  X2  \r\n"
    "\r\n"
    "# next one\r\n"
    "[broken\r\n"
    "Task=under a broken header\r\n"
    "[Other]\r\n"
    "k=v";

TEST(IniDocument, KeepsForeignLinesAndReadsOnlyWhatItUnderstands) {
    IniDocument doc(kEdited);
    EXPECT_EQ(doc.Text(), kEdited);
    EXPECT_EQ(doc.Get("Selected Task", "Group"), "X1");  // the first copy wins
    EXPECT_EQ(doc.Get("Selected Task", "ListItem"), "X2");
    EXPECT_EQ(doc.Get("Selected Task", "Task"), std::nullopt);
    EXPECT_EQ(doc.Get("Other", "k"), "v");
}

TEST(IniDocument, ChangesOnlyTheLinesItWrites) {
    IniDocument doc(kEdited);
    doc.Set("selected task", "group", "X7");
    doc.Set("Selected Task", "Task", "X9");  // new key, after the block's last key
    doc.Set("Other", "k", "w");              // last line without a terminator
    doc.Set("New", "a", "b");                // new section at the end
    EXPECT_EQ(doc.Text(),
              "\xEF\xBB\xBF; settings\r\n"
              "orphan=before any section\r\n"
              "[Selected Task]  ; the saved selection\r\n"
              "Group=X7\r\n"
              "garbage line\r\n"
              "Group=second copy\r\n"
              "ListItem  =  X2  \r\n"
              "Task=X9\r\n"
              "\r\n"
              "# next one\r\n"
              "[broken\r\n"
              "Task=under a broken header\r\n"
              "[Other]\r\n"
              "k=w\r\n"
              "\r\n"
              "[New]\r\n"
              "a=b\r\n");
}

}  // namespace
}  // namespace kevra::ini
