// The settings file's text format: value escaping, lenient reading, name
// matching, and rewriting a file without disturbing lines the store does not
// own.
#include "settings/ini_document.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace kevra::ini {
namespace {

TEST(IniValue, RoundTripsAnyTextAndQuotesOnlyWhenNeeded) {
    const std::string values[] = {
        "",    " X12 ", "trail\t",      "say \"hi\"",  "C:\\Temp\\",
        "a;b", "#x",    "two\nlines\r", "\x01\x7f",    std::string("nul\0mid", 7),
        "   ", "\\n",   "=[x]=",        "Genève 東京",
    };
    for (const std::string& value : values) {
        IniDocument doc;
        doc.Set("Selected Task", "Group", value);
        EXPECT_EQ(IniDocument(doc.Text()).Get("Selected Task", "Group"), value) << doc.Text();
        const std::string text = doc.Text();
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << "spills over: " << text;
    }
    EXPECT_EQ(EncodeValue("Rooms and Rates"), "Rooms and Rates");
    EXPECT_EQ(EncodeValue("Genève"), "Genève");
    EXPECT_EQ(EncodeValue("a\t\"\\"), "\"a\\t\\\"\\\\\"");
}

TEST(IniValue, ReadsHandWrittenAndMalformedValues) {
    EXPECT_EQ(DecodeValue("  X12  "), "X12");
    EXPECT_EQ(DecodeValue("a ; b"), "a ; b");  // bare text has no inline comment
    EXPECT_EQ(DecodeValue("\" x \"  ; why"), " x ");
    EXPECT_EQ(DecodeValue("\"C:\\Temp\\x41\""), "C:\\Temp\\x41");  // unknown escapes stay
    EXPECT_EQ(DecodeValue("\"open"), "\"open");
    EXPECT_EQ(DecodeValue("\"ends in escape\\\""), "\"ends in escape\\\"");
    EXPECT_EQ(DecodeValue("\"a\" b"), "\"a\" b");
}

// A file someone has edited by hand: every line the store does not own must
// come back byte for byte, whatever is set.
TEST(IniDocument, ChangesOnlyTheLinesItWritesAndIgnoresCase) {
    const std::string edited =
        "\xEF\xBB\xBF; settings\r\n"
        "Task=before any section\r\n"
        "[selected TASK]  ; the saved selection\r\n"
        "GROUP=X1\r\n"
        "garbage line\r\n"
        "Group=second copy\r\n"
        "ListItem  =  X2  \r\n"
        "\r\n"
        "[broken\r\n"
        "Task=under a broken header\r\n"
        "[Other]\r\n"
        "k=v";
    IniDocument doc(edited);
    EXPECT_EQ(doc.Text(), edited);
    EXPECT_EQ(doc.Get("Selected Task", "group"), "X1");  // the first copy wins
    EXPECT_EQ(doc.Get("Selected Task", "ListItem"), "X2");
    EXPECT_EQ(doc.Get("Selected Task", "Task"), std::nullopt);
    EXPECT_EQ(doc.Get("Selected Task", "Gröup"), std::nullopt);

    doc.Set("Selected Task", "group", "X7");
    doc.Set("Selected Task", "Task", "X9");  // new key, after the block's last key
    doc.Set("OTHER", "K", "w");              // last line without a terminator
    doc.Set("New", "a", "b");                // new section at the end
    EXPECT_EQ(doc.Text(),
              "\xEF\xBB\xBF; settings\r\n"
              "Task=before any section\r\n"
              "[selected TASK]  ; the saved selection\r\n"
              "GROUP=X7\r\n"
              "garbage line\r\n"
              "Group=second copy\r\n"
              "ListItem  =  X2  \r\n"
              "Task=X9\r\n"
              "\r\n"
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
