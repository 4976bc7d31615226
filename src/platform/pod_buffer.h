// A growable array of plain values (integers, bytes) in memory from malloc,
// grown and shrunk with realloc.
//
// The columns and the text of a table of a million rows grow to tens of
// megabytes. The C library serves blocks that large with mappings of their
// own, which realloc moves or trims without copying a byte. A std::vector
// copies every byte into a new block at each growth (and once more to
// shrink to fit), and every page of that new block must first be faulted
// in by the kernel: at a million rows that was a fifth of a load.
#pragma once

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>

namespace kevra {

template <typename T>
class PodBuffer {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>,
                  "PodBuffer moves its values as bytes");

  public:
    PodBuffer() = default;
    PodBuffer(const PodBuffer&) = delete;
    PodBuffer& operator=(const PodBuffer&) = delete;
    PodBuffer(PodBuffer&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)),
          size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    PodBuffer& operator=(PodBuffer&& other) noexcept {
        if (this != &other) {
            std::free(data_);
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
            capacity_ = std::exchange(other.capacity_, 0);
        }
        return *this;
    }
    ~PodBuffer() { std::free(data_); }

    size_t size() const { return size_; }
    size_t capacity() const { return capacity_; }
    bool empty() const { return size_ == 0; }
    T* data() { return data_; }
    const T* data() const { return data_; }
    T& operator[](size_t i) { return data_[i]; }
    const T& operator[](size_t i) const { return data_[i]; }

    void push_back(T value) {
        if (size_ == capacity_) Grow(size_ + 1);
        data_[size_++] = value;
    }
    void append(const T* values, size_t count) {
        if (count == 0) return;
        if (count > capacity_ - size_) Grow(Sum(size_, count));
        std::memcpy(static_cast<void*>(data_ + size_), values, count * sizeof(T));
        size_ += count;
    }
    // New values are zero, as a vector's would be.
    void resize(size_t count) {
        if (count > capacity_) Reallocate(count);
        if (count > size_) std::memset(static_cast<void*>(data_ + size_), 0, (count - size_) * sizeof(T));
        size_ = count;
    }
    void shrink_to_fit() {
        if (size_ < capacity_) Reallocate(size_);
    }
    // Drops the values and gives the memory back.
    void release() {
        std::free(data_);
        data_ = nullptr;
        size_ = capacity_ = 0;
    }

    // Hands the memory over to a buffer of another plain type that holds
    // `count` values in it, written in place by the caller, and trims the
    // memory to them. This buffer is left empty.
    template <typename U>
    PodBuffer<U> Recast(size_t count) && {
        PodBuffer<U> other;
        other.data_ = reinterpret_cast<U*>(std::exchange(data_, nullptr));
        other.capacity_ = capacity_ * sizeof(T) / sizeof(U);
        other.size_ = count;
        size_ = capacity_ = 0;
        other.shrink_to_fit();
        return other;
    }

  private:
    template <typename>
    friend class PodBuffer;

    static size_t Sum(size_t a, size_t b) {
        if (b > std::numeric_limits<size_t>::max() - a) throw std::bad_alloc();
        return a + b;
    }
    void Grow(size_t needed) {
        size_t grown = 8;
        if (capacity_ >= 8)
            grown = capacity_ <= std::numeric_limits<size_t>::max() / 2 ? capacity_ * 2 : needed;
        Reallocate(grown < needed ? needed : grown);
    }
    void Reallocate(size_t count) {
        if (count == 0) {
            release();
            return;
        }
        if (count > std::numeric_limits<size_t>::max() / sizeof(T)) throw std::bad_alloc();
        void* moved = std::realloc(data_, count * sizeof(T));
        if (!moved) throw std::bad_alloc();
        data_ = static_cast<T*>(moved);
        capacity_ = count;
    }

    T* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

}  // namespace kevra
