// The per-field equality index of the record set: the rows of one column
// grouped by value, so that `Field = value` costs time in proportion to the
// rows it matches, not to the table. Private to the record set (not
// installed).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/cell_store_p.h"
#include "platform/filter_p.h"

namespace kevra::filter {

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

  private:
    struct Slot {
        uint64_t hash;  // the key's hash; its top bits are the home slot
        uint32_t offset;
        uint32_t count;  // 0: empty slot
    };
    // The distinct keys of a column in order of first appearance, and the
    // group of every row (defined with the index).
    struct Grouping;
    static Grouping GroupKeys(const Column& column, const TextArena& arena);

    // The dense form for integer keys from `least` to `least + span`, in
    // `indexed` rows.
    void BuildDense(const Column& column, const TextArena& arena, int64_t least, uint64_t span,
                    uint32_t indexed);
    // A repeated key's groups and their rows, in the dense form.
    void LayOutDenseGroups(const Column& column, const TextArena& arena, uint32_t indexed);
    // The place of a row's key in the dense range (UINT64_MAX for none), and
    // the group of a place whose bit is set.
    uint64_t DenseBit(const Column& column, const TextArena& arena, uint32_t row) const;
    uint32_t DenseGroup(uint64_t bit) const;
    // The hashed forms, for every other column.
    void BuildHashed(const Column& column, const TextArena& arena);
    void BuildIdSlots(const Column& column, const TextArena& arena, const Grouping& grouping);
    // Lays the rows out group after group, each group in row order, and
    // turns every slot into (hash, offset, count).
    void LayOutGroups(Grouping& grouping);

    RowRange FindDense(const Key& key) const;
    RowRange FindIdSlot(const Key& key, uint64_t hash) const;
    RowRange FindHashed(const Key& key, uint64_t hash) const;
    // The first row of a slot's group, whose cell stands for the key.
    uint32_t FirstRow(const Slot& slot) const { return unique_ ? slot.offset : rows_[slot.offset]; }
    // What Find relies on; checked in debug builds once the index is built.
    void CheckInvariants() const;

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
    // cache. Ids spread over 32 numbers a task (one task in 32 of a shared
    // catalogue) are such a key: there a TaskId lookup takes 1.3x (at a
    // million rows) to 1.6x (at 100,000) as long in 16-byte slots, and the
    // index twice the memory, 34 bytes a row instead of 17
    // (docs/performance.md).
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
