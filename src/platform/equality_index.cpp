// The equality index: integer keys in a narrow range in the dense form (a
// bitmap and counts, no hashing), a primary key of 32-bit integers in
// 8-byte slots, every other column in a hash table of groups.
#include <bit>
#include <cmath>
#include <limits>
#include <optional>

#include "platform/equality_index_p.h"
#include "platform/mix.h"

namespace kevra::filter {

// The value a cell or literal is grouped under: numbers that are equal share
// one key whatever their type; text is compared case-folded.
struct EqualityIndex::Key {
    enum class Kind : uint8_t { None, Int, Double, Text } kind = Kind::None;
    uint64_t bits = 0;
    std::string_view text;
};

namespace {

using Key = EqualityIndex::Key;

Key NumberKey(const Number& n) {
    Key k;
    if (n.is_int) {
        k.kind = Key::Kind::Int;
        k.bits = static_cast<uint64_t>(n.i);
    } else if (std::isnan(n.d)) {
        k.kind = Key::Kind::None;
    } else if (n.d >= -kTwo63 && n.d < kTwo63 && n.d == std::trunc(n.d)) {
        k.kind = Key::Kind::Int;
        k.bits = static_cast<uint64_t>(static_cast<int64_t>(n.d));
    } else {
        k.kind = Key::Kind::Double;
        k.bits = std::bit_cast<uint64_t>(n.d);
    }
    return k;
}

Key CellKey(const Column& column, const TextArena& arena, uint32_t row) {
    CellType type = column.Type(row);
    switch (type) {
        case CellType::Empty:
        case CellType::Null:
            return Key();
        case CellType::String: {
            Key k;
            k.kind = Key::Kind::Text;
            k.text = arena.At(column.Payload(row));
            return k;
        }
        default:
            return NumberKey(CellNumber(type, column.Payload(row)));
    }
}

Key LiteralKey(const Literal& literal) {
    if (!literal.is_text) return NumberKey(literal.number);
    Key k;
    k.kind = Key::Kind::Text;
    k.text = literal.text;
    return k;
}

// A bijection: distinct integer keys never share a hash.
uint64_t Mix(uint64_t x) { return MixBits(x); }

uint64_t Hash(const Key& k) {
    switch (k.kind) {
        case Key::Kind::Text: {
            uint64_t h = 0xcbf29ce484222325ULL;
            for (char c : k.text) {
                h ^= static_cast<unsigned char>(LowerAscii(c));
                h *= 0x100000001b3ULL;
            }
            return Mix(h ^ 0x7465787400000000ULL);
        }
        case Key::Kind::Double:
            return Mix(k.bits ^ 0x5555555555555555ULL);
        default:
            return Mix(k.bits);
    }
}

bool SameKey(const Key& a, const Key& b) {
    if (a.kind != b.kind) return false;
    if (a.kind == Key::Kind::Text) return EqualsFolded(a.text, b.text);
    return a.bits == b.bits;
}

// The range of a column whose keys are all integers within eight values a
// row of each other, found in a plain read of the column; nullopt for any
// other column.
struct IntegerRange {
    int64_t least;
    uint64_t span;
    uint32_t indexed;
};

std::optional<IntegerRange> DenseRange(const Column& column, const TextArena& arena) {
    const auto rows = static_cast<uint32_t>(column.Size());
    int64_t least = std::numeric_limits<int64_t>::max();
    int64_t most = std::numeric_limits<int64_t>::min();
    uint32_t indexed = 0;
    for (uint32_t row = 0; row < rows; ++row) {
        const Key key = CellKey(column, arena, row);
        if (key.kind == Key::Kind::None) continue;
        if (key.kind != Key::Kind::Int) return std::nullopt;
        ++indexed;
        least = std::min(least, static_cast<int64_t>(key.bits));
        most = std::max(most, static_cast<int64_t>(key.bits));
    }
    const uint64_t span = static_cast<uint64_t>(most) - static_cast<uint64_t>(least);
    if (indexed == 0 || span >= uint64_t{8} * rows) return std::nullopt;
    return IntegerRange{least, span, indexed};
}

constexpr uint32_t kNoGroup = std::numeric_limits<uint32_t>::max();

}  // namespace

struct EqualityIndex::Grouping {
    // While grouping, a slot holds (hash, first row, group + 1); count 0
    // marks it empty. The top bits of the hash place the slot, so growing
    // never rereads a cell, and the whole hash rules out most other keys
    // without touching their rows.
    int bits = 4;
    std::vector<Slot> slots = std::vector<Slot>(size_t{1} << 4, Slot{0, 0, 0});
    std::vector<uint32_t> group_of_row;  // kNoGroup for a row without a key
    std::vector<uint32_t> counts;        // rows of each group
    uint32_t indexed = 0;
    bool integers_only = true;
    bool within_32_bits = true;

    // Doubles the table, keeping it at most three quarters full.
    void Grow() {
        ++bits;
        std::vector<Slot> bigger(size_t{1} << bits, Slot{0, 0, 0});
        const size_t mask = bigger.size() - 1;
        for (const Slot& old : slots) {
            if (old.count == 0) continue;
            size_t j = old.hash >> (64 - bits);
            while (bigger[j].count != 0) j = (j + 1) & mask;
            bigger[j] = old;
        }
        slots.swap(bigger);
    }
};

std::unique_ptr<EqualityIndex> EqualityIndex::Build(const Column& column, const TextArena& arena) {
    auto index = std::make_unique<EqualityIndex>();
    index->column_ = &column;
    index->arena_ = &arena;
    // Integer keys in a narrow range (ids, parents) take the dense form,
    // which needs no hashing: it is found out first, so that such a column
    // never pays for the hash table (at a million rows its probes miss the
    // cache on nearly every row).
    if (const std::optional<IntegerRange> range = DenseRange(column, arena)) {
        index->integers_only_ = true;
        index->BuildDense(column, arena, range->least, range->span, range->indexed);
    } else {
        index->BuildHashed(column, arena);
    }
    index->CheckInvariants();
    return index;
}

EqualityIndex::Grouping EqualityIndex::GroupKeys(const Column& column, const TextArena& arena) {
    const auto rows = static_cast<uint32_t>(column.Size());
    Grouping g;
    g.group_of_row.resize(rows);
    for (uint32_t row = 0; row < rows; ++row) {
        const Key key = CellKey(column, arena, row);
        if (key.kind == Key::Kind::None) {
            g.group_of_row[row] = kNoGroup;
            continue;
        }
        ++g.indexed;
        g.integers_only = g.integers_only && key.kind == Key::Kind::Int;
        const auto as_integer = static_cast<int64_t>(key.bits);
        g.within_32_bits = g.within_32_bits && as_integer >= std::numeric_limits<int32_t>::min() &&
                           as_integer <= std::numeric_limits<int32_t>::max();
        const uint64_t hash = Hash(key);
        const size_t mask = g.slots.size() - 1;
        for (size_t i = hash >> (64 - g.bits);; i = (i + 1) & mask) {
            Slot& s = g.slots[i];
            if (s.count == 0) {
                const auto group = static_cast<uint32_t>(g.counts.size());
                g.counts.push_back(1);
                s = Slot{hash, row, group + 1};
                g.group_of_row[row] = group;
                if (g.counts.size() * 4 > g.slots.size() * 3) g.Grow();
                break;
            }
            if (s.hash == hash && SameKey(key, CellKey(column, arena, s.offset))) {
                g.group_of_row[row] = s.count - 1;
                ++g.counts[s.count - 1];
                break;
            }
        }
    }
    return g;
}

void EqualityIndex::BuildHashed(const Column& column, const TextArena& arena) {
    Grouping grouping = GroupKeys(column, arena);
    keys_ = grouping.counts.size();
    unique_ = grouping.counts.size() == grouping.indexed;
    integers_only_ = grouping.integers_only;
    shift_ = 64 - grouping.bits;
    if (unique_ && grouping.integers_only && grouping.within_32_bits) {
        BuildIdSlots(column, arena, grouping);
        return;
    }
    LayOutGroups(grouping);
}

void EqualityIndex::BuildIdSlots(const Column& column, const TextArena& arena,
                                 const Grouping& grouping) {
    compact_ = true;
    id_slots_.assign(grouping.slots.size(), IdSlot{0, 0});
    const size_t mask = id_slots_.size() - 1;
    const auto rows = static_cast<uint32_t>(column.Size());
    for (uint32_t row = 0; row < rows; ++row) {
        if (grouping.group_of_row[row] == kNoGroup) continue;
        const Key key = CellKey(column, arena, row);
        size_t j = Hash(key) >> shift_;
        while (id_slots_[j].row_plus_one != 0) j = (j + 1) & mask;
        id_slots_[j] = IdSlot{static_cast<int32_t>(static_cast<int64_t>(key.bits)), row + 1};
    }
}

void EqualityIndex::LayOutGroups(Grouping& grouping) {
    std::vector<Slot>& slots = grouping.slots;
    if (unique_) {
        for (Slot& s : slots)
            if (s.count != 0) s.count = 1;
    } else {
        const std::vector<uint32_t>& counts = grouping.counts;
        std::vector<uint32_t> next(counts.size());
        uint32_t offset = 0;
        for (size_t g = 0; g < counts.size(); ++g) {
            next[g] = offset;
            offset += counts[g];
        }
        rows_.resize(grouping.indexed);
        for (Slot& s : slots)
            if (s.count != 0) s = Slot{s.hash, next[s.count - 1], counts[s.count - 1]};
        const auto rows = static_cast<uint32_t>(grouping.group_of_row.size());
        for (uint32_t row = 0; row < rows; ++row)
            if (grouping.group_of_row[row] != kNoGroup)
                rows_[next[grouping.group_of_row[row]]++] = row;
    }
    slots_ = std::move(slots);
}

// The place in the range of a row's key, or UINT64_MAX for a row without
// one. Read from the column at each pass of the build rather than kept: a
// table of them would take eight bytes a row of fresh memory at every build.
uint64_t EqualityIndex::DenseBit(const Column& column, const TextArena& arena, uint32_t row) const {
    const Key key = CellKey(column, arena, row);
    if (key.kind != Key::Kind::Int) return UINT64_MAX;
    return static_cast<uint64_t>(static_cast<int64_t>(key.bits)) - static_cast<uint64_t>(least_);
}

uint32_t EqualityIndex::DenseGroup(uint64_t bit) const {
    const uint64_t lower = present_[bit / 64] & ((uint64_t{1} << (bit % 64)) - 1);
    return rank_[bit / 64] + static_cast<uint32_t>(std::popcount(lower));
}

void EqualityIndex::BuildDense(const Column& column, const TextArena& arena, int64_t least,
                               uint64_t span, uint32_t indexed) {
    const auto rows = static_cast<uint32_t>(column.Size());
    dense_ = true;
    least_ = least;
    const size_t words = static_cast<size_t>(span / 64 + 1);
    present_.assign(words, 0);
    for (uint32_t row = 0; row < rows; ++row) {
        const uint64_t bit = DenseBit(column, arena, row);
        if (bit != UINT64_MAX) present_[bit / 64] |= uint64_t{1} << (bit % 64);
    }
    rank_.resize(words);
    uint32_t below = 0;
    for (size_t w = 0; w < words; ++w) {
        rank_[w] = below;
        below += static_cast<uint32_t>(std::popcount(present_[w]));
    }
    // Each distinct key is one bit of the range.
    keys_ = below;
    unique_ = keys_ == indexed;
    if (!unique_) {
        LayOutDenseGroups(column, arena, indexed);
        return;
    }
    rows_.resize(keys_);
    for (uint32_t row = 0; row < rows; ++row) {
        const uint64_t bit = DenseBit(column, arena, row);
        if (bit != UINT64_MAX) rows_[DenseGroup(bit)] = row;
    }
}

void EqualityIndex::LayOutDenseGroups(const Column& column, const TextArena& arena,
                                      uint32_t indexed) {
    const auto rows = static_cast<uint32_t>(column.Size());
    groups_.assign(keys_, Group{0, 0});
    for (uint32_t row = 0; row < rows; ++row) {
        const uint64_t bit = DenseBit(column, arena, row);
        if (bit != UINT64_MAX) ++groups_[DenseGroup(bit)].count;
    }
    // Places in the order of each group's first row; `next` counts up from
    // a group's place as its rows are laid down.
    std::vector<uint32_t> next(keys_, UINT32_MAX);
    uint32_t placed = 0;
    rows_.resize(indexed);
    for (uint32_t row = 0; row < rows; ++row) {
        const uint64_t bit = DenseBit(column, arena, row);
        if (bit == UINT64_MAX) continue;
        const uint32_t g = DenseGroup(bit);
        if (next[g] == UINT32_MAX) {
            groups_[g].offset = next[g] = placed;
            placed += groups_[g].count;
        }
        rows_[next[g]++] = row;
    }
}

RowRange EqualityIndex::Find(const Literal& literal) const { return Find(LiteralKey(literal)); }

RowRange EqualityIndex::Find(const Number& number) const { return Find(NumberKey(number)); }

RowRange EqualityIndex::Find(const Key& key) const {
    if (key.kind == Key::Kind::None) return RowRange();
    if (integers_only_ && key.kind != Key::Kind::Int) return RowRange();
    if (dense_) return FindDense(key);
    const uint64_t hash = Hash(key);
    return compact_ ? FindIdSlot(key, hash) : FindHashed(key, hash);
}

RowRange EqualityIndex::FindDense(const Key& key) const {
    const uint64_t bit =
        static_cast<uint64_t>(static_cast<int64_t>(key.bits)) - static_cast<uint64_t>(least_);
    if (bit / 64 >= present_.size()) return RowRange();
    if (!(present_[bit / 64] >> (bit % 64) & 1)) return RowRange();
    const uint32_t group = DenseGroup(bit);
    assert(group < keys_);
    if (unique_) return RowRange{nullptr, rows_[group], 1};
    return RowRange{rows_.data() + groups_[group].offset, 0, groups_[group].count};
}

RowRange EqualityIndex::FindIdSlot(const Key& key, uint64_t hash) const {
    const auto wanted = static_cast<int64_t>(key.bits);
    if (wanted < std::numeric_limits<int32_t>::min() ||
        wanted > std::numeric_limits<int32_t>::max())
        return RowRange();
    const size_t mask = id_slots_.size() - 1;
    for (size_t i = hash >> shift_;; i = (i + 1) & mask) {
        const IdSlot& s = id_slots_[i];
        if (s.row_plus_one == 0) return RowRange();
        if (s.key == wanted) return RowRange{nullptr, s.row_plus_one - 1, 1};
    }
}

RowRange EqualityIndex::FindHashed(const Key& key, uint64_t hash) const {
    const size_t mask = slots_.size() - 1;
    for (size_t i = hash >> shift_;; i = (i + 1) & mask) {
        const Slot& s = slots_[i];
        if (s.count == 0) return RowRange();
        if (s.hash == hash &&
            (integers_only_ || SameKey(key, CellKey(*column_, *arena_, FirstRow(s))))) {
            if (unique_) return RowRange{nullptr, s.offset, 1};
            return RowRange{rows_.data() + s.offset, 0, s.count};
        }
    }
}

void EqualityIndex::CheckInvariants() const {
#ifndef NDEBUG
    const size_t rows = column_->Size();
    if (dense_) {
        // rank_ counts the keys below each word; the last count is every key.
        assert(rank_.size() == present_.size());
        size_t below = 0;
        for (size_t w = 0; w < present_.size(); ++w) {
            assert(rank_[w] == below);
            below += static_cast<size_t>(std::popcount(present_[w]));
        }
        assert(below == keys_);
        assert(unique_ ? rows_.size() == keys_ : groups_.size() == keys_);
    } else {
        // Every probe ends at an empty slot, and the home slot is the hash's
        // top bits.
        const size_t size = compact_ ? id_slots_.size() : slots_.size();
        assert(std::has_single_bit(size) && size_t{1} << (64 - shift_) == size);
        assert(keys_ * 4 <= size * 3);
        assert(!unique_ || rows_.empty());
    }
    assert(rows_.size() <= rows);
    for (const uint32_t row : rows_) assert(row < rows);
#endif
}

}  // namespace kevra::filter
