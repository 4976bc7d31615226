// Favourites and launch history on disk: one file per user number and
// application, DIR/history-userU-appA.txt, holding every catalogue's
// history in the text form of search/task_history.h. DIR is by default
// $XDG_STATE_HOME/kevra (~/.local/state/kevra): history is state the
// program keeps, not a setting the user makes, so it stays out of the
// settings file.
//
// The store is as careful as the settings store: the folder must be
// private (owner-only, created 0700), nothing in it is reached through a
// symbolic link, a change is read-modify-write under an flock on
// DIR/history-userU-appA.txt.lock held at most a bounded time, and the
// file is replaced whole and durably (platform/atomic_file.h), created
// owner-only. A file that cannot be read as a history is reported, with
// its line, and never replaced: whatever it holds stays for the user.
#pragma once

#include <chrono>
#include <string>

#include "search/history_store.h"

namespace kevra::search {

class FileHistoryStore : public HistoryStore {
  public:
    // As long as the settings store waits for its lock, for the same
    // reasons: a launch must not hang on a stopped process.
    static constexpr std::chrono::milliseconds kLockWait{5000};
    // Far above what the bounds of a history let a file grow to.
    static constexpr size_t kMaxFileBytes = 16 * 1024 * 1024;

    // A store in DefaultDirectory(), looked up at every call.
    FileHistoryStore() = default;
    // A store in `directory` (empty: the default).
    explicit FileHistoryStore(std::string directory,
                              std::chrono::milliseconds lock_wait = kLockWait);

    // $XDG_STATE_HOME/kevra, XDG_STATE_HOME defaulting to $HOME/.local/state
    // and ignored unless absolute. Raises a RuntimeError
    // (err::kSettingsStore) when there is no home directory.
    static std::string DefaultDirectory();

    // The file of a user number and application.
    std::string FilePath(int32_t user, int32_t app) const;

    TaskHistory Load(const HistoryKey& key) override;
    TaskHistory Update(const HistoryKey& key,
                       const std::function<void(TaskHistory&)>& change) override;

  private:
    std::string Directory() const;

    std::string directory_;
    std::chrono::milliseconds lock_wait_ = kLockWait;
};

}  // namespace kevra::search
