// A file descriptor that closes itself, for the code that works on files
// through the system calls (atomic replace, the private stores): every
// early return and throw on the way leaves no descriptor open.
#pragma once

#include <unistd.h>

#include <utility>

namespace kevra {

class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Take()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            if (fd_ >= 0) ::close(fd_);
            fd_ = other.Take();
        }
        return *this;
    }
    ~UniqueFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    // Hands the descriptor over, for a close whose result matters.
    int Take() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

}  // namespace kevra
