// The catalogue index: which rows become entries and in what order, how
// captions are folded, and the ranking of results: each tier, accents,
// typos, the order within a tier. A randomised comparison holds the
// index's candidate sets and bit sets to a plain reading of the rules.
#include "search/catalogue_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "platform/error.h"
#include "platform/faults.h"
#include "search/search_test_util.h"
#include "search/text_fold.h"

namespace kevra::search {
namespace {

using test::Catalogue;
using test::TaskRow;

std::unique_ptr<CatalogueIndex> IndexOf(const std::vector<TaskRow>& rows) {
    return CatalogueIndex::Build(*Catalogue(rows));
}

// The ids of the results, in order.
std::vector<int64_t> Ids(const CatalogueIndex& ix, const std::vector<uint32_t>& entries) {
    std::vector<int64_t> ids;
    for (const uint32_t e : entries) ids.push_back(ix.Id(e));
    return ids;
}

std::vector<int64_t> Find(const CatalogueIndex& ix, std::string_view query, size_t limit = 50,
                          const std::vector<CatalogueIndex::Boost>& boosts = {}) {
    return Ids(ix, ix.Search(query, limit, boosts));
}

using Ids64 = std::vector<int64_t>;

TEST(TextFold, LettersLoseCaseAndAccents) {
    EXPECT_EQ(FoldText("Café"), "cafe");
    EXPECT_EQ(FoldText("Straße"), "strasse");
    EXPECT_EQ(FoldText("STRASSE"), "strasse");
    EXPECT_EQ(FoldText("Œuvre Ærø Þorn"), "oeuvre aero thorn");
    EXPECT_EQ(FoldText("Łódź Şişli Ţara Ðiện"), "lodz sisli tara dien");
    EXPECT_EQ(FoldText("Cafe\xCC\x81"), "cafe");  // e and a combining acute
    EXPECT_EQ(FoldText("ΆΛΦΑ"), "αλφα");
    EXPECT_EQ(FoldText("ПРИВЁТ"), "привет");
    EXPECT_EQ(FoldText("ＡＢｃ"), "abc");
}

TEST(TextFold, BlanksAndSymbolsBecomeOneSpace) {
    EXPECT_EQ(FoldText("  Rooms \t&\n Rates  "), "rooms & rates");
    EXPECT_EQ(FoldText("Front\xC2\xA0Office"), "front office");        // no-break space
    EXPECT_EQ(FoldText("Night \xE2\x80\x93 Audit"), "night - audit");  // en dash
    EXPECT_EQ(FoldText("\xC2\xA9 Reports"), "reports");
    EXPECT_EQ(FoldText("   "), "");
}

TEST(TextFold, InvalidBytesPassUnchanged) {
    EXPECT_EQ(FoldText("A\xFF"
                       "B"),
              "a\xFF"
              "b");
    EXPECT_EQ(FoldText("\xC3"), "\xC3");  // a sequence cut short
}

// Housekeeping > Room Status > Inspect Rooms, and what is not shown.
std::vector<TaskRow> Hotel() {
    return {
        {1, 0, "Housekeeping"},
        {2, 1, "Room Status"},
        {3, 2, "Inspect Rooms", true},
        {4, 3, "Inspection Report"},
        {5, 2, "Assign Rooms", true},
        {6, 1, " Linen & Laundry "},
        {7, 6, "Wash & Fold"},
        {10, 0, "Front Office"},
        {11, 10, "Reservations"},
        {12, 11, "New Reservation", true},
        {13, 11, "Café Bookings", true},
        {20, 99, "Orphan"},  // a parent no row has
        {21, 20, "Orphan Child"},
        {22, 1, Variant::Null()},  // a list item the list bar could not build
    };
}

TEST(IndexEntries, AreTheReachableRowsInTreeOrder) {
    const auto ix = IndexOf(Hotel());
    Ids64 ids;
    std::vector<EntryKind> kinds;
    for (uint32_t e = 0; e < ix->EntryCount(); ++e) {
        ids.push_back(ix->Id(e));
        kinds.push_back(ix->Kind(e));
    }
    EXPECT_EQ(ids, (Ids64{1, 2, 3, 4, 5, 6, 7, 10, 11, 12, 13}));
    using K = EntryKind;
    EXPECT_EQ(kinds, (std::vector<K>{K::group, K::item, K::link, K::task, K::link, K::item, K::task,
                                     K::group, K::item, K::link, K::link}));
    const uint32_t inspect = ix->Find(4);
    EXPECT_EQ(ix->Path(inspect), (std::vector<std::string>{"Housekeeping", "Room Status",
                                                           "Inspect Rooms", "Inspection Report"}));
    EXPECT_EQ(ix->PathKeys(inspect), (std::vector<std::string>{"X1", "X2", "X3", "X4"}));
    EXPECT_EQ(ix->Find(20), CatalogueIndex::kNoEntry);
    EXPECT_EQ(ix->FindAll({13, 99, 1, 13}),
              (std::vector<uint32_t>{ix->Find(13), CatalogueIndex::kNoEntry, 0, ix->Find(13)}));
}

TEST(IndexEntries, SparseAndWideIdsAreWalkedAsNarrowOnes) {
    // Ids far apart (and beyond 32 bits) take the hash table instead of
    // the array; the walk must not tell the difference.
    std::vector<TaskRow> rows = Hotel();
    const auto widen = [](const Variant& v) {
        return v.IsNull() ? v : Variant(v.ToInt64() * int64_t{1000000007});
    };
    for (TaskRow& r : rows) {
        r.id = widen(r.id);
        r.parent = widen(r.parent);
    }
    const auto narrow = IndexOf(Hotel());
    const auto wide = IndexOf(rows);
    ASSERT_EQ(wide->EntryCount(), narrow->EntryCount());
    for (uint32_t e = 0; e < wide->EntryCount(); ++e) {
        EXPECT_EQ(wide->Id(e), narrow->Id(e) * 1000000007);
        EXPECT_EQ(wide->Kind(e), narrow->Kind(e));
        EXPECT_EQ(wide->Path(e), narrow->Path(e));
    }
    EXPECT_EQ(wide->Find(int64_t{4} * 1000000007), narrow->Find(4));
}

TEST(IndexEntries, ListBarCaptionsTakeTheAmpersandRuleAndTreeCaptionsKeepIt) {
    const auto ix = IndexOf(Hotel());
    EXPECT_EQ(ix->Caption(ix->Find(6)), "Linen and Laundry");
    EXPECT_EQ(ix->Caption(ix->Find(7)), "Wash & Fold");
    EXPECT_EQ(Find(*ix, "linen and"), (Ids64{6, 7}));
    EXPECT_EQ(Find(*ix, "wash & fold"), (Ids64{7}));
}

TEST(IndexEntries, ATreeEndsWhereTheFillWouldStop) {
    const auto ix = IndexOf({
        {1, 0, "Group"},
        {2, 1, "Item"},
        {3, 2, "First"},
        {4, 3, "First Child"},
        {5, 2, Variant::Null()},  // the fill fails here...
        {6, 2, "After"},          // ...and shows nothing after it
        {7, 1, "Other Item"},
        {8, 7, "Shown"},
        {9, 7, "Repeats the group's key"},
        {1, 7, "Group again"},  // a key the tree holds: the fill fails
        {10, 7, "Never"},
    });
    Ids64 ids;
    for (uint32_t e = 0; e < ix->EntryCount(); ++e) ids.push_back(ix->Id(e));
    EXPECT_EQ(ids, (Ids64{1, 2, 3, 4, 7, 8, 9}));
}

TEST(IndexEntries, ACycleOfRepeatedIdsEnds) {
    const auto ix = IndexOf({
        {5, 0, "Group"},
        {7, 5, "Item"},
        {5, 7, "Loops back"},  // id 5 again: its children are the item
    });
    Ids64 ids;
    for (uint32_t e = 0; e < ix->EntryCount(); ++e) ids.push_back(ix->Id(e));
    EXPECT_EQ(ids, (Ids64{5, 7}));
}

TEST(IndexEntries, WithoutIsLinkOnlyTheListBarIsReachable) {
    TableBuilder b({"TaskId", "TaskParent", "TaskDescription"});
    b.AddRow({1, 0, "Group"});
    b.AddRow({2, 1, "Item"});
    b.AddRow({3, 2, "Task"});
    const auto ix = CatalogueIndex::Build(*Recordset::Open(b.Build()));
    EXPECT_EQ(ix->EntryCount(), 2u);
}

TEST(IndexEntries, ReadAllRowsAndLeaveTheRecordSetAsItWas) {
    const RecordsetRef tasks = Catalogue(Hotel());
    tasks->Filter("TaskId=12");
    const auto ix = CatalogueIndex::Build(*tasks);
    EXPECT_EQ(ix->EntryCount(), 11u);
    EXPECT_EQ(tasks->Filter(), "TaskId=12");
    EXPECT_EQ(tasks->RecordCount(), 1);
}

TEST(IndexEntries, ReadingTheRowsMeetsNoFaultAimedAtTheControl) {
    const RecordsetRef tasks = Catalogue(Hotel());
    faults::Arm("Fields", 1, 3265, "armed for the control");
    faults::Arm("MoveNext", 2, 3021, "armed for the control");
    const auto ix = CatalogueIndex::Build(*tasks);
    EXPECT_EQ(ix->EntryCount(), 11u);
    // Both are still armed, counting from where they were.
    EXPECT_THROW(tasks->Fields("TaskId"), RuntimeError);
    tasks->MoveNext();
    EXPECT_THROW(tasks->MoveNext(), RuntimeError);
    faults::Reset();
}

// One caption per tier for the query "room", each in its own group.
std::vector<TaskRow> Tiers() {
    return {
        {1, 0, "Guests"},      {2, 1, "Backroom"},  // 3: contains
        {3, 1, "Clean Room"},                       // 2: a word starts with it
        {4, 1, "Rooms"},                            // 1: starts with it
        {5, 1, "Room"},                             // 0: is it
        {6, 0, "Roomservice"},                      // 1
        {7, 6, "Orders"},                           // 4: in the path only
        {8, 1, "Rooom Plans"},                      // nothing: "room" has no typo forgiven
    };
}

TEST(Ranking, TiersComeBestFirst) {
    const auto ix = IndexOf(Tiers());
    EXPECT_EQ(Find(*ix, "room"), (Ids64{5, 4, 6, 3, 2, 7}));
    EXPECT_EQ(Find(*ix, "ROOM"), (Ids64{5, 4, 6, 3, 2, 7}));
    EXPECT_EQ(Find(*ix, "room", 3), (Ids64{5, 4, 6}));
    EXPECT_EQ(Find(*ix, "room", 0), Ids64{});
    EXPECT_EQ(Find(*ix, "   "), Ids64{});
    EXPECT_EQ(Find(*ix, "kitchen"), Ids64{});
}

TEST(Ranking, EveryQueryWordStartsAWordOfThePath) {
    const auto ix = IndexOf(Hotel());
    EXPECT_EQ(Find(*ix, "room insp"), (Ids64{3, 4}));
    EXPECT_EQ(Find(*ix, "house insp rep"), (Ids64{4}));
    EXPECT_EQ(Find(*ix, "insp house"), (Ids64{3, 4}));
    EXPECT_EQ(Find(*ix, "oom insp"), Ids64{});  // "oom" starts no word
}

TEST(Ranking, AQueryOfSeveralWordsIsMatchedAsTyped) {
    const auto ix = IndexOf(Hotel());
    // Caption is it, starts with it, has it at a word start, contains it.
    EXPECT_EQ(Find(*ix, "inspect rooms"), (Ids64{3, 4}));
    EXPECT_EQ(Find(*ix, "room status"), (Ids64{2, 3, 5, 4}));
    EXPECT_EQ(Find(*ix, "m stat"), (Ids64{2}));
}

TEST(Ranking, AccentsAndLetterCaseDoNotCount) {
    const auto ix = IndexOf(
        {{1, 0, "Front"}, {2, 1, "Café"}, {3, 1, "STRASSE"}, {4, 1, "Straße"}, {5, 1, "cafe"}});
    EXPECT_EQ(Find(*ix, "cafe"), (Ids64{2, 5}));
    EXPECT_EQ(Find(*ix, "CAFÉ"), (Ids64{2, 5}));
    EXPECT_EQ(Find(*ix, "strasse"), (Ids64{3, 4}));
    EXPECT_EQ(Find(*ix, "straße"), (Ids64{3, 4}));
}

TEST(Ranking, NearMissesForgiveOneTypoFromFiveLettersAndTwoFromNine) {
    const auto ix =
        IndexOf({{1, 0, "Front Office"}, {2, 1, "Reservations"}, {3, 1, "House"}, {4, 1, "Room"}});
    EXPECT_EQ(Find(*ix, "reservaton"), (Ids64{2}));   // a letter dropped
    EXPECT_EQ(Find(*ix, "resrevation"), (Ids64{2}));  // two letters swapped
    EXPECT_EQ(Find(*ix, "resrvatoin"), (Ids64{2}));   // two typos, ten letters
    EXPECT_EQ(Find(*ix, "rezrvatoin"), Ids64{});      // three
    EXPECT_EQ(Find(*ix, "resevr"), (Ids64{2}));       // one swap, six letters
    EXPECT_EQ(Find(*ix, "rasevr"), Ids64{});          // a swap and a change
    EXPECT_EQ(Find(*ix, "houze"), (Ids64{3}));
    EXPECT_EQ(Find(*ix, "hoxze"), Ids64{});
    EXPECT_EQ(Find(*ix, "roam"), Ids64{});  // four letters: no typo forgiven
    // A near miss in one word, the other word exact.
    EXPECT_EQ(Find(*ix, "front reservaton"), (Ids64{2}));
    // Exact matches rank above near misses.
    const auto both = IndexOf({{1, 0, "G"}, {2, 1, "Housing"}, {3, 1, "Houses"}});
    EXPECT_EQ(Find(*both, "housi"), (Ids64{2, 3}));
}

TEST(Ranking, WithinATierLinksComeFirstThenCatalogueOrder) {
    const auto ix = IndexOf({
        {1, 0, "Print"},
        {2, 1, "Print Jobs"},
        {3, 2, "Print Folio"},
        {4, 2, "Print Folio", true},
        {5, 2, "Print Folio"},
        {6, 2, "Print Folio", true},
    });
    EXPECT_EQ(Find(*ix, "print folio"), (Ids64{4, 6, 3, 5}));
}

TEST(Ranking, TheUsersOwnLaunchesComeFirstWithinTheirTier) {
    const auto ix = IndexOf({
        {1, 0, "Print"},
        {2, 1, "Print Jobs"},
        {3, 2, "Print Folio", true},
        {4, 2, "Print Folio"},
        {5, 2, "Print Folio", true},
        {6, 2, "Folio Print"},
    });
    const uint32_t four = ix->Find(4), five = ix->Find(5), six = ix->Find(6);
    // The boosted entries lead their tier, the stronger first; they do not
    // leave it.
    EXPECT_EQ(Find(*ix, "print folio", 50, {{four, 1.0}, {five, 3.0}, {six, 9.0}}),
              (Ids64{5, 4, 3, 6}));
    // A boost on an entry that does not match changes nothing.
    EXPECT_EQ(Find(*ix, "print folio", 50, {{ix->Find(2), 5.0}}), (Ids64{3, 5, 4, 6}));
}

// ---------------------------------------------------------------------------
// The index against a plain reading of the rules, on random catalogues.

constexpr const char* kWords[] = {
    "Room",  "Rooms",        "Rate",  "Café",  "Cafe",  "Straße",   "Report", "Reports",
    "Guest", "Guests",       "Night", "Audit", "Folio", "Backroom", "Resort", "Reservations",
    "House", "Housekeeping", "&",     "-",     "Print", "Prints"};

std::string RandomCaption(std::mt19937& random) {
    std::string text;
    const int words = 1 + static_cast<int>(random() % 3);
    for (int w = 0; w < words; ++w) {
        if (w) text += random() % 5 == 0 ? "-" : " ";
        text += kWords[random() % std::size(kWords)];
    }
    return text;
}

// The tier an entry's path is in for `query`, read straight from the rules.
int ReferenceTier(const std::vector<std::string>& path, const std::string& query) {
    const std::string q = FoldText(query);
    const std::string caption = FoldText(path.back());
    if (caption == q) return 0;
    if (caption.starts_with(q)) return 1;
    for (size_t at = caption.find(q); at != std::string::npos; at = caption.find(q, at + 1))
        if (at == 0 || !IsWordByte(static_cast<unsigned char>(caption[at - 1]))) return 2;
    if (caption.find(q) != std::string::npos) return 3;
    std::vector<std::string> query_words, path_words;
    ForEachWord(q, [&](size_t b, size_t e) { query_words.push_back(q.substr(b, e - b)); });
    for (const std::string& p : path) {
        const std::string f = FoldText(p);
        ForEachWord(f, [&](size_t b, size_t e) { path_words.push_back(f.substr(b, e - b)); });
    }
    if (query_words.empty()) return 6;
    // Edits between the query word and a start of the path word.
    const auto distance = [](const std::string& a, const std::string& w) {
        int best = 1 << 20;
        for (size_t len = 0; len <= w.size(); ++len) {
            const std::string b = w.substr(0, len);
            std::vector<std::vector<int>> d(a.size() + 1, std::vector<int>(b.size() + 1));
            for (size_t i = 0; i <= a.size(); ++i) d[i][0] = static_cast<int>(i);
            for (size_t j = 0; j <= b.size(); ++j) d[0][j] = static_cast<int>(j);
            for (size_t i = 1; i <= a.size(); ++i)
                for (size_t j = 1; j <= b.size(); ++j) {
                    d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                                        d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
                    if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
                }
            best = std::min(best, d[a.size()][b.size()]);
        }
        return best;
    };
    const auto all_words_within = [&](bool forgiving) {
        for (const std::string& qw : query_words) {
            const size_t letters = LetterCount(qw);
            const int typos = !forgiving ? 0 : letters >= 9 ? 2 : letters >= 5 ? 1 : 0;
            bool held = false;
            for (const std::string& pw : path_words)
                held = held || (typos == 0 ? pw.starts_with(qw) : distance(qw, pw) <= typos);
            if (!held) return false;
        }
        return true;
    };
    if (all_words_within(false)) return 4;
    if (all_words_within(true)) return 5;
    return 6;
}

TEST(Ranking, AgreesWithAPlainReadingOfTheRulesOnRandomCatalogues) {
    std::mt19937 random(20240611);
    const std::vector<std::string> queries = {
        "r",      "ro",      "room",   "rooms",      "oom",        "room r",      "cafe",
        "caf",    "strasse", "stras",  "reservaton", "resrvatoin", "housekeping", "house keep",
        "guest-", "-",       "& r",    "print f",    "rep aud",    "ni au",       "backrom",
        "auditt", "folio ",  "rate g", "s",          "e",          "xyz",         "reports rooms"};
    for (int round = 0; round < 12; ++round) {
        std::vector<TaskRow> rows;
        int id = 1;
        for (int g = 0; g < 4; ++g) {
            const int group = id++;
            rows.push_back({group, 0, RandomCaption(random)});
            for (int i = 0; i < 3; ++i) {
                const int item = id++;
                rows.push_back({item, group, RandomCaption(random)});
                std::vector<int> parents = {item};
                for (int t = 0; t < 8; ++t) {
                    const int task = id++;
                    const int parent = parents[random() % parents.size()];
                    rows.push_back({task, parent, RandomCaption(random), random() % 3 == 0});
                    parents.push_back(task);
                }
            }
        }
        // Row order is not tree order: the index must walk the tree.
        std::shuffle(rows.begin(), rows.end(), random);
        const auto ix = IndexOf(rows);
        ASSERT_EQ(ix->EntryCount(), rows.size());
        std::vector<CatalogueIndex::Boost> boosts;
        for (int b = 0; b < 5; ++b)
            boosts.push_back({static_cast<uint32_t>(random() % ix->EntryCount()),
                              static_cast<double>(random() % 4 + 1)});
        for (const std::string& query : queries) {
            struct Ranked {
                int tier;
                double boost;
                bool link;
                uint32_t entry;
            };
            std::vector<Ranked> expected;
            for (uint32_t e = 0; e < ix->EntryCount(); ++e) {
                const int tier = ReferenceTier(ix->Path(e), query);
                if (tier == 6) continue;
                double boost = 0;
                for (const auto& b : boosts)
                    if (b.entry == e) boost = std::max(boost, b.score);
                expected.push_back({tier, boost, ix->Kind(e) == EntryKind::link, e});
            }
            std::sort(expected.begin(), expected.end(), [](const Ranked& a, const Ranked& b) {
                if (a.tier != b.tier) return a.tier < b.tier;
                if (a.boost != b.boost) return a.boost > b.boost;
                if (a.link != b.link) return a.link;
                return a.entry < b.entry;
            });
            for (const size_t limit : {size_t{7}, size_t{1000}}) {
                std::vector<uint32_t> want;
                for (size_t i = 0; i < expected.size() && i < limit; ++i)
                    want.push_back(expected[i].entry);
                EXPECT_EQ(ix->Search(query, limit, boosts), want)
                    << "round " << round << ", query \"" << query << "\", limit " << limit;
            }
        }
    }
}

}  // namespace
}  // namespace kevra::search
