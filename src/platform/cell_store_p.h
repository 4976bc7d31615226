// How a record set's table stores its cells, and the cell's value as a
// number. Private to the record set (not installed).
//
// Cells are kept by column as a type byte plus an 8-byte payload, with all
// text in one arena, so that a million-row catalogue costs tens of bytes per
// row rather than a Variant (48 bytes) per cell. The filter and the index
// read cells in this form directly; a Variant is only built when a caller
// asks for a value.
#pragma once

#include <bit>
#include <cassert>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/names.h"
#include "platform/variant.h"

namespace kevra::filter {

enum class CellType : uint8_t { Empty, Null, Boolean, Int32, Int64, Double, String };

// Every string of a table, each prefixed with its length as a base-128 varint.
class TextArena {
  public:
    uint64_t Add(std::string_view text);
    std::string_view At(uint64_t offset) const;
    void ShrinkToFit() { bytes_.shrink_to_fit(); }

  private:
    std::vector<char> bytes_;
};

// One field of a table. Payloads: Boolean, Int32 and Int64 hold the value as
// a 64-bit integer (a Boolean True is -1), Double its bit pattern, String an
// offset into the arena; Empty and Null hold 0.
//
// Rows are appended in the wide form, a type byte and 8 bytes per cell.
// Compact() then drops the type bytes of a column whose cells all have one
// type and keeps payloads in 4 bytes when every one fits (integers within
// 32 bits, text offsets below 4 GiB), which is the usual case for a task
// catalogue and halves its size.
class Column {
  public:
    explicit Column(std::string column_name) : name(std::move(column_name)) {}

    void Append(CellType type, uint64_t payload) {
        types_.push_back(type);
        wide_.push_back(payload);
        ++rows_;
    }
    // Drops the cells from `rows` on (undoing a half-appended row).
    void Truncate(size_t rows) {
        types_.resize(rows);
        wide_.resize(rows);
        rows_ = rows;
    }
    size_t Size() const { return rows_; }
    // Called once, after the last row.
    void Compact();

    CellType Type(uint32_t row) const {
        assert(row < rows_ && "a cell beyond the column");
        return uniform_ ? uniform_type_ : types_[row];
    }
    uint64_t Payload(uint32_t row) const {
        assert(row < rows_ && "a cell beyond the column");
        if (!narrow_) return wide_[row];
        uint32_t v = narrow32_[row];
        if (Type(row) == CellType::String) return v;
        return static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(v)));
    }

    std::string name;

  private:
    size_t rows_ = 0;
    bool uniform_ = false;
    CellType uniform_type_ = CellType::Empty;
    std::vector<CellType> types_;  // empty when uniform_
    bool narrow_ = false;
    std::vector<uint64_t> wide_;      // empty when narrow_
    std::vector<uint32_t> narrow32_;  // integers sign-extend, text offsets zero-extend
};

// The cells a filter is evaluated over.
struct Cells {
    const std::vector<Column>* columns;
    const TextArena* arena;
};

// Stores `value` as the next cell of `column`. Raises 13 for an Object.
void AppendCell(Column& column, TextArena& arena, const Variant& value);
Variant CellValue(const Column& column, const TextArena& arena, uint32_t row);

// ---------------------------------------------------------------------------
// Numbers, compared exactly across integers and doubles

struct Number {
    bool is_int = true;
    int64_t i = 0;
    double d = 0;
};

// -1, 0 or 1; nullopt when either side is NaN (which matches nothing).
std::optional<int> CompareNumbers(const Number& a, const Number& b);

// The number a numeric cell holds (a Boolean as -1 or 0).
inline Number CellNumber(CellType type, uint64_t payload) {
    Number n;
    if (type == CellType::Double) {
        n.is_int = false;
        n.d = std::bit_cast<double>(payload);
    } else {
        n.i = static_cast<int64_t>(payload);
    }
    return n;
}

// 2^63 as a double: the doubles at or beyond it are outside int64_t.
constexpr double kTwo63 = 9223372036854775808.0;

// Text compares without regard to ASCII letter case.
inline bool EqualsFolded(std::string_view a, std::string_view b) {
    return SameIgnoringAsciiCase(a, b);
}

}  // namespace kevra::filter
