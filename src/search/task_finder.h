// Finding tasks in the control's loaded catalogue, showing them, and the
// user's favourites and launch history: what a host (kevra-host, the C
// library, the Qt front-end) offers beside the control. One finder serves
// one control and takes over its catalogue and launch hooks.
//
// The search index is built at the first query after a successful load and
// dropped when the next load begins; before a successful load, and after a
// failed one, there is nothing to find. The history belongs to the user
// number, application and catalogue the control loaded with (what the task
// service gave back for them, when it changed them).
//
// Every StartTask the control raises is counted in the history at once. A
// launch that cannot be written (the store is damaged, its folder not the
// user's, a lock held too long) is kept and written with the next change
// that can be, and the failure is there for the host to report
// (TakeRecordingError): the control's double-click has no way to.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"
#include "search/catalogue_index.h"
#include "search/history_store.h"

namespace kevra {
class ctlKevraTaskList;
}

namespace kevra::search {

class TaskFinder {
  public:
    using Clock = std::function<Seconds()>;

    // The system clock, in seconds.
    static Seconds Now();

    TaskFinder(ctlKevraTaskList& control, HistoryStore& store, Clock clock = Now);
    // Takes the hooks off the control.
    ~TaskFinder();
    TaskFinder(const TaskFinder&) = delete;
    TaskFinder& operator=(const TaskFinder&) = delete;

    // An entry as results list it.
    struct Entry {
        int64_t id = 0;
        EntryKind kind = EntryKind::task;
        std::vector<std::string> path;  // captions, group first
        int64_t count = 0;              // launches (Recent only)
    };

    // Whether a catalogue is loaded to search.
    bool Loaded() const { return loaded_; }

    // The entries that match `text`, best first, at most `limit`; none when
    // nothing is loaded. The user's launches lead their tiers.
    std::vector<Entry> Find(std::string_view text, size_t limit);

    // The keys of an entry, from its group down (for ShowTask); empty when
    // `id` is no entry of the loaded catalogue.
    std::vector<std::string> KeysOf(int64_t id);

    // Shows the entry through ctlKevraTaskList::ShowTask; false when it is
    // no entry or could not be shown all the way.
    bool Show(int64_t id);

    // Adds the entry to the favourites or takes it off (twice changes
    // nothing). Raises a RuntimeError when `id` is no entry of the loaded
    // catalogue, or the history cannot be read or kept.
    void Pin(int64_t id);
    void Unpin(int64_t id);

    // The pinned entries the loaded catalogue holds, in the order pinned.
    // Raises a RuntimeError when the history cannot be read.
    std::vector<Entry> Favourites();
    // The launched entries the loaded catalogue holds, most recent first,
    // at most `limit`. Raises as Favourites does.
    std::vector<Entry> Recent(size_t limit);

    // The failure of keeping a launch since the last call, if any.
    std::optional<RuntimeError> TakeRecordingError();

    // The index, built when first needed; nullptr when nothing is loaded or
    // the rows cannot be read. For benchmarks and tests.
    const CatalogueIndex* Index();

  private:
    void CatalogueChanged(bool loaded);
    void Launched(int32_t id);
    // Writes the launches not yet kept along with `change`.
    TaskHistory Update(const std::function<void(TaskHistory&)>& change);
    TaskHistory LoadHistory();
    Entry EntryOf(uint32_t entry) const;
    uint32_t RequireEntry(int64_t id, const char* doing);

    struct Pending {
        HistoryKey key;
        int32_t task;
        Seconds at;
    };

    ctlKevraTaskList& control_;
    HistoryStore& store_;
    Clock clock_;
    bool loaded_ = false;
    HistoryKey key_;
    std::unique_ptr<CatalogueIndex> index_;
    bool index_failed_ = false;
    std::vector<Pending> pending_;
    std::optional<RuntimeError> recording_error_;
    // The entries of the history's launches, found again only when the set
    // of launched ids changes.
    std::vector<int64_t> boost_ids_;
    std::vector<uint32_t> boost_entries_;
};

}  // namespace kevra::search
