// The store contract: selection by grants in sort order, host values kept
// out of the SQL, values and nulls as the record set must hold them, rows
// that outlive the connection, and a JSON catalogue that shows the same
// after a trip through the database.
#include "store_contract.h"

#include <gtest/gtest.h>

#include "platform/error.h"
#include "service/catalogue_tools.h"
#include "service/task_service.h"
#include "test_util.h"

namespace kevra::service::testing {
namespace {

// Apps 1 and 2 of a hotel group: app 1 has a task for everyone, one for user
// 12, one for brand Azure, one for facility LON, one for Azure at PAR only,
// one granted to no one, and one for a brand spelled like an injection;
// app 2 reuses an id.
class Selection : public StoreContract {
  protected:
    void SetUp() override {
        StoreContract::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        target_ = Store().NewCatalogue();
        CatalogueWriter w(target_);
        const Variant top(int32_t{0}), fo(int32_t{10});
        w.Task(1, 10, top, Variant("Front Office"), 1).Grant(1, 10);
        w.Task(1, 30, fo, Variant("Night Audit"), 2).Grant(1, 30, Variant(int32_t{12}));
        w.Task(1, 20, fo, Variant("Rates"), 2).Grant(1, 20, {}, Variant("Azure"));
        w.Task(1, 40, fo, Variant("Local desk"), 3).Grant(1, 40, {}, {}, Variant("LON"));
        w.Task(1, 50, fo, Variant("Paris desk"), 4)
            .Grant(1, 50, {}, Variant("Azure"), Variant("PAR"));
        w.Task(1, 60, fo, Variant("Nobody"), 5);
        w.Task(1, 70, fo, Variant("Quote brand"), 6).Grant(1, 70, {}, Variant("x' OR '1'='1"));
        w.Task(2, 10, top, Variant("Spa"), 1).Grant(2, 10);
    }
    std::vector<int64_t> Ids(int32_t user, const std::string& facility, const std::string& brand,
                             int32_t app = 1) {
        return TaskIds(RetrieveTaskRows(target_, TaskQuery{user, facility, brand, app}));
    }
    std::string target_;
};

TEST_P(Selection, GrantsPickTheRowsInSortOrderThenId) {
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

TEST_P(Selection, HostValuesNeverBecomeSql) {
    EXPECT_EQ(Ids(0, "", "x' OR '1'='1"), (std::vector<int64_t>{10, 70}))
        << "the brand selects only the grant that names it verbatim";
    EXPECT_EQ(Ids(0, "' OR 1=1 --", "\" OR \"\"=\""), (std::vector<int64_t>{10}));
    EXPECT_EQ(Ids(0, "LON'); DROP TABLE task; --", ""), (std::vector<int64_t>{10}));
    EXPECT_EQ(Ids(0, "", "$1"), (std::vector<int64_t>{10}));
    EXPECT_EQ(Ids(12, "PAR", "Azure"), (std::vector<int64_t>{10, 20, 30, 50}))
        << "the catalogue is intact afterwards";
}

TEST_P(Selection, ServiceArgumentsReachTheirParameters) {
    // Distinct values in each position catch an argument order slip.
    ComponentRegistry registry;
    RegisterTaskService(registry);
    DataSpace space(registry);
    std::string server = target_;
    auto svc =
        std::dynamic_pointer_cast<Dispatchable>(space.CreateObject(kTaskServiceProgId, server));
    Variant user(int32_t{12}), facility("LON"), brand("Azure"), app(int32_t{1}), rs;
    svc->InvokeByName("RetrieveTasks", {&user, &facility, &brand, &app, &rs});
    svc.reset();
    auto cursor = std::dynamic_pointer_cast<Recordset>(rs.ObjectValue());
    ASSERT_TRUE(cursor);
    EXPECT_EQ(TaskIds(cursor->Rows()), (std::vector<int64_t>{10, 20, 30, 40}));
}

TEST_P(StoreContract, EachGrantedTaskComesOnceWhateverItsIdsAndGrants) {
    // Ids close together and ids far apart, against the sort order; tasks
    // that several grants reach; an id granted only in another application.
    for (const int32_t far : {9, 1'000'000'000}) {
        SCOPED_TRACE(far);
        const std::string target = Store().NewCatalogue();
        CatalogueWriter w(target);
        const Variant top(int32_t{0});
        w.Task(1, far, top, Variant("a"), 0).Grant(1, far);
        w.Task(1, 8, top, Variant("b"), 1).Grant(1, 8).Grant(1, 8, Variant(int32_t{12}));
        w.Task(1, 5, top, Variant("c"), 2)
            .Grant(1, 5, {}, Variant("Azure"))
            .Grant(1, 5, {}, {}, Variant("LON"));
        w.Task(1, -7, top, Variant("d"), 2).Grant(1, -7);
        w.Task(2, 6, top, Variant("f"), 1).Grant(2, 6);
        w.Task(1, 6, top, Variant("e"), 3);
        EXPECT_EQ(TaskIds(RetrieveTaskRows(target, TaskQuery{12, "LON", "Azure", 1})),
                  (std::vector<int64_t>{far, 8, -7, 5}));
        EXPECT_EQ(TaskIds(RetrieveTaskRows(target, TaskQuery{0, "", "", 1})),
                  (std::vector<int64_t>{far, 8, -7}));
        EXPECT_EQ(TaskIds(RetrieveTaskRows(target, TaskQuery{0, "", "", 2})),
                  (std::vector<int64_t>{6}));
    }
}

TEST_P(StoreContract, ValuesKeepTheirTypesAndNullsAndOutliveTheConnection) {
    std::string target = Store().NewCatalogue();
    TableRef rows;
    {
        CatalogueWriter w(target);
        w.Task(1, 1, Variant(int32_t{0}), Variant("  Padded \xC3\xA9 "), 1, Variant::Boolean(true),
               Variant("https://pms/x"), Variant("a=1&b='2'"))
            .Grant(1, 1);
        w.Task(1, 2, Variant::Null(), Variant::Null(), 2).Grant(1, 2);
        w.Task(1, 3, Variant(int32_t{1}), Variant("Off"), 3, Variant::Boolean(false)).Grant(1, 3);
        w.Task(1, -2147483647 - 1, Variant(int32_t{2147483647}), Variant(""), 4)
            .Grant(1, INT32_MIN);
        rows = RetrieveTaskRows(target, TaskQuery{0, "", "", 1});
        // Empty the catalogue: the rows already loaded must not depend on it.
        w.Db().Execute("DELETE FROM task_grant");
        w.Db().Execute("DELETE FROM task");
    }
    auto values = ReadRows(
        rows, {"TaskId", "TaskParent", "TaskDescription", "IsLink", "TaskURL", "TaskParms"});
    ASSERT_EQ(values.size(), 4u);
    EXPECT_EQ(values[0],
              (std::vector<Variant>{Variant(int32_t{1}), Variant(int32_t{0}),
                                    Variant("  Padded \xC3\xA9 "), Variant::Boolean(true),
                                    Variant("https://pms/x"), Variant("a=1&b='2'")}));
    for (size_t f = 1; f < 6; ++f) EXPECT_TRUE(values[1][f].IsNull()) << f;
    EXPECT_EQ(values[2][3], Variant::Boolean(false));
    EXPECT_EQ(values[3][0], Variant(int32_t{INT32_MIN}));
    EXPECT_EQ(values[3][1], Variant(int32_t{INT32_MAX}));
    EXPECT_EQ(values[3][2], Variant("")) << "empty text is not Null";
    EXPECT_TRUE(TaskIds(RetrieveTaskRows(target, TaskQuery{0, "", "", 1})).empty());
}

TEST_P(StoreContract, CatalogueWithoutSchemaSaysHowToMakeOne) {
    std::string target = Store().NewCatalogue();
    {
        auto db = OpenDatabase(ResolveMachineName(target), OpenMode::kCreate);
        db->ExecScript("CREATE TABLE unrelated (x INTEGER)");
    }
    try {
        RetrieveTaskRows(target, TaskQuery{});
        FAIL();
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), err::kBadCatalogue);
        EXPECT_NE(e.Description().find("holds no task catalogue (its tables are missing); create "
                                       "them with: kevra-catalog init"),
                  std::string::npos)
            << e.Description();
    }
}

TEST_P(StoreContract, LoadConnectionCannotWrite) {
    std::string target = Store().NewCatalogue();
    CatalogueWriter(target).Task(1, 1, Variant(int32_t{0}), Variant("Kept"), 1).Grant(1, 1);
    try {
        OpenDatabase(ResolveMachineName(target), OpenMode::kReadOnly)->Execute("DELETE FROM task");
        FAIL() << "a load's connection wrote";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), err::kPermissionDenied) << e.Description();
        EXPECT_NE(e.Description().find("cannot be written"), std::string::npos);
    }
    EXPECT_EQ(TaskIds(RetrieveTaskRows(target, TaskQuery{0, "", "", 1})), std::vector<int64_t>{1});
}

// Rows out of id order, every kind of null, link flags that are and are not
// True, text fields given as numbers, a whole-valued double id, a row whose
// parent does not exist and one with no parent.
const char* const kTricky = R"([
  {"TaskId": 30, "TaskParent": 0, "TaskDescription": "  Rooms  ", "IsLink": false},
  {"TaskId": 7, "TaskParent": 30, "TaskDescription": "Status", "IsLink": -1, "TaskURL": " https://h/s ", "TaskParms": 5},
  {"TaskId": 8.0, "TaskParent": 30, "TaskDescription": 12, "IsLink": 1, "TaskURL": "https://h/n"},
  {"TaskId": 2, "TaskParent": 7, "TaskDescription": "Deep", "IsLink": true, "TaskURL": "u", "TaskParms": null, "Colour": "red"},
  {"TaskId": 1, "TaskParent": 0, "TaskDescription": "Second group", "IsLink": null},
  {"TaskId": 40, "TaskParent": null, "TaskDescription": null},
  {"TaskId": 41, "TaskParent": 999, "TaskDescription": "Orphan", "IsLink": "yes"}
])";

TEST_P(StoreContract, ImportedJsonShowsWhatTheFileShows) {
    ScratchDir dir;
    for (const std::string& json : {dir.Write("tricky.json", kTricky),
                                    std::string(KEVRA_SOURCE_DIR) + "/samples/quickstart.json"}) {
        std::string target = Store().NewCatalogue();
        ImportResult r = ImportJson(json, target, 1);
        std::vector<std::string> direct = AsShown(RetrieveTaskRows(json, TaskQuery{}));
        std::vector<std::string> stored =
            AsShown(RetrieveTaskRows(target, TaskQuery{4711, "ANY", "Any", 1}));
        EXPECT_EQ(stored, direct) << json;
        EXPECT_EQ(r.tasks, direct.size());
        if (json.find("tricky") != std::string::npos) {
            EXPECT_EQ(r.warnings.size(), 5u) << "IsLink -1, 1, \"yes\"; TaskParms 5; text 12";
        }
    }
}

TEST_P(StoreContract, SampleRoundTripsThroughExport) {
    ScratchDir dir;
    std::string sample = std::string(KEVRA_SOURCE_DIR) + "/samples/hotel-catalogue.json";
    std::string target = Store().NewCatalogue();
    ImportResult r = ImportJson(sample, target, 1);
    EXPECT_EQ(r.applications, (std::vector<int32_t>{1, 2, 3}));
    EXPECT_TRUE(CheckCatalogue(target).empty());
    std::string out1 = dir.File("out1.json"), out2 = dir.File("out2.json");
    EXPECT_EQ(ExportJson(target, out1), r.tasks);
    std::string copy = Store().NewCatalogue();
    ImportJson(out1, copy, 1);
    ExportJson(copy, out2);
    EXPECT_EQ(ReadFile(out1), ReadFile(out2));

    auto has = [&](const char* brand, const char* description) {
        RecordsetRef rs =
            Recordset::Open(RetrieveTaskRows(target, TaskQuery{0, "LON01", brand, 1}));
        rs->Filter(std::string("TaskDescription = '") + description + "'");
        return rs->RecordCount() == 1;
    };
    EXPECT_TRUE(has("Meridane Coast", "Spa & Wellness"));
    EXPECT_FALSE(has("Meridane Grand", "Spa & Wellness")) << "a brand grant keeps others out";
    EXPECT_TRUE(has("Meridane Grand", "Front Office"));
}

std::string StoreName(const ::testing::TestParamInfo<StoreFactory*>& info) {
    return info.param->Kind();
}

INSTANTIATE_TEST_SUITE_P(Store, StoreContract, ::testing::Values(ContractStore()), StoreName);
INSTANTIATE_TEST_SUITE_P(Store, Selection, ::testing::Values(ContractStore()), StoreName);

}  // namespace
}  // namespace kevra::service::testing
