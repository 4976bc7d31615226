// The fault sweep: a standard session (layout, load, first-paint restore,
// group change, item click, launch, then the same again on the loaded
// instance, then teardown) is run once per call that the control makes of
// its platform, with that one call failing. After every run the control
// must be usable and honest: enabled, default pointer, the failure reported
// exactly once by the procedure it fell in (or by none where the control
// reports nothing), no exception in the host, and the walk must work again
// once the fault is gone, both on the same instance and after a restart.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "platform/faults.h"
#include "platform/json.h"
#include "reliability_util.h"
#include "service/task_service.h"
#include "settings/ini_settings_store.h"

namespace kevra::reliability {
namespace {

constexpr const char* kOperations[] = {
    "CreateObject", "RetrieveTasks", "Clone",      "Filter",        "MoveNext",      "Fields",
    "GetSetting",   "SaveSetting",   "Groups.Add", "Groups.Remove", "ListItems.Add", "CurrentGroup",
    "Nodes.Add",    "Nodes.Item",    "Clear",      "SelectedNode"};

constexpr int32_t kFaultNumber = 31337;

// The one report a walk may show besides the fault's own (see the sweep).
const char* const kNoSelectionReport =
    R"(msgbox critical ok "KevraTaskList - sstreeTaskList_DblClick" )"
    R"("91 Object variable not set: no task is selected in the tree")";

const char* const kCatalogue = R"([
  {"TaskId": 1,  "TaskParent": 0,  "TaskDescription": "Front Office"},
  {"TaskId": 2,  "TaskParent": 1,  "TaskDescription": "Reservations"},
  {"TaskId": 4,  "TaskParent": 2,  "TaskDescription": "New booking", "IsLink": true,
   "TaskURL": " app://booking ", "TaskParms": "mode=new"},
  {"TaskId": 6,  "TaskParent": 4,  "TaskDescription": "Group booking", "IsLink": true,
   "TaskURL": "app://group"},
  {"TaskId": 5,  "TaskParent": 2,  "TaskDescription": "Cancel", "IsLink": 1},
  {"TaskId": 3,  "TaskParent": 1,  "TaskDescription": "Rooms & Rates"},
  {"TaskId": 10, "TaskParent": 0,  "TaskDescription": "Back Office"},
  {"TaskId": 11, "TaskParent": 10, "TaskDescription": "Accounts"},
  {"TaskId": 12, "TaskParent": 11, "TaskDescription": "Ledger", "IsLink": true,
   "TaskURL": "app://ledger", "TaskParms": "--all"},
  {"TaskId": 13, "TaskParent": 11, "TaskDescription": "Journal"}
])";

// The session, with the procedure that reports a failure in each step ("":
// the control reports nothing there). Steps 0 to 6 are the walk; 7 to 12
// repeat it on the loaded instance; 13 tears down.
struct Step {
    std::string command;
    const char* reporter;
};
constexpr int kRepeatStart = 7;

std::vector<Step> Session(const std::string& catalogue) {
    return {{"resize 20000 9000", ""},
            {"load", "LoadData"},
            {"paint", "SelectTask"},
            {"open-group X10", "sslistTaskList_CurrentGroupChanged"},
            {"click-item X11", "sslistTaskList_ListItemClick"},
            {"select-node X12", ""},
            {"dblclick", "sstreeTaskList_DblClick"},
            {"set MachineName " + json::Quote(catalogue), ""},
            {"load", "LoadData"},
            {"paint", "SelectTask"},
            {"open-group X1", "sslistTaskList_CurrentGroupChanged"},
            {"click-item X2", "sslistTaskList_ListItemClick"},
            {"select-node X4", ""},
            {"dblclick", "sstreeTaskList_DblClick"},
            {"terminate", ""}};
}

class FaultSweep : public ::testing::Test {
  protected:
    void SetUp() override {
        service::RegisterTaskService();
        faults::Reset();
        catalogue_ = scratch_.Write("tasks.json", kCatalogue);
    }
    void TearDown() override { faults::Reset(); }

    // A settings directory holding the saved selection X1 / X2 / X4.
    std::string FreshSettings(const std::string& name) {
        const std::string dir = scratch_.File(name);
        IniSettingsStore store(dir);
        store.SaveSetting("KevraTaskList", "Selected Task", "Group", "X1");
        store.SaveSetting("KevraTaskList", "Selected Task", "ListItem", "X2");
        store.SaveSetting("KevraTaskList", "Selected Task", "Task", "X4");
        return dir;
    }

    struct Outcome {
        int fired_step = -1;  // the step during which the armed fault fired
    };

    // Runs the session in `harness`, with `operation` armed to fail at its
    // n-th call (n = 0: nothing armed).
    Outcome RunSession(Harness& harness, const std::string& operation, int64_t n) {
        Outcome out;
        const std::vector<Step> session = Session(catalogue_);
        harness.Run("set MachineName " + json::Quote(catalogue_));
        if (n > 0)
            faults::Arm(operation, n, kFaultNumber,
                        "injected fault: " + operation + " call " + std::to_string(n));
        for (size_t i = 0; i < session.size(); ++i) {
            const bool armed = faults::detail::g_any_armed;
            harness.Run(session[i].command);
            if (armed && !faults::detail::g_any_armed) out.fired_step = static_cast<int>(i);
        }
        faults::Reset();
        return out;
    }

    // Whether the n-th call of `operation` happens in a clean session. The
    // session is deterministic, so the call is made exactly when the clean
    // run makes at least n of them, and an armed fault fires exactly then.
    bool CallHappens(const std::string& operation, int64_t n) {
        IniSettingsStore store(FreshSettings("count"));
        Harness harness(store);
        const bool fired = RunSession(harness, operation, n).fired_step >= 0;
        std::filesystem::remove_all(scratch_.File("count"));
        return fired;
    }

    // The number of calls of `operation` in a clean session.
    int64_t CountCalls(const std::string& operation) {
        int64_t low = 0, high = 1;  // CallHappens(low) (or low == 0); !CallHappens(high) below
        while (CallHappens(operation, high)) {
            low = high;
            high *= 2;
        }
        while (high - low > 1) {
            const int64_t mid = (low + high) / 2;
            (CallHappens(operation, mid) ? low : high) = mid;
        }
        return low;
    }

    ScratchDir scratch_;
    std::string catalogue_;
};

// Session lines of one step that are of a kind.
int Count(const Harness& h, const std::string& prefix, int from_step, int to_step) {
    int n = 0;
    for (const auto& l : h.All())
        if (l.step >= from_step && l.step <= to_step && l.text.starts_with(prefix)) ++n;
    return n;
}

TEST_F(FaultSweep, CleanSessionLaunchesTwiceWithoutReports) {
    IniSettingsStore store(FreshSettings("clean"));
    Harness harness(store);
    RunSession(harness, "", 0);
    EXPECT_TRUE(harness.Lines("msgbox").empty());
    EXPECT_TRUE(harness.Lines("refused").empty());
    EXPECT_EQ(harness.Lines("event"),
              (std::vector<std::string>{R"(event StartTask 12 "app://ledger" "--all")",
                                        R"(event StartTask 4 "app://booking" "mode=new")"}));
}

TEST_F(FaultSweep, EveryCallOfEveryOperationFailsCleanly) {
    std::map<std::string, int64_t> calls;
    int64_t injected = 0;
    int consequential_reports = 0;
    for (const char* op : kOperations) {
        calls[op] = CountCalls(op);
        injected += calls[op];
    }
    // A sweep over nothing proves nothing: the session must reach the
    // record set, the widgets, the settings store and the service.
    for (const char* op : kOperations) EXPECT_GT(calls[op], 0) << op << " is never called";

    const std::vector<Step> session = Session(catalogue_);
    for (const char* op : kOperations) {
        for (int64_t n = 1; n <= calls[op]; ++n) {
            SCOPED_TRACE(std::string(op) + " call " + std::to_string(n));
            const std::string settings = FreshSettings("run");
            const std::string description =
                "injected fault: " + std::string(op) + " call " + std::to_string(n);
            {
                IniSettingsStore store(settings);
                Harness faulted(store);
                const Outcome outcome = RunSession(faulted, op, n);
                ASSERT_GE(outcome.fired_step, 0) << "the fault never fired";
                const Step& step = session[static_cast<size_t>(outcome.fired_step)];
                // Harness steps: 0 is the MachineName put, the session follows.
                const int fired_at = outcome.fired_step + 1;

                // The fault's own report: once, by the procedure it fell in,
                // during the step it fell in, number and text unchanged.
                const std::string own_text =
                    json::Quote(std::to_string(kFaultNumber) + " " + description);
                std::vector<std::string> own, others;
                for (const auto& line : faulted.Lines("msgbox"))
                    (line.ends_with(" " + own_text) ? own : others).push_back(line);
                if (*step.reporter == '\0') {
                    EXPECT_TRUE(own.empty()) << "reported during " << step.command;
                } else {
                    const std::string expected =
                        "msgbox critical ok " +
                        json::Quote(std::string("KevraTaskList - ") + step.reporter) + " " +
                        own_text;
                    EXPECT_EQ(own, std::vector<std::string>{expected})
                        << "fault during " << step.command;
                    EXPECT_EQ(faulted.Lines("msgbox", fired_at).size(), 1u)
                        << "another report during " << step.command;
                }
                // Later in the same walk the user may act on what the failure
                // left: a fill that stopped before the node to select leaves
                // no selected node, and the double-click reports exactly that.
                for (const auto& line : others) {
                    EXPECT_EQ(line, kNoSelectionReport) << "after a fault during " << step.command;
                    ++consequential_reports;
                }
                // A fault in the first walk is over by the repeat, which must
                // then work on this very instance.
                if (outcome.fired_step < kRepeatStart) {
                    const int last = static_cast<int>(session.size());
                    EXPECT_EQ(Count(faulted, "msgbox", kRepeatStart + 1, last), 0);
                    EXPECT_EQ(Count(faulted, "refused", kRepeatStart + 1, last), 0);
                    EXPECT_EQ(faulted.Lines("event", kRepeatStart + 1 + 6),
                              std::vector<std::string>{
                                  R"(event StartTask 4 "app://booking" "mode=new")"});
                }
            }
            // A restart on what the faulted session left in the settings.
            IniSettingsStore store(settings);
            Harness restarted(store);
            RunSession(restarted, "", 0);
            EXPECT_TRUE(restarted.Lines("msgbox").empty());
            EXPECT_TRUE(restarted.Lines("refused").empty());
            EXPECT_EQ(restarted.Lines("event").size(), 2u);
            std::filesystem::remove_all(settings);
            if (HasFatalFailure()) return;
        }
    }

    std::printf("fault sweep: %lld faults injected over %zu operations (calls per session:",
                static_cast<long long>(injected), std::size(kOperations));
    for (const char* op : kOperations)
        std::printf(" %s %lld", op, static_cast<long long>(calls[op]));
    std::printf("); %d later double-clicks found no selected node\n", consequential_reports);
    RecordProperty("faults_injected", std::to_string(injected));
}

}  // namespace
}  // namespace kevra::reliability
