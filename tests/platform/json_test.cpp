// JSON string literals: quoting always yields valid UTF-8 that reads back,
// and unquoting rejects what is not a literal with a reason.
#include "platform/json.h"

#include <gtest/gtest.h>

namespace kevra {
namespace {

std::string Unquoted(std::string_view literal) {
    std::string out, error;
    EXPECT_TRUE(json::Unquote(literal, out, error)) << literal << ": " << error;
    return out;
}

TEST(JsonTest, ValidUtf8ReplacesOnlyBrokenBytes) {
    EXPECT_EQ(json::ValidUtf8("caf\xC3\xA9 \xF0\x9F\x98\x80"), "caf\xC3\xA9 \xF0\x9F\x98\x80");
    EXPECT_EQ(json::ValidUtf8("a\xC3"), "a\xEF\xBF\xBD");
    EXPECT_EQ(json::ValidUtf8("\xED\xA0\x80"),
              "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");                     // surrogate
    EXPECT_EQ(json::ValidUtf8("\xC0\xAFx"), "\xEF\xBF\xBD\xEF\xBF\xBDx");  // overlong
    EXPECT_EQ(json::ValidUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(JsonTest, QuoteEscapesAndRoundTrips) {
    EXPECT_EQ(json::Quote("a\"b\\c"), R"("a\"b\\c")");
    EXPECT_EQ(json::Quote("\n\t\x01\x7f"), R"("\n\t\u0001\u007f")");
    std::string all;
    for (int c = 1; c < 128; ++c) all += static_cast<char>(c);
    all += "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // é € and an emoji pass through
    EXPECT_EQ(Unquoted(json::Quote(all)), all);
    EXPECT_EQ(Unquoted(json::Quote(std::string("a\0b", 3))), std::string("a\0b", 3));
}

TEST(JsonTest, QuoteReplacesInvalidUtf8) {
    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(json::Quote("a\xFF"
                          "b"),
              "\"a" + fffd + "b\"");
    EXPECT_EQ(json::Quote("\xC3"), "\"" + fffd + "\"") << "truncated sequence";
    EXPECT_EQ(json::Quote("\xC0\xAF"), "\"" + fffd + fffd + "\"") << "overlong form";
    EXPECT_EQ(json::Quote("\xED\xA0\x80"), "\"" + fffd + fffd + fffd + "\"") << "surrogate";
}

TEST(JsonTest, UnquoteDecodesEscapes) {
    EXPECT_EQ(Unquoted(R"("\/\b\f\r\u00e9\u20AC")"), "/\b\f\r\xC3\xA9\xE2\x82\xAC");
    EXPECT_EQ(Unquoted(R"("\ud83d\ude00")"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(Unquoted(R"("\ud83d")"), "\xEF\xBF\xBD") << "lone high surrogate";
    EXPECT_EQ(Unquoted(R"("\ude00x")"), "\xEF\xBF\xBDx") << "lone low surrogate";
    EXPECT_EQ(Unquoted(R"("")"), "");
}

TEST(JsonTest, UnquoteRejectsWhatIsNotALiteral) {
    for (std::string_view bad : {R"(abc)", R"(")", R"("abc)", R"("a"b")", R"("abc\")", R"("\x")",
                                 R"("\u12")", R"("\u12G4")", "\"a\nb\""}) {
        std::string out, error;
        EXPECT_FALSE(json::Unquote(bad, out, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

TEST(JsonTest, NumberIsShortestExactForm) {
    EXPECT_EQ(json::Number(42), "42");
    EXPECT_EQ(json::Number(-0.5), "-0.5");
    EXPECT_EQ(json::Number(0.1), "0.1");
    EXPECT_EQ(std::stod(json::Number(1.0 / 3)), 1.0 / 3);
    EXPECT_EQ(json::Number(1e300), "1e+300");
}

}  // namespace
}  // namespace kevra
