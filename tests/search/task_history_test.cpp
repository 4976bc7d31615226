// Favourites and launch history: the scores that rank a user's tasks, the
// bounds, the text form, and the files that keep them across runs, users,
// applications and catalogues, refusing what is not safe to read or write.
#include "search/task_history.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/error.h"
#include "search/file_history_store.h"
#include "search/search_test_util.h"

namespace kevra::search {
namespace {

using test::ReadText;
using test::TempDir;
using test::WriteText;

constexpr Seconds kDay = 24 * 3600;
constexpr Seconds kNow = 1'750'000'000;

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const RuntimeError& e) {
        return std::to_string(e.Number()) + " " + e.Description();
    }
    return "no error";
}

TEST(LaunchScores, FavourTasksStartedOftenAndLately) {
    TaskHistory h;
    for (int d = 6; d >= 0; --d) h.RecordLaunch(1, kNow - d * kDay);  // daily this week
    h.RecordLaunch(2, kNow - 3600);                                   // twice this morning
    h.RecordLaunch(2, kNow - 1800);
    for (int i = 0; i < 10; ++i) h.RecordLaunch(3, kNow - 90 * kDay);  // often, long ago
    const auto score = [&](int64_t task) {
        for (const Launch& l : h.Launches())
            if (l.task == task) return TaskHistory::ScoreAt(l, kNow);
        return -1.0;
    };
    EXPECT_GT(score(1), score(2));
    EXPECT_GT(score(2), score(3));
    // A launch is worth half as much a half-life later.
    TaskHistory one;
    one.RecordLaunch(9, kNow);
    EXPECT_DOUBLE_EQ(TaskHistory::ScoreAt(one.Launches()[0], kNow + TaskHistory::kHalfLife), 0.5);
}

TEST(LaunchScores, CountEveryLaunchAndSurviveAClockSetBack) {
    TaskHistory h;
    h.RecordLaunch(5, kNow);
    h.RecordLaunch(5, kNow - kDay);  // the clock went back a day
    ASSERT_EQ(h.Launches().size(), 1u);
    EXPECT_EQ(h.Launches()[0].count, 2);
    EXPECT_EQ(h.Launches()[0].last, kNow);
    EXPECT_DOUBLE_EQ(h.Launches()[0].score, 2.0);
}

bool Has(const TaskHistory& h, int64_t task) {
    for (const Launch& l : h.Launches())
        if (l.task == task) return true;
    return false;
}

TEST(LaunchScores, AFullHistoryDropsItsWeakestButNeverTheNewLaunch) {
    const auto max = static_cast<int64_t>(TaskHistory::kMaxLaunches);
    TaskHistory h;
    h.RecordLaunch(0, kNow - 400 * kDay);  // once, long ago: the weakest
    for (int64_t t = 1; t < max; ++t) h.RecordLaunch(t, kNow);
    h.RecordLaunch(5000, kNow);
    EXPECT_EQ(h.Launches().size(), TaskHistory::kMaxLaunches);
    EXPECT_FALSE(Has(h, 0));
    EXPECT_TRUE(Has(h, 5000));

    TaskHistory strong;
    for (int64_t t = 0; t < max; ++t) {
        strong.RecordLaunch(t, kNow);
        strong.RecordLaunch(t, kNow);  // every one scores 2, the new one will score 1
    }
    strong.RecordLaunch(5000, kNow);
    EXPECT_EQ(strong.Launches().size(), TaskHistory::kMaxLaunches);
    EXPECT_TRUE(Has(strong, 5000));
}

TEST(Favourites, PinTwiceOrUnpinWhatIsNotPinnedChangesNothing) {
    TaskHistory h;
    EXPECT_TRUE(h.Pin(3));
    EXPECT_TRUE(h.Pin(1));
    EXPECT_FALSE(h.Pin(3));
    EXPECT_EQ(h.Favourites(), (std::vector<int64_t>{3, 1}));
    EXPECT_FALSE(h.Unpin(2));
    EXPECT_TRUE(h.Unpin(3));
    EXPECT_EQ(h.Favourites(), (std::vector<int64_t>{1}));
    for (int64_t t = 100; h.Favourites().size() < TaskHistory::kMaxFavourites; ++t) h.Pin(t);
    EXPECT_EQ(ErrorOf([&] { h.Pin(7); }),
              "5 Cannot pin task 7: 1000 tasks of this catalogue are pinned, the most the "
              "favourites keep. Unpin one first.");
}

TEST(HistoryText, ReadsBackWhatItWrote) {
    HistoryFile file;
    TaskHistory& a = file.Get("hotel.json");
    a.Pin(12);
    a.Pin(-3);
    a.RecordLaunch(12, kNow);
    a.RecordLaunch(12, kNow + 3600);
    a.RecordLaunch(40, kNow);
    file.Get("other \"quoted\"\ncatalogue").Pin(1);
    file.Get("empty");
    const std::string text = WriteHistoryFile(file);
    EXPECT_EQ(text.find("empty"), std::string::npos);  // nothing in it: left out
    const HistoryFile back = ReadHistoryFile(text, "h.txt");
    ASSERT_EQ(back.catalogues.size(), 2u);
    const TaskHistory& b = back.catalogues[0].second;
    EXPECT_EQ(back.catalogues[0].first, "hotel.json");
    EXPECT_EQ(b.Favourites(), (std::vector<int64_t>{12, -3}));
    ASSERT_EQ(b.Launches().size(), 2u);
    EXPECT_EQ(b.Launches()[0].task, 12);
    EXPECT_EQ(b.Launches()[0].count, 2);
    EXPECT_EQ(b.Launches()[0].last, kNow + 3600);
    EXPECT_DOUBLE_EQ(b.Launches()[0].score, a.Launches()[0].score);
    EXPECT_EQ(back.catalogues[1].first, "other \"quoted\"\ncatalogue");
    EXPECT_EQ(ReadHistoryFile("", "h.txt").catalogues.size(), 0u);
}

TEST(HistoryText, ADamagedFileNamesItsLine) {
    const std::string head = "kevra favourites and history 1\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"favourites\n", "does not start with"},
        {head + "pin 3\n", "at line 2: \"pin\" comes before any catalogue"},
        {head + "catalogue hotel.json\n", "at line 2: the catalogue name is not a JSON string"},
        {head + "catalogue \"a\"\npin x3\n", "at line 3: the task id \"x3\" is not a whole number"},
        {head + "catalogue \"a\"\nlaunch 3 0 1 1\n",
         "at line 3: a launch count must be at least 1"},
        {head + "catalogue \"a\"\nlaunch 3 1 1\n", "at line 3: the score is missing"},
        {head + "catalogue \"a\"\nlaunch 3 1 1 nan\n", "at line 3: a score must be a number"},
        {head + "catalogue \"a\"\npin 3 4\n", "at line 3: it has more on it than its numbers"},
        {head + "catalogue \"a\"\ncatalogue \"a\"\n", "at line 3: the catalogue is named twice"},
        {head + "recent 3\n", "at line 2: \"recent\" is not a line of this file"},
    };
    for (const auto& [text, why] : cases) {
        const std::string error = ErrorOf([&] { ReadHistoryFile(text, "/s/h.txt"); });
        EXPECT_EQ(error.rfind("35700 The favourites and history file \"/s/h.txt\" is damaged", 0),
                  0u)
            << error;
        EXPECT_NE(error.find(why), std::string::npos) << error;
        EXPECT_NE(error.find("It is left as it is: mend it, or move it away to start afresh."),
                  std::string::npos)
            << error;
    }
}

HistoryKey Key(std::string catalogue, int32_t user = 7, int32_t app = 3) {
    return HistoryKey{user, app, std::move(catalogue)};
}

TEST(HistoryFiles, KeepEachUserAppAndCatalogueApartAcrossRuns) {
    TempDir t;
    const std::string dir = t.path + "/state/kevra";
    {
        FileHistoryStore store(dir);
        store.Update(Key("hotel.json"), [](TaskHistory& h) { h.Pin(12); });
        store.Update(Key("spa.json"), [](TaskHistory& h) { h.RecordLaunch(5, kNow); });
        store.Update(Key("hotel.json", 8), [](TaskHistory& h) { h.Pin(99); });
        store.Update(Key("hotel.json", 7, 4), [](TaskHistory& h) { h.Pin(98); });
    }
    FileHistoryStore store(dir);  // a later run
    EXPECT_EQ(store.Load(Key("hotel.json")).Favourites(), (std::vector<int64_t>{12}));
    EXPECT_EQ(store.Load(Key("spa.json")).Launches().size(), 1u);
    EXPECT_TRUE(store.Load(Key("spa.json")).Favourites().empty());
    EXPECT_EQ(store.Load(Key("hotel.json", 8)).Favourites(), (std::vector<int64_t>{99}));
    EXPECT_EQ(store.Load(Key("hotel.json", 7, 4)).Favourites(), (std::vector<int64_t>{98}));
    EXPECT_TRUE(store.Load(Key("unknown.json")).Empty());
    EXPECT_EQ(store.FilePath(7, 3), dir + "/history-user7-app3.txt");
}

TEST(HistoryFiles, AreOwnerOnlyAndCreatedOnlyWhenThereIsSomethingToKeep) {
    TempDir t;
    const mode_t old_umask = ::umask(0);
    FileHistoryStore store(t.path + "/state/kevra");
    EXPECT_TRUE(store.Load(Key("a")).Empty());
    EXPECT_FALSE(std::filesystem::exists(t.path + "/state"));  // reading creates nothing
    store.Update(Key("a"), [](TaskHistory& h) { h.Unpin(1); });
    EXPECT_FALSE(std::filesystem::exists(store.FilePath(7, 3)));
    store.Update(Key("a"), [](TaskHistory& h) { h.Pin(1); });
    ::umask(old_umask);
    struct stat st {};
    ASSERT_EQ(::stat((t.path + "/state/kevra").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    ASSERT_EQ(::stat(store.FilePath(7, 3).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST(HistoryFiles, ADamagedFileIsReportedAndNeverReplaced) {
    TempDir t;
    FileHistoryStore store(t.path);
    const std::string damaged =
        "kevra favourites and history 1\ncatalogue \"a\"\npin 1\nlaunch 2 1 oops 1\n";
    WriteText(store.FilePath(7, 3), damaged);
    const std::string path = "\"" + store.FilePath(7, 3) + "\"";
    EXPECT_EQ(ErrorOf([&] { store.Load(Key("a")); }),
              "35700 The favourites and history file " + path +
                  " is damaged at line 4: the time \"oops\" is not a whole number. It is left as "
                  "it is: mend it, or move it away to start afresh.");
    EXPECT_NE(ErrorOf([&] { store.Update(Key("b"), [](TaskHistory& h) { h.Pin(5); }); }),
              "no error");
    EXPECT_EQ(ReadText(store.FilePath(7, 3)), damaged);
}

TEST(HistoryFiles, RefuseAFolderOthersCanWriteAndLinksInIt) {
    TempDir t;
    const std::string dir = t.path + "/kevra";
    FileHistoryStore store(dir);
    store.Update(Key("a"), [](TaskHistory& h) { h.Pin(1); });
    ::chmod(dir.c_str(), 0777);
    EXPECT_NE(ErrorOf([&] { store.Load(Key("a")); })
                  .find("The history directory \"" + dir +
                        "\" can be written by other users (mode 0777), who could change the "
                        "favourites and history in it. Make it private with chmod 700"),
              std::string::npos);
    EXPECT_NE(ErrorOf([&] { store.Update(Key("a"), [](TaskHistory&) {}); }), "no error");
    ::chmod(dir.c_str(), 0700);

    const std::string file = store.FilePath(7, 3);
    std::filesystem::rename(file, t.path + "/elsewhere.txt");
    std::filesystem::create_symlink(t.path + "/elsewhere.txt", file);
    EXPECT_NE(ErrorOf([&] {
                  store.Load(Key("a"));
              }).find("is a symbolic link, which the store does not follow"),
              std::string::npos);
}

TEST(HistoryFiles, WaitForAnotherWritersLockOnlySoLong) {
    TempDir t;
    FileHistoryStore store(t.path, std::chrono::milliseconds(200));
    store.Update(Key("a"), [](TaskHistory& h) { h.Pin(1); });
    const std::string lock_path = store.FilePath(7, 3) + ".lock";
    const int held = ::open(lock_path.c_str(), O_RDWR);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    EXPECT_EQ(ErrorOf([&] { store.Update(Key("a"), [](TaskHistory& h) { h.Pin(2); }); }),
              "35700 Cannot save the favourites and history to \"" + store.FilePath(7, 3) +
                  "\": another program holds its lock file \"" + lock_path +
                  "\" and did not release it within 200 ms. Close the program that holds it and "
                  "try again.");
    // Reading takes no lock.
    EXPECT_EQ(store.Load(Key("a")).Favourites(), (std::vector<int64_t>{1}));
    ::close(held);
    store.Update(Key("a"), [](TaskHistory& h) { h.Pin(2); });
    EXPECT_EQ(store.Load(Key("a")).Favourites(), (std::vector<int64_t>{1, 2}));
}

TEST(HistoryFiles, ChangesOfAnotherProcessAreKept) {
    TempDir t;
    FileHistoryStore mine(t.path), theirs(t.path);
    mine.Update(Key("a"), [](TaskHistory& h) { h.Pin(1); });
    theirs.Update(Key("a"), [](TaskHistory& h) { h.Pin(2); });
    const TaskHistory after = mine.Update(Key("a"), [](TaskHistory& h) { h.Pin(3); });
    EXPECT_EQ(after.Favourites(), (std::vector<int64_t>{1, 2, 3}));
}

TEST(HistoryFiles, DefaultFolderFollowsTheXdgRules) {
    const char* old_state = std::getenv("XDG_STATE_HOME");
    const char* old_home = std::getenv("HOME");
    const std::string saved_state = old_state ? old_state : "",
                      saved_home = old_home ? old_home : "";
    ::setenv("XDG_STATE_HOME", "/st", 1);
    EXPECT_EQ(FileHistoryStore::DefaultDirectory(), "/st/kevra");
    ::setenv("XDG_STATE_HOME", "relative", 1);  // ignored
    ::setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(FileHistoryStore::DefaultDirectory(), "/home/someone/.local/state/kevra");
    ::unsetenv("XDG_STATE_HOME");
    EXPECT_EQ(FileHistoryStore::DefaultDirectory(), "/home/someone/.local/state/kevra");
    if (old_state) ::setenv("XDG_STATE_HOME", saved_state.c_str(), 1);
    if (old_home) ::setenv("HOME", saved_home.c_str(), 1);
}

}  // namespace
}  // namespace kevra::search
