// Import, export, init and check: what a JSON catalogue shows must survive a
// trip through a database, and check must name each kind of broken row.
#include "service/catalogue_tools.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "../platform/atomic_file_size_limit.h"
#include "platform/error.h"
#include "service/database.h"
#include "service/task_service.h"
#include "test_util.h"

namespace kevra::service {
namespace {

using testing::ReadFile;
using testing::ScratchDir;
using testing::TaskIds;

// The message of the RuntimeError `f` throws, or "" when it succeeds.
template <typename F>
std::string ErrorOf(F f) {
    try {
        f();
    } catch (const RuntimeError& e) {
        return e.Description();
    }
    return "";
}

TEST(CatalogueImport, ReplacesOnlyTheApplicationsTheFileNames) {
    ScratchDir dir;
    std::string db = dir.File("c.db");
    ImportJson(dir.Write("a.json", R"([{"TaskId": 1, "TaskParent": 0, "TaskDescription": "A"}])"),
               db, 1);
    ImportJson(dir.Write("b.json", R"([{"TaskId": 1, "TaskParent": 0, "TaskDescription": "B"}])"),
               db, 2);
    ImportJson(dir.Write("a2.json", R"([{"TaskId": 5, "TaskParent": 0, "TaskDescription": "A2"},
                                         {"TaskId": 6, "TaskParent": 0, "TaskDescription": "A3"}])"),
               db, 1);
    EXPECT_EQ(TaskIds(RetrieveTaskRows(db, TaskQuery{0, "", "", 1})), (std::vector<int64_t>{5, 6}));
    EXPECT_EQ(TaskIds(RetrieveTaskRows(db, TaskQuery{0, "", "", 2})), std::vector<int64_t>{1});
}

TEST(CatalogueImport, RowsThatCannotBeStoredAreAllNamedAndNothingIsWritten) {
    ScratchDir dir;
    std::string db = dir.File("c.db");
    ImportJson(
        dir.Write("ok.json", R"([{"TaskId": 1, "TaskParent": 0, "TaskDescription": "Kept"}])"), db,
        1);
    std::string bad = dir.Write("bad.json", R"([
      {"TaskParent": 0},
      {"TaskId": 0, "TaskParent": 0},
      {"TaskId": 3, "TaskParent": "1"},
      {"TaskId": 4, "TaskParent": 0}, {"TaskId": 4, "TaskParent": 0},
      {"TaskId": 5, "AppId": "two"},
      {"TaskId": 2.5}
    ])");
    try {
        ImportJson(bad, db, 1);
        FAIL();
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), err::kBadCatalogue);
        EXPECT_EQ(
            e.Description(),
            "The catalogue \"" + bad +
                "\" cannot be imported:\n"
                "  row 1 (line 2): TaskId is missing\n"
                "  row 2 (line 3): TaskId must be a whole number other than 0 that fits 32 bits, "
                "not 0\n"
                "  row 3 (line 4): TaskParent must be a whole number that fits 32 bits, or null, "
                "not \"1\"\n"
                "  row 5 (line 5): TaskId 4 is already used by row 4 (line 5) in application 1\n"
                "  row 6 (line 6): AppId must be a whole number that fits 32 bits, not \"two\"\n"
                "  row 7 (line 7): TaskId must be a whole number other than 0 that fits 32 bits, "
                "not 2.5");
    }
    EXPECT_EQ(TaskIds(RetrieveTaskRows(db, TaskQuery{0, "", "", 1})), std::vector<int64_t>{1});
    EXPECT_THROW(ImportJson(bad, dir.File("x.json"), 1), RuntimeError);
}

TEST(CatalogueInit, SampleGoesOnlyIntoAnEmptyCatalogue) {
    ScratchDir dir;
    std::string db = dir.File("c.db");
    const std::string sample = R"([{"TaskId": 1, "TaskParent": 0, "TaskDescription": "S"}])";
    InitResult r = InitCatalogue(db, sample);
    EXPECT_TRUE(r.created);
    EXPECT_EQ(r.sample_tasks, 1u);
    EXPECT_FALSE(InitCatalogue(db, std::nullopt).created) << "init again only upgrades";
    try {
        InitCatalogue(db, sample);
        FAIL();
    } catch (const RuntimeError& e) {
        EXPECT_NE(e.Description().find("already holds 1 task;"), std::string::npos);
    }
    std::string json = dir.File("new.json");
    InitCatalogue(json, std::nullopt);
    EXPECT_EQ(ReadFile(json), "[]\n");
    EXPECT_THROW(InitCatalogue(json, std::nullopt), RuntimeError);
}

TEST(CatalogueCheck, NamesEachKindOfBrokenRow) {
    ScratchDir dir;
    std::string json = dir.Write("broken.json", R"([
      {"TaskId": 1, "TaskParent": 0, "TaskDescription": "Group"},
      {"TaskId": 2, "TaskParent": 1, "TaskDescription": null},
      {"TaskId": 3, "TaskParent": 2, "TaskDescription": "   "},
      {"TaskId": 1, "TaskParent": 0, "TaskDescription": "Again"},
      {"TaskId": 4, "TaskParent": 77, "TaskDescription": null},
      {"TaskId": 5, "TaskParent": 6, "TaskDescription": "Loop a"},
      {"TaskId": 6, "TaskParent": 5, "TaskDescription": "Loop b"},
      {"TaskId": 7, "TaskParent": 1, "TaskDescription": "Link", "IsLink": true, "TaskURL": " "},
      {"TaskId": 8, "TaskParent": 1, "TaskDescription": "One", "IsLink": 1},
      {"TaskId": 0, "TaskParent": 0, "TaskDescription": "Zero"},
      {"TaskParent": 0, "TaskDescription": "No id"},
      {"TaskId": "9", "TaskDescription": "Text id"}
    ])");
    std::vector<Problem> problems = CheckCatalogue(json);
    std::vector<std::string> lines;
    for (const auto& p : problems) lines.push_back(p.where + ": " + p.what);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "row 2 (line 3): TaskDescription is missing on a task that is shown (the "
                         "load fails with error 94)",
                         "row 3 (line 4): TaskDescription is blank on a task that is shown",
                         "row 4 (line 5): TaskId 1 is used again (first by row 1 (line 2))",
                         "row 5 (line 6): TaskParent 77 names no task, so the task is never shown",
                         "row 6 (line 7): TaskId 5 is its own ancestor (5 -> 6 -> 5), so these "
                         "tasks are never shown",
                         "row 8 (line 9): the task is a link with no TaskURL, so double-clicking "
                         "it starts nothing",
                         "row 9 (line 10): IsLink is 1, which is not True (-1), so the task is no "
                         "link",
                         "row 10 (line 11): TaskId 0 is reserved for \"no parent\"",
                         "row 11 (line 12): TaskId is missing (the control needs one on every row)",
                         "row 12 (line 13): TaskId \"9\" is not a whole number that fits 32 bits",
                         "row 12 (line 13): TaskParent is missing, so the task is never shown",
                     }));
}

TEST(CatalogueCheck, LongChainsAndBigCyclesCostNoStack) {
    std::vector<TaskRow> rows;
    const int32_t n = 200'000;
    for (int32_t i = 1; i <= n; ++i) {
        TaskRow r;
        r.task_id = Variant(i);
        r.parent = Variant(i == 1 ? int32_t{0} : i - 1);
        r.description = Variant("T");
        r.where = "row " + std::to_string(i);
        rows.push_back(r);
    }
    EXPECT_TRUE(CheckTasks(rows, true).empty());
    rows[0].parent = Variant(n);  // the whole chain becomes one cycle
    std::vector<Problem> problems = CheckTasks(rows, true);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].where, "row 1");
    EXPECT_EQ(problems[0].what,
              "TaskId 1 is its own ancestor (1 -> 200000 -> 199999 -> 199998 -> "
              "199997 -> 199996 -> 199995 -> 199994 -> ... 199992 more -> 1), so "
              "these tasks are never shown");
}

TEST(CatalogueExport, LeavesWhatIsNotARegularFileAloneAndKeepsTheMode) {
    ScratchDir dir;
    std::string db = dir.File("c.db");
    ImportJson(dir.Write("a.json", R"([{"TaskId": 1, "TaskParent": 0, "TaskDescription": "A"}])"),
               db, 1);

    const std::string fifo = dir.File("pipe.json");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_NE(ErrorOf([&] { ExportJson(db, fifo); }).find("it is a named pipe (FIFO)"),
              std::string::npos);
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
    const std::string link = dir.File("link.json");
    std::filesystem::create_symlink(db, link);
    EXPECT_NE(ErrorOf([&] { ExportJson(db, link); }).find("it is a symbolic link"),
              std::string::npos);
    EXPECT_TRUE(std::filesystem::is_symlink(link));

    // A catalogue its owner keeps private stays private.
    const std::string own = dir.Write("own.json", "[]");
    ASSERT_EQ(::chmod(own.c_str(), 0600), 0);
    EXPECT_EQ(ExportJson(db, own), 1u);
    struct stat st {};
    ASSERT_EQ(::stat(own.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_NE(ReadFile(own).find("\"TaskDescription\": \"A\""), std::string::npos);
}

TEST(CatalogueExport, DashIsStandardOutput) {
    ScratchDir dir;
    std::string db = dir.File("c.db");
    ImportJson(dir.Write("a.json", R"([{"TaskId": 7, "TaskParent": 0, "TaskDescription": "A"}])"),
               db, 1);
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    ::testing::internal::CaptureStdout();
    ExportJson(db, "-");
    const std::string out = ::testing::internal::GetCapturedStdout();
    std::filesystem::current_path(cwd);
    EXPECT_EQ(
        out,
        "[\n  {\"TaskId\": 7, \"TaskParent\": 0, \"TaskDescription\": \"A\", \"IsLink\": null, "
        "\"TaskURL\": null, \"TaskParms\": null, \"AppId\": 1}\n]\n");
    EXPECT_FALSE(std::filesystem::exists(dir.File("-")));
}

TEST(CatalogueInit, AJsonTargetBehindALinkToNothingIsRefused) {
    ScratchDir dir;
    const std::string link = dir.File("new.json");
    std::filesystem::create_symlink(dir.File("elsewhere.json"), link);
    EXPECT_NE(ErrorOf([&] { InitCatalogue(link, std::nullopt); }).find("already exists"),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.File("elsewhere.json")));
}

// Hand-edited SQLite tables can hold text where numbers belong: check names
// the row instead of stopping at a bare type mismatch.
TEST(CatalogueCheck, DatabaseValuesOfTheWrongKindAreNamedByRow) {
    ScratchDir dir;
    std::string db = dir.File("c.db");
    ImportJson(dir.Write("a.json", R"([{"TaskId": 1, "TaskParent": 0, "TaskDescription": "A"}])"),
               db, 1);
    auto sql = [&](const std::string& statement) {
        OpenDatabase(ResolveMachineName(db), OpenMode::kReadWrite)->ExecScript(statement);
    };
    sql("INSERT INTO task VALUES (1, 'abc', 1, 'Text id', 0, NULL, NULL, 2);"
        "INSERT INTO task_grant VALUES (1, 'abc', 5, NULL, NULL);");
    std::vector<std::string> lines;
    for (const auto& p : CheckCatalogue(db)) lines.push_back(p.where + ": " + p.what);
    EXPECT_EQ(lines, std::vector<std::string>{
                         "application 1, row 2: TaskId \"abc\" is not a whole number that fits 32 "
                         "bits"});
    // The text id keeps its grant on export.
    std::string json = dir.File("out.json");
    ExportJson(db, json);
    EXPECT_NE(ReadFile(json).find(R"("TaskId": "abc", "TaskParent": 1, "TaskDescription": )"
                                  R"("Text id", "IsLink": false, "TaskURL": null, "TaskParms": )"
                                  R"(null, "AppId": 1, "Grants": [{"UserNumber": 5}])"),
              std::string::npos)
        << ReadFile(json);

    sql("INSERT INTO task_grant VALUES (1, 1, 'everyone', NULL, NULL);");
    EXPECT_EQ(ErrorOf([&] { CheckCatalogue(db); }),
              "The catalogue \"" + db +
                  "\" has a task_grant row (app_id 1, task_id 1) whose user_number is "
                  "\"everyone\", not a whole number that fits 32 bits; correct that row");
    sql("DELETE FROM task_grant WHERE user_number = 'everyone';"
        "INSERT INTO task VALUES ('two', 9, 0, 'Text app', 0, NULL, NULL, 1);");
    EXPECT_EQ(ErrorOf([&] { CheckCatalogue(db); }),
              "The catalogue \"" + db +
                  "\" has a task row (id 9) whose app_id is \"two\", not a whole number that fits "
                  "32 bits; correct that row");
}

// `n` rows of JSON, each made by `row` from its 1-based number.
template <typename F>
std::string JsonRows(int n, F row) {
    std::string text = "[\n";
    for (int i = 1; i <= n; ++i) text += row(i) + (i < n ? ",\n" : "\n");
    return text + "]";
}

// A failure found late in the file, or by the database once rows are
// written, leaves the target as it was: nothing written, the rows written
// so far rolled back, no SQLite file made.
TEST(CatalogueImport, AFailureFoundLateLeavesTheTargetAsItWas) {
    ScratchDir dir;
    const std::string rows = JsonRows(2500, [](int i) {
        return R"({"TaskId": )" + std::to_string(i) +
               R"(, "TaskParent": 0, "TaskDescription": "T"})";
    });
    const std::string cut = dir.Write("cut.json", rows.substr(0, rows.size() - 1) + ", {");
    const std::string fresh = dir.File("fresh.db");
    EXPECT_NE(ErrorOf([&] { ImportJson(cut, fresh, 1); }).find("is not valid JSON"),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(fresh));
    EXPECT_FALSE(std::filesystem::exists(fresh + "-journal"));

    const std::string db = dir.File("c.db");
    ImportJson(dir.Write("a.json", R"([{"TaskId": 9, "TaskParent": 0, "TaskDescription": "A"}])"),
               db, 1);
    EXPECT_NE(ErrorOf([&] { ImportJson(cut, db, 1); }), "");
    // Problems found after rows were written: the first twenty are listed.
    const std::string late = dir.Write("late.json", JsonRows(2525, [](int i) {
                                           return i <= 2500 ? R"({"TaskId": )" + std::to_string(i) +
                                                                  R"(, "TaskParent": 0})"
                                                            : std::string(R"({"TaskParent": 0})");
                                       }));
    const std::string message = ErrorOf([&] { ImportJson(late, db, 1); });
    EXPECT_EQ(message.rfind("The catalogue \"" + late +
                                "\" cannot be imported:\n  row 2501 (line 2502): TaskId is "
                                "missing\n",
                            0),
              0u)
        << message;
    EXPECT_NE(message.find("row 2520 (line 2521): TaskId is missing\n  ... and 5 more problems "
                           "(kevra-catalog check lists them all)"),
              std::string::npos)
        << message;
    // The database failing after two batches were written: they go too.
    OpenDatabase(ResolveMachineName(db), OpenMode::kReadWrite)
        ->ExecScript(
            "CREATE TRIGGER stop BEFORE INSERT ON task WHEN NEW.id = 2400 "
            "BEGIN SELECT RAISE(ABORT, 'no room for task 2400'); END");
    EXPECT_NE(ErrorOf([&] {
                  ImportJson(dir.Write("whole.json", rows), db, 1);
              }).find("no room for task 2400"),
              std::string::npos);
    EXPECT_EQ(TaskIds(RetrieveTaskRows(db, TaskQuery{0, "", "", 1})), std::vector<int64_t>{9});
}

TEST(CatalogueImport, ApplicationsMixedInTheFileKeepTheirOwnOrderAcrossBatches) {
    ScratchDir dir;
    const std::string db = dir.File("c.db");
    ImportJson(
        dir.Write("four.json", R"([{"TaskId": 1, "TaskParent": 0, "TaskDescription": "K"}])"), db,
        4);
    // Applications 1 and 2 take turns; every third row has no AppId and
    // goes to --app 3. Ids count down, so the order is the file's, not the
    // ids'.
    const int n = 3000;
    const std::string file = dir.Write(
        "mixed.json", JsonRows(n, [&](int i) {
            const std::string app = i % 3 == 0 ? "" : R"(, "AppId": )" + std::to_string(i % 3);
            return R"({"TaskId": )" + std::to_string(n + 1 - i) +
                   R"(, "TaskParent": 0, "TaskDescription": "T")" + app + "}";
        }));
    std::vector<std::string> reports;
    ImportResult r = ImportJson(file, db, 3, [&](std::string_view what, size_t done, size_t total) {
        reports.push_back(std::string(what) + " " + std::to_string(done) + "/" +
                          std::to_string(total));
    });
    EXPECT_EQ(r.tasks, static_cast<size_t>(n));
    EXPECT_EQ(r.applications, (std::vector<int32_t>{1, 2, 3}));
    for (int32_t app = 1; app <= 3; ++app) {
        std::vector<int64_t> want;
        for (int i = 1; i <= n; ++i)
            if (i % 3 == app % 3) want.push_back(n + 1 - i);
        EXPECT_EQ(TaskIds(RetrieveTaskRows(db, TaskQuery{0, "", "", app})), want) << app;
    }
    EXPECT_EQ(TaskIds(RetrieveTaskRows(db, TaskQuery{0, "", "", 4})), std::vector<int64_t>{1});
    // Progress from the first rows on: while the file is checked, then
    // while it is written, of how many rows there are.
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.front(), "parsing " + file + " 1000/0");
    EXPECT_NE(std::find(reports.begin(), reports.end(), "importing 500/3000"), reports.end());
    EXPECT_EQ(reports.back(), "imported 3000/3000");
}

// The grants of a large import are held back until many tasks are in and
// then go in batches, the last with the end of the file: every one arrives,
// on its own task, in each application.
TEST(CatalogueImport, EveryGrantOfALargeImportArrives) {
    ScratchDir dir;
    const std::string db = dir.File("c.db");
    const int n = 100'500;
    const std::string file =
        dir.Write("large.json", JsonRows(n, [](int i) {
                      const std::string app = i % 2 ? "1" : "2";
                      const std::string grants = i % 10 == 0 ? ""
                                                             : R"(, "Grants": [{"UserNumber": )" +
                                                                   std::to_string(i % 10) + "}]";
                      return R"({"TaskId": )" + std::to_string(i) +
                             R"(, "TaskParent": 0, "AppId": )" + app + grants + "}";
                  }));
    EXPECT_EQ(ImportJson(file, db, 1).tasks, static_cast<size_t>(n));
    auto store = OpenDatabase(ResolveMachineName(db), OpenMode::kReadOnly);
    int64_t wrong = -1, grants = 0;
    store->Query(
        "SELECT count(*) FROM task_grant g JOIN task t ON t.app_id = g.app_id AND t.id = g.task_id "
        "WHERE g.app_id <> 2 - t.id % 2 OR coalesce(g.user_number, 0) <> t.id % 10",
        {}, [&](const Row& r) { wrong = r[0].ToInt64(); });
    store->Query("SELECT count(*) FROM task_grant", {},
                 [&](const Row& r) { grants = r[0].ToInt64(); });
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(grants, n);
}

TEST(CatalogueExport, GrantsOfEveryKindComeBackAsTheyWere) {
    ScratchDir dir;
    const std::string db = dir.File("c.db");
    ImportJson(dir.Write("g.json", R"([
      {"TaskId": 1, "TaskParent": 0, "TaskDescription": "Everyone"},
      {"TaskId": 2, "TaskParent": 1, "TaskDescription": "No one", "Grants": []},
      {"TaskId": 3, "TaskParent": 1, "TaskDescription": "Some",
       "Grants": [{"UserNumber": 7}, {"Brand": "B", "FacilityId": "F"}, {"Brand": "B"}]},
      {"TaskId": 1, "TaskParent": 0, "TaskDescription": "Other app", "AppId": 2,
       "Grants": [{"FacilityId": "F"}, {}]}
    ])"),
               db, 1);
    const std::string out = dir.File("out.json");
    EXPECT_EQ(ExportJson(db, out), 4u);
    const std::string text = ReadFile(out);
    auto row = [](const std::string& id, const std::string& parent, const std::string& caption,
                  const std::string& tail) {
        return "  {\"TaskId\": " + id + ", \"TaskParent\": " + parent +
               ", \"TaskDescription\": \"" + caption +
               "\", \"IsLink\": null, \"TaskURL\": null, \"TaskParms\": null, \"AppId\": " + tail +
               "}";
    };
    EXPECT_EQ(text, "[\n" + row("1", "0", "Everyone", "1") + ",\n" +
                        row("2", "1", "No one", "1, \"Grants\": []") + ",\n" +
                        row("3", "1", "Some",
                            "1, \"Grants\": [{\"Brand\": \"B\"}, {\"Brand\": \"B\", "
                            "\"FacilityId\": \"F\"}, {\"UserNumber\": 7}]") +
                        ",\n" +
                        row("1", "0", "Other app", "2, \"Grants\": [{}, {\"FacilityId\": \"F\"}]") +
                        "\n]\n");
    // And once more through a second catalogue: the same text.
    const std::string again = dir.File("again.db");
    ImportJson(out, again, 1);
    ExportJson(again, dir.File("again.json"));
    EXPECT_EQ(ReadFile(dir.File("again.json")), text);
    // An empty catalogue is an empty list.
    InitCatalogue(dir.File("empty.db"), std::nullopt);
    EXPECT_EQ(ExportJson(dir.File("empty.db"), dir.File("empty.json")), 0u);
    EXPECT_EQ(ReadFile(dir.File("empty.json")), "[\n]\n");
}

// An export to a file writes as it reads, into a temporary beside the file;
// whatever stops it half-way, a store that cannot be read to the end or a
// disk that fills up, the file stays as it was and the temporary goes.
TEST(CatalogueExport, AFailureHalfWayLeavesTheFileAsItWasAndNoTemporary) {
    ScratchDir dir;
    std::string rows = "[\n";
    for (int i = 1; i <= 3000; ++i)
        rows += R"({"TaskId": )" + std::to_string(i) +
                R"(, "TaskParent": 0, "TaskDescription": ")" + std::string(100, 'd') + "\"},\n";
    const std::string good = dir.Write("good.json", rows + R"({"TaskId": 3001}])");
    // Broken after its 3000th row: the reader fails once most of the text
    // has gone to the temporary.
    const std::string broken = dir.Write("broken.json", rows + R"({"TaskId": 3001,])");
    const std::string out = dir.Write("out.json", "old");
    auto names = [&] {
        std::vector<std::string> found;
        for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
            found.push_back(e.path().filename());
        std::sort(found.begin(), found.end());
        return found;
    };
    const std::vector<std::string> before = names();
    size_t largest_temporary = 0;
    const std::string error = ErrorOf([&] {
        ExportJson(broken, out, [&](std::string_view, size_t, size_t) {
            for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
                if (e.path().filename().string().starts_with(".out.json.tmp-"))
                    largest_temporary = std::max<size_t>(largest_temporary, e.file_size());
        });
    });
    EXPECT_NE(error.find("broken.json"), std::string::npos) << error;
    EXPECT_GT(largest_temporary, 200'000u) << "the text was held, not written as read";
    EXPECT_EQ(ReadFile(out), "old");
    EXPECT_EQ(names(), before);

    {
        kevra::testing::FileSizeLimit limit(100'000);
        EXPECT_EQ(ErrorOf([&] { ExportJson(good, out); }),
                  "Cannot write \"" + out + "\": File too large");
    }
    EXPECT_EQ(ReadFile(out), "old");
    EXPECT_EQ(names(), before);

    EXPECT_EQ(ExportJson(good, out), 3001u);
    EXPECT_EQ(ForEachTask(out, [](TaskRow&) {}), 3001u);
    EXPECT_EQ(names(), before);
}

// A JSON file is one catalogue, a database one per application: the same
// id in two applications is a repeat in the file and none in the database.
TEST(CatalogueCheck, IdsRepeatAcrossTheFileButOnlyWithinAnApplicationOfADatabase) {
    ScratchDir dir;
    const std::string json = dir.Write("two.json", R"([
      {"TaskId": 1, "TaskParent": 0, "TaskDescription": "A", "AppId": 1},
      {"TaskId": 1, "TaskParent": 0, "TaskDescription": "B", "AppId": 2},
      {"TaskId": 2, "TaskParent": 1, "TaskDescription": "C", "AppId": 2}
    ])");
    std::vector<std::string> lines;
    EXPECT_EQ(
        CheckCatalogue(json, [&](const Problem& p) { lines.push_back(p.where + ": " + p.what); }),
        3u);
    EXPECT_EQ(lines, std::vector<std::string>{
                         "row 2 (line 3): TaskId 1 is used again (first by row 1 (line 2))"});
    const std::string db = dir.File("c.db");
    ImportJson(json, db, 1);
    lines.clear();
    EXPECT_EQ(
        CheckCatalogue(db, [&](const Problem& p) { lines.push_back(p.where + ": " + p.what); }),
        3u);
    EXPECT_TRUE(lines.empty()) << lines.front();
    // A parent is looked for in its own application only.
    OpenDatabase(ResolveMachineName(db), OpenMode::kReadWrite)
        ->ExecScript("UPDATE task SET parent = 2 WHERE app_id = 1");
    EXPECT_EQ(CheckCatalogue(db), (std::vector<Problem>{{"application 1, row 1",
                                                         "TaskParent 2 names no task, so the "
                                                         "task is never shown"}}));
}

// The bulk insert every store has unless it brings a faster one: one
// INSERT per row, each with its own values bound as parameters.
TEST(DatabaseInsertRows, TheDefaultBindsEachRowToOneInsert) {
    class Recording : public Database {
      public:
        const std::string& Name() const override { return name_; }
        StoreKind Kind() const override { return StoreKind::kPostgres; }
        void ExecScript(const std::string&) override {}
        void Query(const std::string& sql, const Row& params,
                   const std::function<void(const Row&)>&) override {
            calls.emplace_back(sql, params);
        }
        bool HasTable(const std::string&) override { return true; }
        std::vector<std::pair<std::string, Row>> calls;

      private:
        std::string name_ = "recording";
    } db;
    db.InsertRows("task_grant", {"app_id", "task_id", "brand"},
                  {Variant(1), Variant(5), Variant::Null(), Variant(1), Variant(6), Variant("B")});
    const std::string sql = "INSERT INTO task_grant (app_id, task_id, brand) VALUES ($1, $2, $3)";
    ASSERT_EQ(db.calls.size(), 2u);
    EXPECT_EQ(db.calls[0],
              (std::pair<std::string, Row>{sql, {Variant(1), Variant(5), Variant::Null()}}));
    EXPECT_EQ(db.calls[1],
              (std::pair<std::string, Row>{sql, {Variant(1), Variant(6), Variant("B")}}));
    db.InsertRows("task", {"app_id"}, {});
    EXPECT_EQ(db.calls.size(), 2u);
}

}  // namespace
}  // namespace kevra::service
