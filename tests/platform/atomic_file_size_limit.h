// A write-size limit for the tests of writes that fail half-way: a disk that
// fills up, for root as well (which a read-only folder would not stop).
#pragma once

#include <sys/resource.h>

#include <csignal>

namespace kevra::testing {

// Lowers this process's file size limit to `bytes` while it lives; a write
// beyond it fails with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGXFSZ, &ignore, &saved_action_);
        ::getrlimit(RLIMIT_FSIZE, &saved_limit_);
        rlimit small = saved_limit_;
        small.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &small);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_limit_);
        ::sigaction(SIGXFSZ, &saved_action_, nullptr);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
    struct sigaction saved_action_ {};
    rlimit saved_limit_{};
};

}  // namespace kevra::testing
