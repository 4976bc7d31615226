// The JSON catalogue parser, shared by the reader of rows and grants
// (json_catalogue.cpp) and the reader of scalars: strings, escapes, numbers
// and literals (json_catalogue_scalars.cpp). Private to src/service.
#pragma once

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
#include "service/json_catalogue.h"

namespace kevra::service::json_detail {

inline constexpr size_t kChunkBytes = 64 * 1024;
inline constexpr size_t kMaxNumberChars = 400;

inline std::string Fold(std::string_view s) { return LowerAscii(s); }

inline std::string Quoted(std::string_view name) { return json::Quote(name); }

inline std::string WithUnit(uint64_t bytes) {
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
    Position Marked() const { return {mark_line_, mark_column_}; }
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
    // For a list or object just opened: true, with `close` read, when it is
    // empty.
    bool ClosesAtOnce(char close) {
        SkipSpace();
        if (Peek() != static_cast<unsigned char>(close)) return false;
        Get();
        return true;
    }
    // After an item of a list or object: true, with the ',' read, when
    // another item follows; false, with `close` read, at its end.
    bool MoreItems(char close) {
        SkipSpace();
        int c = Peek();
        if (c == ',') {
            Get();
            return true;
        }
        if (c != static_cast<unsigned char>(close)) Expected(std::string("',' or '") + close + "'");
        Get();
        return false;
    }
    // Reads the name of an object member (`what`: "field name" or "member
    // name"); afterwards the mark points at its start.
    std::string ReadName(const char* what) {
        SkipSpace();
        if (Peek() != '"') Expected(std::string("a ") + what + " in double quotes");
        const Position at = Here();
        std::string name = ReadString(limits_.max_field_name_bytes, what);
        MarkAt(at);
        return name;
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
    // The value of field `index` in the row being read, which must not
    // have named it before; the mark at the field's name.
    void StoreField(size_t index, Variant v) {
        if (seen_in_row_[index] == row_count_)
            Shape(RowContext() + " has the field " + Quoted(field_names_[index]) +
                  " twice (field names ignore letter case)");
        seen_in_row_[index] = row_count_;
        row_[index] = std::move(v);
        next_field_ = index + 1;
    }
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
    // The field after the last one read: most likely the next one named.
    size_t next_field_ = 0;
    size_t row_count_ = 0;
    // The table, from the first row stored; absent while no row has been,
    // and after a field came late.
    std::optional<TableBuilder> builder_;
    bool field_came_late_ = false;
    std::vector<std::optional<std::vector<Grant>>> grants_;
    std::vector<uint32_t> row_lines_;
};

}  // namespace kevra::service::json_detail
