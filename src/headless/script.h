// kevra-host scripts: one command per line, words separated by blanks, a
// word with blanks (or an empty one) written as a JSON string literal.
// Parsing checks every line before anything runs; a script that does not
// parse names its first bad line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
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
    int64_t count = 0;    // fault: the call to fail (N)
    int64_t task_id = 0;  // show-task, pin, unpin
    int64_t limit = 20;   // find, recent: the most results to print
};

struct ParseError {
    int line = 0;
    std::string message;
};

// The longest line a script may have, in bytes, its line break not counted.
// A script is text that a person writes; the bound keeps a stream without
// line breaks (a device, a binary file) from being read into memory whole.
// A longer line is a parse error like any other.
constexpr size_t kMaxLineBytes = size_t{1} << 20;

// Parses a whole script. Returns false and fills `error` at the first line
// that cannot be parsed.
bool ParseScript(std::string_view text, std::vector<Command>& commands, ParseError& error);

enum class ReadResult {
    ok,
    parse_error,  // `error` names the first bad line, as ParseScript does
    read_error,   // the stream failed; `error.message` says why, `error.line` is 0
};

// Reads a script from `in` line by line and parses each line as it comes,
// holding no more than one line of text at a time. Stops at the first line
// that does not parse, so a stream without end and without line breaks is
// refused once kMaxLineBytes have been read.
ReadResult ReadScript(std::FILE* in, std::vector<Command>& commands, ParseError& error);

// Splits one line into words. Returns false with a reason on a malformed
// string literal.
bool SplitWords(std::string_view line, std::vector<Word>& words, std::string& error);

// Decimal or 0x-hexadecimal text as a 32-bit value (hexadecimal values above
// 0x7FFFFFFF wrap to negative, as dispatch ids and HRESULTs do).
bool ParseInt32Word(std::string_view text, int32_t& value);

}  // namespace kevra::host
