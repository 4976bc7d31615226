// The text of one settings file, as the per-user settings store reads and
// rewrites it.
//
// An IniDocument holds every line of the file exactly as it was read, with
// its own line terminator, and knows which lines it understands: `[Section]`
// headers and `Key=Value` lines. Everything else (comments, blank lines,
// garbage, keys before the first header, a broken header and the keys under
// it) is carried along untouched, so a rewrite changes only the line of the
// value that was set. No file system access happens here; the store does the
// reading, locking and atomic replacement around it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kevra::ini {

// Why `name` cannot be used as a section name, or an empty string when it
// can. A name must survive a write and a read unchanged and must not be
// mistaken for another kind of line.
std::string SectionNameProblem(std::string_view name);
// The same for key names.
std::string KeyNameProblem(std::string_view name);

// A value as it is written after `Key=`: bare when reading it back bare gives
// the same text, otherwise a double-quoted string with \" \\ \n \r \t escapes.
std::string EncodeValue(std::string_view value);

// The value that the text after `Key=` stands for (leading blanks already
// skipped or not). A well-formed quoted string is unescaped; an escape other
// than the five that the writer uses keeps its backslash and character as
// they stand; a quoted string that is not closed, or whose closing quote is
// followed by anything but blanks or a `;`/`#` comment, is read as bare text.
// Bare text is returned with its blanks around removed.
std::string DecodeValue(std::string_view text);

// Letter case is ignored for ASCII letters only; other bytes match exactly.
bool NamesEqual(std::string_view a, std::string_view b);

class IniDocument {
  public:
    IniDocument() = default;
    explicit IniDocument(std::string_view text);

    // The value of `key` in `section`: the first such key in file order,
    // looking through every block headed by that section name.
    std::optional<std::string> Get(std::string_view section, std::string_view key) const;

    // Sets `key` in `section` to `value`. An existing key keeps its line, its
    // spelling and its position; only the value is rewritten. A new key goes
    // after the last key of the section's first block, a new section at the
    // end of the file. Both names must have passed the checks above.
    void Set(std::string_view section, std::string_view key, std::string_view value);

    // The file's text: every line not touched by Set byte for byte as read.
    std::string Text() const;

  private:
    enum class Kind { kOther, kSection, kBrokenSection, kKey };
    struct Line {
        std::string body;  // without its terminator
        std::string eol;   // "\n", "\r\n", or "" for a last line without one
        Kind kind = Kind::kOther;
        std::string name;        // section or key name, blanks around removed
        size_t value_start = 0;  // keys: offset of the value in body
    };

    static Line ParseLine(std::string body, std::string eol);
    std::optional<size_t> FindKey(std::string_view section, std::string_view key) const;
    void EnsureTerminated(size_t index);

    std::string bom_;
    std::vector<Line> lines_;
    std::string newline_ = "\n";
};

}  // namespace kevra::ini
