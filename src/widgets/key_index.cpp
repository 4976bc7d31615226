// The tree's key index: numbered keys in a bitmap over a range of numbers,
// every other key in a hash table behind a filter of hashes and a queue of
// the newest keys.
#include <algorithm>
#include <bit>
#include <cassert>
#include <functional>

#include "platform/mix.h"
#include "widgets/key_index_p.h"

namespace kevra {

namespace {

uint32_t Mix32(uint32_t x) { return static_cast<uint32_t>(MixBits(x)); }

// A key's 32-bit hash: its low bits place it in the table, all of it is
// compared before a key is.
uint32_t KeyHash(std::string_view key) {
    const size_t h = std::hash<std::string_view>{}(key);
    return static_cast<uint32_t>(h ^ (static_cast<uint64_t>(h) >> 32));
}

// The word of the filter of hashes for a hash, among `words`, and the two
// bits it sets there.
size_t SeenWord(uint32_t hash, size_t words) {
    return static_cast<size_t>((uint64_t{Mix32(hash)} * words) >> 32);
}
uint64_t SeenBits(uint32_t hash) {
    const uint32_t h = Mix32(hash);
    return uint64_t{1} << (h & 63) | uint64_t{1} << (h >> 6 & 63);
}

// The range of numbered keys: at least this many numbers, and more only
// while it spans no more than kNumbersPerNode numbers a node.
constexpr size_t kMinNumbers = size_t{1} << 12;
constexpr size_t kNumbersPerNode = 8;

void SetBit(std::vector<uint64_t>& bits, uint32_t i) { bits[i / 64] |= uint64_t{1} << (i % 64); }

// Room for one more element, growing geometrically as push_back would
// (reserve alone grows to exactly the size asked for).
template <typename T>
void GrowForOneMore(std::vector<T>& v) {
    if (v.size() == v.capacity()) v.reserve(std::max<size_t>(4, v.size() * 2));
}

}  // namespace

bool KeyIndex::Numbered(std::string_view key, uint32_t& number) const {
    return number_prefix_ != 0 && !key.empty() && key[0] == number_prefix_ &&
           NumberOf(key, number) && number < numbers_.size() * 64;
}

uint32_t KeyIndex::Hash(std::string_view key) { return KeyHash(key); }

void KeyIndex::Grow(const Entry& entry) {
    if (entry.hashed && (keyed_ + 1) * 4 > keys_.size() * 3) GrowTable();
    if (entry.outlier) GrowForOneMore(outliers_);
}

void KeyIndex::InsertHashed(const Entry& entry) noexcept {
    assert((keyed_ + 1) * 4 <= keys_.size() * 3 && "Insert without ReserveFor");
    QueueKey(size_, entry.hash);
    if (entry.outlier) outliers_.push_back(size_);
    CheckInvariants();
}

uint32_t KeyIndex::Find(std::string_view key) const {
    if (key.empty()) return 0;
    uint32_t number;
    if (Numbered(key, number)) {
        if (!HasNumber(number)) return 0;
        PositionNumbers();
        assert(number_positions_[number] != 0 && number_positions_[number] <= size_);
        return number_positions_[number];
    }
    return FindHashed(key, KeyHash(key));
}

uint32_t KeyIndex::FindHashed(std::string_view key, uint32_t hash) const {
    for (size_t q = 0; q < queue_length_; ++q)
        if (queued_[q].hash == hash && key_at_(owner_, queued_[q].position) == key)
            return queued_[q].position;
    if (keys_.empty()) return 0;
    const size_t mask = keys_.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const KeySlot& slot = keys_[i];
        if (slot.position == 0) return 0;
        if (slot.hash == hash && key_at_(owner_, slot.position) == key) return slot.position;
    }
}

bool KeyIndex::MayHold(uint32_t hash) const {
    if (seen_.empty()) return false;
    const uint64_t bits = SeenBits(hash);
    return (seen_[SeenWord(hash, seen_.size())] & bits) == bits;
}

void KeyIndex::PlaceKey(uint32_t position, uint32_t hash) {
    const size_t mask = keys_.size() - 1;
    size_t i = hash & mask;
    while (keys_[i].position != 0) i = (i + 1) & mask;
    keys_[i] = KeySlot{hash, position};
}

void KeyIndex::QueueKey(uint32_t position, uint32_t hash) {
    // By the time the key leaves the queue its slot is in the cache, and
    // the add that queued it has not waited for memory.
    __builtin_prefetch(&keys_[hash & (keys_.size() - 1)], 1);
    seen_[SeenWord(hash, seen_.size())] |= SeenBits(hash);
    ++keyed_;
    KeySlot& slot = queued_[queue_next_];
    if (queue_length_ == kQueuedKeys)
        PlaceKey(slot.position, slot.hash);
    else
        ++queue_length_;
    slot = KeySlot{hash, position};
    queue_next_ = (queue_next_ + 1) % kQueuedKeys;
}

void KeyIndex::FlushQueue() {
    for (size_t q = 0; q < queue_length_; ++q) PlaceKey(queued_[q].position, queued_[q].hash);
    queue_length_ = 0;
    queue_next_ = 0;
}

void KeyIndex::GrowTable() {
    // Both tables are made before either changes: should one fail, the
    // index is as it was.
    std::vector<KeySlot> grown(std::max<size_t>(32, keys_.size() * 2));
    std::vector<uint64_t> seen(grown.size() / 32, 0);
    FlushQueue();
    grown.swap(keys_);
    seen_.swap(seen);
    for (const KeySlot& slot : grown) {
        if (slot.position == 0) continue;
        PlaceKey(slot.position, slot.hash);
        seen_[SeenWord(slot.hash, seen_.size())] |= SeenBits(slot.hash);
    }
}

void KeyIndex::CoverNumber(uint32_t number) {
    const size_t covered = numbers_.size() * 64;
    if (number < covered) return;
    const size_t wanted = std::max({kMinNumbers, std::bit_ceil(size_t{number} + 1), covered * 2});
    if (wanted > std::max(kMinNumbers, (size_t{size_} + 1) * kNumbersPerNode)) return;
    // Positions first: should the bits fail to grow, the range is unchanged.
    if (number_positions_.size() < wanted) number_positions_.resize(wanted);
    numbers_.resize(wanted / 64, 0);
    // The outliers the range now reaches (they stay in keys_ too, unused:
    // lookups of their numbers come here).
    size_t kept = 0;
    for (const uint32_t position : outliers_) {
        uint32_t n = 0;
        NumberOf(key_at_(owner_, position), n);
        if (n < wanted) {
            SetBit(numbers_, n);
            number_positions_[n] = position;
        } else {
            outliers_[kept++] = position;
        }
    }
    outliers_.resize(kept);
}

void KeyIndex::PositionNumbers() const {
    for (; positioned_ < size_; ++positioned_) {
        uint32_t number;
        if (Numbered(key_at_(owner_, positioned_ + 1), number))
            number_positions_[number] = positioned_ + 1;
    }
}

void KeyIndex::Clear() {
    // The table stays at its size when this fill used a fair part of it,
    // so that the next fill of a similar tree does not grow it again.
    if (keyed_ * 8 >= keys_.size()) {
        std::fill(keys_.begin(), keys_.end(), KeySlot{});
        std::fill(seen_.begin(), seen_.end(), 0);
    } else {
        std::vector<KeySlot>().swap(keys_);
        std::vector<uint64_t>().swap(seen_);
    }
    // The range of numbers likewise, when this fill spanned it.
    if (size_t{size_} * kNumbersPerNode >= numbers_.size() * 64) {
        std::fill(numbers_.begin(), numbers_.end(), 0);
    } else {
        std::vector<uint64_t>().swap(numbers_);
        std::vector<uint32_t>().swap(number_positions_);
    }
    size_ = 0;
    keyed_ = 0;
    queue_length_ = 0;
    queue_next_ = 0;
    number_prefix_ = 0;
    positioned_ = 0;
    outliers_.clear();
    CheckInvariants();
}

void KeyIndex::CheckInvariants() const {
#ifndef NDEBUG
    // What lookups rely on: a table with an empty slot to end every probe, a
    // filter sized to it, a queue within bounds, positions for every number.
    assert(keys_.empty() || std::has_single_bit(keys_.size()));
    assert(keyed_ * 4 <= keys_.size() * 3);
    assert(seen_.size() == keys_.size() / 32);
    assert(queue_length_ <= kQueuedKeys && queue_length_ <= keyed_);
    assert(queue_next_ < kQueuedKeys);
    assert(number_positions_.size() >= numbers_.size() * 64);
    assert(positioned_ <= size_ && keyed_ <= size_ && outliers_.size() <= keyed_);
#endif
}

}  // namespace kevra
