// Where favourites and launch history are kept, as the search sees it.
//
// A history belongs to a user number and an application (the control's
// UserNumber and AppId) and to a catalogue (its MachineName). The files of
// kevra-host and the other hosts are search/file_history_store.h; tests
// and hosts that keep nothing beyond their own life use MemoryHistoryStore.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <tuple>

#include "search/task_history.h"

namespace kevra::search {

struct HistoryKey {
    int32_t user = 0;
    int32_t app = 0;
    std::string catalogue;

    bool operator==(const HistoryKey&) const = default;
    bool operator<(const HistoryKey& o) const {
        return std::tie(user, app, catalogue) < std::tie(o.user, o.app, o.catalogue);
    }
};

class HistoryStore {
  public:
    virtual ~HistoryStore() = default;

    // The history kept for `key`; empty when none is. Raises a RuntimeError
    // when what is kept cannot be read (a damaged file stays as it is).
    virtual TaskHistory Load(const HistoryKey& key) = 0;

    // Applies `change` to the history kept for `key` as it stands now
    // (changes other processes made since the last Load included), keeps
    // the result, and returns it. Raises a RuntimeError, having kept
    // nothing, when it cannot read or keep it; `change` may raise too.
    virtual TaskHistory Update(const HistoryKey& key,
                               const std::function<void(TaskHistory&)>& change) = 0;
};

// Histories kept in memory, for the life of the store.
class MemoryHistoryStore : public HistoryStore {
  public:
    TaskHistory Load(const HistoryKey& key) override {
        const auto at = kept_.find(key);
        return at == kept_.end() ? TaskHistory() : at->second;
    }
    TaskHistory Update(const HistoryKey& key,
                       const std::function<void(TaskHistory&)>& change) override {
        TaskHistory history = Load(key);
        change(history);
        kept_[key] = history;
        return history;
    }

  private:
    std::map<HistoryKey, TaskHistory> kept_;
};

}  // namespace kevra::search
