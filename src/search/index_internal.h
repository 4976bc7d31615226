// What the index's build and its queries share: a hash for short texts and
// ids, and a plain bit set over entries, captions or words. Only the
// search's own sources include this header.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/mix.h"
#include "platform/names.h"

namespace kevra::search {

// Every input bit moves every output bit: the record set's index mix.
inline uint64_t Mix64(uint64_t x) { return MixBits(x); }

inline uint64_t Load8(const char* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
inline uint64_t Load4(const char* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// Eight bytes at a time: captions and words are short. The last bytes are
// read as whole words that overlap the ones before, never byte by byte
// into a buffer, whose read back would wait for the bytes' writes.
inline uint64_t HashBytes(std::string_view s) {
    const size_t n = s.size();
    const char* p = s.data();
    uint64_t h = 0x9E3779B97F4A7C15ULL ^ n;
    if (n >= 8) {
        for (size_t i = 0; i + 8 < n; i += 8) h = Mix64(h ^ Load8(p + i));
        return Mix64(h ^ Load8(p + n - 8));
    }
    uint64_t v = 0;
    if (n >= 4)
        v = (Load4(p) << 32) | Load4(p + n - 4);
    else if (n > 0)
        v = (uint64_t{static_cast<uint8_t>(p[0])} << 16) |
            (uint64_t{static_cast<uint8_t>(p[n / 2])} << 8) | static_cast<uint8_t>(p[n - 1]);
    return Mix64(h ^ v);
}

// Whether two texts are the same, compared as HashBytes reads them: a text
// is mostly found equal to the one it is compared with, and for short texts
// a call of memcmp costs more than the comparison.
inline bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && SameBytes(a.data(), b.data(), a.size());
}

class Bits {
  public:
    Bits() = default;
    explicit Bits(size_t size) : words_((size + 63) / 64, 0) {}

    bool Test(size_t i) const { return (words_[i / 64] >> (i % 64)) & 1; }
    void Set(size_t i) { words_[i / 64] |= uint64_t{1} << (i % 64); }
    // Sets bits [begin, end).
    void SetRange(size_t begin, size_t end) {
        if (begin >= end) return;
        const size_t first = begin / 64, last = (end - 1) / 64;
        const uint64_t head = ~uint64_t{0} << (begin % 64);
        const uint64_t tail = ~uint64_t{0} >> (63 - (end - 1) % 64);
        if (first == last) {
            words_[first] |= head & tail;
            return;
        }
        words_[first] |= head;
        for (size_t w = first + 1; w < last; ++w) words_[w] = ~uint64_t{0};
        words_[last] |= tail;
    }
    void And(const Bits& other) {
        for (size_t w = 0; w < words_.size(); ++w) words_[w] &= other.words_[w];
    }
    // The first set bit at or after `from`, or `size` when there is none.
    size_t Next(size_t from, size_t size) const {
        if (from >= size) return size;
        size_t w = from / 64;
        uint64_t bits = words_[w] & (~uint64_t{0} << (from % 64));
        while (bits == 0) {
            if (++w >= words_.size()) return size;
            bits = words_[w];
        }
        const size_t at = w * 64 + static_cast<size_t>(__builtin_ctzll(bits));
        return at < size ? at : size;
    }
    std::vector<uint64_t>& Words() { return words_; }
    const std::vector<uint64_t>& Words() const { return words_; }

  private:
    std::vector<uint64_t> words_;
};

}  // namespace kevra::search
