// The search as a host drives it: kevra-host's find, show-task, pin,
// unpin, favourites and recent against JSON catalogues, with the history
// in files, across runs of the host, catalogue switches and failures; and
// the user's launches ranking first, older ones weighing less.
#include "search/task_finder.h"

#include <gtest/gtest.h>

#include <map>

#include "control/control_harness.h"
#include "headless/host.h"
#include "search/file_history_store.h"
#include "search/search_test_util.h"
#include "service/task_service.h"

namespace kevra::search {
namespace {

using test::ReadText;
using test::TempDir;
using test::WriteText;

// Housekeeping > Room Status > Inspect Rooms > Inspection Report, and more.
const char* kHotel = R"([
  {"TaskId": 10, "TaskParent": 0, "TaskDescription": "Front Office"},
  {"TaskId": 11, "TaskParent": 10, "TaskDescription": "Reservations"},
  {"TaskId": 111, "TaskParent": 11, "TaskDescription": "New Reservation", "IsLink": true,
   "TaskURL": "https://pms.example/new", "TaskParms": "mode=quick"},
  {"TaskId": 112, "TaskParent": 11, "TaskDescription": "Change Reservation", "IsLink": true,
   "TaskURL": "https://pms.example/change"},
  {"TaskId": 20, "TaskParent": 0, "TaskDescription": "Housekeeping"},
  {"TaskId": 21, "TaskParent": 20, "TaskDescription": "Room Status"},
  {"TaskId": 211, "TaskParent": 21, "TaskDescription": "Inspect Rooms"},
  {"TaskId": 2111, "TaskParent": 211, "TaskDescription": "Inspection Report", "IsLink": true,
   "TaskURL": "https://hk.example/report"},
  {"TaskId": 99, "TaskParent": 77, "TaskDescription": "Orphan", "IsLink": true,
   "TaskURL": "https://nowhere.example"}
])";

const char* kSpa = R"([
  {"TaskId": 50, "TaskParent": 0, "TaskDescription": "Spa"},
  {"TaskId": 51, "TaskParent": 50, "TaskDescription": "Treatments"},
  {"TaskId": 511, "TaskParent": 51, "TaskDescription": "Book Treatment", "IsLink": true,
   "TaskURL": "https://spa.example/book"}
])";

class MapSettings : public SettingsStore {
  public:
    std::string GetSetting(const std::string&, const std::string& section, const std::string& key,
                           const std::string& default_value) override {
        const auto at = values_.find(section + "/" + key);
        return at == values_.end() ? default_value : at->second;
    }
    void SaveSetting(const std::string&, const std::string& section, const std::string& key,
                     const std::string& value) override {
        values_[section + "/" + key] = value;
    }

  private:
    std::map<std::string, std::string> values_;
};

// One run of kevra-host: a host with its history in `state`, catalogues
// in `folder`.
class HostRun {
  public:
    HostRun(const std::string& folder, const std::string& state)
        : folder_(folder), history_(state) {
        service::RegisterTaskService();
        host_ = std::make_unique<host::HeadlessHost>(
            [this](const std::string& line) { lines_.push_back(line); }, settings_, &history_);
    }

    // The lines `script` prints; MachineName values are names in `folder`.
    std::vector<std::string> Run(std::string script) {
        for (size_t at = script.find("@/"); at != std::string::npos; at = script.find("@/"))
            script.replace(at, 2, folder_ + "/");
        std::vector<host::Command> commands;
        host::ParseError error;
        EXPECT_TRUE(host::ParseScript(script, commands, error))
            << "line " << error.line << ": " << error.message;
        lines_.clear();
        host_->RunAll(commands);
        return lines_;
    }

    std::string Dump() { return host_->DumpJson(); }
    FileHistoryStore& History() { return history_; }

  private:
    std::string folder_;
    MapSettings settings_;
    FileHistoryStore history_;
    std::unique_ptr<host::HeadlessHost> host_;
    std::vector<std::string> lines_;
};

using Lines = std::vector<std::string>;

const Lines kBusy = {"pointer 11", "enabled false", "yield", "enabled true", "pointer 0"};

struct Fixture : ::testing::Test {
    Fixture() {
        WriteText(dir.path + "/hotel.json", kHotel);
        WriteText(dir.path + "/spa.json", kSpa);
    }
    std::string State() const { return dir.path + "/state"; }
    TempDir dir;
};

using Finding = Fixture;

TEST_F(Finding, ShowsEachKindOfEntryAsTheUserReachesIt) {
    HostRun host(dir.path, State());
    host.Run("set MachineName @/hotel.json\nload");

    EXPECT_EQ(host.Run("show-task 20"), Lines{});  // a group: opened, nothing printed
    EXPECT_NE(host.Dump().find("\"current\":\"X20\""), std::string::npos);
    EXPECT_NE(host.Dump().find("\"nodes\":[]"), std::string::npos);

    EXPECT_EQ(host.Run("show-task 21"), kBusy);  // an item: clicked, the tree filled
    EXPECT_NE(host.Dump().find("\"selected\":null,\"nodes\":[{\"key\":\"X20\""), std::string::npos);

    EXPECT_EQ(host.Run("show-task 2111"), kBusy);  // a task: selected, ancestors expanded
    const std::string dump = host.Dump();
    EXPECT_NE(dump.find("\"selected\":\"X2111\""), std::string::npos);
    EXPECT_NE(dump.find("{\"key\":\"X211\",\"text\":\"Inspect Rooms\",\"parent\":\"X21\","
                        "\"expanded\":true"),
              std::string::npos);

    // A group of another part of the list bar, then its item's task.
    EXPECT_EQ(host.Run("show-task 112"), kBusy);
    EXPECT_NE(host.Dump().find("\"current\":\"X10\""), std::string::npos);
    EXPECT_NE(host.Dump().find("\"selected\":\"X112\""), std::string::npos);
}

TEST_F(Finding, ShowThenDoubleClickIsTheUsersOwnDoubleClick) {
    HostRun shown(dir.path, State());
    HostRun clicked(dir.path, dir.path + "/other-state");
    const std::string load = "set MachineName @/hotel.json\nload\n";
    shown.Run(load);
    clicked.Run(load);
    const Lines by_search = shown.Run("show-task 2111\ndblclick");
    const Lines by_hand =
        clicked.Run("open-group X20\nclick-item X21\nselect-node X2111\ndblclick");
    EXPECT_EQ(by_search, by_hand);
    EXPECT_NE(std::find(by_search.begin(), by_search.end(),
                        "event StartTask 2111 \"https://hk.example/report\" \"\""),
              by_search.end());
    EXPECT_EQ(shown.Dump(), clicked.Dump());
}

TEST_F(Finding, RefusesWhatTheUserCouldNotReach) {
    HostRun host(dir.path, State());
    EXPECT_EQ(host.Run("find room\nshow-task 21\npin 21\nfavourites\nrecent"),
              (Lines{"found-end 0", "refused \"the list bar is hidden\"",
                     "refused \"no catalogue is loaded\"", "favourites-end 0", "recent-end 0"}));
    host.Run("set MachineName @/hotel.json\nload");
    EXPECT_EQ(host.Run("show-task 99\npin 99\nunpin 4"),
              (Lines{"refused \"task 99 is not in the loaded catalogue's list bar or tree\"",
                     "refused \"task 99 is not in the loaded catalogue's list bar or tree\"",
                     "refused \"task 4 is not in the loaded catalogue's list bar or tree\""}));
    // A failed reload leaves the list bar as it was, but nothing to search.
    const Lines failed = host.Run("set MachineName @/missing.json\nload\nfind room\nshow-task 21");
    ASSERT_GE(failed.size(), 2u);
    EXPECT_EQ(failed[failed.size() - 2], "found-end 0");
    EXPECT_EQ(failed.back(), "refused \"no catalogue is loaded\"");
    host.Run("set MachineName @/hotel.json\nload");
    EXPECT_EQ(host.Run("terminate\nshow-task 21\nfind room"),
              (Lines{"refused \"the control has been terminated\"",
                     "refused \"the control has been terminated\""}));
}

TEST_F(Finding, FavouritesAndHistoryOutliveTheHostAndFollowTheCatalogue) {
    {
        HostRun first(dir.path, State());
        first.Run("set MachineName @/hotel.json\nset UserNumber 7\nset AppId 3\nload");
        EXPECT_EQ(first.Run("pin 2111\npin 11\npin 2111\nshow-task 112\ndblclick"),
                  (Lines{"pointer 11", "enabled false", "yield", "enabled true", "pointer 0",
                         "pointer 11", "enabled false", "yield",
                         "setting-write \"KevraTaskList\" \"Selected Task\" \"Group\" \"\"",
                         "setting-write \"KevraTaskList\" \"Selected Task\" \"ListItem\" \"X11\"",
                         "setting-write \"KevraTaskList\" \"Selected Task\" \"Task\" \"X112\"",
                         "event StartTask 112 \"https://pms.example/change\" \"\"", "enabled true",
                         "pointer 0"}));
    }
    HostRun second(dir.path, State());
    second.Run("set MachineName @/hotel.json\nset UserNumber 7\nset AppId 3\nload");
    const Lines hotel = {
        "favourite 2111 link [\"Housekeeping\",\"Room Status\",\"Inspect Rooms\",\"Inspection "
        "Report\"]",
        "favourite 11 item [\"Front Office\",\"Reservations\"]", "favourites-end 2",
        "recent 112 link [\"Front Office\",\"Reservations\",\"Change Reservation\"] 1",
        "recent-end 1"};
    EXPECT_EQ(second.Run("favourites\nrecent"), hotel);

    // Another catalogue has its own; the first keeps its own meanwhile.
    second.Run("set MachineName @/spa.json\nload");
    EXPECT_EQ(second.Run("favourites\nrecent\npin 511\nfavourites"),
              (Lines{"favourites-end 0", "recent-end 0",
                     "favourite 511 link [\"Spa\",\"Treatments\",\"Book Treatment\"]",
                     "favourites-end 1"}));
    second.Run("set MachineName @/hotel.json\nload");
    EXPECT_EQ(second.Run("favourites\nrecent"), hotel);

    // Another user of the same application has none of it.
    second.Run("set UserNumber 8\nload");
    EXPECT_EQ(second.Run("favourites\nrecent"), (Lines{"favourites-end 0", "recent-end 0"}));
}

TEST_F(Finding, EntriesThatLeaveTheCatalogueAreSkippedNotForgotten) {
    HostRun host(dir.path, State());
    host.Run("set MachineName @/hotel.json\nload\npin 111\npin 2111\nshow-task 111\ndblclick");
    // The grant to task 111 is withdrawn for a while.
    std::string without = kHotel;
    const size_t at = without.find("  {\"TaskId\": 111,");
    without.erase(at, without.find("  {\"TaskId\": 112,") - at);
    WriteText(dir.path + "/hotel.json", without);
    host.Run("load");
    EXPECT_EQ(host.Run("favourites\nrecent\nunpin 111"),
              (Lines{"favourite 2111 link [\"Housekeeping\",\"Room Status\",\"Inspect Rooms\","
                     "\"Inspection Report\"]",
                     "favourites-end 1", "recent-end 0",
                     "refused \"task 111 is not in the loaded catalogue's list bar or tree\""}));
    host.Run("pin 21");
    WriteText(dir.path + "/hotel.json", kHotel);
    host.Run("load");
    const Lines back = host.Run("favourites\nrecent");
    EXPECT_EQ(back.front(),
              "favourite 111 link [\"Front Office\",\"Reservations\",\"New Reservation\"]");
    EXPECT_EQ(back[3], "favourites-end 3");
    EXPECT_EQ(back[4], "recent 111 link [\"Front Office\",\"Reservations\",\"New Reservation\"] 1");
}

TEST_F(Finding, TheHistoryIsTheOneOfTheContextThatWasLoaded) {
    HostRun host(dir.path, State());
    host.Run("set MachineName @/hotel.json\nset UserNumber 1\nload");
    // Properties take effect at the next load: the launch is still user 1's.
    host.Run("set UserNumber 2\nset MachineName @/spa.json\nshow-task 111\ndblclick");
    const HistoryKey user1{1, 0, dir.path + "/hotel.json"};
    ASSERT_EQ(host.History().Load(user1).Launches().size(), 1u);
    EXPECT_EQ(host.History().Load(user1).Launches()[0].task, 111);
    EXPECT_TRUE(host.History().Load({2, 0, dir.path + "/spa.json"}).Empty());
}

TEST_F(Finding, ADamagedHistoryNeitherStopsALaunchNorLosesIt) {
    HostRun host(dir.path, State());
    host.Run("set MachineName @/hotel.json\nload\npin 21");
    const std::string file = host.History().FilePath(0, 0);
    const std::string damaged = "kevra favourites and history 1\npin 21\n";
    WriteText(file, damaged);

    HostRun clean(dir.path, dir.path + "/clean-state");
    clean.Run("set MachineName @/hotel.json\nload");
    const std::string launch = "show-task 111\ndblclick";
    EXPECT_EQ(host.Run(launch), clean.Run(launch));  // the launch is the same
    EXPECT_EQ(ReadText(file), damaged);              // the file is untouched

    const Lines reported = host.Run("recent");
    ASSERT_EQ(reported.size(), 3u);
    EXPECT_EQ(reported[0].rfind("refused \"a launch could not be kept in the history: The "
                                "favourites and history file",
                                0),
              0u)
        << reported[0];
    EXPECT_NE(reported[1].find("is damaged at line 2: \\\"pin\\\" comes before any catalogue"),
              std::string::npos)
        << reported[1];
    EXPECT_EQ(reported[2], "recent-end 0");
    // Search still works, ranking without the history.
    EXPECT_EQ(host.Run("find \"new res\"").back(), "found-end 1");

    // Once the file is mended, the launch kept meanwhile is written.
    WriteText(file, "kevra favourites and history 1\n");
    EXPECT_EQ(host.Run("recent"),
              (Lines{"recent 111 link [\"Front Office\",\"Reservations\",\"New Reservation\"] 1",
                     "recent-end 1"}));
}

TEST_F(Finding, FindsAndRanksWithTheUsersLaunchesFirst) {
    HostRun host(dir.path, State());
    host.Run("set MachineName @/hotel.json\nload");
    const std::string item = "found 11 item [\"Front Office\",\"Reservations\"]";
    const std::string made =
        "found 111 link [\"Front Office\",\"Reservations\",\"New Reservation\"]";
    const std::string changed =
        "found 112 link [\"Front Office\",\"Reservations\",\"Change Reservation\"]";
    // The caption that starts with the query, then those with a word that does.
    EXPECT_EQ(host.Run("find reservation"), (Lines{item, made, changed, "found-end 3"}));
    host.Run("show-task 112\ndblclick");
    // The launched task leads its tier, not the tier above.
    EXPECT_EQ(host.Run("find reservation"), (Lines{item, changed, made, "found-end 3"}));
    EXPECT_EQ(host.Run("find reservation 2"), (Lines{item, changed, "found-end 2"}));
}

// The finder on a control, with a clock the test sets.
TEST(FinderClock, OlderLaunchesWeighLessThanRecentOnes) {
    kevra::testing::Harness h;
    MemoryHistoryStore store;
    Seconds now = 1'750'000'000;
    TaskFinder finder(*h.control, store, [&] { return now; });
    h.Load({{1, 0, "Reports"},
            {2, 1, "Night"},
            {3, 2, "Print Audit", Variant::Boolean(true), "u3"},
            {4, 2, "Print Folio", Variant::Boolean(true), "u4"}});
    const auto launch = [&](const std::string& key) {
        h.control->ShowTask({"X1", "X2", key});
        h.control->sstreeTaskList().UserDblClick();
    };
    for (int i = 0; i < 5; ++i) launch("X3");  // often, two months ago
    now += 60 * 24 * 3600;
    launch("X4");  // once, today
    const auto first = [&] { return finder.Find("print", 1).at(0).id; };
    EXPECT_EQ(first(), 4);
    launch("X3");  // and today as well: 5 old launches and one new beat one
    EXPECT_EQ(first(), 3);
    EXPECT_EQ(h.events.size(), 7u);
}

}  // namespace
}  // namespace kevra::search
