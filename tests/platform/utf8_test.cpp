// Reading UTF-8: every code point read back as the encoder wrote it, and
// every form the standard calls ill-formed refused at the byte it starts.
#include "platform/utf8.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/json.h"

namespace kevra {
namespace {

TEST(Utf8, EveryScalarValueReadsBackAsWritten) {
    for (uint32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF) continue;
        std::string text = "x";
        json::AppendUtf8(text, cp);
        const size_t n = ValidUtf8Length(text, 1);
        ASSERT_EQ(n, text.size() - 1) << std::hex << cp;
        ASSERT_EQ(Utf8CodePoint(text, 1, n), cp) << std::hex << cp;
    }
}

TEST(Utf8, IllFormedSequencesHaveNoLength) {
    struct Case {
        const char* bytes;
        size_t length;
    };
    const Case cases[] = {
        {"\x80", 0},              // a continuation byte alone
        {"\xC0\x80", 0},          // overlong NUL
        {"\xC1\xBF", 0},          // overlong U+007F
        {"\xE0\x9F\xBF", 0},      // overlong U+07FF
        {"\xE0\xA0\x80", 3},      // U+0800, the first of three bytes
        {"\xED\x9F\xBF", 3},      // U+D7FF
        {"\xED\xA0\x80", 0},      // a surrogate
        {"\xEE\x80\x80", 3},      // U+E000
        {"\xF0\x8F\xBF\xBF", 0},  // overlong U+FFFF
        {"\xF4\x8F\xBF\xBF", 4},  // U+10FFFF
        {"\xF4\x90\x80\x80", 0},  // beyond U+10FFFF
        {"\xF5\x80\x80\x80", 0},  // no lead byte
        {"\xE2\x82", 0},          // cut at the end
        {"\xE2\x82\x41", 0},      // cut by an ASCII letter
        {"\xC3\xA9\xC3", 2},      // a whole character before a cut one
    };
    for (const Case& c : cases)
        EXPECT_EQ(ValidUtf8Length(c.bytes, 0), c.length) << json::Quote(c.bytes);
}

}  // namespace
}  // namespace kevra
