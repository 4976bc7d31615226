// The control against a task service whose answer each test chooses: the
// load cycle's failure paths, teardown, launch edge cases, group changes,
// restores that stop short, reloads, and fills (an empty item, the record
// set left as it was). Hostile catalogues (ids that are no keys or do not
// fit 32 bits, cycles, a chain a million deep) are fed through the whole
// path in tests/reliability/hostile_catalogue_test.cpp.
#include <gtest/gtest.h>

#include "control/dispatch.h"
#include "control_harness.h"
#include "platform/faults.h"

namespace kevra {
namespace {

using testing::Harness;
using testing::Row;

const std::vector<Row> kSmall = {
    {1, 0, "Front Office"},
    {2, 1, "Reservations"},
    {3, 2, "New Booking", Variant::Boolean(true), " https://pms/new ", Variant::Null()},
    {4, 2, "Plain", Variant::Boolean(false)},
    {5, 0, "Housekeeping"},
};

bool Contains(const std::vector<std::string>& lines, const std::string& text) {
    for (const auto& l : lines)
        if (l.find(text) != std::string::npos) return true;
    return false;
}

TEST(LoadData, TheContainerSeesTheBusyStateAndTheRevealInOrder) {
    Harness h;
    h.site.ClearCalls();
    h.Load(kSmall);
    EXPECT_EQ(h.site.Calls(),
              (std::vector<std::string>{
                  "SetMousePointer 11", "SetEnabled false", "DoEvents",
                  "SetVisible lblStatus false", "SetVisible sslistTaskList true",
                  "SetVisible sstreeTaskList true", "SetEnabled true", "SetMousePointer 0"}));
    h.site.ClearCalls();
    h.registry.Unregister("KEVRA.clsKEVRA");
    h.control->LoadData();
    const auto& calls = h.site.Calls();
    ASSERT_EQ(calls.size(), 8u);
    EXPECT_EQ(calls[3].rfind("MsgBox critical ok \"KevraTaskList - LoadData\" \"429 ", 0), 0u)
        << calls[3];
    EXPECT_EQ(std::vector<std::string>(calls.begin() + 4, calls.end()),
              (std::vector<std::string>{
                  "SetLabelCaption \"An error has occurred - The task list could not be loaded\"",
                  "RefreshLabel", "SetEnabled true", "SetMousePointer 0"}));
}

TEST(LoadData, AnObjectThatIsNotARecordSetFailsAndKeepsThePreviousOne) {
    Harness h;
    h.Load(kSmall);
    RecordsetRef first = h.control->Tasks();
    ASSERT_TRUE(first);
    h.answer = [](std::vector<Variant*>& args) {
        *args[4] = Variant(ObjectRef(std::make_shared<testing::FakeService>(nullptr)));
    };
    h.control->LoadData();
    ASSERT_EQ(h.Boxes().size(), 1u);
    EXPECT_TRUE(Contains(h.Boxes(), "\"KevraTaskList - LoadData\" \"13 Type mismatch"));
    EXPECT_EQ(h.control->Tasks(), first);
    EXPECT_EQ(h.control->GetMembers().mblnDataLoaded, kTrue) << "an earlier success stays";
    EXPECT_FALSE(h.site.Frame(Child::lblStatus).visible);
    EXPECT_TRUE(h.site.Enabled());
    EXPECT_EQ(h.site.MousePointer(), 0);
}

TEST(LoadData, AnEmptyAnswerFailsAtTheFirstRecordSetCall) {
    Harness h;
    h.answer = [](std::vector<Variant*>& args) { *args[4] = Variant(); };
    h.control->LoadData();
    ASSERT_EQ(h.Boxes().size(), 1u);
    EXPECT_TRUE(Contains(h.Boxes(), "\"91 Object variable not set"));
    EXPECT_EQ(h.control->Tasks(), nullptr);
    EXPECT_EQ(h.site.LabelCaption(), "An error has occurred - The task list could not be loaded");
    EXPECT_TRUE(h.site.Frame(Child::lblStatus).visible);
    EXPECT_FALSE(h.site.Frame(Child::sslistTaskList).visible);
    EXPECT_EQ(h.control->GetMembers().mblnDataLoaded, kFalse);
}

TEST(LoadData, ValuesTheServiceWritesBackReplaceTheContext) {
    Harness h;
    h.control->UserNumber(7);
    h.control->Brand("HH");
    auto table = testing::MakeTable(kSmall);
    std::vector<std::string> seen;
    h.answer = [&](std::vector<Variant*>& args) {
        seen = {args[0]->ToString(), args[1]->ToString(), args[2]->ToString(), args[3]->ToString()};
        *args[0] = Variant(int32_t{8});
        *args[2] = Variant("Harbour");
        *args[4] = Variant(ObjectRef(Recordset::Open(table)));
    };
    h.control->LoadData();
    EXPECT_EQ(seen, (std::vector<std::string>{"7", "", "HH", "0"})) << "user, facility, brand, app";
    EXPECT_EQ(h.control->GetMembers().mlngUserNumber, 8);
    EXPECT_EQ(h.control->GetMembers().mstrBrand, "Harbour");
    EXPECT_TRUE(h.Boxes().empty());
}

TEST(LoadData, ValuesWrittenBackStayWhenTheServiceThenRaises) {
    Harness h;
    h.control->UserNumber(7);
    h.control->Brand("HH");
    h.answer = [](std::vector<Variant*>& args) {
        *args[0] = Variant(int32_t{8});
        *args[1] = Variant("Quay");
        *args[2] = Variant("Harbour");
        *args[3] = Variant(int32_t{5});
        throw RuntimeError(462, "The server does not answer: catalogue host");
    };
    h.control->LoadData();
    ASSERT_EQ(h.Boxes().size(), 1u);
    EXPECT_TRUE(Contains(h.Boxes(), "LoadData\" \"462 The server does not answer"));
    const auto m = h.control->GetMembers();
    EXPECT_EQ(m.mlngUserNumber, 8);
    EXPECT_EQ(m.mstrFacilityId, "Quay");
    EXPECT_EQ(m.mstrBrand, "Harbour");
    EXPECT_EQ(m.mlngAppId, 5);
    EXPECT_EQ(m.mblnDataLoaded, kFalse);
}

TEST(LoadData, OneWrittenBackValueThatDoesNotFitCostsTheOthersNothing) {
    Harness h;
    auto table = testing::MakeTable(kSmall);
    h.answer = [table](std::vector<Variant*>& args) {
        *args[0] = Variant("eight");
        *args[2] = Variant("Harbour");
        *args[3] = Variant(int32_t{5});
        *args[4] = Variant(ObjectRef(Recordset::Open(table)));
    };
    h.control->LoadData();
    ASSERT_EQ(h.Boxes().size(), 1u);
    EXPECT_TRUE(Contains(h.Boxes(), "LoadData\" \"13 Type mismatch"));
    const auto m = h.control->GetMembers();
    EXPECT_EQ(m.mlngUserNumber, 0) << "a user number cannot hold text";
    EXPECT_EQ(m.mstrBrand, "Harbour");
    EXPECT_EQ(m.mlngAppId, 5);
    EXPECT_EQ(m.mblnDataLoaded, kFalse);
}

TEST(LoadData, AnUnknownComponentIsReportedWithItsName) {
    Harness h;
    h.registry.Unregister("KEVRA.clsKEVRA");
    h.control->LoadData();
    ASSERT_EQ(h.Boxes().size(), 1u);
    EXPECT_TRUE(Contains(h.Boxes(), "429 Cannot create component"));
    EXPECT_TRUE(Contains(h.Boxes(), "KEVRA.clsKEVRA"));
}

TEST(Teardown, ClosesAnOpenRecordSetAndLeavesAClosedOneUnclosed) {
    Harness h;
    h.Load(kSmall);
    RecordsetRef rs = h.control->Tasks();
    h.control->UserControl_Terminate();
    EXPECT_EQ(rs->State(), 0);
    EXPECT_EQ(h.control->Tasks(), nullptr);

    Harness closed;
    auto table = testing::MakeTable({});
    closed.answer = [table](std::vector<Variant*>& args) {
        auto rs = Recordset::Open(table);
        *args[4] = Variant(ObjectRef(rs));
    };
    closed.control->LoadData();
    RecordsetRef kept = closed.control->Tasks();
    kept->Close();
    closed.control->UserControl_Terminate();  // must not try to close it again
    EXPECT_EQ(closed.control->Tasks(), nullptr);

    Harness none;
    none.control->UserControl_Terminate();
    EXPECT_TRUE(none.lines.empty());
}

TEST(Launch, ANodeKeyThatIsNoNumberIsReportedAfterTheSettingsAreWritten) {
    Harness h;
    h.Load(kSmall);
    h.control->sstreeTaskList().Nodes().Add("Xabc", "odd");
    ASSERT_TRUE(h.control->sstreeTaskList().UserSelect("Xabc"));
    h.control->sstreeTaskList().UserDblClick();
    EXPECT_EQ(h.settings.values["Selected Task/Task"], "Xabc");
    ASSERT_EQ(h.Boxes().size(), 1u);
    EXPECT_TRUE(Contains(h.Boxes(), "sstreeTaskList_DblClick\" \"13 Type mismatch"));
    EXPECT_TRUE(h.events.empty());
    EXPECT_TRUE(h.site.Enabled());
}

TEST(Launch, AFailingSettingsWriteStopsTheLaunch) {
    Harness h;
    h.Load(kSmall);
    h.control->sslistTaskList().UserClickItem("X2");
    h.control->sstreeTaskList().UserSelect("X3");
    faults::Arm("SaveSetting", 2, 70, "Permission denied: KevraTaskList.ini");
    h.control->sstreeTaskList().UserDblClick();
    EXPECT_EQ(h.settings.values.count("Selected Task/Group"), 1u);
    EXPECT_EQ(h.settings.values.count("Selected Task/ListItem"), 0u);
    EXPECT_TRUE(h.events.empty());
    EXPECT_TRUE(Contains(h.Boxes(), "70 Permission denied"));
    EXPECT_TRUE(h.site.Enabled());
    EXPECT_EQ(h.site.MousePointer(), 0);
    faults::Reset();
}

TEST(Launch, AHostHandlerThatThrowsIsReportedNotPropagated) {
    Harness h;
    h.Load(kSmall);
    h.control->OnStartTask([](int32_t, const std::string&, const std::string&) {
        throw std::runtime_error("host exploded");
    });
    h.control->sslistTaskList().UserClickItem("X2");
    h.control->sstreeTaskList().UserSelect("X3");
    EXPECT_NO_THROW(h.control->sstreeTaskList().UserDblClick());
    EXPECT_TRUE(Contains(h.Boxes(), "51 Internal error: host exploded"));
    EXPECT_TRUE(h.site.Enabled());
}

TEST(Launch, ATaskIdNotInTheRecordSetRaisesNoEventAndShowsNoReport) {
    Harness h;
    h.Load(kSmall);
    h.control->sslistTaskList().UserClickItem("X2");
    h.control->sstreeTaskList().Nodes().Add("X99", "gone from the catalogue");
    ASSERT_TRUE(h.control->sstreeTaskList().UserSelect("X99"));
    h.site.ClearCalls();
    h.control->sstreeTaskList().UserDblClick();
    EXPECT_EQ(h.settings.values["Selected Task/Task"], "X99");
    EXPECT_TRUE(h.events.empty());
    EXPECT_TRUE(h.Boxes().empty());
    EXPECT_EQ(h.control->Tasks()->Filter(), "TaskId=99");
    EXPECT_EQ(h.site.Calls().back(), "SetMousePointer 0");
    EXPECT_TRUE(h.site.Enabled());
}

TEST(GroupChange, KeysThatDifferInLetterCaseCountAsDifferent) {
    Harness h;
    h.Load(kSmall);
    auto& bar = h.control->sslistTaskList();
    bar.Groups().Add("Xa", "lower");
    bar.Groups().Add("XA", "upper");
    bar.UserOpenGroup("Xa");
    h.control->sslistTaskList().Groups().Item("Xa")->ListItems().Add("X2b", "x");
    // Fill the tree, then open the group whose key differs only in case.
    h.control->sslistTaskList().UserClickItem("X2b");
    ASSERT_GT(h.control->sstreeTaskList().Nodes().Count(), 0);
    bar.UserOpenGroup("XA");
    EXPECT_EQ(h.control->GetMembers().mstrSelectedGroup, "XA");
    EXPECT_EQ(h.control->sstreeTaskList().Nodes().Count(), 0);
    EXPECT_EQ(h.control->GetMembers().mstrSelectedListItem, "X2b");
}

TEST(GroupChange, AFailureRaisedByTheUserIsReportedByTheHandler) {
    Harness h;
    h.Load(kSmall);
    faults::Arm("Clear", 1, 1234, "tree gone");
    EXPECT_NO_THROW(h.control->sslistTaskList().UserOpenGroup("X5"));
    ASSERT_EQ(h.Boxes().size(), 1u);
    EXPECT_TRUE(Contains(h.Boxes(), "KevraTaskList - sslistTaskList_CurrentGroupChanged"));
    faults::Reset();
}

TEST(Restore, TheCurrentGroupWriteClearsTheTreeBeforeTheFill) {
    Harness h;
    h.settings.values["Selected Task/Group"] = "X5";
    h.settings.values["Selected Task/ListItem"] = "X6";
    h.settings.values["Selected Task/Task"] = " X7 ";
    std::vector<Row> rows = kSmall;
    rows.push_back({6, 5, "Linen"});
    rows.push_back({7, 6, "Count", Variant::Boolean(true), "u", Variant::Null()});
    h.Load(rows);
    // Nodes are showing when the restore opens the saved group.
    h.control->sstreeTaskList().Nodes().Add("X1", "left over");
    int clears = 0;
    h.control->sstreeTaskList().OnChanged([&](const Node* n) {
        if (!n && h.control->sstreeTaskList().Nodes().Count() == 0) ++clears;
    });
    h.control->UserControl_Paint();
    EXPECT_TRUE(h.Boxes().empty()) << (h.Boxes().empty() ? "" : h.Boxes()[0]);
    EXPECT_EQ(clears, 2) << "one by the group change, one by the fill";
    EXPECT_EQ(h.NodeKeys(), (std::vector<std::string>{"X5", "X6", "X7"}));
    ASSERT_NE(h.control->sstreeTaskList().Selected(), nullptr);
    EXPECT_EQ(h.control->sstreeTaskList().Selected()->Key(), "X7");
    EXPECT_EQ(h.control->GetMembers().mblnSelectionRestored, kTrue);
}

TEST(Restore, ASavedSelectionThatStopsShortOfATaskSelectsNothingAndReportsNothing) {
    struct Case {
        const char* name;
        const char *group, *item, *task;
        std::vector<std::string> nodes;
    };
    const Case cases[] = {
        {"empty list item: the group opens, no fill", "X5", "", "X3", {}},
        {"empty task: the fill, no selection", "X1", "X2", "", {"X1", "X2", "X3", "X4"}},
        {"task not in the filled tree", "X1", "X2", "X5", {"X1", "X2", "X3", "X4"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.settings.values["Selected Task/Group"] = c.group;
        h.settings.values["Selected Task/ListItem"] = c.item;
        h.settings.values["Selected Task/Task"] = c.task;
        h.Load(kSmall);
        h.site.Paint();
        h.site.AfterCommand();
        EXPECT_TRUE(h.Boxes().empty());
        EXPECT_EQ(h.control->sslistTaskList().CurrentGroup()->Key(), c.group);
        EXPECT_EQ(h.NodeKeys(), c.nodes);
        EXPECT_EQ(h.control->sstreeTaskList().Selected(), nullptr);
        const auto m = h.control->GetMembers();
        EXPECT_EQ(m.mstrSelectedGroup, c.group);
        EXPECT_EQ(m.mstrSelectedListItem, c.item);
        EXPECT_EQ(m.mstrSelectedTask, c.task);
        EXPECT_EQ(m.mblnSelectionRestored, kTrue);
    }
}

TEST(Restore, BeforeAnyLoadTheDesignGroupIsTakenAndTheAutomaticRestoreIsSpent) {
    Harness h;
    h.control->SelectTask();
    EXPECT_EQ(h.control->GetMembers().mblnSelectionRestored, kTrue);
    EXPECT_EQ(h.control->GetMembers().mstrSelectedGroup, "");
    h.settings.values["Selected Task/Group"] = "X1";
    h.Load(kSmall);
    h.control->UserControl_Paint();
    EXPECT_EQ(h.control->sslistTaskList().CurrentGroup()->Key(), "X1");
    EXPECT_EQ(h.control->GetMembers().mstrSelectedGroup, "X1") << "read at load, not applied";
}

TEST(Reload, TheListBarHoldsExactlyTheNewCatalogue) {
    Harness h;
    h.Load(kSmall);
    h.Load({{9, 0, "Spa"}, {10, 9, "Treatments"}});
    const auto& groups = h.control->sslistTaskList().Groups();
    ASSERT_EQ(groups.Count(), 1);
    EXPECT_EQ(groups.Item(1)->Key(), "X9");
    EXPECT_EQ(groups.Item(1)->ListItems().Count(), 1);
    EXPECT_TRUE(h.Boxes().empty());
    // The same catalogue twice gives the same list bar.
    h.Load(kSmall);
    h.Load(kSmall);
    EXPECT_EQ(groups.Count(), 2);
    EXPECT_TRUE(h.Boxes().empty());
}

TEST(Reload, AFailureAtTheFirstRecordSetCallLeavesListBarAndTreeAsTheyWere) {
    // Whether the service answers without a record set or the clone fails,
    // the user keeps what was on screen, as after any other failed reload.
    const std::function<void(Harness&)> failures[] = {
        [](Harness& h) { h.answer = [](std::vector<Variant*>& args) { *args[4] = Variant(); }; },
        [](Harness& h) {
            h.Serve(testing::MakeTable(kSmall));
            faults::Arm("Clone", 1, 3704, "Operation is not allowed when the object is closed");
        },
    };
    for (const auto& fail : failures) {
        Harness h;
        h.Load(kSmall);
        h.control->sslistTaskList().UserClickItem("X2");
        h.site.AfterCommand();
        const std::vector<std::string> nodes = h.NodeKeys();
        ASSERT_EQ(nodes, (std::vector<std::string>{"X1", "X2", "X3", "X4"}));
        const auto before = h.control->GetMembers();
        fail(h);
        h.control->LoadData();
        faults::Reset();
        ASSERT_EQ(h.Boxes().size(), 1u);
        EXPECT_TRUE(Contains(h.Boxes(), "KevraTaskList - LoadData"));
        const auto& groups = h.control->sslistTaskList().Groups();
        ASSERT_EQ(groups.Count(), 2);
        EXPECT_EQ(groups.Item(1)->Key(), "X1");
        EXPECT_EQ(groups.Item(1)->ListItems().Count(), 1);
        EXPECT_EQ(groups.Item(2)->Key(), "X5");
        EXPECT_EQ(h.control->sslistTaskList().CurrentGroup()->Key(), "X1");
        EXPECT_EQ(h.NodeKeys(), nodes);
        const auto after = h.control->GetMembers();
        EXPECT_EQ(after.mstrSelectedGroup, before.mstrSelectedGroup);
        EXPECT_EQ(after.mstrSelectedListItem, "X2");
    }
}

TEST(TreeFill, AnItemWithoutChildrenGivesTheGroupAndItemNodesBothExpanded) {
    Harness h;
    h.Load({{1, 0, "Front Office"}, {2, 1, "Reservations"}, {3, 2, "Booking"}, {4, 1, "Empty"}});
    h.control->sslistTaskList().UserClickItem("X2");
    h.control->sslistTaskList().UserClickItem("X4");
    EXPECT_TRUE(h.Boxes().empty());
    ASSERT_EQ(h.NodeKeys(), (std::vector<std::string>{"X1", "X4"}));
    const auto& nodes = h.control->sstreeTaskList().Nodes();
    EXPECT_TRUE(nodes.At(1)->Expanded());
    EXPECT_TRUE(nodes.At(2)->Expanded());
    EXPECT_EQ(nodes.At(2)->Parent(), nodes.At(1));
}

TEST(TreeFill, TheRecordSetKeepsItsFilterAndCurrentRowAcrossAFill) {
    // The fill walks clones; a launch filters mrsTasks itself and leaves it
    // so, and a fill in between must not move or widen it.
    Harness h;
    h.Load(kSmall);
    Recordset& tasks = *h.control->Tasks();
    tasks.Filter("TaskParent=2");
    tasks.MoveNext();
    ASSERT_EQ(tasks.Fields("TaskId").Value().ToInt32(), 4);
    h.control->sslistTaskList().UserClickItem("X2");
    ASSERT_EQ(h.NodeKeys(), (std::vector<std::string>{"X1", "X2", "X3", "X4"}));
    EXPECT_EQ(tasks.Filter(), "TaskParent=2");
    EXPECT_EQ(tasks.Fields("TaskId").Value().ToInt32(), 4);
    tasks.MoveNext();
    EXPECT_TRUE(tasks.Eof());
}

TEST(Dispatch, NamesResolveWithoutRegardToCaseAndTypeInfoListsMembersInOrder) {
    dispatch::DISPID id = 0;
    EXPECT_EQ(dispatch::GetIDOfName("machinename", id), dispatch::kOk);
    EXPECT_EQ(id, 0x68030027);
    EXPECT_EQ(dispatch::GetIDOfName("Nope", id), dispatch::kUnknownName);
    const std::string info = dispatch::TypeInfoJson();
    const char* order[] = {"MachineName", "UserNumber", "Brand",      "FacilityId",
                           "AppId",       "LoadData",   "SelectTask", "StartTask"};
    size_t at = 0;
    for (const char* name : order) {
        size_t found = info.find(std::string("\"name\":\"") + name + "\"", at);
        ASSERT_NE(found, std::string::npos) << name << " missing or out of order";
        at = found;
    }
    EXPECT_NE(info.find("\"dispid\":1745027111"), std::string::npos);
    EXPECT_NE(info.find("\"dispid\":1610809384"), std::string::npos);
}

}  // namespace
}  // namespace kevra
