// The SQLite catalogue store: the store contract on files, and the failures
// a load can meet with a file (missing, not a database, an empty file, a
// newer schema, read-only, left half written by an import, in WAL mode in a
// read-only folder, holding views where tables belong, a statement that
// does not end).
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>

#include "platform/error.h"
#include "service/catalogue_schema.h"
#include "service/database.h"
#include "service/task_service.h"
#include "store_contract.h"
#include "test_util.h"

namespace kevra::service {
namespace {

using testing::CatalogueWriter;
using testing::ScratchDir;
using testing::TaskIds;

// Contract catalogues: new files in one folder for the whole run.
class SqliteFactory : public testing::StoreFactory {
  public:
    std::string Kind() const override { return "sqlite"; }
    std::string NewCatalogue() override {
        return dir_.File("contract-" + std::to_string(++count_) + ".db");
    }

  private:
    testing::ScratchDir dir_;
    int count_ = 0;
};

RuntimeError LoadError(const std::string& machine_name) {
    try {
        RetrieveTaskRows(machine_name, TaskQuery{});
    } catch (const RuntimeError& e) {
        return e;
    }
    ADD_FAILURE() << "no error loading " << machine_name;
    return RuntimeError(0, "");
}

TEST(SqliteStore, MissingFileFailsAndIsNotCreated) {
    ScratchDir dir;
    std::string path = dir.File("absent.db");
    RuntimeError e = LoadError(path);
    EXPECT_EQ(e.Number(), err::kFileNotFound);
    EXPECT_EQ(e.Description().rfind(
                  "Cannot open the catalogue \"" + path + "\": No such file or directory", 0),
              0u)
        << e.Description();
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(LoadError("sqlite:" + dir.File("absent")).Number(), err::kFileNotFound);
    EXPECT_FALSE(std::filesystem::exists(dir.File("absent")));
}

TEST(SqliteStore, DefaultCatalogueIsPrivateAndMissingOneSaysHowToMakeIt) {
    ScratchDir dir;
    std::string saved = getenv("XDG_DATA_HOME") ? getenv("XDG_DATA_HOME") : "";
    setenv("XDG_DATA_HOME", (dir.Path() / "data").c_str(), 1);
    RuntimeError e = LoadError("");
    EXPECT_EQ(e.Number(), err::kFileNotFound);
    EXPECT_NE(e.Description().find("kevra-catalog init --sample"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "data" / "kevra"));

    CatalogueWriter{""};
    struct stat st {};
    ASSERT_EQ(::stat((dir.Path() / "data" / "kevra").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat((dir.Path() / "data" / "kevra" / "tasks.db").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_TRUE(TaskIds(RetrieveTaskRows("", TaskQuery{})).empty());
    if (saved.empty())
        unsetenv("XDG_DATA_HOME");
    else
        setenv("XDG_DATA_HOME", saved.c_str(), 1);
}

TEST(SqliteStore, FilesThatAreNoCatalogueSayWhatIsWrong) {
    ScratchDir dir;
    std::string text = dir.Write("notes.db", std::string(4096, 'n'));
    RuntimeError e = LoadError(text);
    EXPECT_EQ(e.Number(), err::kBadCatalogue);
    EXPECT_NE(e.Description().find("is not a usable SQLite database"), std::string::npos)
        << e.Description();

    std::string empty = dir.Write("empty.db", "");
    e = LoadError(empty);
    EXPECT_EQ(e.Number(), err::kBadCatalogue);
    EXPECT_EQ(e.Description(), "The catalogue \"" + empty +
                                   "\" holds no task catalogue (its tables are missing); create "
                                   "them with: kevra-catalog init TARGET");

    std::string newer = dir.File("newer.db");
    {
        CatalogueWriter w(newer);
        w.Db().Execute("INSERT INTO kevra_migration (version, description) VALUES (99, 'x')");
    }
    e = LoadError(newer);
    EXPECT_EQ(e.Number(), err::kBadCatalogue);
    EXPECT_NE(e.Description().find("schema version 99, made by a newer KevraTaskList"),
              std::string::npos);
    CatalogueLocation loc = ResolveMachineName(newer);
    EXPECT_THROW(UpgradeSchema(*OpenDatabase(loc, OpenMode::kReadWrite)), RuntimeError)
        << "an older program must not touch a newer schema";
}

TEST(SqliteStore, SchemaUpgradeIsRepeatable) {
    ScratchDir dir;
    std::string path = dir.File("u.db");
    CatalogueWriter w(path);
    w.Task(1, 1, Variant(int32_t{0}), Variant("Kept"), 1).Grant(1, 1);
    UpgradeSchema(w.Db());
    EXPECT_EQ(SchemaVersion(w.Db()), CurrentSchemaVersion());
    EXPECT_EQ(TaskIds(RetrieveTaskRows(path, TaskQuery{0, "", "", 1})), std::vector<int64_t>{1});
}

TEST(SqliteStore, ReadOnlyFileLoadsUntouchedAndRefusesWrites) {
    ScratchDir dir;
    std::filesystem::create_directory(dir.Path() / "ro");
    // Odd characters that a "file:" URI would otherwise read as syntax.
    std::string path = (dir.Path() / "ro" / "a?b#c%d.db").string();
    {
        CatalogueWriter w(path);
        w.Task(1, 5, Variant(int32_t{0}), Variant("Read only"), 1).Grant(1, 5);
    }
    auto bytes = [&] { return testing::ReadFile(path); };
    const std::string before = bytes();
    ::chmod(path.c_str(), 0444);
    ::chmod((dir.Path() / "ro").c_str(), 0555);
    EXPECT_EQ(TaskIds(RetrieveTaskRows(path, TaskQuery{0, "", "", 1})), std::vector<int64_t>{5});
    EXPECT_EQ(bytes(), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path() / "ro"), {}), 1)
        << "a load leaves no journal behind";

    if (::geteuid() != 0) {  // root writes through file permissions
        CatalogueLocation loc = ResolveMachineName(path);
        try {
            auto db = OpenDatabase(loc, OpenMode::kReadWrite);
            db->Execute("DELETE FROM task");
            FAIL() << "wrote a read-only catalogue";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.Number(), err::kPermissionDenied) << e.Description();
            EXPECT_NE(e.Description().find("cannot be written"), std::string::npos);
        }
    }
    ::chmod((dir.Path() / "ro").c_str(), 0755);
}

// Runs `fn` as a user without write permission on files it does not own:
// this user when not root, else a child process that becomes "nobody"
// (root writes through file and folder permissions, so a read-only folder
// means nothing to it). Returns what `fn` returns, or an error's number and
// description; nullopt when no such user can be had here.
std::optional<std::string> AsUnprivilegedUser(const std::function<std::string()>& fn) {
    auto run = [&]() -> std::string {
        try {
            return fn();
        } catch (const RuntimeError& e) {
            return "error " + std::to_string(e.Number()) + ": " + e.Description();
        }
    };
    if (::geteuid() != 0) return run();
    int out[2];
    if (::pipe(out) != 0) return std::nullopt;
    const pid_t child = ::fork();
    if (child < 0) return std::nullopt;
    if (child == 0) {
        ::close(out[0]);
        constexpr uid_t kNobody = 65534;
        std::string result = "\x01";  // no user to become
        if (::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0)
            result = run();
        for (size_t done = 0; done < result.size();) {
            const ssize_t n = ::write(out[1], result.data() + done, result.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        ::_exit(0);
    }
    ::close(out[1]);
    std::string result;
    char buf[4096];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) result.append(buf, n);
    ::close(out[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || result == "\x01") return std::nullopt;
    return result;
}

std::string LoadedIds(const std::string& path) {
    std::string ids;
    for (int64_t id : TaskIds(RetrieveTaskRows(path, TaskQuery{0, "", "", 1})))
        ids += (ids.empty() ? "" : " ") + std::to_string(id);
    return ids;
}

// Leaves `path` as an import killed in its write phase leaves it: a child
// replaces every task within a transaction whose changes outgrow SQLite's
// page cache, so that they reach the file, and dies before committing.
void KillImportMidway(const std::string& path) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::unique_ptr<Database> db;  // never closed: closing would roll back
        try {
            db = OpenDatabase(ResolveMachineName(path), OpenMode::kReadWrite);
            db->ExecScript(
                "PRAGMA cache_size = 8; BEGIN; DELETE FROM task_grant; DELETE FROM task; "
                "INSERT INTO task (app_id, id, parent, description, sort_order) "
                "WITH RECURSIVE n(i) AS (SELECT 100 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
                "SELECT 1, i, 0, printf('%.*c', 400, 'x'), i FROM n; "
                "INSERT INTO task_grant (app_id, task_id) SELECT 1, id FROM task");
        } catch (...) {
            ::_exit(1);
        }
        ::_exit(0);  // with the transaction open, as a kill would leave it
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the import failed early";
}

TEST(SqliteStoreInterruptedWrite, LoadRollsTheJournalBackAndSeesTheCatalogueBeforeTheImport) {
    ScratchDir dir;
    const std::string path = dir.File("tasks.db");
    {
        CatalogueWriter w(path);
        w.Task(1, 5, Variant(int32_t{0}), Variant("Before"), 1).Grant(1, 5);
    }
    const std::string before = testing::ReadFile(path);
    KillImportMidway(path);
    ASSERT_TRUE(std::filesystem::exists(path + "-journal"));
    ASSERT_NE(testing::ReadFile(path), before) << "the import's changes never reached the file";

    EXPECT_EQ(LoadedIds(path), "5");
    EXPECT_FALSE(std::filesystem::exists(path + "-journal"));
    EXPECT_EQ(testing::ReadFile(path), before);
}

TEST(SqliteStoreInterruptedWrite, ReaderWhoMayNotWriteIsToldHowToRepair) {
    ScratchDir dir;
    const std::string path = dir.File("tasks.db");
    {
        CatalogueWriter w(path);
        w.Task(1, 5, Variant(int32_t{0}), Variant("Before"), 1).Grant(1, 5);
    }
    KillImportMidway(path);
    const std::string half_written = testing::ReadFile(path);
    ::chmod(dir.Path().c_str(), 0755);  // others may look, not write
    ::chmod(path.c_str(), 0644);
    ::chmod((path + "-journal").c_str(), 0644);
    std::optional<std::string> got = AsUnprivilegedUser([&] { return LoadedIds(path); });
    if (!got) GTEST_SKIP() << "no unprivileged user to read the catalogue as";
    if (got->find("Permission denied") != std::string::npos)
        GTEST_SKIP() << "an unprivileged user cannot reach the scratch folder: " << *got;
    EXPECT_EQ(*got, "error 35800: The catalogue \"" + path +
                        "\" was left half written by an import or other write that did not "
                        "finish (its journal \"" +
                        path +
                        "-journal\" is still there), and only a user who may write the file and "
                        "its folder can roll that back. As one, run: kevra-catalog init " +
                        path);
    EXPECT_EQ(testing::ReadFile(path), half_written);

    // The repair it names.
    { CatalogueWriter repaired(path); }
    EXPECT_EQ(AsUnprivilegedUser([&] { return LoadedIds(path); }).value_or(""), "5");
}

TEST(SqliteStoreWal, CatalogueInAReadOnlyFolderLoadsOrSaysWhatItNeeds) {
    ScratchDir dir;
    const std::filesystem::path ro = dir.Path() / "ro";
    std::filesystem::create_directory(ro);
    const std::string path = (ro / "tasks.db").string();
    {
        CatalogueWriter w(path);
        w.Db().ExecScript("PRAGMA journal_mode = WAL");
        w.Task(1, 5, Variant(int32_t{0}), Variant("Checkpointed"), 1).Grant(1, 5);
    }
    ASSERT_FALSE(std::filesystem::exists(path + "-wal")) << "closing did not checkpoint";
    ::chmod(dir.Path().c_str(), 0755);
    ::chmod(path.c_str(), 0444);
    ::chmod(ro.c_str(), 0555);
    std::optional<std::string> got = AsUnprivilegedUser([&] { return LoadedIds(path); });
    if (!got) GTEST_SKIP() << "no unprivileged user to read the catalogue as";
    if (got->find("Permission denied") != std::string::npos)
        GTEST_SKIP() << "an unprivileged user cannot reach the scratch folder: " << *got;
    EXPECT_EQ(*got, "5");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(ro), {}), 1);

    // Changes still in the log: those need the -shm file, which the reader
    // cannot create; a writer's open and close moves them into the file.
    ::chmod(ro.c_str(), 0755);
    ::chmod(path.c_str(), 0644);
    {
        CatalogueWriter w(path);
        w.Db().ExecScript("PRAGMA wal_autocheckpoint = 0");
        w.Task(1, 6, Variant(int32_t{0}), Variant("In the log"), 2).Grant(1, 6);
        std::filesystem::copy_file(path, dir.File("copy.db"));
        std::filesystem::copy_file(path + "-wal", dir.File("copy.db-wal"));
    }
    std::filesystem::rename(dir.File("copy.db"), path);
    std::filesystem::rename(dir.File("copy.db-wal"), path + "-wal");
    ::chmod(ro.c_str(), 0555);
    got = AsUnprivilegedUser([&] { return LoadedIds(path); });
    EXPECT_EQ(got.value_or(""),
              "error 35800: The catalogue \"" + path +
                  "\" cannot be read in its read-only folder: it is in WAL mode, and the changes "
                  "in its write-ahead log \"" +
                  path + "-wal\" need the file \"" + path +
                  "-shm\", which cannot be created there. As a user who may write the folder, "
                  "run: kevra-catalog init " +
                  path + " (it moves the changes into the catalogue file)");
    ::chmod(ro.c_str(), 0755);
    { CatalogueWriter repaired(path); }
    ::chmod(ro.c_str(), 0555);
    EXPECT_EQ(AsUnprivilegedUser([&] { return LoadedIds(path); }).value_or(""), "5 6");
    ::chmod(ro.c_str(), 0755);
}

TEST(SqliteStoreHostile, ViewsAndVirtualTablesInPlaceOfTheTablesAreRefused) {
    const char* const names[] = {"task", "task_grant", "kevra_migration"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        ScratchDir dir;
        const std::string path = dir.File("view.db");
        {
            CatalogueWriter w(path);
            // Endless: a query that read it would never return.
            w.Db().ExecScript(std::string("ALTER TABLE ") + name + " RENAME TO old_" + name +
                              "; CREATE VIEW \"" + name +
                              "\" AS WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 "
                              "FROM r) SELECT * FROM old_" +
                              name + ", r");
        }
        const auto start = std::chrono::steady_clock::now();
        RuntimeError e = LoadError(path);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_EQ(e.Number(), err::kBadCatalogue);
        EXPECT_EQ(e.Description(), "The catalogue \"" + path +
                                       "\" is not a task catalogue as kevra-catalog writes it: \"" +
                                       name +
                                       "\" is a view, not a table. Import the tasks into a new "
                                       "catalogue (kevra-catalog init, then kevra-catalog import)");
        // The tools that write refuse it as well, before touching it.
        EXPECT_THROW(OpenDatabase(ResolveMachineName(path), OpenMode::kReadWrite), RuntimeError);
    }

    ScratchDir dir;
    const std::string path = dir.File("virtual.db");
    {
        CatalogueWriter w(path);
        try {
            w.Db().ExecScript(
                "DROP TABLE task_grant; CREATE VIRTUAL TABLE task_grant USING "
                "fts5(app_id, task_id, user_number, brand, facility_id)");
        } catch (const RuntimeError& e) {
            GTEST_SKIP() << "this SQLite has no virtual table module to test with: "
                         << e.Description();
        }
    }
    EXPECT_NE(LoadError(path).Description().find("\"task_grant\" is a virtual table, not a table"),
              std::string::npos);
}

TEST(SqliteStoreHostile, StatementBeyondTheDeadlineIsGivenUp) {
    SetSqliteStatementTimeout(std::chrono::milliseconds(300));
    struct Restore {
        ~Restore() { SetSqliteStatementTimeout(kDefaultStatementTimeout); }
    } restore;
    ScratchDir dir;
    const std::string path = dir.File("slow.db");
    CatalogueWriter w(path);
    const auto start = std::chrono::steady_clock::now();
    try {
        w.Db().Execute(
            "WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r) SELECT count(*) "
            "FROM r");
        FAIL() << "an endless statement ended";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), err::kDatabase);
        EXPECT_EQ(e.Description(),
                  "The catalogue \"" + path +
                      "\" was given up after 1 second on one query, far longer than a task "
                      "catalogue needs: the file is damaged, on storage that does not answer, or "
                      "holds more than a task catalogue");
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    // Each statement has its own time.
    w.Task(1, 5, Variant(int32_t{0}), Variant("Quick"), 1).Grant(1, 5);
    EXPECT_EQ(LoadedIds(path), "5");
}

TEST(SqliteStoreHostile, ValuesBeyondTheTextLimitsAreRefused) {
    ScratchDir dir;
    const std::string path = dir.File("long.db");
    CatalogueWriter w(path);
    w.Task(1, 5, Variant(int32_t{0}), Variant(std::string((16 << 20) + 1, 'x')), 1).Grant(1, 5);
    try {
        LoadedIds(path);
        FAIL() << "a value beyond the limit was loaded";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), err::kBadCatalogue);
        EXPECT_EQ(e.Description(), "The catalogue \"" + path +
                                       "\" is too large to load: it holds a value longer than 16 "
                                       "MiB (see docs/catalogues.md, \"Limits\")");
    }

    // Sixteen MiB exactly is allowed, more than one of them in a row too.
    const std::string limit(16 << 20, 'y');
    w.Db().Execute("UPDATE task SET description = $1, parms = $1", {Variant(limit)});
    TableRef rows = RetrieveTaskRows(path, TaskQuery{0, "", "", 1});
    EXPECT_EQ(testing::ReadRows(rows, {"TaskParms"}).at(0).at(0).StringValue().size(),
              limit.size());

    // A value from the host beyond what a catalogue holds matches nothing,
    // and says so rather than blaming the catalogue.
    try {
        RetrieveTaskRows(path, TaskQuery{0, std::string((16 << 20) + 1, 'b'), "", 1});
        FAIL() << "a brand beyond the limit was looked up";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), err::kInvalidArgument) << e.Description();
        EXPECT_NE(e.Description().find("longer than any value of the catalogue"), std::string::npos)
            << e.Description();
    }
}

}  // namespace

testing::StoreFactory* testing::ContractStore() {
    static SqliteFactory factory;
    return &factory;
}

}  // namespace kevra::service
