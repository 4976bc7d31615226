// A user's favourites and launch history for one catalogue, and the text
// form they are kept in.
//
// Entries are task ids. An id the loaded catalogue does not hold is kept,
// not dropped: catalogues change, and a task that is back after a grant is
// restored or a catalogue is switched back keeps its place. Only two
// bounds take entries away: the history keeps the kMaxLaunches tasks with
// the highest scores, and pinning beyond kMaxFavourites is refused.
//
// A launch score is frequency with decay: each launch adds 1, and the score
// halves every kHalfLife of time since. A task started every day for a
// week scores above one started twice this morning, which scores above one
// started ten times last quarter.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kevra::search {

// Seconds since the epoch.
using Seconds = int64_t;

struct Launch {
    int64_t task = 0;
    int64_t count = 0;  // launches so far
    Seconds last = 0;   // the latest
    double score = 0;   // at `last`
};

class TaskHistory {
  public:
    static constexpr size_t kMaxFavourites = 1000;
    static constexpr size_t kMaxLaunches = 1000;
    static constexpr Seconds kHalfLife = 14 * 24 * 3600;

    // Pinned task ids, in the order pinned.
    const std::vector<int64_t>& Favourites() const { return favourites_; }
    // Launched tasks, the one launched last at the end.
    const std::vector<Launch>& Launches() const { return launches_; }
    bool Empty() const { return favourites_.empty() && launches_.empty(); }

    bool IsPinned(int64_t task) const;
    // Adds the task to the favourites; false when it was there. Raises a
    // RuntimeError (err::kInvalidArgument) when kMaxFavourites are pinned.
    bool Pin(int64_t task);
    // Removes it; false when it was not pinned.
    bool Unpin(int64_t task);

    // Counts a launch at `now`. A clock set back counts as no time passed.
    void RecordLaunch(int64_t task, Seconds now);
    // The launch's score at `now`.
    static double ScoreAt(const Launch& launch, Seconds now);

    // As the text form reads them back: no checks beyond the bounds.
    void AddLoadedFavourite(int64_t task);
    void AddLoadedLaunch(const Launch& launch);

  private:
    std::vector<int64_t> favourites_;
    std::vector<Launch> launches_;
};

// The histories of several catalogues, by catalogue name, as one file
// keeps them (one file per user number and application). A history stays
// where it is while others are added, so references to it stay good.
struct HistoryFile {
    std::deque<std::pair<std::string, TaskHistory>> catalogues;

    TaskHistory* Find(std::string_view catalogue);
    TaskHistory& Get(std::string_view catalogue);  // adds an empty one
};

// The text form:
//   kevra favourites and history 1
//   catalogue "front-office.json"
//   pin 12
//   launch 12 3 1718000000 2.5          task, count, latest (seconds), score
// Catalogue names are JSON string literals; numbers are decimal. A
// catalogue with nothing in it is left out.
std::string WriteHistoryFile(const HistoryFile& file);

// Reads the text form. Raises a RuntimeError (err::kSettingsStore) naming
// `name`, the line and what is wrong with it, for text that is not in it:
// the file is then damaged and must not be replaced unread.
HistoryFile ReadHistoryFile(std::string_view text, const std::string& name);

}  // namespace kevra::search
