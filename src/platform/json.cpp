// JSON string literals and numbers.
#include "platform/json.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "platform/ascii.h"
#include "platform/number_text.h"
#include "platform/utf8.h"

namespace kevra::json {

namespace {

// Appends the UTF-8 character at text[i], or U+FFFD for a byte that does
// not start a valid one; returns the bytes read.
size_t AppendCharacter(std::string& out, std::string_view text, size_t i) {
    const size_t n = ValidUtf8Length(text, i);
    if (n == 0) {
        out += "\xEF\xBF\xBD";
        return 1;
    }
    out.append(text.substr(i, n));
    return n;
}

}  // namespace

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string Quote(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
            case '"':
                out += "\\\"";
                ++i;
                continue;
            case '\\':
                out += "\\\\";
                ++i;
                continue;
            case '\n':
                out += "\\n";
                ++i;
                continue;
            case '\r':
                out += "\\r";
                ++i;
                continue;
            case '\t':
                out += "\\t";
                ++i;
                continue;
            case '\b':
                out += "\\b";
                ++i;
                continue;
            case '\f':
                out += "\\f";
                ++i;
                continue;
            default:
                break;
        }
        if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
            ++i;
            continue;
        }
        i += AppendCharacter(out, text, i);
    }
    out += '"';
    return out;
}

std::string ValidUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) i += AppendCharacter(out, text, i);
    return out;
}

bool Unquote(std::string_view s, std::string& out, std::string& error) {
    out.clear();
    if (s.size() < 2 || s.front() != '"' || s.back() != '"') {
        error = "a string literal must start and end with '\"'";
        return false;
    }
    for (size_t i = 1; i + 1 < s.size();) {
        char c = s[i];
        if (c == '"') {
            error = "unescaped '\"' inside a string literal";
            return false;
        }
        if (static_cast<unsigned char>(c) < 0x20) {
            error = "control character inside a string literal";
            return false;
        }
        if (c != '\\') {
            out += c;
            ++i;
            continue;
        }
        if (i + 2 >= s.size()) {
            error = "string literal ends inside an escape";
            return false;
        }
        char e = s[i + 1];
        i += 2;
        if (int simple = SimpleEscape(e); simple >= 0) {
            out += static_cast<char>(simple);
            continue;
        }
        switch (e) {
            case 'u': {
                auto read4 = [&](size_t at, uint32_t& v) {
                    if (at + 4 > s.size() - 1) return false;
                    v = 0;
                    for (size_t k = 0; k < 4; ++k) {
                        int h = HexDigitValue(s[at + k]);
                        if (h < 0) return false;
                        v = v * 16 + static_cast<uint32_t>(h);
                    }
                    return true;
                };
                uint32_t cp;
                if (!read4(i, cp)) {
                    error = "\\u must be followed by four hexadecimal digits";
                    return false;
                }
                i += 4;
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    uint32_t lo;
                    if (i + 1 < s.size() && s[i] == '\\' && s[i + 1] == 'u' && read4(i + 2, lo) &&
                        lo >= 0xDC00 && lo <= 0xDFFF) {
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                        i += 6;
                    } else {
                        cp = 0xFFFD;
                    }
                } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                    cp = 0xFFFD;
                }
                AppendUtf8(out, cp);
                break;
            }
            default:
                error = std::string("unknown escape \\") + e;
                return false;
        }
    }
    return true;
}

std::string Number(double value) {
    if (!std::isfinite(value)) return "null";
    if (value == std::floor(value) && std::fabs(value) < 1e15) return number_text::Fixed(value, 0);
    return number_text::Shortest(value);
}

}  // namespace kevra::json
