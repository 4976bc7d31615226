// The SQLite catalogue store: selection by grants, values as the record set
// must hold them, and the failures a load can meet (missing file, no
// schema, not a database, read-only file).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/error.h"
#include "service/catalogue_schema.h"
#include "service/database.h"
#include "service/task_service.h"
#include "test_util.h"

namespace kevra::service {
namespace {

using testing::ReadRows;
using testing::ScratchDir;
using testing::TaskIds;

// Writes a catalogue through the same SQL the tools use.
class CatalogueWriter {
  public:
    // `machine_name` in any SQLite MachineName form ("" for the default).
    explicit CatalogueWriter(const std::string& machine_name) {
        CatalogueLocation loc = ResolveMachineName(machine_name);
        db_ = OpenDatabase(loc, OpenMode::kCreate);
        UpgradeSchema(*db_);
    }
    CatalogueWriter& Task(int32_t app, int32_t id, Variant parent, Variant desc, int32_t order,
                          Variant link = Variant::Null(), Variant url = Variant::Null(),
                          Variant parms = Variant::Null()) {
        db_->Execute(
            "INSERT INTO task (app_id, id, parent, description, is_link, url, parms, sort_order) "
            "VALUES ($1, $2, $3, $4, $5, $6, $7, $8)",
            {Variant(app), Variant(id), parent, desc, link, url, parms, Variant(order)});
        return *this;
    }
    CatalogueWriter& Grant(int32_t app, int32_t id, Variant user = Variant::Null(),
                           Variant brand = Variant::Null(), Variant facility = Variant::Null()) {
        db_->Execute(
            "INSERT INTO task_grant (app_id, task_id, user_number, brand, facility_id) VALUES "
            "($1, $2, $3, $4, $5)",
            {Variant(app), Variant(id), user, brand, facility});
        return *this;
    }
    Database& Db() { return *db_; }

  private:
    std::unique_ptr<Database> db_;
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

// A hotel group's catalogue: app 1 with tasks for everyone, for user 12,
// for brand Azure, for facility LON, for Azure at PAR only, and one task
// with no grant; app 2 reuses ids.
class SqliteSelection : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = dir_.File("hotel.db");
        CatalogueWriter w(path_);
        w.Task(1, 10, Variant(int32_t{0}), Variant("Front Office"), 1).Grant(1, 10);
        w.Task(1, 30, Variant(int32_t{10}), Variant("Night Audit"), 2)
            .Grant(1, 30, Variant(int32_t{12}));
        w.Task(1, 20, Variant(int32_t{10}), Variant("Rates"), 2).Grant(1, 20, {}, Variant("Azure"));
        w.Task(1, 40, Variant(int32_t{10}), Variant("Local desk"), 3)
            .Grant(1, 40, {}, {}, Variant("LON"));
        w.Task(1, 50, Variant(int32_t{10}), Variant("Paris desk"), 4)
            .Grant(1, 50, {}, Variant("Azure"), Variant("PAR"));
        w.Task(1, 60, Variant(int32_t{10}), Variant("Nobody"), 5);
        w.Task(1, 70, Variant(int32_t{10}), Variant("Literal quote brand"), 6)
            .Grant(1, 70, {}, Variant("x' OR '1'='1"));
        w.Task(2, 10, Variant(int32_t{0}), Variant("Spa"), 1).Grant(2, 10);
    }
    std::vector<int64_t> Ids(int32_t user, const char* facility, const char* brand,
                             int32_t app = 1) {
        return TaskIds(RetrieveTaskRows(path_, TaskQuery{user, facility, brand, app}));
    }

    ScratchDir dir_;
    std::string path_;
};

TEST_F(SqliteSelection, GrantsPickTheRowsInSortOrderThenId) {
    EXPECT_EQ(Ids(0, "", ""), (std::vector<int64_t>{10}));
    EXPECT_EQ(Ids(12, "", ""), (std::vector<int64_t>{10, 30}));
    EXPECT_EQ(Ids(0, "", "Azure"), (std::vector<int64_t>{10, 20}));
    EXPECT_EQ(Ids(0, "LON", ""), (std::vector<int64_t>{10, 40}));
    EXPECT_EQ(Ids(12, "PAR", "Azure"), (std::vector<int64_t>{10, 20, 30, 50}));
    EXPECT_EQ(Ids(0, "PAR", "Other"), (std::vector<int64_t>{10}))
        << "a brand-and-facility grant needs both";
    EXPECT_EQ(Ids(0, "", "azure"), (std::vector<int64_t>{10})) << "brands match exactly";
    EXPECT_EQ(Ids(12, "", "", 2), (std::vector<int64_t>{10}));
    EXPECT_TRUE(Ids(12, "", "", 3).empty());
}

TEST_F(SqliteSelection, HostValuesNeverBecomeSql) {
    EXPECT_EQ(Ids(0, "", "x' OR '1'='1"), (std::vector<int64_t>{10, 70}))
        << "the brand selects only the grant that names it verbatim";
    EXPECT_EQ(Ids(0, "' OR 1=1 --", "\" OR \"\"=\""), (std::vector<int64_t>{10}));
    EXPECT_EQ(Ids(0, "LON'); DROP TABLE task; --", ""), (std::vector<int64_t>{10}));
    EXPECT_EQ(Ids(12, "PAR", "Azure"), (std::vector<int64_t>{10, 20, 30, 50}))
        << "the catalogue is intact afterwards";
}

TEST_F(SqliteSelection, ServiceArgumentsReachTheirParameters) {
    // Distinct values in each position catch an argument order slip.
    ComponentRegistry registry;
    RegisterTaskService(registry);
    DataSpace space(registry);
    std::string server = path_;
    auto svc =
        std::dynamic_pointer_cast<Dispatchable>(space.CreateObject(kTaskServiceProgId, server));
    Variant user(int32_t{12}), facility("LON"), brand("Azure"), app(int32_t{1}), rs;
    svc->InvokeByName("RetrieveTasks", {&user, &facility, &brand, &app, &rs});
    svc.reset();
    auto cursor = std::dynamic_pointer_cast<Recordset>(rs.ObjectValue());
    ASSERT_TRUE(cursor);
    EXPECT_EQ(TaskIds(cursor->Rows()), (std::vector<int64_t>{10, 20, 30, 40}));
}

TEST(SqliteStore, ValuesKeepTheirTypesAndNulls) {
    ScratchDir dir;
    std::string path = dir.File("v.db");
    {
        CatalogueWriter w(path);
        w.Task(1, 1, Variant(int32_t{0}), Variant("  Padded  "), 1, Variant::Boolean(true),
               Variant("https://pms/x"), Variant("a=1&b='2'"))
            .Grant(1, 1);
        w.Task(1, 2, Variant::Null(), Variant::Null(), 2).Grant(1, 2);
        w.Task(1, 3, Variant(int32_t{1}), Variant("Off"), 3, Variant::Boolean(false)).Grant(1, 3);
    }
    TableRef rows = RetrieveTaskRows(path, TaskQuery{0, "", "", 1});
    // The database and its file are gone; the rows are the record set's own.
    std::filesystem::remove(path);
    auto values = ReadRows(
        rows, {"TaskId", "TaskParent", "TaskDescription", "IsLink", "TaskURL", "TaskParms"});
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0], (std::vector<Variant>{Variant(int32_t{1}), Variant(int32_t{0}),
                                               Variant("  Padded  "), Variant::Boolean(true),
                                               Variant("https://pms/x"), Variant("a=1&b='2'")}));
    for (size_t f = 1; f < 6; ++f) EXPECT_TRUE(values[1][f].IsNull()) << f;
    EXPECT_EQ(values[2][3], Variant::Boolean(false));
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
    auto bytes = [&] {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    };
    const std::string before = bytes();
    ::chmod(path.c_str(), 0444);
    ::chmod((dir.Path() / "ro").c_str(), 0555);
    EXPECT_EQ(TaskIds(RetrieveTaskRows(path, TaskQuery{0, "", "", 1})), std::vector<int64_t>{5});
    EXPECT_EQ(bytes(), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path() / "ro"), {}), 1)
        << "a load leaves no journal behind";

    CatalogueLocation loc = ResolveMachineName(path);
    try {
        OpenDatabase(loc, OpenMode::kReadOnly)->Execute("DELETE FROM task");
        FAIL() << "a load's connection wrote";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), err::kPermissionDenied) << e.Description();
    }
    if (::geteuid() != 0) {  // root writes through file permissions
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
}  // namespace kevra::service
