// The tree's index of node keys: which node, by its position, has a key.
// Private to the tree (not installed): front-ends see only Find and Item.
//
// It is built for the fill of a large tree, where every add asks whether
// its key is taken and the answer must not wait on memory:
//
// - Numbered keys, the form the control gives every node ("X42": one
//   non-digit, then a whole number), are not hashed. One bit per number of a
//   range says whether a node has it, and a table by number gives its
//   position. At a million nodes the bits take 128 KB, which the cache
//   keeps. The range grows with the tree, up to eight numbers a node; a
//   numbered key beyond it is hashed (an outlier) until the range reaches
//   it. Every numbered key has the first character of the first one added
//   since the last Clear.
// - Every other key goes into open addressing over 8-byte slots (hash and
//   position), so that a probe rarely reads a key and the table stays small.
//   A filter of the hashes present, two bits per slot, answers most "is
//   this new key taken?" questions without touching the table; the newest
//   keys wait in a short queue, their slots prefetched, before they are
//   written into the table.
//
// The index keeps no keys: it asks its owner for the key at a position.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kevra {

class KeyIndex {
  public:
    // The key of the owner's node at `position` (1-based, at most Size()).
    using KeyAt = std::string_view (*)(const void* owner, uint32_t position);

    KeyIndex(KeyAt key_at, const void* owner) : key_at_(key_at), owner_(owner) {}
    KeyIndex(const KeyIndex&) = delete;
    KeyIndex& operator=(const KeyIndex&) = delete;

    // Where a key goes, worked out before an add changes anything.
    struct Entry {
        uint32_t hash = 0;      // when hashed
        uint32_t number = 0;    // when spelled as a numbered key
        bool numbered = false;  // kept in the bitmap of numbers
        bool hashed = false;    // kept in the hash table
        bool outlier = false;   // spelled as a numbered key, hashed for now
    };

    // The entry of `key` as the next position (Size() + 1). May widen the
    // range of numbers, which changes no answer; raises only for lack of
    // memory. An empty key is neither numbered nor hashed: it is never found.
    Entry Prepare(std::string_view key) {
        Entry entry;
        if (key.empty()) return entry;
        if (NumberOf(key, entry.number) && (number_prefix_ == 0 || key[0] == number_prefix_)) {
            number_prefix_ = key[0];
            if (entry.number >= numbers_.size() * 64) CoverNumber(entry.number);
            entry.numbered = entry.number < numbers_.size() * 64;
            entry.outlier = !entry.numbered;
        }
        if (!entry.numbered) {
            entry.hashed = true;
            entry.hash = Hash(key);
        }
        return entry;
    }
    // Whether a node has `key`, whose entry Prepare gave.
    bool Holds(std::string_view key, const Entry& entry) const {
        if (entry.numbered) return HasNumber(entry.number);
        return entry.hashed && MayHold(entry.hash) && FindHashed(key, entry.hash) != 0;
    }
    // Room for one more position with `entry`, so that Insert cannot fail.
    void ReserveFor(const Entry& entry) {
        if ((entry.hashed && (keyed_ + 1) * 4 > keys_.size() * 3) ||
            (entry.outlier && outliers_.size() == outliers_.capacity()))
            Grow(entry);
    }
    // Adds position Size() + 1 with the key of `entry`, which no node has.
    void Insert(const Entry& entry) noexcept {
        ++size_;
        if (entry.numbered) {
            assert(!HasNumber(entry.number) && "a numbered key is inserted twice");
            numbers_[entry.number / 64] |= uint64_t{1} << (entry.number % 64);
        } else if (entry.hashed) {
            InsertHashed(entry);
        }
    }

    // The position of the node with `key`, or 0.
    uint32_t Find(std::string_view key) const;
    // Positions inserted since the last Clear.
    uint32_t Size() const { return size_; }
    // Forgets every key. The memory stays for a next fill of about the same
    // size, and is given back after a much smaller one.
    void Clear();

    // The number of a numbered key: one non-digit character, then a whole
    // number in plain decimal (no sign, no leading zero) below a billion.
    static bool NumberOf(std::string_view key, uint32_t& number) {
        if (key.size() < 2 || key.size() > 10) return false;
        if (key[0] >= '0' && key[0] <= '9') return false;
        if (key[1] == '0' && key.size() > 2) return false;  // X0 is numbered, X01 not
        uint32_t n = 0;
        for (size_t i = 1; i < key.size(); ++i) {
            const unsigned digit = static_cast<unsigned char>(key[i]) - unsigned{'0'};
            if (digit > 9) return false;
            n = n * 10 + digit;
        }
        number = n;
        return true;
    }

  private:
    struct KeySlot {
        uint32_t hash = 0;
        uint32_t position = 0;  // 0: empty
    };

    static uint32_t Hash(std::string_view key);
    bool HasNumber(uint32_t number) const { return numbers_[number / 64] >> (number % 64) & 1; }
    // The slow paths of ReserveFor and Insert.
    void Grow(const Entry& entry);
    void InsertHashed(const Entry& entry) noexcept;
    uint32_t FindHashed(std::string_view key, uint32_t hash) const;
    // False when no key of this hash is in the table; true when one may be.
    bool MayHold(uint32_t hash) const;
    void PlaceKey(uint32_t position, uint32_t hash);
    void QueueKey(uint32_t position, uint32_t hash);
    void FlushQueue();
    void GrowTable();
    // Whether `key` is numbered and its number in the range numbers_ covers:
    // such a key is in numbers_, every other one in keys_.
    bool Numbered(std::string_view key, uint32_t& number) const;
    // Widens numbers_ to cover `number` when the tree is large enough for
    // its range, taking over the outliers the wider range covers.
    void CoverNumber(uint32_t number);
    // Writes number_positions_ for the positions added since it last ran: a
    // store at each add would miss the cache and hold up the stores after it.
    void PositionNumbers() const;
    void CheckInvariants() const;

    KeyAt key_at_;
    const void* owner_;
    uint32_t size_ = 0;

    std::vector<KeySlot> keys_;   // a power of two in size, at most 3/4 full
    size_t keyed_ = 0;            // keys in keys_ and in the queue
    std::vector<uint64_t> seen_;  // the filter of hashes: two bits set per key
    static constexpr size_t kQueuedKeys = 16;
    KeySlot queued_[kQueuedKeys];
    size_t queue_length_ = 0;
    size_t queue_next_ = 0;  // where the next key goes; the oldest when full

    char number_prefix_ = 0;  // 0: no numbered key since the last Clear
    std::vector<uint64_t> numbers_;
    // Read only where numbers_ has the bit, for positions up to positioned_.
    mutable std::vector<uint32_t> number_positions_;
    mutable uint32_t positioned_ = 0;
    std::vector<uint32_t> outliers_;  // positions of numbered keys in keys_
};

}  // namespace kevra
