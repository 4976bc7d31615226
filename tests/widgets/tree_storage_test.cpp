// The tree's storage at sizes where its chunks and key index grow: every
// node still reachable by key and by index, nodes handed out surviving a
// Clear without dangling, and failed adds leaving nothing behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/error.h"
#include "widgets/tree.h"

namespace kevra {
namespace {

std::string Key(int i) { return "X" + std::to_string(i); }

// Node i (from 1) is the child of node i / 3, so the tree is three wide and
// each level lives in other chunks than the one above it.
void Fill(Tree& tree, int count) {
    tree.Nodes().Add(Key(1), "root");
    for (int i = 2; i <= count; ++i)
        tree.Nodes().Add(Key(std::max(1, i / 3)), NodeCollection::kChild, Key(i),
                         "node " + std::to_string(i) + " with a text too long to fit in place");
}

TEST(TreeStorage, EveryNodeReachableByKeyAndIndexAfterGrowth) {
    Tree tree;
    constexpr int kCount = 5000;
    Fill(tree, kCount);
    ASSERT_EQ(tree.Nodes().Count(), kCount);
    for (int i = 1; i <= kCount; ++i) {
        NodeRef by_key = tree.Nodes().Item(Key(i));
        ASSERT_EQ(by_key->Index(), i);
        EXPECT_EQ(tree.Nodes().Item(i).get(), by_key.get());
        EXPECT_EQ(tree.Nodes().At(i), by_key.get());
        if (i > 1) {
            EXPECT_EQ(by_key->Parent()->Key(), Key(std::max(1, i / 3)));
        }
    }
    EXPECT_EQ(tree.Nodes().Item(Key(2))->Children().size(), 3u);  // 6, 7, 8
    EXPECT_EQ(tree.Nodes().Find(""), nullptr);
    EXPECT_EQ(tree.Nodes().Find(Key(kCount + 1)), nullptr);
}

TEST(TreeStorage, FailedAddsLeaveNothingBehind) {
    Tree tree;
    Fill(tree, 3000);
    const size_t children_before = tree.Nodes().Item(Key(10))->Children().size();
    for (auto add : {+[](Tree& t) { t.Nodes().Add(Key(10), NodeCollection::kChild, Key(20), ""); },
                     +[](Tree& t) { t.Nodes().Add("X0", NodeCollection::kChild, "new", ""); },
                     +[](Tree& t) { t.Nodes().Add(Key(10), 3, "new", ""); }}) {
        EXPECT_THROW(add(tree), RuntimeError);
        EXPECT_EQ(tree.Nodes().Count(), 3000);
        EXPECT_EQ(tree.Nodes().Item(Key(10))->Children().size(), children_before);
        EXPECT_EQ(tree.Nodes().Find("new"), nullptr);
    }
}

TEST(TreeStorage, NodesHeldAcrossClearStayReadableAndDetached) {
    Tree tree;
    Fill(tree, 4000);
    NodeRef root = tree.Nodes().Item(Key(1));
    NodeRef deep = tree.Nodes().Item(Key(3999));
    root->Selected(true);
    tree.Clear();
    EXPECT_EQ(tree.Nodes().Count(), 0);
    EXPECT_EQ(tree.SelectedNode(), nullptr);
    // The held nodes keep their own values but no links into the old tree.
    EXPECT_EQ(root->Key(), Key(1));
    EXPECT_EQ(deep->Text(), "node 3999 with a text too long to fit in place");
    EXPECT_EQ(deep->Parent(), nullptr);
    EXPECT_TRUE(root->Children().empty());
    deep->Expanded(true);
    deep->Selected(true);
    EXPECT_EQ(tree.SelectedNode(), nullptr);

    // The keys are free again, and the tree fills as before.
    Fill(tree, 4000);
    EXPECT_EQ(tree.Nodes().Item(Key(3999))->Parent()->Key(), Key(1333));
    EXPECT_NE(tree.Nodes().Item(Key(1)).get(), root.get());
}

}  // namespace
}  // namespace kevra
