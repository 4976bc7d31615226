// kevra-host scripts: one command per line, words separated by blanks, a
// word with blanks (or an empty one) written as a JSON string literal.
// Parsing checks every line before anything runs; a script that does not
// parse names its first bad line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kevra::host {

struct Word {
    std::string text;      // decoded
    bool literal = false;  // written as a JSON string literal
};

struct Command {
    int line = 0;
    std::string name;
    std::vector<Word> args;
    // Parsed numbers, where the command has them (resize, border, fault,
    // invoke's dispatch id).
    std::vector<double> numbers;
    int64_t count = 0;  // fault: the call to fail (N)
};

struct ParseError {
    int line = 0;
    std::string message;
};

// Parses a whole script. Returns false and fills `error` at the first line
// that cannot be parsed.
bool ParseScript(std::string_view text, std::vector<Command>& commands, ParseError& error);

// Splits one line into words. Returns false with a reason on a malformed
// string literal.
bool SplitWords(std::string_view line, std::vector<Word>& words, std::string& error);

// Decimal or 0x-hexadecimal text as a 32-bit value (hexadecimal values above
// 0x7FFFFFFF wrap to negative, as dispatch ids and HRESULTs do).
bool ParseInt32Word(std::string_view text, int32_t& value);

}  // namespace kevra::host
