// Streaming reader of JSON catalogue files.
//
// The parser walks the one shape a catalogue has (array -> row object ->
// scalar, or the Grants list -> grant object -> scalar) with loops instead of
// recursion, pulling bytes through a 64 KiB window. Anything deeper than that
// shape is rejected at its first bracket, so a file nested a million levels
// deep costs no more than a flat one.
//
// Rows go into the table as they are read, so that a load holds little
// more than the table itself. The table's fields are fixed when its first
// row is stored: the six task fields and whatever else that row names. A
// field that first appears in a later row is then missing from the rows
// stored before it, so the reader drops them, reads the rest of the file
// only to learn every field name and check it, and reads the file once more
// with the whole field list. Catalogues name their fields in the first row,
// so that second pass is rare; a file that changes between the passes can
// add a pass for each field it gains, at most max_fields.
#include "service/json_catalogue.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <system_error>
#include <utility>

#include "platform/ascii.h"
#include "platform/error.h"
#include "platform/json.h"
#include "platform/number_text.h"
#include "platform/utf8.h"

namespace kevra::service {

namespace {

constexpr size_t kChunkBytes = 64 * 1024;
constexpr size_t kMaxNumberChars = 400;

std::string Fold(std::string_view s) { return LowerAscii(s); }

std::string Quoted(std::string_view name) { return json::Quote(name); }

std::string WithUnit(uint64_t bytes) {
    if (bytes >= (uint64_t{1} << 30) && bytes % (uint64_t{1} << 30) == 0)
        return std::to_string(bytes >> 30) + " GiB";
    if (bytes >= (uint64_t{1} << 20) && bytes % (uint64_t{1} << 20) == 0)
        return std::to_string(bytes >> 20) + " MiB";
    return std::to_string(bytes) + " bytes";
}

// Supplies the bytes of the catalogue a chunk at a time: `read` returns the
// number of bytes put into `buf` (0 at end of input), `rewind` starts the
// input again from its first byte.
struct ChunkReader {
    std::function<size_t(char* buf, size_t cap)> read;
    std::function<void()> rewind;
};

class Parser {
  public:
    // `keep_extras`: also collect each row's grants and line, which only the
    // catalogue tools use. `sink`: hand each row over as it is read instead
    // of keeping any.
    Parser(ChunkReader reader, std::string_view display_name, const JsonLimits& limits,
           bool keep_extras, RowsReadFn rows_read = {}, JsonRowFn sink = {})
        : reader_(std::move(reader)),
          name_(display_name),
          limits_(limits),
          keep_extras_(keep_extras),
          rows_read_(std::move(rows_read)),
          sink_(std::move(sink)) {
        // Whatever the caller asks, at most 4 GiB of text (the record set
        // keeps text offsets in 32 bits) and 65535 fields.
        limits_.max_total_text_bytes = std::min<size_t>(limits_.max_total_text_bytes, UINT32_MAX);
        limits_.max_fields = std::min<size_t>(limits_.max_fields, UINT16_MAX);
        for (const char* f : kTaskFields) FieldIndexFor(f);
    }

    JsonCatalogue Run();
    // One pass that hands every row to the sink.
    void Stream() { ReadCatalogue(); }

  private:
    // --- input ---------------------------------------------------------
    int Peek() {
        if (pos_ == len_ && !Refill()) return -1;
        return static_cast<unsigned char>(buf_[pos_]);
    }
    int Get() {
        int c = Peek();
        if (c < 0) return c;
        ++pos_;
        if (c == '\n') {
            ++line_;
            column_ = 1;
        } else if ((c & 0xC0) != 0x80) {
            ++column_;  // continuation bytes belong to the character before
        }
        return c;
    }
    bool Refill() {
        if (eof_) return false;
        len_ = reader_.read(buf_, sizeof buf_);
        pos_ = 0;
        if (len_ == 0) {
            eof_ = true;
            return false;
        }
        bytes_read_ += len_;
        if (bytes_read_ > limits_.max_file_bytes)
            TooLarge("it is larger than " + WithUnit(limits_.max_file_bytes));
        return true;
    }
    void SkipSpace() {
        for (;;) {
            int c = Peek();
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r')
                Get();
            else
                return;
        }
    }
    void Mark() {
        mark_line_ = line_;
        mark_column_ = column_;
    }
    struct Position {
        uint32_t line, column;
    };
    Position Here() const { return {line_, column_}; }
    // Points later messages at `p` (the start of a name or value).
    void MarkAt(Position p) {
        mark_line_ = p.line;
        mark_column_ = p.column;
    }

    // --- failures ------------------------------------------------------
    std::string At() const {
        return "line " + std::to_string(mark_line_) + ", column " + std::to_string(mark_column_) +
               ": ";
    }
    [[noreturn]] void Syntax(const std::string& what) const {
        throw RuntimeError(err::kBadCatalogue,
                           "The catalogue " + Quoted(name_) + " is not valid JSON: " + At() + what);
    }
    [[noreturn]] void Shape(const std::string& what) const {
        throw RuntimeError(err::kBadCatalogue, "The catalogue " + Quoted(name_) +
                                                   " is not a valid catalogue: " + At() + what);
    }
    [[noreturn]] void TooLarge(const std::string& what) const {
        throw RuntimeError(err::kBadCatalogue, "The catalogue " + Quoted(name_) +
                                                   " is too large for this reader: " + what +
                                                   " (see docs/catalogues.md, \"Limits\")");
    }
    static std::string Hex(int byte) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", byte & 0xFF);
        return hex;
    }
    // Names the character at the mark for a syntax message.
    std::string Found() {
        int c = Peek();
        if (c < 0) return "the end of the file";
        if (c >= 0x20 && c < 0x7F) return std::string("'") + static_cast<char>(c) + "'";
        return "the byte " + Hex(c);
    }
    [[noreturn]] void Expected(const std::string& what) {
        Mark();
        Syntax("expected " + what + ", found " + Found());
    }
    void Expect(char want, const std::string& what) {
        SkipSpace();
        if (Peek() != static_cast<unsigned char>(want)) Expected(what);
        Get();
    }
    std::string RowContext() const { return "row " + std::to_string(row_count_); }

    // --- passes --------------------------------------------------------
    void ReadCatalogue();
    void Restart();

    // --- values --------------------------------------------------------
    std::string ReadString(size_t max_bytes, const char* what);
    void ReadEscape(std::string& out);
    void ReadMultiByte(std::string& out, int c);
    uint32_t ReadHex4();
    Variant ReadNumber();
    Variant ReadLiteral();
    Variant ReadScalar(const std::string& field);
    void ReadRow();
    std::vector<Grant> ReadGrants();
    Grant ReadGrantMembers();
    void CountText(size_t bytes) {
        total_text_ += bytes;
        if (total_text_ > limits_.max_total_text_bytes)
            TooLarge("its text adds up to more than " + WithUnit(limits_.max_total_text_bytes));
    }

    size_t FieldIndexFor(const std::string& name) {
        std::string key = Fold(name);
        auto it = field_index_.find(key);
        if (it != field_index_.end()) return it->second;
        if (field_names_.size() >= limits_.max_fields)
            TooLarge("it has more than " + std::to_string(limits_.max_fields) +
                     " different field names (the field " + Quoted(name) + " at line " +
                     std::to_string(mark_line_) + " is one too many)");
        CheckCells(row_count_, field_names_.size() + 1);
        field_names_.push_back(name);
        field_index_.emplace(std::move(key), field_names_.size() - 1);
        seen_in_row_.push_back(0);
        row_.emplace_back(Variant::Null());
        if (builder_ && !sink_) {
            // Rows already stored lack this field: stop storing, and read
            // the file again once every field is known.
            builder_.reset();
            field_came_late_ = true;
        }
        return field_names_.size() - 1;
    }
    void CheckCells(size_t rows, size_t fields) const {
        if (fields != 0 && rows > limits_.max_cells / fields)
            TooLarge("its rows times its fields come to more than " +
                     std::to_string(limits_.max_cells) + " values");
    }

    ChunkReader reader_;
    std::string name_;
    JsonLimits limits_;

    char buf_[kChunkBytes];
    size_t pos_ = 0, len_ = 0;
    bool eof_ = false;
    uint64_t bytes_read_ = 0;
    uint32_t line_ = 1, column_ = 1;
    uint32_t mark_line_ = 1, mark_column_ = 1;
    size_t total_text_ = 0;
    const bool keep_extras_;
    const RowsReadFn rows_read_;
    const JsonRowFn sink_;
    // The row being read, for the sink: its line and grants.
    uint32_t row_line_ = 0;
    std::optional<std::vector<Grant>> row_grants_;

    // Every field name seen, in order of first appearance; kept across
    // passes.
    std::vector<std::string> field_names_;
    std::map<std::string, size_t> field_index_;
    // The row being read, one value per field (Null for those it does not
    // name), and for each field the number of the last row that named it.
    std::vector<Variant> row_;
    std::vector<size_t> seen_in_row_;
    size_t row_count_ = 0;
    // The table, from the first row stored; absent while no row has been,
    // and after a field came late.
    std::optional<TableBuilder> builder_;
    bool field_came_late_ = false;
    std::vector<std::optional<std::vector<Grant>>> grants_;
    std::vector<uint32_t> row_lines_;
};

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
    switch (e) {
        case '"':
            out += '"';
            break;
        case '\\':
            out += '\\';
            break;
        case '/':
            out += '/';
            break;
        case 'b':
            out += '\b';
            break;
        case 'f':
            out += '\f';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
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
    std::string word;
    int c;
    while (word.size() < 6 && (c = Peek()) >= 'a' && c <= 'z') word += static_cast<char>(Get());
    if (word == "true") return Variant::Boolean(true);
    if (word == "false") return Variant::Boolean(false);
    if (word == "null") return Variant::Null();
    Syntax("expected a value (text in double quotes, a number, true, false or null)");
}

// Reads a field value; afterwards the mark points at its start.
Variant Parser::ReadScalar(const std::string& field) {
    SkipSpace();
    Mark();
    const Position start = Here();
    int c = Peek();
    if (c == '"') {
        Variant v(ReadString(limits_.max_string_bytes, "text"));
        MarkAt(start);
        return v;
    }
    if (c == '-' || (c >= '0' && c <= '9')) {
        Variant v = ReadNumber();
        MarkAt(start);
        return v;
    }
    if (c == '{' || c == '[')
        Shape(RowContext() + ", field " + Quoted(field) + ": " +
              (c == '{' ? "an object" : "a list") +
              " is not a field value; a field holds text, a number, true, false or null");
    if (c >= 'a' && c <= 'z') return ReadLiteral();
    Syntax("expected a value (text in double quotes, a number, true, false or null), found " +
           Found());
}

// Reads the members of one grant, its '{' already read, up to its '}'.
Grant Parser::ReadGrantMembers() {
    Grant g;
    bool seen[3] = {false, false, false};
    SkipSpace();
    if (Peek() == '}') {
        Get();
    } else {
        for (;;) {
            SkipSpace();
            if (Peek() != '"') Expected("a member name in double quotes");
            const Position key_at = Here();
            std::string key = ReadString(limits_.max_field_name_bytes, "member name");
            MarkAt(key_at);
            std::string folded = Fold(key);
            int which = folded == "usernumber"   ? 0
                        : folded == "brand"      ? 1
                        : folded == "facilityid" ? 2
                                                 : -1;
            if (which < 0)
                Shape(RowContext() + ": unknown grant member " + Quoted(key) +
                      " (a grant has UserNumber, Brand and FacilityId)");
            if (seen[which]) Shape(RowContext() + ": a grant names " + Quoted(key) + " twice");
            seen[which] = true;
            Expect(':', "':' after the member name");
            Variant v = ReadScalar("Grants." + key);
            if (!v.IsNull()) {
                if (which == 0) {
                    if (v.type() != Variant::Type::Int32)
                        Shape(RowContext() +
                              ": the grant's UserNumber must be a whole number that fits 32 "
                              "bits, or null");
                    g.user_number = v.Int32Value();
                } else {
                    if (v.type() != Variant::Type::String)
                        Shape(RowContext() + ": the grant's " + key +
                              " must be text in double quotes, or null");
                    (which == 1 ? g.brand : g.facility_id) = v.StringValue();
                }
            }
            SkipSpace();
            int c = Peek();
            if (c == ',') {
                Get();
                continue;
            }
            if (c == '}') {
                Get();
                break;
            }
            Expected("',' or '}'");
        }
    }
    return g;
}

std::vector<Grant> Parser::ReadGrants() {
    std::vector<Grant> grants;
    Expect('[', "'[' to open the list of grants (\"Grants\": [{\"Brand\": \"...\"}])");
    SkipSpace();
    if (Peek() == ']') {
        Get();
        return grants;
    }
    for (;;) {
        SkipSpace();
        Mark();
        if (grants.size() >= limits_.max_grants_per_row)
            TooLarge(RowContext() + " has more than " + std::to_string(limits_.max_grants_per_row) +
                     " grants");
        Expect('{',
               "'{' to open a grant ({\"UserNumber\": 12, \"Brand\": \"...\", "
               "\"FacilityId\": \"...\"})");
        Grant g = ReadGrantMembers();
        grants.push_back(std::move(g));
        SkipSpace();
        int c = Peek();
        if (c == ',') {
            Get();
            continue;
        }
        if (c == ']') {
            Get();
            return grants;
        }
        Expected("',' or ']'");
    }
}

// Reads one row object; the '{' is the next character.
void Parser::ReadRow() {
    if (row_count_ >= limits_.max_rows)
        TooLarge("it has more than " + std::to_string(limits_.max_rows) + " rows");
    CheckCells(row_count_ + 1, field_names_.size());
    if (keep_extras_) {
        row_lines_.push_back(line_);
        grants_.emplace_back();
    }
    row_line_ = line_;
    row_grants_.reset();
    Get();
    ++row_count_;
    std::fill(row_.begin(), row_.end(), Variant::Null());
    // Stores the row once it has been read in full.
    auto store = [&] {
        if (sink_) {
            JsonRowView view{row_count_, row_line_, field_names_, row_, row_grants_};
            sink_(view);
            return;
        }
        if (field_came_late_) return;
        if (!builder_) builder_.emplace(field_names_);
        builder_->AddRow(row_);
    };
    bool has_grants = false;
    SkipSpace();
    if (Peek() == '}') {
        Get();
        store();
        return;
    }
    for (;;) {
        SkipSpace();
        if (Peek() != '"') Expected("a field name in double quotes");
        const Position name_at = Here();
        std::string name = ReadString(limits_.max_field_name_bytes, "field name");
        MarkAt(name_at);
        if (name.empty()) Shape(RowContext() + ": a field name may not be empty");
        if (Fold(name) == "grants" && has_grants)
            Shape(RowContext() + " has the field \"Grants\" twice");
        Expect(':', "':' after the field name");
        if (Fold(name) == "grants") {
            has_grants = true;
            SkipSpace();
            if (Peek() == 'n') {
                ReadLiteral();  // null: as if absent
            } else {
                std::vector<Grant> grants = ReadGrants();
                if (keep_extras_)
                    grants_.back() = std::move(grants);
                else if (sink_)
                    row_grants_ = std::move(grants);
            }
        } else {
            Variant v = ReadScalar(name);
            MarkAt(name_at);
            size_t index = FieldIndexFor(name);
            if (seen_in_row_[index] == row_count_)
                Shape(RowContext() + " has the field " + Quoted(field_names_[index]) +
                      " twice (field names ignore letter case)");
            seen_in_row_[index] = row_count_;
            row_[index] = std::move(v);
        }
        SkipSpace();
        int c = Peek();
        if (c == ',') {
            Get();
            continue;
        }
        if (c == '}') {
            Get();
            store();
            return;
        }
        Expected("',' or '}'");
    }
}

// One pass over the input.
void Parser::ReadCatalogue() {
    // A byte-order mark is not JSON, but editors write one; skip it.
    if (Peek() == 0xEF) {
        Get();
        if (Peek() != 0xBB || (Get(), Peek() != 0xBF)) {
            Mark();
            Syntax("the file starts with a broken byte-order mark");
        }
        Get();
        column_ = 1;
    }
    SkipSpace();
    if (Peek() < 0) {
        Mark();
        Syntax("the file is empty; a catalogue is a list of rows: [{\"TaskId\": 1, ...}, ...]");
    }
    Expect('[', "'[' (a catalogue is a list of rows: [{\"TaskId\": 1, ...}, ...])");
    SkipSpace();
    if (Peek() == ']') {
        Get();
    } else {
        for (;;) {
            SkipSpace();
            if (Peek() != '{') Expected("'{' to open a row (each row is an object of fields)");
            ReadRow();
            if (rows_read_ && row_count_ % kRowsPerReport == 0) rows_read_(row_count_);
            SkipSpace();
            int c = Peek();
            if (c == ',') {
                Get();
                continue;
            }
            if (c == ']') {
                Get();
                break;
            }
            Expected("',' or ']'");
        }
    }
    SkipSpace();
    if (Peek() >= 0) {
        Mark();
        Syntax("unexpected " + Found() + " after the closing ']' of the catalogue");
    }
}

// Starts another pass from the first byte, keeping the field names.
void Parser::Restart() {
    reader_.rewind();
    pos_ = len_ = 0;
    eof_ = false;
    bytes_read_ = 0;
    line_ = column_ = mark_line_ = mark_column_ = 1;
    total_text_ = 0;
    row_count_ = 0;
    std::fill(seen_in_row_.begin(), seen_in_row_.end(), 0);
    field_came_late_ = false;
    std::vector<std::optional<std::vector<Grant>>>().swap(grants_);
    std::vector<uint32_t>().swap(row_lines_);
}

JsonCatalogue Parser::Run() {
    ReadCatalogue();
    // Every pass that finds a late field has learnt at least one more name,
    // so the field limit bounds the passes.
    while (field_came_late_) {
        Restart();
        ReadCatalogue();
    }
    JsonCatalogue out;
    out.rows = builder_ ? builder_->Build() : TableBuilder(field_names_).Build();
    builder_.reset();
    out.grants = std::move(grants_);
    out.row_lines = std::move(row_lines_);
    return out;
}

}  // namespace

namespace {

ChunkReader TextReader(std::string_view text, size_t& offset) {
    ChunkReader reader;
    reader.read = [text, &offset](char* buf, size_t cap) {
        size_t n = std::min(cap, text.size() - offset);
        std::copy_n(text.data() + offset, n, buf);
        offset += n;
        return n;
    };
    reader.rewind = [&offset] { offset = 0; };
    return reader;
}

// Opens the catalogue file at `path` and runs `use` with a reader of it.
template <typename Use>
auto WithFile(const std::string& path, const JsonLimits& limits, Use&& use) {
    auto fail = [&](int error) -> RuntimeError {
        int32_t number = error == ENOENT || error == ENOTDIR ? err::kFileNotFound
                         : error == EACCES || error == EPERM ? err::kPermissionDenied
                                                             : err::kPathAccess;
        return RuntimeError(number, "Cannot open the catalogue " + Quoted(path) + ": " +
                                        std::generic_category().message(error));
    };
    if (path.empty()) throw fail(ENOENT);
    // O_NONBLOCK: opening a FIFO must not wait for a writer (and so hang
    // the host); only regular files are read.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) throw fail(errno);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) throw fail(errno);
    if (S_ISDIR(st.st_mode)) throw fail(EISDIR);
    if (!S_ISREG(st.st_mode))
        throw RuntimeError(err::kPathAccess, "Cannot open the catalogue " + Quoted(path) +
                                                 ": it is not a regular file");
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (static_cast<uint64_t>(st.st_size) > limits.max_file_bytes)
        throw RuntimeError(err::kBadCatalogue,
                           "The catalogue " + Quoted(path) + " is too large for this reader: it " +
                               "is larger than " + WithUnit(limits.max_file_bytes) +
                               " (see docs/catalogues.md, \"Limits\")");
    auto read_failed = [path](int error) {
        return RuntimeError(err::kPathAccess, "Cannot read the catalogue " + Quoted(path) + ": " +
                                                  std::generic_category().message(error));
    };
    ChunkReader reader;
    reader.read = [fd, read_failed](char* buf, size_t cap) -> size_t {
        for (;;) {
            ssize_t n = ::read(fd, buf, cap);
            if (n >= 0) return static_cast<size_t>(n);
            if (errno == EINTR) continue;
            throw read_failed(errno);
        }
    };
    reader.rewind = [fd, read_failed] {
        if (::lseek(fd, 0, SEEK_SET) != 0) throw read_failed(errno);
    };
    return use(std::move(reader));
}

}  // namespace

JsonCatalogue ParseJsonCatalogue(std::string_view text, std::string_view display_name,
                                 const JsonLimits& limits, const RowsReadFn& rows_read) {
    size_t offset = 0;
    auto parser =
        std::make_unique<Parser>(TextReader(text, offset), display_name, limits, true, rows_read);
    return parser->Run();
}

void ForEachJsonRowOfText(std::string_view text, std::string_view display_name,
                          const JsonRowFn& on_row, const JsonLimits& limits,
                          const RowsReadFn& rows_read) {
    size_t offset = 0;
    auto parser = std::make_unique<Parser>(TextReader(text, offset), display_name, limits, false,
                                           rows_read, on_row);
    parser->Stream();
}

JsonCatalogue ReadJsonCatalogue(const std::string& path, const JsonLimits& limits,
                                const RowsReadFn& rows_read) {
    return WithFile(path, limits, [&](ChunkReader reader) {
        // The parser holds its 64 KiB window; keep it off the caller's stack.
        return std::make_unique<Parser>(std::move(reader), path, limits, true, rows_read)->Run();
    });
}

TableRef ReadJsonCatalogueRows(const std::string& path, const JsonLimits& limits) {
    return WithFile(path, limits, [&](ChunkReader reader) {
        return std::make_unique<Parser>(std::move(reader), path, limits, false)->Run().rows;
    });
}

void ForEachJsonRow(const std::string& path, const JsonRowFn& on_row, const JsonLimits& limits,
                    const RowsReadFn& rows_read) {
    WithFile(path, limits, [&](ChunkReader reader) {
        std::make_unique<Parser>(std::move(reader), path, limits, false, rows_read, on_row)
            ->Stream();
    });
}

size_t FindField(const std::vector<std::string>& fields, std::string_view name) {
    for (size_t i = 0; i < fields.size(); ++i)
        if (SameIgnoringAsciiCase(fields[i], name)) return i;
    return kNoField;
}

}  // namespace kevra::service
