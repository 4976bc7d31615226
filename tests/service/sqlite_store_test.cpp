// The SQLite catalogue store: the store contract on files, and the failures
// a load can meet with a file (missing, not a database, an empty file, a
// newer schema, read-only).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

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

}  // namespace

testing::StoreFactory* testing::ContractStore() {
    static SqliteFactory factory;
    return &factory;
}

}  // namespace kevra::service
