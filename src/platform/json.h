// JSON string literals: the quoting used by kevra-host's script words and
// output lines, by `dump` and by --typeinfo.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kevra::json {

// Appends code point `cp` to `out` in UTF-8.
void AppendUtf8(std::string& out, uint32_t cp);

// `text` as a JSON string literal. Control characters, '"' and '\' are
// escaped; valid UTF-8 passes through unchanged; a byte that is not part of a
// valid UTF-8 sequence becomes U+FFFD, so the output is always valid UTF-8.
std::string Quote(std::string_view text);

// `text` with every byte that is not part of a valid UTF-8 sequence replaced
// by U+FFFD: for messages that echo what a user or a file supplied.
std::string ValidUtf8(std::string_view text);

// The character a one-letter escape stands for (`n` after the backslash is a
// line feed), or -1 when `letter` is no such escape (`u` is not: its four
// hexadecimal digits are the caller's to read).
inline int SimpleEscape(char letter) {
    switch (letter) {
        case '"':
        case '\\':
        case '/':
            return letter;
        case 'b':
            return '\b';
        case 'f':
            return '\f';
        case 'n':
            return '\n';
        case 'r':
            return '\r';
        case 't':
            return '\t';
        default:
            return -1;
    }
}

// Decodes a JSON string literal (quotes included). Returns false and sets
// `error` to a readable reason when `literal` is not one.
bool Unquote(std::string_view literal, std::string& out, std::string& error);

// A number as JSON: whole values without a fraction, others in the shortest
// form that reads back the same.
std::string Number(double value);

}  // namespace kevra::json
