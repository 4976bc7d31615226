// The history store a front-end hands its finder: the finder keeps a
// reference to one store for its whole life, while the host may choose,
// at any time, where favourites and history are kept from then on.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "search/file_history_store.h"
#include "search/history_store.h"

namespace kevra::search {

// Forwards to files (in a directory, or the default one looked up at each
// use) or to memory; files in the default directory until told otherwise.
class SwitchableHistoryStore : public HistoryStore {
  public:
    SwitchableHistoryStore() : store_(std::make_unique<FileHistoryStore>()) {}

    // Empty: the default directory.
    void UseFiles(const std::string& directory) {
        store_ = std::make_unique<FileHistoryStore>(directory);
    }
    // What is kept from now on lasts as long as this store.
    void UseMemory() { store_ = std::make_unique<MemoryHistoryStore>(); }

    TaskHistory Load(const HistoryKey& key) override { return store_->Load(key); }
    TaskHistory Update(const HistoryKey& key,
                       const std::function<void(TaskHistory&)>& change) override {
        return store_->Update(key, change);
    }

  private:
    std::unique_ptr<HistoryStore> store_;
};

}  // namespace kevra::search
