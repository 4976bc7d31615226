// Reading UTF-8, for every reader that must tell well-formed text from
// bytes that only look like it: what a lead byte promises, the length of a
// whole valid character, and its code point. Well-formed means as the Unicode standard
// has it: no overlong forms, no surrogates, nothing above U+10FFFF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kevra {

// What a lead byte promises: how many continuation bytes follow (-1 for a
// byte that cannot start a character) and the range the first of them must
// lie in; the others lie in 0x80..0xBF.
struct Utf8Lead {
    int continuation = -1;
    unsigned char first_low = 0x80;
    unsigned char first_high = 0xBF;
    constexpr bool valid() const { return continuation >= 0; }
};

constexpr Utf8Lead Utf8LeadOf(unsigned char b) {
    if (b < 0x80) return {0, 0x80, 0xBF};
    if (b >= 0xC2 && b <= 0xDF) return {1, 0x80, 0xBF};
    if (b == 0xE0) return {2, 0xA0, 0xBF};  // no overlong forms
    if (b == 0xED) return {2, 0x80, 0x9F};  // no surrogates
    if (b >= 0xE1 && b <= 0xEF) return {2, 0x80, 0xBF};
    if (b == 0xF0) return {3, 0x90, 0xBF};  // no overlong forms
    if (b == 0xF4) return {3, 0x80, 0x8F};  // nothing above U+10FFFF
    if (b >= 0xF1 && b <= 0xF3) return {3, 0x80, 0xBF};
    return {};
}

// Bytes of the valid UTF-8 character that starts at text[i], or 0 where
// none does (a stray byte, a cut or overlong sequence).
constexpr size_t ValidUtf8Length(std::string_view text, size_t i) {
    const Utf8Lead lead = Utf8LeadOf(static_cast<unsigned char>(text[i]));
    if (!lead.valid()) return 0;
    const size_t n = static_cast<size_t>(lead.continuation) + 1;
    if (n > text.size() - i) return 0;
    for (size_t k = 1; k < n; ++k) {
        const auto c = static_cast<unsigned char>(text[i + k]);
        const unsigned char low = k == 1 ? lead.first_low : 0x80;
        const unsigned char high = k == 1 ? lead.first_high : 0xBF;
        if (c < low || c > high) return 0;
    }
    return n;
}

// The code point of the valid character of `length` bytes at text[i], the
// length ValidUtf8Length gave.
constexpr uint32_t Utf8CodePoint(std::string_view text, size_t i, size_t length) {
    constexpr unsigned char kLeadBits[4] = {0x7F, 0x1F, 0x0F, 0x07};
    uint32_t cp = static_cast<unsigned char>(text[i]) & kLeadBits[length - 1];
    for (size_t k = 1; k < length; ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    return cp;
}

}  // namespace kevra
