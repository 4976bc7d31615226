// The C interface to finding tasks: results as lists the host owns (their
// guards, their buffers), showing an entry as the user would reach it,
// favourites and history kept in files across instances or in memory, and
// a damaged history reported without being replaced.
#include <string>
#include <vector>

#include "abi_test_util.h"

namespace kevra::abi::test {
namespace {

struct Lines {
    std::vector<std::string> lines;
    static void Add(void* user, const char* line) {
        static_cast<Lines*>(user)->lines.push_back(line);
    }
    bool Has(const std::string& line) const {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
};

struct Started {
    std::vector<int> ids;
    static void Add(void* user, int id, const char*, const char*) {
        static_cast<Started*>(user)->ids.push_back(id);
    }
};

// What a host reads out of a list, entry by entry.
struct Listed {
    int id, kind, count;
    std::vector<std::string> path;
    bool operator==(const Listed&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Listed& l) {
    out << l.id << " kind " << l.kind << " count " << l.count << " [";
    for (const auto& p : l.path) out << p << ";";
    return out << "]";
}

std::vector<Listed> Read(kevra_results* results) {
    std::vector<Listed> out;
    unsigned n = 0;
    EXPECT_EQ(kevra_results_count(results, &n), KEVRA_S_OK) << kevra_last_error();
    for (unsigned i = 0; i < n; ++i) {
        kevra_entry e{};
        e.struct_size = sizeof e;
        EXPECT_EQ(kevra_results_entry(results, i, &e), KEVRA_S_OK) << kevra_last_error();
        Listed l{e.id, e.kind, e.count, {}};
        for (unsigned d = 0; d < e.depth; ++d) l.path.push_back(e.path[d]);
        out.push_back(l);
    }
    return out;
}

class SearchApiTest : public ScratchTest {
  protected:
    void TearDown() override {
        if (control_) kevra_control_release(control_);
    }

    kevra_control* Create() {
        kevra_control* c = nullptr;
        EXPECT_EQ(kevra_control_create_headless(Lines::Add, &lines_, nullptr, &c), KEVRA_S_OK)
            << kevra_last_error();
        return c;
    }

    // Two groups; "Rooms & Rates" reads with the list bar's ampersand rule.
    std::string Catalogue() const {
        const fs::path path = root_ / "search.json";
        std::ofstream(path) << R"([
 {"TaskId":1,"TaskParent":0,"TaskDescription":"Front Office","IsLink":false},
 {"TaskId":2,"TaskParent":1,"TaskDescription":"Reservations","IsLink":false},
 {"TaskId":3,"TaskParent":2,"TaskDescription":"New Reservation","IsLink":true,"TaskURL":"app://new","TaskParms":""},
 {"TaskId":4,"TaskParent":2,"TaskDescription":"Reports","IsLink":false},
 {"TaskId":5,"TaskParent":4,"TaskDescription":"Arrivals","IsLink":true,"TaskURL":"app://arr","TaskParms":""},
 {"TaskId":6,"TaskParent":0,"TaskDescription":"Rooms & Rates","IsLink":false},
 {"TaskId":7,"TaskParent":6,"TaskDescription":"Room Status","IsLink":false},
 {"TaskId":8,"TaskParent":7,"TaskDescription":"Inspect Rooms","IsLink":true,"TaskURL":"app://insp","TaskParms":""}
])";
        return path.string();
    }

    void Load(kevra_control* c) {
        ASSERT_EQ(kevra_control_put_MachineName(c, Catalogue().c_str()), KEVRA_S_OK);
        ASSERT_EQ(kevra_control_LoadData(c), KEVRA_S_OK);
    }

    std::vector<Listed> Find(kevra_control* c, const char* text, unsigned limit = 20) {
        kevra_results* results = nullptr;
        EXPECT_EQ(kevra_control_find(c, text, limit, &results), KEVRA_S_OK) << kevra_last_error();
        auto out = Read(results);
        kevra_results_free(results);
        return out;
    }
    std::vector<int> Ids(const std::vector<Listed>& listed) {
        std::vector<int> ids;
        for (const auto& l : listed) ids.push_back(l.id);
        return ids;
    }
    std::vector<int> Favourites(kevra_control* c) {
        kevra_results* results = nullptr;
        EXPECT_EQ(kevra_control_favourites(c, &results), KEVRA_S_OK) << kevra_last_error();
        auto out = Ids(Read(results));
        kevra_results_free(results);
        return out;
    }
    std::vector<Listed> Recent(kevra_control* c, unsigned limit = 20) {
        kevra_results* results = nullptr;
        EXPECT_EQ(kevra_control_recent(c, limit, &results), KEVRA_S_OK) << kevra_last_error();
        auto out = Read(results);
        kevra_results_free(results);
        return out;
    }
    void Launch(kevra_control* c, int id) {
        ASSERT_EQ(kevra_control_show_task(c, id), KEVRA_S_OK) << kevra_last_error();
        ASSERT_EQ(kevra_control_dblclick(c), KEVRA_S_OK) << kevra_last_error();
    }
    fs::path HistoryFile() const { return state_home_ / "kevra" / "history-user0-app0.txt"; }

    Lines lines_;
    kevra_control* control_ = nullptr;
};

TEST_F(SearchApiTest, FindListsEntriesBestFirstWithKindAndPath) {
    control_ = Create();
    EXPECT_TRUE(Find(control_, "room").empty()) << "nothing is loaded yet";
    Load(control_);

    const std::vector<Listed> found = Find(control_, "room");
    ASSERT_EQ(found.size(), 3u);
    // Two captions that start with the query, in catalogue order, then one
    // with a word that does.
    EXPECT_EQ(found[0], (Listed{6, KEVRA_ENTRY_GROUP, 0, {"Rooms and Rates"}}));
    EXPECT_EQ(found[1], (Listed{7, KEVRA_ENTRY_ITEM, 0, {"Rooms and Rates", "Room Status"}}));
    EXPECT_EQ(
        found[2],
        (Listed{8, KEVRA_ENTRY_LINK, 0, {"Rooms and Rates", "Room Status", "Inspect Rooms"}}));
    EXPECT_EQ(Ids(Find(control_, "room", 1)), std::vector<int>{6}) << "the limit holds";
    // The caption itself, then a task below it (its path has the word).
    const std::vector<Listed> reports = Find(control_, "reports");
    EXPECT_EQ(Ids(reports), (std::vector<int>{4, 5}));
    EXPECT_EQ(reports[0].kind, KEVRA_ENTRY_TASK);
    // A near miss: links first, then catalogue order.
    EXPECT_EQ(Ids(Find(control_, "reservaton")), (std::vector<int>{3, 5, 2, 4}));
    EXPECT_TRUE(Find(control_, "").empty());
}

TEST_F(SearchApiTest, AHostSiteFindsAsTheHeadlessOneDoes) {
    kevra_site_callbacks site{};
    site.struct_size = sizeof site;
    ASSERT_EQ(kevra_control_create(&site, nullptr, nullptr, &control_), KEVRA_S_OK);
    Load(control_);
    EXPECT_EQ(Ids(Find(control_, "insp rooms")), std::vector<int>{8});
    ASSERT_EQ(kevra_control_show_task(control_, 8), KEVRA_S_OK) << kevra_last_error();
    Started started;
    ASSERT_EQ(kevra_control_on_StartTask(control_, Started::Add, &started), KEVRA_S_OK);
    ASSERT_EQ(kevra_control_dblclick(control_), KEVRA_S_OK) << kevra_last_error();
    EXPECT_EQ(started.ids, std::vector<int>{8});
}

TEST_F(SearchApiTest, ResultListsOutliveTheInstanceAndRejectMisuse) {
    control_ = Create();
    Load(control_);
    kevra_results* results = nullptr;
    ASSERT_EQ(kevra_control_find(control_, "new", 20, &results), KEVRA_S_OK);
    kevra_control_release(control_);
    control_ = nullptr;
    EXPECT_EQ(Ids(Read(results)), std::vector<int>{3}) << "the list holds copies";

    unsigned n = 7;
    kevra_entry entry{};
    entry.struct_size = sizeof entry;
    EXPECT_EQ(kevra_results_entry(results, 1, &entry), KEVRA_E_INVALIDARG);
    EXPECT_NE(std::string(kevra_last_error()).find("the list holds 1"), std::string::npos)
        << kevra_last_error();
    entry.struct_size = sizeof(unsigned);
    EXPECT_EQ(kevra_results_entry(results, 0, &entry), KEVRA_E_INVALIDARG);
    EXPECT_NE(std::string(kevra_last_error()).find("sizeof(kevra_entry)"), std::string::npos);
    EXPECT_EQ(kevra_results_entry(results, 0, nullptr), KEVRA_E_POINTER);
    EXPECT_EQ(kevra_results_count(results, nullptr), KEVRA_E_POINTER);
    EXPECT_EQ(kevra_results_count(nullptr, &n), KEVRA_E_POINTER);
    EXPECT_EQ(n, 0u);

    kevra_results_free(results);
    EXPECT_EQ(kevra_results_count(results, &n), KEVRA_E_POINTER) << "a freed list";
    EXPECT_NE(std::string(kevra_last_error()).find("was it freed"), std::string::npos);
    kevra_results_free(results);  // twice: ignored, not a double free
    kevra_results_free(nullptr);
    int not_a_list = 0;
    EXPECT_EQ(kevra_results_count(reinterpret_cast<kevra_results*>(&not_a_list), &n),
              KEVRA_E_POINTER);

    // The calls that hand lists out.
    control_ = Create();
    results = reinterpret_cast<kevra_results*>(&not_a_list);
    EXPECT_EQ(kevra_control_find(control_, nullptr, 20, &results), KEVRA_E_POINTER);
    EXPECT_EQ(results, nullptr) << "a failed call leaves no stale list behind";
    EXPECT_EQ(kevra_control_find(control_, "x", 20, nullptr), KEVRA_E_POINTER);
    EXPECT_EQ(kevra_control_favourites(control_, nullptr), KEVRA_E_POINTER);
    EXPECT_EQ(kevra_control_recent(nullptr, 5, &results), KEVRA_E_POINTER);
    EXPECT_EQ(kevra_control_show_task(nullptr, 1), KEVRA_E_POINTER);
    EXPECT_EQ(kevra_control_pin(reinterpret_cast<kevra_control*>(&not_a_list), 1), KEVRA_E_POINTER);

    kevra_control* unsited = nullptr;
    KevraClassFactory* factory = nullptr;
    ASSERT_EQ(DllGetClassObject(&KEVRA_CLSID_ctlKevraTaskList, &KEVRA_IID_IClassFactory,
                                reinterpret_cast<void**>(&factory)),
              KEVRA_S_OK);
    ASSERT_EQ(factory->lpVtbl->CreateInstance(factory, nullptr, &KEVRA_IID_IUnknown,
                                              reinterpret_cast<void**>(&unsited)),
              KEVRA_S_OK);
    factory->lpVtbl->Release(factory);
    EXPECT_EQ(kevra_control_find(unsited, "x", 20, &results), KEVRA_E_NOT_SITED);
    EXPECT_EQ(kevra_control_unpin(unsited, 1), KEVRA_E_NOT_SITED);
    kevra_control_release(unsited);
}

TEST_F(SearchApiTest, APathTextFitsTheBufferOrSaysWhatItNeeds) {
    control_ = Create();
    Load(control_);
    kevra_results* results = nullptr;
    ASSERT_EQ(kevra_control_find(control_, "inspect", 20, &results), KEVRA_S_OK);
    const std::string expected = "Rooms and Rates > Room Status > Inspect Rooms";

    size_t length = 0;
    EXPECT_EQ(kevra_results_path_text(results, 0, nullptr, nullptr, 0, &length), KEVRA_S_OK);
    EXPECT_EQ(length, expected.size()) << "measured";
    std::vector<char> buffer(expected.size() + 1, 'x');
    EXPECT_EQ(kevra_results_path_text(results, 0, nullptr, buffer.data(), buffer.size(), &length),
              KEVRA_S_OK);
    EXPECT_EQ(std::string(buffer.data()), expected);

    EXPECT_EQ(kevra_results_path_text(results, 0, nullptr, buffer.data(), expected.size(), &length),
              KEVRA_E_NOT_SUFFICIENT_BUFFER)
        << "one byte short: no room for the NUL";
    EXPECT_EQ(buffer[0], '\0') << "a short buffer holds \"\", never a cut text";
    EXPECT_EQ(length, expected.size());
    EXPECT_NE(std::string(kevra_last_error()).find("needs " + std::to_string(expected.size() + 1)),
              std::string::npos)
        << kevra_last_error();

    char small[64];
    EXPECT_EQ(kevra_results_path_text(results, 0, "/", small, sizeof small, nullptr), KEVRA_S_OK);
    EXPECT_STREQ(small, "Rooms and Rates/Room Status/Inspect Rooms");
    EXPECT_EQ(kevra_results_path_text(results, 0, "/", nullptr, 8, &length), KEVRA_E_POINTER);
    EXPECT_EQ(kevra_results_path_text(results, 3, "/", small, sizeof small, &length),
              KEVRA_E_INVALIDARG);
    kevra_results_free(results);
}

TEST_F(SearchApiTest, ShowTaskReachesEachKindAsTheUserWouldOrRefuses) {
    control_ = Create();
    Started started;
    ASSERT_EQ(kevra_control_on_StartTask(control_, Started::Add, &started), KEVRA_S_OK);
    EXPECT_EQ(kevra_control_show_task(control_, 3), KEVRA_E_REFUSED);
    EXPECT_NE(std::string(kevra_last_error()).find("list bar is hidden"), std::string::npos)
        << kevra_last_error();
    Load(control_);

    EXPECT_EQ(kevra_control_show_task(control_, 99), KEVRA_E_REFUSED);
    EXPECT_NE(std::string(kevra_last_error()).find("task 99 is not in the loaded catalogue"),
              std::string::npos)
        << kevra_last_error();
    EXPECT_TRUE(
        lines_.Has("refused \"task 99 is not in the loaded catalogue's list bar or tree\""));

    // A group: opened, the item in it can then be clicked by the user.
    ASSERT_EQ(kevra_control_show_task(control_, 6), KEVRA_S_OK) << kevra_last_error();
    EXPECT_EQ(kevra_control_click_item(control_, "X7"), KEVRA_S_OK) << kevra_last_error();
    // A list item of the other group: its tree fills.
    ASSERT_EQ(kevra_control_show_task(control_, 2), KEVRA_S_OK) << kevra_last_error();
    EXPECT_EQ(kevra_control_select_node(control_, "X5"), KEVRA_S_OK) << "in the filled tree";
    // A task two levels down: selected, so a double-click starts it.
    ASSERT_EQ(kevra_control_show_task(control_, 8), KEVRA_S_OK) << kevra_last_error();
    ASSERT_EQ(kevra_control_dblclick(control_), KEVRA_S_OK);
    ASSERT_EQ(kevra_control_show_task(control_, 5), KEVRA_S_OK) << kevra_last_error();
    ASSERT_EQ(kevra_control_dblclick(control_), KEVRA_S_OK);
    EXPECT_EQ(started.ids, (std::vector<int>{8, 5}));
    EXPECT_TRUE(lines_.Has("setting-write \"KevraTaskList\" \"Selected Task\" \"Task\" \"X5\""));
}

TEST_F(SearchApiTest, FavouritesKeepTheirOrderAndRefuseWhatIsNoEntry) {
    control_ = Create();
    EXPECT_EQ(kevra_control_pin(control_, 3), KEVRA_E_REFUSED);
    EXPECT_NE(std::string(kevra_last_error()).find("no catalogue is loaded (call LoadData first)"),
              std::string::npos)
        << kevra_last_error();
    EXPECT_TRUE(Favourites(control_).empty());
    Load(control_);

    ASSERT_EQ(kevra_control_pin(control_, 3), KEVRA_S_OK) << kevra_last_error();
    ASSERT_EQ(kevra_control_pin(control_, 6), KEVRA_S_OK);
    ASSERT_EQ(kevra_control_pin(control_, 3), KEVRA_S_OK) << "twice changes nothing";
    EXPECT_EQ(Favourites(control_), (std::vector<int>{3, 6}));
    ASSERT_EQ(kevra_control_unpin(control_, 3), KEVRA_S_OK);
    ASSERT_EQ(kevra_control_unpin(control_, 3), KEVRA_S_OK);
    EXPECT_EQ(Favourites(control_), std::vector<int>{6});
    EXPECT_EQ(kevra_control_pin(control_, 42), KEVRA_E_REFUSED);
    EXPECT_NE(std::string(kevra_last_error()).find("cannot pin task 42"), std::string::npos);
}

TEST_F(SearchApiTest, HistoryInFilesOutlivesTheInstanceAndMemoryKeepsNothing) {
    control_ = Create();
    Load(control_);
    Launch(control_, 5);
    Launch(control_, 8);
    Launch(control_, 5);
    ASSERT_EQ(kevra_control_pin(control_, 3), KEVRA_S_OK);
    kevra_control_release(control_);
    control_ = nullptr;
    ASSERT_TRUE(fs::exists(HistoryFile())) << "under XDG_STATE_HOME, as kevra-host keeps it";

    kevra_control* again = Create();
    Load(again);
    const std::vector<Listed> recent = Recent(again);
    ASSERT_EQ(recent.size(), 2u);
    EXPECT_EQ(recent[0].id, 5);
    EXPECT_EQ(recent[0].count, 2);
    EXPECT_EQ(recent[0].path,
              (std::vector<std::string>{"Front Office", "Reservations", "Reports", "Arrivals"}));
    EXPECT_EQ(recent[1].id, 8);
    EXPECT_EQ(recent[1].count, 1);
    EXPECT_EQ(Ids(Recent(again, 1)), std::vector<int>{5});
    EXPECT_EQ(Favourites(again), std::vector<int>{3});
    // Within their tier, launches lead: Arrivals before the link above it.
    EXPECT_EQ(Ids(Find(again, "front")), (std::vector<int>{1, 5, 3, 2, 4}));
    kevra_control_release(again);

    const std::string kept = ReadFile(HistoryFile());
    control_ = Create();
    ASSERT_EQ(kevra_control_set_history_store(control_, KEVRA_HISTORY_MEMORY, nullptr), KEVRA_S_OK);
    Load(control_);
    EXPECT_TRUE(Recent(control_).empty());
    Launch(control_, 3);
    ASSERT_EQ(kevra_control_pin(control_, 8), KEVRA_S_OK);
    EXPECT_EQ(Favourites(control_), std::vector<int>{8});
    EXPECT_EQ(Ids(Recent(control_)), std::vector<int>{3});
    EXPECT_EQ(ReadFile(HistoryFile()), kept) << "the memory store wrote nothing";

    const fs::path own = root_ / "own-history";
    ASSERT_EQ(kevra_control_set_history_store(control_, KEVRA_HISTORY_FILES, own.c_str()),
              KEVRA_S_OK);
    ASSERT_EQ(kevra_control_pin(control_, 2), KEVRA_S_OK);
    EXPECT_TRUE(fs::exists(own / "history-user0-app0.txt"));
    EXPECT_EQ(ReadFile(HistoryFile()), kept);
}

TEST_F(SearchApiTest, TheHistoryStoreIsChosenByName) {
    control_ = Create();
    EXPECT_EQ(kevra_control_set_history_store(control_, 2, nullptr), KEVRA_E_INVALIDARG);
    EXPECT_NE(std::string(kevra_last_error()).find("KEVRA_HISTORY_MEMORY"), std::string::npos);
    EXPECT_EQ(kevra_control_set_history_store(control_, KEVRA_HISTORY_MEMORY, "dir"),
              KEVRA_E_INVALIDARG);
    EXPECT_EQ(kevra_control_set_history_store(control_, KEVRA_HISTORY_FILES, ""),
              KEVRA_E_INVALIDARG);
    EXPECT_EQ(kevra_control_set_history_store(nullptr, KEVRA_HISTORY_FILES, nullptr),
              KEVRA_E_POINTER);
    EXPECT_EQ(kevra_control_set_history_store(control_, KEVRA_HISTORY_FILES, nullptr), KEVRA_S_OK);
}

TEST_F(SearchApiTest, ADamagedHistoryIsReportedAndKeptAsItIs) {
    control_ = Create();
    Load(control_);
    fs::create_directories(HistoryFile().parent_path());
    fs::permissions(HistoryFile().parent_path(), fs::perms::owner_all, fs::perm_options::replace);
    std::ofstream(HistoryFile()) << "not a history\n";
    fs::permissions(HistoryFile(), fs::perms::owner_read | fs::perms::owner_write,
                    fs::perm_options::replace);

    kevra_results* results = reinterpret_cast<kevra_results*>(this);
    EXPECT_EQ(kevra_control_favourites(control_, &results), KEVRA_E_FAIL);
    EXPECT_EQ(results, nullptr);
    const std::string reason = kevra_last_error();
    EXPECT_NE(reason.find("history-user0-app0.txt"), std::string::npos) << reason;
    EXPECT_NE(reason.find("line 1"), std::string::npos) << reason;
    EXPECT_EQ(kevra_control_pin(control_, 3), KEVRA_E_FAIL);
    EXPECT_EQ(Ids(Find(control_, "new")), std::vector<int>{3}) << "a search still works";

    char* message = reinterpret_cast<char*>(this);
    EXPECT_EQ(kevra_control_take_history_error(control_, &message), KEVRA_S_FALSE);
    EXPECT_EQ(message, nullptr);
    Launch(control_, 3);
    ASSERT_EQ(kevra_control_take_history_error(control_, &message), KEVRA_S_OK);
    ASSERT_NE(message, nullptr);
    EXPECT_NE(std::string(message).find("could not be kept in the history"), std::string::npos)
        << message;
    kevra_free(message);
    EXPECT_EQ(kevra_control_take_history_error(control_, &message), KEVRA_S_FALSE)
        << "reported once";
    EXPECT_EQ(kevra_control_take_history_error(control_, nullptr), KEVRA_E_POINTER);
    EXPECT_EQ(ReadFile(HistoryFile()), "not a history\n") << "never replaced";

    // Mended, the launch made meanwhile is written with the next change.
    fs::remove(HistoryFile());
    ASSERT_EQ(kevra_control_pin(control_, 6), KEVRA_S_OK) << kevra_last_error();
    const std::vector<Listed> recent = Recent(control_);
    ASSERT_EQ(recent.size(), 1u);
    EXPECT_EQ(recent[0].id, 3);
}

}  // namespace
}  // namespace kevra::abi::test
