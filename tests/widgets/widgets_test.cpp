// The list bar and tree models: collections, keys, the open group and its
// event, fonts captured at the add, selection and expansion.
#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/faults.h"
#include "widgets/listbar.h"
#include "widgets/tree.h"

namespace kevra {
namespace {

int32_t ErrorNumberOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const RuntimeError& e) {
        return e.Number();
    }
    return 0;
}

struct GroupEvents {
    std::vector<std::pair<std::string, std::string>> seen;  // new key, previous key ("<none>")
    void Attach(ListBar& bar) {
        bar.OnCurrentGroupChanged([this](GroupRef n, GroupRef p) {
            seen.emplace_back(n ? n->Key() : "<none>", p ? p->Key() : "<none>");
        });
    }
};

TEST(ListBar, StartsWithOneOpenPlaceholderGroup) {
    ListBar bar;
    ASSERT_EQ(bar.Groups().Count(), 1);
    EXPECT_EQ(bar.Groups().Item(1)->Caption(), "New Group");
    EXPECT_EQ(bar.CurrentGroup(), bar.Groups().Item(1));
    EXPECT_TRUE(bar.IsInDesignState());
}

TEST(ListBar, GroupsAndItemsKeepOrderAndAreFoundByKeyAndIndex) {
    ListBar bar;
    bar.Groups().Add("X7", "Seven");
    bar.Groups().Add("X3", "Three");
    bar.Groups().Item("X3")->ListItems().Add("X31", "a");
    bar.Groups().Item("X3")->ListItems().Add("X30", "b");
    EXPECT_EQ(bar.Groups().Item(2)->Key(), "X7");
    EXPECT_EQ(bar.Groups().Item(3)->Key(), "X3");
    const auto& items = bar.Groups().Item("X3")->ListItems();
    EXPECT_EQ(items.Count(), 2);
    EXPECT_EQ(items.Item(1)->Key(), "X31");
    EXPECT_EQ(items.Item(2)->Text(), "b");
}

TEST(ListBar, ItemKeysStayUniqueAndFoundAsAGroupGrowsLarge) {
    // Small groups are searched in order and large ones keep a map: every
    // key must be found, and every repeat refused, on both sides of the
    // change and across it.
    ListBar bar;
    GroupRef group = bar.Groups().Add("G", "Group");
    ListItemCollection& items = group->ListItems();
    constexpr int kItems = 60;
    for (int i = 0; i < kItems; ++i) {
        items.Add(i % 7 == 3 ? "" : "K" + std::to_string(i), "item " + std::to_string(i));
        for (int j = 0; j <= i; ++j) {
            const std::string key = "K" + std::to_string(j);
            if (j % 7 == 3) {
                EXPECT_EQ(items.Find(key), nullptr) << key;
                continue;
            }
            ASSERT_NE(items.Find(key), nullptr) << key << " after " << i + 1 << " items";
            EXPECT_EQ(items.Find(key)->Text(), "item " + std::to_string(j));
            EXPECT_EQ(ErrorNumberOf([&] { items.Add(key, "again"); }), err::kKeyNotUnique)
                << key << " after " << i + 1 << " items";
        }
        EXPECT_EQ(items.Find(""), nullptr);
        EXPECT_EQ(items.Find("K" + std::to_string(i + 1)), nullptr);
        ASSERT_EQ(items.Count(), i + 1);
    }
    // Items without a key may repeat at any size.
    items.Add("", "another without a key");
    EXPECT_EQ(items.Count(), kItems + 1);
    EXPECT_EQ(items.Item(kItems + 1)->Text(), "another without a key");
}

TEST(ListBar, LookupErrorsCarryTheirNumbers) {
    ListBar bar;
    bar.Groups().Add("X1", "One");
    EXPECT_EQ(ErrorNumberOf([&] { bar.Groups().Add("X1", "again"); }), err::kKeyNotUnique);
    EXPECT_EQ(ErrorNumberOf([&] { bar.Groups().Item(0); }), err::kIndexOutOfBounds);
    EXPECT_EQ(ErrorNumberOf([&] { bar.Groups().Item(3); }), err::kIndexOutOfBounds);
    EXPECT_EQ(ErrorNumberOf([&] { bar.Groups().Item("x1"); }), err::kItemNotFound);
    EXPECT_EQ(ErrorNumberOf([&] { bar.CurrentGroup("nope"); }), err::kItemNotFound);
    auto& items = bar.Groups().Item("X1")->ListItems();
    items.Add("X2", "Two");
    EXPECT_EQ(ErrorNumberOf([&] { items.Add("X2", "dup"); }), err::kKeyNotUnique);
    // Renaming a group onto another group's key is refused and changes nothing.
    EXPECT_EQ(ErrorNumberOf([&] { bar.Groups().Item(1)->Key("X1"); }), err::kKeyNotUnique);
    bar.Groups().Item(1)->Key("Tasks");
    EXPECT_EQ(bar.Groups().Item("Tasks"), bar.Groups().Item(1));
}

TEST(ListBar, CurrentGroupChangedIsRaisedWheneverTheOpenGroupChanges) {
    ListBar bar;
    GroupEvents events;
    events.Attach(bar);
    bar.Groups().Item(1)->Key("Tasks");
    bar.Groups().Add("X1", "One");
    bar.Groups().Add("X2", "Two");
    EXPECT_TRUE(events.seen.empty()) << "adding groups opens none while one is open";

    bar.CurrentGroup("Tasks");  // already open
    EXPECT_TRUE(events.seen.empty());
    bar.CurrentGroup("X2");
    ASSERT_EQ(events.seen.size(), 1u);
    EXPECT_EQ(events.seen[0], std::make_pair(std::string("X2"), std::string("Tasks")));

    EXPECT_TRUE(bar.UserOpenGroup("X1"));
    EXPECT_FALSE(bar.UserOpenGroup("X9"));
    ASSERT_EQ(events.seen.size(), 2u);

    // Removing the open group opens the group that is then first.
    bar.Groups().Remove(2);
    ASSERT_EQ(events.seen.size(), 3u);
    EXPECT_EQ(events.seen[2], std::make_pair(std::string("Tasks"), std::string("X1")));
    EXPECT_EQ(bar.CurrentGroup()->Key(), "Tasks");
    // Removing another group leaves the open one.
    bar.Groups().Remove(2);
    EXPECT_EQ(events.seen.size(), 3u);
    // Removing the last group leaves none open, without an event.
    bar.Groups().Remove(1);
    EXPECT_EQ(bar.CurrentGroup(), nullptr);
    EXPECT_EQ(events.seen.size(), 3u);
    // A group added then opens, and the event names no previous group.
    bar.Groups().Add("X5", "Five");
    ASSERT_EQ(events.seen.size(), 4u);
    EXPECT_EQ(events.seen[3], std::make_pair(std::string("X5"), std::string("<none>")));
}

TEST(ListBar, ResetToDesignReplacesABuiltListBarAndReportsTheChange) {
    ListBar bar;
    GroupEvents events;
    events.Attach(bar);
    bar.ResetToDesign();
    EXPECT_TRUE(events.seen.empty()) << "nothing changes on a list bar as placed";

    bar.Groups().Add("X1", "One").get()->ListItems().Add("X2", "Two");
    bar.CurrentGroup("X1");
    events.seen.clear();
    bar.ResetToDesign();
    EXPECT_TRUE(bar.IsInDesignState());
    ASSERT_EQ(events.seen.size(), 1u);
    EXPECT_EQ(events.seen[0].second, "X1");
    EXPECT_EQ(bar.Groups().Find("X1"), nullptr);
}

TEST(ListBar, ItemClickReachesOnlyItemsOfTheOpenGroup) {
    ListBar bar;
    bar.Groups().Add("X1", "One")->ListItems().Add("X11", "a");
    bar.Groups().Add("X2", "Two")->ListItems().Add("X21", "b");
    std::vector<std::string> clicked;
    bar.OnListItemClick([&](ListItemRef item) { clicked.push_back(item->Key()); });
    bar.CurrentGroup("X1");
    EXPECT_TRUE(bar.UserClickItem("X11"));
    EXPECT_FALSE(bar.UserClickItem("X21"));
    EXPECT_EQ(clicked, std::vector<std::string>{"X11"});
}

TEST(Tree, NodesKeepOrderOfAdditionWithParents) {
    Tree tree;
    tree.Nodes().Add("G", "Group");
    tree.Nodes().Add("G", NodeCollection::kChild, "I", "Item");
    tree.Nodes().Add("I", NodeCollection::kChild, "T1", "Task 1");
    tree.Nodes().Add("G", NodeCollection::kChild, "I2", "Item 2");
    tree.Nodes().Add("I", NodeCollection::kChild, "T2", "Task 2");
    ASSERT_EQ(tree.Nodes().Count(), 5);
    EXPECT_EQ(tree.Nodes().Item(3)->Key(), "T1");
    EXPECT_EQ(tree.Nodes().Item(5)->Parent()->Key(), "I");
    EXPECT_EQ(tree.Nodes().Item("I")->Children().size(), 2u);
    EXPECT_EQ(tree.Nodes().Item(1)->Parent(), nullptr);
    EXPECT_EQ(tree.Nodes().Roots().size(), 1u);
}

TEST(Tree, KeysAreUniqueUntilClear) {
    Tree tree;
    tree.Nodes().Add("A", "a");
    EXPECT_EQ(ErrorNumberOf([&] { tree.Nodes().Add("A", "again"); }), err::kKeyNotUnique);
    EXPECT_EQ(ErrorNumberOf([&] { tree.Nodes().Add("Z", NodeCollection::kChild, "B", "b"); }),
              err::kItemNotFound);
    EXPECT_EQ(ErrorNumberOf([&] { tree.Nodes().Add("A", 2, "B", "b"); }), err::kInvalidArgument);
    EXPECT_EQ(ErrorNumberOf([&] { tree.Nodes().Item("B"); }), err::kItemNotFound);
    EXPECT_EQ(ErrorNumberOf([&] { tree.Nodes().Item(2); }), err::kIndexOutOfBounds);
    NodeRef kept = tree.Nodes().Item("A");
    kept->Selected(true);
    tree.Clear();
    EXPECT_EQ(tree.Nodes().Count(), 0);
    EXPECT_EQ(tree.SelectedNode(), nullptr);
    tree.Nodes().Add("A", "a again");
    EXPECT_EQ(tree.Nodes().Count(), 1);
    // A node from before the Clear belongs to no tree: selecting it does nothing.
    kept->Selected(true);
    EXPECT_EQ(tree.SelectedNode(), nullptr);
}

TEST(Tree, EachNodeKeepsTheFontOfItsAdd) {
    Tree tree;
    tree.Font().Size = 10;
    tree.Font().Underline = true;
    tree.Font().Bold = false;
    tree.Nodes().Add("L", "link");
    tree.Font().Underline = false;
    tree.Font().Bold = true;
    tree.Nodes().Add("P", "plain");
    EXPECT_TRUE(tree.Nodes().Item("L")->Font().Underline);
    EXPECT_FALSE(tree.Nodes().Item("L")->Font().Bold);
    EXPECT_TRUE(tree.Nodes().Item("P")->Font().Bold);
    EXPECT_EQ(tree.Nodes().Item("P")->Font().Size, 10);
}

TEST(Tree, SelectingInsideACollapsedBranchExpandsItsAncestors) {
    Tree tree;
    tree.Nodes().Add("A", "a");
    tree.Nodes().Add("A", NodeCollection::kChild, "B", "b");
    tree.Nodes().Add("B", NodeCollection::kChild, "C", "c");
    tree.Nodes().Item("C")->Selected(true);
    EXPECT_TRUE(tree.Nodes().Item("A")->Expanded());
    EXPECT_TRUE(tree.Nodes().Item("B")->Expanded());
    EXPECT_FALSE(tree.Nodes().Item("C")->Expanded());
    EXPECT_EQ(tree.SelectedNode()->Key(), "C");
    tree.Nodes().Item("C")->Selected(false);
    EXPECT_EQ(tree.SelectedNode(), nullptr);
}

TEST(Widgets, ControlCallsPassTheirFaultCheckpoints) {
    ListBar bar;
    Tree tree;
    faults::Arm("Groups.Add", 2, 1001, "second add fails");
    bar.Groups().Add("X1", "One");
    EXPECT_EQ(ErrorNumberOf([&] { bar.Groups().Add("X2", "Two"); }), 1001);
    EXPECT_EQ(bar.Groups().Count(), 2) << "a failed add adds nothing";
    faults::Arm("Clear", 1, 1002, "clear fails");
    EXPECT_EQ(ErrorNumberOf([&] { tree.Clear(); }), 1002);
    // User actions pass no checkpoint.
    faults::Arm("CurrentGroup", 1, 1003, "write fails");
    EXPECT_TRUE(bar.UserOpenGroup("X1"));
    EXPECT_EQ(ErrorNumberOf([&] { bar.CurrentGroup(""); }), 1003);
    faults::Reset();
}

}  // namespace
}  // namespace kevra
