// The container core that every container of the control builds on: when
// notifications are delivered and when they wait, the limits that keep a
// control that never settles from hanging its host, the label's estimated
// width, the rules for the user's actions, and the headless container's
// lines and record on top of it.
#include "container/container_core.h"

#include <gtest/gtest.h>

#include "../control/control_harness.h"
#include "container/user_actions.h"

namespace kevra {
namespace {

using testing::Harness;
using testing::Row;

// A container whose control is played by the test: every notification is
// written down with the number of calls on the stack while it runs, and
// the test decides what the "control" does in it.
class ScriptedSite : public ContainerCore {
  public:
    using ContainerCore::Notification;
    std::vector<std::string> heard;
    std::function<void(Notification)> react;

  protected:
    void Notify(Notification n) override {
        static const char* const kNames[] = {"resize", "paint", "box-repaint", "terminate"};
        heard.push_back(std::string(kNames[static_cast<int>(n)]) + " at depth " +
                        std::to_string(Depth()));
        if (react) react(n);
    }
};

class Delivery : public ::testing::Test {
  protected:
    void SetUp() override {
        site.Site(control);
        ASSERT_EQ(site.heard, std::vector<std::string>{"resize at depth 1"});
        site.heard.clear();
    }
    int Count(const std::string& name) const {
        int n = 0;
        for (const auto& h : site.heard) n += h.rfind(name + " ", 0) == 0;
        return n;
    }

    testing::MemorySettings settings;
    ScriptedSite site;
    ctlKevraTaskList control{site, settings};
};

TEST_F(Delivery, ASizeChangedInsideTheResizeHandlerIsAnsweredAfterItNeverInsideIt) {
    int resizes = 0;
    site.react = [&](ScriptedSite::Notification n) {
        if (n == ScriptedSite::Notification::resize && ++resizes == 1) site.SetWidth(9000);
    };
    site.Resize(12000, 6000);
    EXPECT_EQ(site.heard, (std::vector<std::string>{"resize at depth 1", "resize at depth 1"}));
    EXPECT_EQ(site.Width(), 9000);

    // Setting the size it already has owes nothing.
    site.heard.clear();
    site.react = [&](ScriptedSite::Notification) { site.SetWidth(9000); };
    site.Resize(9000, 6000);
    EXPECT_EQ(site.heard, std::vector<std::string>{"resize at depth 1"});
}

TEST_F(Delivery, AControlThatNeverSettlesIsCutOffAndTheHostGoesOn) {
    site.react = [&](ScriptedSite::Notification n) {
        if (n == ScriptedSite::Notification::resize) site.SetHeight(float(site.Height() + 15));
        if (n == ScriptedSite::Notification::box_repaint)
            site.MsgBox("again", MsgBoxIcon::critical, MsgBoxButtons::ok, "t");
    };
    site.Resize(12000, 6000);
    EXPECT_EQ(Count("resize"), ContainerCore::kMaxOwedChain);

    site.heard.clear();
    {
        ContainerCore::CallScope call(site);
        site.MsgBox("first", MsgBoxIcon::critical, MsgBoxButtons::ok, "t");
    }
    EXPECT_EQ(Count("box-repaint"), ContainerCore::kMaxOwedChain);
    // Nothing of the cut-off chain is left over for the next call.
    site.heard.clear();
    site.react = nullptr;
    { ContainerCore::CallScope call(site); }
    EXPECT_TRUE(site.heard.empty());
}

TEST_F(Delivery, WhileACallIsOnTheStackNotificationsWaitForTheOutermostToReturn) {
    {
        ContainerCore::CallScope outer(site);
        site.Resize(12000, 6000);
        site.Paint();
        {
            ContainerCore::CallScope inner(site);
            site.MsgBox("one", MsgBoxIcon::critical, MsgBoxButtons::ok, "t");
            site.MsgBox("two", MsgBoxIcon::warning, MsgBoxButtons::ok, "t");
        }
        site.Paint();
        EXPECT_TRUE(site.heard.empty()) << site.heard.front();
        EXPECT_EQ(site.Depth(), 1);
    }
    // The resize first, then one repaint for both boxes that also stands
    // for the paints that came in meanwhile.
    EXPECT_EQ(site.heard,
              (std::vector<std::string>{"resize at depth 1", "box-repaint at depth 1"}));
    EXPECT_EQ(site.Depth(), 0);
}

TEST_F(Delivery, APaintWithNoCallOnTheStackRunsAtOnceAndItsBoxIsRepaintedAfterIt) {
    bool shown = false;
    site.react = [&](ScriptedSite::Notification n) {
        if (n == ScriptedSite::Notification::paint && !shown) {
            shown = true;
            site.MsgBox("restore failed", MsgBoxIcon::critical, MsgBoxButtons::ok, "t");
        }
    };
    site.Paint();
    EXPECT_EQ(site.heard, (std::vector<std::string>{"paint at depth 1", "box-repaint at depth 1"}));
}

TEST_F(Delivery, TerminateIsDeliveredOnceAndNothingFollowsIt) {
    {
        ContainerCore::CallScope call(site);
        site.MsgBox("owed", MsgBoxIcon::critical, MsgBoxButtons::ok, "t");
        site.Terminate();
        site.Terminate();
    }
    site.Resize(12000, 6000);
    site.Paint();
    EXPECT_EQ(site.heard, std::vector<std::string>{"terminate at depth 2"});
    EXPECT_TRUE(site.Terminated());
}

TEST(ContainerState, BordersTakeEffectAtTheNextResizeAndTheLabelIsMeasuredByCharacters) {
    testing::MemorySettings settings;
    ScriptedSite site;
    ctlKevraTaskList control{site, settings};
    site.Site(control);
    EXPECT_EQ(site.Width(), ContainerCore::kDesignWidth);
    EXPECT_EQ(site.Height(), ContainerCore::kDesignHeight);
    // The design caption measures its design width.
    EXPECT_EQ(site.Frame(Child::lblStatus).width, 2790);

    site.SetBorders(30, 45);
    EXPECT_EQ(site.ScaleWidth(), site.Width());
    site.Resize(9000, 6000);
    EXPECT_EQ(site.ScaleWidth(), 9000 - 30);
    EXPECT_EQ(site.ScaleHeight(), 6000 - 45);

    EXPECT_EQ(ContainerCore::EstimatedLabelWidth(""), 0);
    // 35 characters of two bytes each measure as 35 characters.
    std::string wide;
    for (int i = 0; i < 35; ++i) wide += "\xC3\x9C";
    EXPECT_EQ(ContainerCore::EstimatedLabelWidth(wide), 2790);
    site.SetLabelCaption(wide);
    EXPECT_EQ(site.LabelCaption(), wide);
    EXPECT_EQ(site.Frame(Child::lblStatus).width, 2790);
    // One character more is one pixel more.
    EXPECT_EQ(ContainerCore::EstimatedLabelWidth(wide + "x"), 2790 + 90);
}

const std::vector<Row> kCatalogue = {
    {1, 0, "Front Office"},
    {2, 1, "Reservations"},
    {3, 2, "New Booking", Variant::Boolean(true), "https://pms/new", Variant::Null()},
    {5, 0, "Housekeeping"},
    {6, 5, "Rooms"},
};

std::string Why(const Harness& h, UserAction::Kind kind, const std::string& key = "") {
    const auto refusal = CheckUserAction(h.site, *h.control, {kind, key});
    if (!refusal) return "";
    return refusal->reason + (refusal->remedy.empty() ? "" : " / " + refusal->remedy);
}

TEST(UserActions, TheSurfaceRefusesWhatNoUserCouldReachAndSaysWhy) {
    using Kind = UserAction::Kind;
    Harness h;
    EXPECT_EQ(Why(h, Kind::open_group, "X1"), "the list bar is hidden / nothing is loaded");
    EXPECT_EQ(Why(h, Kind::dblclick), "the tree is hidden / nothing is loaded");

    h.Load(kCatalogue);
    EXPECT_EQ(Why(h, Kind::open_group, "X2"), "the list bar has no group with the key \"X2\"")
        << "X2 is a list item";
    EXPECT_EQ(Why(h, Kind::click_item, "X6"),
              "the open group has no list item with the key \"X6\" / open its group first");
    EXPECT_EQ(Why(h, Kind::select_node, "X3"),
              "the tree has no node with the key \"X3\" / click the list item that holds it "
              "first");

    for (const UserAction& action : std::vector<UserAction>{
             {Kind::open_group, "X1"}, {Kind::click_item, "X2"}, {Kind::select_node, "X3"}}) {
        EXPECT_EQ(Why(h, action.kind, action.key), "") << DescribeUserAction(action);
        TakeUserAction(*h.control, action);
    }
    h.site.SetEnabled(false);
    EXPECT_EQ(Why(h, Kind::dblclick), "the control is disabled");
    h.site.SetEnabled(true);
    ASSERT_EQ(Why(h, Kind::dblclick), "");
    TakeUserAction(*h.control, {Kind::dblclick, ""});
    EXPECT_EQ(h.events, std::vector<std::string>{"3|https://pms/new|"});
}

TEST(HeadlessSite, ItsLinesAreKevraHostsAndItsRecordCanBeTurnedOff) {
    Harness h;
    h.site.Refused(*CheckUserAction(h.site, *h.control, {UserAction::Kind::open_group, "a\"b"}));
    h.site.Refused(TerminatedRefusal());
    h.site.StartTaskRaised(-7, "https://x/\"q\"", "\t");
    EXPECT_EQ(h.lines, (std::vector<std::string>{
                           "refused \"the list bar is hidden\"",
                           "refused \"the control has been terminated\"",
                           "event StartTask -7 \"https://x/\\\"q\\\"\" \"\\t\"",
                       }));

    h.Load(kCatalogue);
    EXPECT_FALSE(h.site.Calls().empty());
    h.site.RecordCalls(false);
    EXPECT_TRUE(h.site.Calls().empty());
    h.lines.clear();
    h.Load(kCatalogue);
    EXPECT_TRUE(h.site.Calls().empty());
    EXPECT_EQ(h.lines.front(), "pointer 11") << "the lines still go out";
    EXPECT_TRUE(h.site.Frame(Child::sstreeTaskList).visible) << "and the state is kept";
}

}  // namespace
}  // namespace kevra
