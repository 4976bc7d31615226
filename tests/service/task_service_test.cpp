// KEVRA.clsKEVRA as the control meets it: created by ProgID through the data
// space, RetrieveTasks called by name with five by-reference arguments.
#include "service/task_service.h"

#include <gtest/gtest.h>

#include "platform/error.h"
#include "service/catalogue_location.h"
#include "test_util.h"

namespace kevra::service {
namespace {

using testing::ScratchDir;
using testing::TaskIds;

const char* const kCatalogue = R"([
  {"TaskId": 10, "TaskParent": 0, "TaskDescription": "Front Office"},
  {"TaskId": 11, "TaskParent": 10, "TaskDescription": "Reservations", "IsLink": true,
   "TaskURL": "https://pms/res", "TaskParms": "mode=new", "AppId": 2,
   "Grants": [{"UserNumber": 99}]},
  {"TaskId": 5, "TaskParent": 0, "TaskDescription": "Housekeeping"}
])";

class TaskServiceTest : public ::testing::Test {
  protected:
    void SetUp() override { RegisterTaskService(registry_); }

    std::shared_ptr<Dispatchable> Create(std::string machine_name) {
        DataSpace space(registry_);
        auto obj = std::dynamic_pointer_cast<Dispatchable>(
            space.CreateObject("kevra.CLSKEVRA", machine_name));
        EXPECT_TRUE(obj);
        return obj;
    }

    // Calls RetrieveTasks the way the control does; returns argument 5.
    Variant Retrieve(Dispatchable& svc, Variant previous = Variant(),
                     const char* member = "RetrieveTasks") {
        Variant user(int32_t{42}), facility("LON"), brand("x' OR '1'='1"), app(int32_t{7});
        svc.InvokeByName(member, {&user, &facility, &brand, &app, &previous});
        return previous;
    }

    static TableRef RowsOf(const Variant& v) {
        auto rs = std::dynamic_pointer_cast<Recordset>(v.ObjectValue());
        EXPECT_TRUE(rs);
        return rs ? rs->Rows() : nullptr;
    }

    ComponentRegistry registry_;
    ScratchDir dir_;
};

TEST_F(TaskServiceTest, JsonCatalogueComesBackWholeInFileOrder) {
    auto svc = Create(dir_.Write("tasks.json", kCatalogue));
    Variant result = Retrieve(*svc);
    ASSERT_EQ(result.type(), Variant::Type::Object);
    EXPECT_EQ(TaskIds(RowsOf(result)), (std::vector<int64_t>{10, 11, 5}))
        << "grants and application ids do not filter a JSON catalogue";
}

TEST_F(TaskServiceTest, RecordSetOutlivesTheServiceAndReplacesThePrevious) {
    std::string path = dir_.Write("tasks.json", kCatalogue);
    Variant first = Retrieve(*Create(path));
    auto first_rs = std::dynamic_pointer_cast<Recordset>(first.ObjectValue());

    dir_.Write("tasks.json", R"([{"TaskId": 1, "TaskParent": 0, "TaskDescription": "New"}])");
    Variant second;
    {
        auto svc = Create(path);
        second = Retrieve(*svc, first);
    }  // service released
    EXPECT_NE(second.ObjectValue(), first.ObjectValue());
    EXPECT_EQ(TaskIds(RowsOf(second)), std::vector<int64_t>{1});
    // The previous record set was handed in, not closed: the caller's
    // reference to it still reads.
    EXPECT_EQ(first_rs->State(), 1);
    EXPECT_EQ(first_rs->RecordCount(), 3);
}

TEST_F(TaskServiceTest, MembersAreFoundWithoutRegardToCase) {
    auto svc = Create(dir_.Write("tasks.json", kCatalogue));
    EXPECT_EQ(TaskIds(RowsOf(Retrieve(*svc, Variant(), "retrievetasks"))).size(), 3u);
    try {
        Retrieve(*svc, Variant(), "RetrieveTask");
        FAIL();
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), err::kNoSuchMember);
        EXPECT_NE(e.Description().find("\"RetrieveTask\""), std::string::npos);
    }
}

TEST_F(TaskServiceTest, BadArgumentsAreRefusedWithTheirName) {
    auto svc = Create(dir_.Write("tasks.json", kCatalogue));
    Variant a(int32_t{1}), b("F"), c("B"), d(int32_t{1}), e;
    try {
        svc->InvokeByName("RetrieveTasks", {&a, &b, &c, &d});
        FAIL();
    } catch (const RuntimeError& ex) {
        EXPECT_EQ(ex.Number(), err::kWrongArgumentCount);
    }
    Variant text_user("twelve");
    try {
        svc->InvokeByName("RetrieveTasks", {&text_user, &b, &c, &d, &e});
        FAIL();
    } catch (const RuntimeError& ex) {
        EXPECT_EQ(ex.Number(), err::kTypeMismatch);
        EXPECT_EQ(ex.Description().rfind("RetrieveTasks: the user number (\"twelve\")", 0), 0u)
            << ex.Description();
    }
    Variant null_app = Variant::Null();
    try {
        svc->InvokeByName("RetrieveTasks", {&a, &b, &c, &null_app, &e});
        FAIL();
    } catch (const RuntimeError& ex) {
        EXPECT_EQ(ex.Number(), err::kInvalidUseOfNull);
    }
    EXPECT_TRUE(e.IsEmpty()) << "a refused call leaves argument 5 alone";
}

TEST_F(TaskServiceTest, FailedLoadsLeaveArgumentFiveAlone) {
    auto svc = Create("missing.json");
    Variant previous("untouched");
    try {
        Retrieve(*svc, previous);
        FAIL();
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), err::kFileNotFound);
        EXPECT_EQ(e.Description(),
                  "Cannot open the catalogue \"missing.json\": No such file or directory");
    }
    Variant user(int32_t{1}), f(""), b(""), app(int32_t{1});
    svc = Create(dir_.Write("broken.json", "[{\"TaskId\": 1"));
    EXPECT_THROW(svc->InvokeByName("RetrieveTasks", {&user, &f, &b, &app, &previous}),
                 RuntimeError);
    EXPECT_EQ(previous, Variant("untouched"));
}

TEST(CatalogueLocation, FormsPickTheirStore) {
    struct Case {
        const char* name;
        StoreKind kind;
        const char* target;
    };
    const Case cases[] = {
        {"tasks.json", StoreKind::kJson, "tasks.json"},
        {"  Dir/Tasks.JSON ", StoreKind::kJson, "Dir/Tasks.JSON"},
        {"cat.db", StoreKind::kSqlite, "cat.db"},
        {"cat.SQLite3", StoreKind::kSqlite, "cat.SQLite3"},
        {"sqlite:cat", StoreKind::kSqlite, "cat"},
        {"sqlite:///srv/cat", StoreKind::kSqlite, "/srv/cat"},
        {"postgresql://u@h/db.json", StoreKind::kPostgres, "postgresql://u@h/db.json"},
        {"postgres://h", StoreKind::kPostgres, "postgres://h"},
        {"host=h dbname=x", StoreKind::kPostgres, "host=h dbname=x"},
        {"pms-01", StoreKind::kPostgres, "host='pms-01' dbname=kevra"},
        {"it's", StoreKind::kPostgres, "host='it\\'s' dbname=kevra"},
    };
    for (const auto& c : cases) {
        CatalogueLocation loc = ResolveMachineName(c.name);
        EXPECT_EQ(loc.kind, c.kind) << c.name;
        EXPECT_EQ(loc.target, c.target) << c.name;
    }
    EXPECT_EQ(ResolveMachineName("postgresql://u:secret@h/db").display,
              "server \"h\" database \"db\"")
        << "a password must not reach a message";
}

TEST(CatalogueLocation, EmptyNameIsThePerUserDefault) {
    std::string saved_xdg = getenv("XDG_DATA_HOME") ? getenv("XDG_DATA_HOME") : "";
    std::string saved_home = getenv("HOME") ? getenv("HOME") : "";
    setenv("XDG_DATA_HOME", "/data/u/", 1);
    EXPECT_EQ(ResolveMachineName("").target, "/data/u/kevra/tasks.db");
    EXPECT_TRUE(ResolveMachineName(" ").is_default);
    setenv("XDG_DATA_HOME", "relative", 1);
    setenv("HOME", "/home/u", 1);
    EXPECT_EQ(ResolveMachineName("").target, "/home/u/.local/share/kevra/tasks.db");
    unsetenv("XDG_DATA_HOME");
    unsetenv("HOME");
    EXPECT_THROW(ResolveMachineName(""), RuntimeError);
    if (!saved_home.empty()) setenv("HOME", saved_home.c_str(), 1);
    if (!saved_xdg.empty()) setenv("XDG_DATA_HOME", saved_xdg.c_str(), 1);
}

}  // namespace
}  // namespace kevra::service
