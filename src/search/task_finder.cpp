// The finder: the control's hooks, the lazy index, and the history kept
// through the store.
#include "search/task_finder.h"

#include <algorithm>
#include <chrono>

#include "control/ctlKevraTaskList.h"

namespace kevra::search {

namespace {

// Launches kept while the store cannot take them; the oldest go first.
constexpr size_t kMaxPending = 1000;

}  // namespace

Seconds TaskFinder::Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

TaskFinder::TaskFinder(ctlKevraTaskList& control, HistoryStore& store, Clock clock)
    : control_(control), store_(store), clock_(std::move(clock)) {
    control_.OnCatalogueChange([this](bool loaded) { CatalogueChanged(loaded); });
    control_.OnLaunch([this](int32_t id) { Launched(id); });
}

TaskFinder::~TaskFinder() {
    control_.OnCatalogueChange(nullptr);
    control_.OnLaunch(nullptr);
}

void TaskFinder::CatalogueChanged(bool loaded) {
    index_.reset();
    index_failed_ = false;
    boost_ids_.clear();
    boost_entries_.clear();
    loaded_ = loaded;
    if (loaded) {
        const auto m = control_.GetMembers();
        key_ = HistoryKey{m.mlngUserNumber, m.mlngAppId, m.mstrMachineName};
    }
}

const CatalogueIndex* TaskFinder::Index() {
    if (!loaded_ || index_failed_) return nullptr;
    if (!index_) {
        const RecordsetRef& tasks = control_.Tasks();
        try {
            if (!tasks || tasks->State() != 1) throw RuntimeError(err::kObjectClosed, "closed");
            index_ = CatalogueIndex::Build(*tasks);
        } catch (...) {
            // Nothing to find in rows that cannot be read; the control
            // reports their faults where it reads them itself.
            index_failed_ = true;
            return nullptr;
        }
    }
    return index_.get();
}

void TaskFinder::Launched(int32_t id) {
    // A launch after a failed reload is one of the catalogue still shown,
    // whose history key_ still names.
    pending_.push_back({key_, id, clock_()});
    if (pending_.size() > kMaxPending) pending_.erase(pending_.begin());
    try {
        Update([](TaskHistory&) {});
    } catch (const RuntimeError& e) {
        recording_error_ = e;
    } catch (const std::exception& e) {
        recording_error_ = RuntimeError(err::kInternal, e.what());
    }
}

TaskHistory TaskFinder::Update(const std::function<void(TaskHistory&)>& change) {
    // Launches of another catalogue (loaded before) first, each key apart.
    while (true) {
        const auto other = std::find_if(pending_.begin(), pending_.end(),
                                        [&](const Pending& p) { return !(p.key == key_); });
        if (other == pending_.end()) break;
        const HistoryKey key = other->key;
        const auto same = [&](const Pending& p) { return p.key == key; };
        store_.Update(key, [&](TaskHistory& h) {
            for (const Pending& p : pending_)
                if (same(p)) h.RecordLaunch(p.task, p.at);
        });
        pending_.erase(std::remove_if(pending_.begin(), pending_.end(), same), pending_.end());
    }
    TaskHistory result = store_.Update(key_, [&](TaskHistory& h) {
        for (const Pending& p : pending_) h.RecordLaunch(p.task, p.at);
        change(h);
    });
    pending_.clear();
    return result;
}

TaskHistory TaskFinder::LoadHistory() {
    if (!pending_.empty()) return Update([](TaskHistory&) {});
    return store_.Load(key_);
}

std::optional<RuntimeError> TaskFinder::TakeRecordingError() {
    std::optional<RuntimeError> error;
    error.swap(recording_error_);
    return error;
}

TaskFinder::Entry TaskFinder::EntryOf(uint32_t entry) const {
    return Entry{index_->Id(entry), index_->Kind(entry), index_->Path(entry), 0};
}

std::vector<TaskFinder::Entry> TaskFinder::Find(std::string_view text, size_t limit) {
    const CatalogueIndex* ix = Index();
    if (!ix) return {};
    TaskHistory history;
    try {
        history = LoadHistory();
    } catch (const std::exception&) {
        // A history that cannot be read only ranks nothing first; the
        // commands that show it report why.
    }
    std::vector<int64_t> ids;
    for (const Launch& l : history.Launches()) ids.push_back(l.task);
    if (ids != boost_ids_) {
        boost_entries_ = ix->FindAll(ids);
        boost_ids_ = std::move(ids);
    }
    std::vector<CatalogueIndex::Boost> boosts;
    const Seconds now = clock_();
    for (size_t i = 0; i < history.Launches().size(); ++i)
        if (boost_entries_[i] != CatalogueIndex::kNoEntry)
            boosts.push_back({boost_entries_[i], TaskHistory::ScoreAt(history.Launches()[i], now)});
    std::vector<Entry> found;
    for (const uint32_t e : ix->Search(text, limit, boosts)) found.push_back(EntryOf(e));
    return found;
}

std::vector<std::string> TaskFinder::KeysOf(int64_t id) {
    const CatalogueIndex* ix = Index();
    if (!ix) return {};
    const uint32_t e = ix->Find(id);
    return e == CatalogueIndex::kNoEntry ? std::vector<std::string>() : ix->PathKeys(e);
}

bool TaskFinder::Show(int64_t id) {
    const std::vector<std::string> keys = KeysOf(id);
    return !keys.empty() && control_.ShowTask(keys);
}

uint32_t TaskFinder::RequireEntry(int64_t id, const char* doing) {
    const CatalogueIndex* ix = Index();
    const std::string what = std::string("Cannot ") + doing + " task " + std::to_string(id) + ": ";
    if (!ix) throw RuntimeError(err::kItemNotFound, what + "no catalogue is loaded.");
    const uint32_t e = ix->Find(id);
    if (e == CatalogueIndex::kNoEntry)
        throw RuntimeError(err::kItemNotFound,
                           what + "the loaded catalogue's list bar and tree do not show it.");
    return e;
}

void TaskFinder::Pin(int64_t id) {
    RequireEntry(id, "pin");
    Update([&](TaskHistory& h) { h.Pin(id); });
}

void TaskFinder::Unpin(int64_t id) {
    RequireEntry(id, "unpin");
    Update([&](TaskHistory& h) { h.Unpin(id); });
}

std::vector<TaskFinder::Entry> TaskFinder::Favourites() {
    const CatalogueIndex* ix = Index();
    if (!ix) return {};
    const TaskHistory history = LoadHistory();
    std::vector<Entry> found;
    for (const uint32_t e : ix->FindAll(history.Favourites()))
        if (e != CatalogueIndex::kNoEntry) found.push_back(EntryOf(e));
    return found;
}

std::vector<TaskFinder::Entry> TaskFinder::Recent(size_t limit) {
    const CatalogueIndex* ix = Index();
    if (!ix) return {};
    const TaskHistory history = LoadHistory();
    // Latest first; launches in one second in the order they were made.
    std::vector<Launch> launches(history.Launches().rbegin(), history.Launches().rend());
    std::stable_sort(launches.begin(), launches.end(),
                     [](const Launch& a, const Launch& b) { return a.last > b.last; });
    std::vector<int64_t> ids;
    for (const Launch& l : launches) ids.push_back(l.task);
    const std::vector<uint32_t> entries = ix->FindAll(ids);
    std::vector<Entry> found;
    for (size_t i = 0; i < launches.size() && found.size() < limit; ++i) {
        if (entries[i] == CatalogueIndex::kNoEntry) continue;
        Entry entry = EntryOf(entries[i]);
        entry.count = launches[i].count;
        found.push_back(std::move(entry));
    }
    return found;
}

}  // namespace kevra::search
