// Record-set internals: how a table stores its cells, the filter language's
// parser and evaluator, and the per-field equality index.
//
// Cells are kept by column as a type byte plus an 8-byte payload, with all
// text in one arena, so that a million-row catalogue costs tens of bytes per
// row rather than a Variant (48 bytes) per cell. The evaluator reads cells in
// this form directly; a Variant is only built when a caller asks for a value.
//
// Only recordset.cpp and the tests include this header.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/variant.h"

namespace kevra::filter {

// ---------------------------------------------------------------------------
// Cell storage

enum class CellType : uint8_t { Empty, Null, Boolean, Int32, Int64, Double, String };

// Every string of a table, each prefixed with its length as a base-128 varint.
class TextArena {
  public:
    uint64_t Add(std::string_view text);
    std::string_view At(uint64_t offset) const;
    size_t Bytes() const { return bytes_.size(); }
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

    CellType Type(uint32_t row) const { return uniform_ ? uniform_type_ : types_[row]; }
    uint64_t Payload(uint32_t row) const {
        if (!narrow_) return wide_[row];
        uint32_t v = narrow32_[row];
        if (Type(row) == CellType::String) return v;
        return static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(v)));
    }
    size_t MemoryBytes() const {
        return types_.capacity() + wide_.capacity() * 8 + narrow32_.capacity() * 4;
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

// ---------------------------------------------------------------------------
// Parsed filters

enum class Op : uint8_t { Eq, Ne, Lt, Gt, Le, Ge, Like };

struct Literal {
    bool is_text = false;
    Number number;
    std::string text;  // as written, quotes removed and '' undoubled
};

struct Node {
    enum class Kind : uint8_t { Or, And, Compare };
    Kind kind = Kind::Compare;
    // Or / And
    std::vector<Node> children;
    // Compare
    std::string field;  // as written in the filter
    int column = -1;
    Op op = Op::Eq;
    Literal literal;
};

// Maps a field name of a filter to its column, or -1.
using FieldResolver = int (*)(const void* context, std::string_view name);

// A parsed filter. `root` is empty for an empty or all-blank expression.
struct Expression {
    std::optional<Node> root;
};

// Parses `text`. Raises 3001 for a malformed expression (naming the problem
// and its 1-based character position) and 3265 for a field the resolver
// does not know. `field_list` is shown in the 3265 message.
Expression Parse(std::string_view text, FieldResolver resolve, const void* context,
                 std::string_view field_list);

// The plain form `Field=integer` that every tree walk puts, recognised
// without the general parser: an ASCII field name that is not a keyword,
// '=', an optional '-' and 1 to 18 digits, with no blanks. Returns the
// field's column and sets `number`, or -1 when `text` has another form or
// the field is unknown; Parse then gives the same meaning, or the error.
int ParsePlainEquality(std::string_view text, FieldResolver resolve, const void* context,
                       Number& number);

// True when row `row` satisfies `node`.
bool Matches(const Node& node, const Cells& cells, uint32_t row);

// The single comparison `field = literal` that an indexed lookup can answer
// on its own, or nullptr.
const Node* IndexableEquality(const Node& root);

// A conjunct of an AND chain (or the node itself) that an index can answer,
// or nullptr: its rows are a superset of the whole expression's.
const Node* IndexableConjunct(const Node& root);

// True when `text` matches the LIKE pattern `pattern` (* and % any run, _ and
// ? one character, ASCII letters compared without regard to case).
bool LikeMatch(std::string_view text, std::string_view pattern);

// ---------------------------------------------------------------------------
// Equality index

// A list of row ids: ids[0..count) when ids is set, else first, first+1, ...
struct RowRange {
    const uint32_t* ids = nullptr;
    uint32_t first = 0;
    uint32_t count = 0;
    uint32_t At(uint32_t i) const { return ids ? ids[i] : first + i; }
};

// The rows of one column grouped by value: numbers by their exact value
// (so 42, 42.0 and an Int64 42 share a key, and True shares -1), text by its
// ASCII case-folded form. Null, Empty and NaN cells are not indexed, as they
// never match. Each group lists its rows in table order.
class EqualityIndex {
  public:
    static std::unique_ptr<EqualityIndex> Build(const Column& column, const TextArena& arena);

    // The rows whose cell equals `literal`, in table order.
    RowRange Find(const Literal& literal) const;
    RowRange Find(const Number& number) const;

    // The value rows are grouped under (defined with the index).
    struct Key;
    RowRange Find(const Key& key) const;

    size_t Keys() const { return keys_; }
    size_t MemoryBytes() const;

  private:
    struct Slot {
        uint64_t hash;  // the key's hash; its top bits are the home slot
        uint32_t offset;
        uint32_t count;  // 0: empty slot
    };
    // The dense form for integer keys from `least` to `least + span`, in
    // `indexed` rows.
    void BuildDense(const Column& column, const TextArena& arena, int64_t least, uint64_t span,
                    uint32_t indexed);
    // The first row of a slot's group, whose cell stands for the key.
    uint32_t FirstRow(const Slot& slot) const { return unique_ ? slot.offset : rows_[slot.offset]; }

    const Column* column_ = nullptr;
    const TextArena* arena_ = nullptr;
    // Row ids grouped by key. When no two rows share a key (a primary key such
    // as TaskId) a slot's offset is the row id itself and rows_ stays empty
    // (in the dense form below, rows_ holds each key's row).
    bool unique_ = false;
    // Every key is an integer. The hash of an integer key is a bijection of
    // it, so equal hashes then mean equal keys and a probe never reads a
    // cell of the column (at a million rows, one cache miss less).
    bool integers_only_ = false;
    std::vector<uint32_t> rows_;
    std::vector<Slot> slots_;  // open addressing, a power of two in size
    int shift_ = 60;           // hash >> shift_ is a key's home slot
    // A primary key of 32-bit integers too widely spread for the dense form
    // below keeps, instead of slots_, slots of 8 bytes holding the key itself
    // and its row: half the size, so that more of a large table stays in the
    // cache.
    struct IdSlot {
        int32_t key;
        uint32_t row_plus_one;  // 0: empty slot
    };
    bool compact_ = false;
    std::vector<IdSlot> id_slots_;
    // Integer keys in a range no wider than eight values a row (task ids and
    // parents) need no hashing at all: one bit per value of the range says
    // whether a key is there, and the number of keys below a value, counted
    // a word at a time in rank_, is its group's number. A unique column keeps
    // each group's row in rows_ (group g is rows_[g]); any other keeps each
    // group's place and size in groups_, and its rows in rows_, the groups
    // in the order of their first rows: a walk that reads a catalogue in its
    // own order, as a tree fill of a top-down catalogue does, then reads
    // rows_ in order too rather than at random places. A value no row holds,
    // such as the children of a leaf that most filters of a tree walk ask
    // for, is answered from the bitmap alone.
    bool dense_ = false;
    int64_t least_ = 0;
    std::vector<uint64_t> present_;
    std::vector<uint32_t> rank_;
    struct Group {
        uint32_t offset;
        uint32_t count;
    };
    std::vector<Group> groups_;
    size_t keys_ = 0;
};

}  // namespace kevra::filter
