// Reading the scalars of a JSON catalogue: strings with their escapes and
// multi-byte characters checked, numbers, and the literals true, false and
// null.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "platform/error.h"
#include "platform/json.h"
#include "platform/number_text.h"
#include "platform/utf8.h"
#include "service/json_catalogue_p.h"

namespace kevra::service::json_detail {

namespace {

bool IsPlainTextByte(unsigned char c) { return c >= 0x20 && c < 0x80 && c != '"' && c != '\\'; }

// A whole number of at most nine digits, with its sign, that ends before
// `end`: its value, and in `used` the bytes it takes. Anything else (a
// leading zero before a digit, a fraction, an exponent, a longer number,
// one that may go on past `end`) is nullopt, for the full reader.
std::optional<int32_t> SmallWholeNumber(const char* p, const char* end, size_t& used) {
    const char* at = p;
    const bool minus = at < end && *at == '-';
    if (minus) ++at;
    const char* first = at;
    int64_t v = 0;  // a tenth digit, read to see that there is one, would overflow 32 bits
    while (at < end && at - first < 10 && *at >= '0' && *at <= '9') v = v * 10 + (*at++ - '0');
    const auto digits = at - first;
    if (digits == 0 || digits > 9 || at == end) return std::nullopt;
    if (*first == '0' && digits > 1) return std::nullopt;
    if (*at == '.' || *at == 'e' || *at == 'E') return std::nullopt;
    used = static_cast<size_t>(at - p);
    return static_cast<int32_t>(minus ? -v : v);
}

}  // namespace

uint32_t Parser::ReadHex4() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        Mark();
        int c = Peek();
        int d = HexDigitValue(c);
        if (d < 0) Syntax("expected four hexadecimal digits after \\u, found " + Found());
        Get();
        v = v * 16 + static_cast<uint32_t>(d);
    }
    return v;
}

// Reads a string literal; the opening quote is the next character.
std::string Parser::ReadString(size_t max_bytes, const char* what) {
    Mark();
    const uint32_t start_line = line_, start_column = column_;
    Get();  // the opening quote
    std::string out;
    auto too_long = [&] {
        TooLarge(std::string("the ") + what + " starting at line " + std::to_string(start_line) +
                 ", column " + std::to_string(start_column) + " is longer than " +
                 WithUnit(max_bytes));
    };
    for (;;) {
        // A run of printable ASCII without quote or backslash, most of any
        // catalogue's text, is copied whole from the window: one byte a
        // column, no line break, nothing to check. The run stops at the
        // length limit, so that the byte-by-byte path below still reports
        // it where it always did.
        if (pos_ < len_) {
            const size_t room = out.size() < max_bytes ? max_bytes - out.size() : 0;
            const size_t stop = pos_ + std::min(len_ - pos_, room);
            size_t end = pos_;
            while (end < stop && IsPlainTextByte(static_cast<unsigned char>(buf_[end]))) ++end;
            out.append(buf_ + pos_, end - pos_);
            column_ += static_cast<uint32_t>(end - pos_);
            pos_ = end;
        }
        Mark();
        int c = Peek();
        if (c < 0)
            Syntax("the text starting at line " + std::to_string(start_line) + ", column " +
                   std::to_string(start_column) + " has no closing '\"'");
        if (out.size() >= max_bytes && c != '"') too_long();
        if (c == '"') {
            Get();
            break;
        }
        if (c < 0x20)
            Syntax(
                "a control character in text must be written as an escape such as \\n, \\t "
                "or \\u0001");
        if (c == '\\') {
            ReadEscape(out);
            continue;
        }
        if (c < 0x80) {
            out += static_cast<char>(Get());
            continue;
        }
        ReadMultiByte(out, c);
    }
    CountText(out.size());
    return out;
}

// Reads an escape in text, the backslash being the next character.
void Parser::ReadEscape(std::string& out) {
    Get();
    Mark();
    int e = Peek();
    if (int simple = e >= 0 && e < 0x80 ? json::SimpleEscape(static_cast<char>(e)) : -1;
        simple >= 0) {
        out += static_cast<char>(simple);
        Get();
        return;
    }
    switch (e) {
        case 'u': {
            Get();
            uint32_t cp = ReadHex4();
            if (cp >= 0xDC00 && cp <= 0xDFFF)
                Syntax("\\u" + std::string("escape of a low surrogate without a high "
                                           "surrogate before it"));
            if (cp >= 0xD800 && cp <= 0xDBFF) {
                Mark();
                if (Peek() != '\\')
                    Syntax("a high surrogate must be followed by \\u and a low surrogate");
                Get();
                if (Peek() != 'u')
                    Syntax("a high surrogate must be followed by \\u and a low surrogate");
                Get();
                uint32_t lo = ReadHex4();
                if (lo < 0xDC00 || lo > 0xDFFF)
                    Syntax("a high surrogate must be followed by \\u and a low surrogate");
                cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
            }
            json::AppendUtf8(out, cp);
            return;
        }
        default:
            Syntax("unknown escape \\" +
                   (e >= 0x20 && e < 0x7F ? std::string(1, static_cast<char>(e)) : Found()) +
                   " in text (valid: \\\" \\\\ \\/ \\b \\f \\n \\r \\t \\uXXXX)");
    }
    Get();
}

// Reads a multi-byte UTF-8 sequence whose first byte `c` is next, checked
// in full, so the record set only ever holds valid text.
void Parser::ReadMultiByte(std::string& out, int c) {
    const Utf8Lead lead = Utf8LeadOf(static_cast<unsigned char>(c));
    if (!lead.valid())
        Syntax("the text is not valid UTF-8 (the byte " + Hex(c) +
               " cannot start a character); save the file as UTF-8");
    unsigned lo = lead.first_low, hi = lead.first_high;
    out += static_cast<char>(Get());
    for (int i = 0; i < lead.continuation; ++i) {
        int d = Peek();
        if (d < 0 || static_cast<unsigned>(d) < lo || static_cast<unsigned>(d) > hi)
            Syntax(
                "the text is not valid UTF-8 (an incomplete or overlong character); save "
                "the file as UTF-8");
        lo = 0x80;
        hi = 0xBF;
        out += static_cast<char>(Get());
    }
}

Variant Parser::ReadNumber() {
    Mark();
    // Most numbers of a catalogue are ids: read without building their text.
    size_t used = 0;
    if (std::optional<int32_t> v = SmallWholeNumber(buf_ + pos_, buf_ + len_, used)) {
        pos_ += used;
        column_ += static_cast<uint32_t>(used);
        return Variant(*v);
    }
    std::string text;
    bool whole = true;
    auto take_digits = [&](const char* after) {
        int c = Peek();
        if (c < '0' || c > '9') {
            Mark();
            Syntax(std::string("expected a digit ") + after + ", found " + Found());
        }
        while ((c = Peek()) >= '0' && c <= '9') {
            if (text.size() >= kMaxNumberChars)
                Syntax("a number longer than " + std::to_string(kMaxNumberChars) + " characters");
            text += static_cast<char>(Get());
        }
    };
    if (Peek() == '-') text += static_cast<char>(Get());
    if (Peek() == '0') {
        text += static_cast<char>(Get());
        int c = Peek();
        if (c >= '0' && c <= '9') {
            Mark();
            Syntax("a number may not have a leading zero");
        }
    } else {
        take_digits(text.empty() ? "to start a number" : "after '-'");
    }
    if (Peek() == '.') {
        whole = false;
        text += static_cast<char>(Get());
        take_digits("after the decimal point");
    }
    if (Peek() == 'e' || Peek() == 'E') {
        whole = false;
        text += static_cast<char>(Get());
        if (Peek() == '+' || Peek() == '-') text += static_cast<char>(Get());
        take_digits("in the exponent");
    }
    if (whole) {
        int64_t v = 0;
        if (number_text::ParseInteger(text, v) == number_text::ParseResult::Ok) {
            if (v >= INT32_MIN && v <= INT32_MAX) return Variant(static_cast<int32_t>(v));
            return Variant(v);
        }
    }
    double d = 0;
    if (number_text::ParseDouble(text, d) != number_text::ParseResult::Ok)
        Shape("the number " + text + " is out of range (a field holds at most about 1.8e308)");
    return Variant(d);
}

Variant Parser::ReadLiteral() {
    Mark();
    // true, false or null whole in the window, not followed by another
    // letter: the common case, read without building the word.
    static constexpr std::pair<std::string_view, int> kWords[] = {
        {"true", 1}, {"false", 0}, {"null", -1}};
    for (const auto& [w, value] : kWords) {
        if (len_ - pos_ <= w.size() || std::memcmp(buf_ + pos_, w.data(), w.size()) != 0) continue;
        const char after = buf_[pos_ + w.size()];
        if (after >= 'a' && after <= 'z') break;
        pos_ += w.size();
        column_ += static_cast<uint32_t>(w.size());
        return value < 0 ? Variant::Null() : Variant::Boolean(value != 0);
    }
    std::string word;
    int c;
    while (word.size() < 6 && (c = Peek()) >= 'a' && c <= 'z') word += static_cast<char>(Get());
    if (word == "true") return Variant::Boolean(true);
    if (word == "false") return Variant::Boolean(false);
    if (word == "null") return Variant::Null();
    Syntax("expected a value (text in double quotes, a number, true, false or null)");
}

}  // namespace kevra::service::json_detail
