// The tree's storage at sizes where its chunks and key index grow: every
// node still reachable by key and by index, nodes handed out surviving a
// Clear without dangling, and failed adds leaving nothing behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

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

// Places() must say what Parent() and the sibling lists say, for every node.
void ExpectPlacesMatchLinks(const Tree& tree) {
    const NodeCollection& nodes = tree.Nodes();
    ASSERT_EQ(nodes.Places().size(), static_cast<size_t>(nodes.Count()));
    for (int32_t i = 1; i <= nodes.Count(); ++i) {
        const Node* node = nodes.At(i);
        const NodeCollection::Place& place = nodes.Places()[static_cast<size_t>(i - 1)];
        ASSERT_EQ(place.parent, node->Parent() ? node->Parent()->Index() : 0) << node->Key();
        const std::vector<Node*>& siblings =
            node->Parent() ? node->Parent()->Children() : nodes.Roots();
        ASSERT_LT(place.row, static_cast<int32_t>(siblings.size())) << node->Key();
        EXPECT_EQ(siblings[static_cast<size_t>(place.row)], node) << node->Key();
    }
}

TEST(TreeStorage, PlacesFollowEveryAddClearAndRefill) {
    Tree tree;
    Fill(tree, 3000);
    // Last siblings and further roots, between the children of earlier nodes.
    tree.Nodes().Add(Key(40), NodeCollection::kLast, "L1", "last sibling");
    tree.Nodes().Add("R2", "second root");
    tree.Nodes().Add("R2", NodeCollection::kChild, "R2a", "child of the second root");
    tree.Nodes().Add(Key(1), NodeCollection::kLast, "R3", "third root");
    ExpectPlacesMatchLinks(tree);
    // A failed add leaves no place behind.
    EXPECT_THROW(tree.Nodes().Add(Key(2), NodeCollection::kChild, Key(3), "taken"), RuntimeError);
    ExpectPlacesMatchLinks(tree);

    tree.Clear();
    EXPECT_TRUE(tree.Nodes().Places().empty());
    // A smaller refill of another shape: roots first, then children.
    for (int i = 0; i < 50; ++i) tree.Nodes().Add("R" + std::to_string(i), "root");
    for (int i = 0; i < 200; ++i)
        tree.Nodes().Add("R" + std::to_string(i % 7), NodeCollection::kChild,
                         "C" + std::to_string(i), "child");
    ExpectPlacesMatchLinks(tree);
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

// A refill reuses the nodes of the fill before it. Nothing of the old nodes
// may show through: not their text, their expanded state, their font or
// their children, whether the new texts are longer or shorter.
TEST(TreeStorage, RefilledNodesCarryNothingOfTheirEarlierFill) {
    Tree tree;
    tree.Font().Bold = true;
    Fill(tree, 3000);
    for (int i = 1; i <= 3000; i += 7) tree.Nodes().Item(Key(i))->Expanded(true);
    tree.Clear();

    tree.Font().Bold = false;
    tree.Font().Size = 12;
    tree.Nodes().Add("R", "r");
    for (int i = 1; i <= 4000; ++i) {
        // Flat this time, with texts both shorter and longer than before.
        const std::string text = i % 2 ? "s" : std::string(100, 'L') + std::to_string(i);
        tree.Nodes().Add("R", NodeCollection::kChild, "K" + std::to_string(i), text);
    }
    ASSERT_EQ(tree.Nodes().Count(), 4001);
    for (int i = 1; i <= 4000; ++i) {
        const Node* node = tree.Nodes().At(i + 1);
        ASSERT_EQ(node->Key(), "K" + std::to_string(i));
        EXPECT_EQ(node->Text(), i % 2 ? "s" : std::string(100, 'L') + std::to_string(i));
        EXPECT_FALSE(node->Expanded()) << i;
        EXPECT_TRUE(node->Children().empty()) << i;
        EXPECT_FALSE(node->Font().Bold) << i;
        EXPECT_EQ(node->Font().Size, 12);
        EXPECT_EQ(node->Parent()->Key(), "R");
        EXPECT_EQ(node->Index(), i + 1);
    }
    EXPECT_EQ(tree.Nodes().Roots().size(), 1u);
    // The keys of the first fill are gone.
    EXPECT_EQ(tree.Nodes().Find(Key(5)), nullptr);
}

// A node held across a Clear keeps its chunk out of the next fill: the
// next fill must neither overwrite the held node nor lose its own nodes.
TEST(TreeStorage, NodesHeldAcrossClearAreNotReused) {
    Tree tree;
    Fill(tree, 2500);
    NodeRef held = tree.Nodes().Item(Key(1200));
    tree.Clear();
    Fill(tree, 2500);
    EXPECT_EQ(held->Key(), Key(1200));
    EXPECT_EQ(held->Text(), "node 1200 with a text too long to fit in place");
    EXPECT_EQ(held->Parent(), nullptr);
    EXPECT_NE(tree.Nodes().Item(Key(1200)).get(), held.get());
    for (int i = 1; i <= 2500; ++i) ASSERT_EQ(tree.Nodes().At(i)->Key(), Key(i));
    // A third fill, with the chunk still held, and then with it let go.
    tree.Clear();
    Fill(tree, 2500);
    held.reset();
    tree.Clear();
    Fill(tree, 2500);
    for (int i = 2; i <= 2500; ++i)
        ASSERT_EQ(tree.Nodes().At(i)->Parent()->Key(), Key(std::max(1, i / 3)));
}

// Every key must be taken, and findable, from its add on: whether it waits
// in the queue of newest keys before the key index, or is numbered (a
// letter and a number) and kept by number, or is numbered beyond the range
// of numbers the tree keeps so far and so waits in the key index until the
// range reaches it.
void ExpectEveryKeyTakenAndFindable(const std::function<std::string(int)>& key_of,
                                    int count = 3000) {
    // Key i is the node after the root, the i - 1 before it, and the
    // children added under every 97th of those.
    auto index_of = [](int i) { return 1 + i + (i - 1) / 97; };
    Tree tree;
    tree.Nodes().Add("R", "root");
    for (int i = 1; i <= count; ++i) {
        const std::string key = key_of(i);
        tree.Nodes().Add("R", NodeCollection::kChild, key, "t");
        // The key just added, and ones a few adds back, across every growth
        // of the index.
        for (int back : {0, 1, 5, 15, 16, 17, 40, 1000}) {
            if (i - back < 1) continue;
            const std::string earlier = key_of(i - back);
            const Node* found = tree.Nodes().Find(earlier);
            ASSERT_NE(found, nullptr) << earlier << " at add " << i;
            ASSERT_EQ(found->Index(), index_of(i - back)) << earlier;
            try {
                tree.Nodes().Add("R", NodeCollection::kChild, earlier, "again");
                FAIL() << earlier << " added twice";
            } catch (const RuntimeError& e) {
                ASSERT_EQ(e.Number(), err::kKeyNotUnique) << i << " " << back;
            }
        }
        // A child of the newest node, found through the key index.
        if (i % 97 == 0) tree.Nodes().Add(key, NodeCollection::kChild, key + "c", "child");
    }
    EXPECT_EQ(tree.Nodes().Count(), 1 + count + count / 97);
    EXPECT_EQ(tree.Nodes().Item(key_of(97) + "c")->Parent()->Key(), key_of(97));
    for (int i = 1; i <= count; ++i) ASSERT_EQ(tree.Nodes().Item(key_of(i))->Index(), index_of(i));
    EXPECT_EQ(tree.Nodes().Find(key_of(count + 1)), nullptr);
}

TEST(TreeStorage, EveryKeyIsTakenAndFindableFromItsAddOn) {
    // Hashed keys.
    ExpectEveryKeyTakenAndFindable([](int i) { return "K-" + std::to_string(i); });
    // Numbered keys in the range kept from the start.
    ExpectEveryKeyTakenAndFindable([](int i) { return Key(i); });
    // Numbered keys spread wide, in no order: beyond the range the tree
    // keeps at this size.
    ExpectEveryKeyTakenAndFindable([](int i) { return Key(((i * 7919) % 3001) * 331); });
    // Numbered keys up to 160,000 in no order: many start beyond the range,
    // the range reaches most of them as the tree grows, and some never.
    ExpectEveryKeyTakenAndFindable([](int i) { return Key(((i * 7919) % 20011) * 8); }, 20000);
}

// Keys that spell the same number differently, or another prefix with the
// same number, are different keys, each found as itself.
TEST(TreeStorage, LookalikeNumberedKeysAreDistinct) {
    const std::vector<std::string> keys = {
        "X7", "X07", "X007", "Y7",         "7",           "X",           "X-7", "X+7", "X 7", "X7 ",
        "X0", "X00", "x7",   "X999999999", "X1000000000", "X4294967303", "XX7", "X7X", "\x07"};
    for (bool numbered_first : {true, false}) {
        Tree tree;
        // Which prefix the tree keeps by number is taken from its first
        // numbered key; either way every key must stay distinct.
        if (!numbered_first) tree.Nodes().Add("Y1", "first");
        for (const std::string& key : keys) tree.Nodes().Add(key, "t");
        for (const std::string& key : keys) {
            const Node* node = tree.Nodes().Find(key);
            ASSERT_NE(node, nullptr) << key;
            EXPECT_EQ(node->Key(), key);
            EXPECT_THROW(tree.Nodes().Add(key, "again"), RuntimeError) << key;
        }
        EXPECT_EQ(tree.Nodes().Find("X70"), nullptr);
        EXPECT_EQ(tree.Nodes().Find("Y07"), nullptr);
    }
}

// Lookups by number are answered from positions written by the first
// lookup after adds: a refill that puts the same keys at other places must
// not be answered from the places of the fill before.
TEST(TreeStorage, RefillWithTheSameKeysElsewhereFindsTheNewNodes) {
    Tree tree;
    Fill(tree, 3000);
    EXPECT_EQ(tree.Nodes().Item(Key(2999))->Index(), 2999);
    tree.Clear();
    tree.Nodes().Add("R", "root");
    for (int i = 3000; i >= 1; --i) {
        tree.Nodes().Add("R", NodeCollection::kChild, Key(i), "t");
        if (i % 500 == 0) {
            ASSERT_EQ(tree.Nodes().Item(Key(i))->Index(), 3002 - i);
        }
    }
    for (int i = 1; i <= 3000; ++i) ASSERT_EQ(tree.Nodes().Item(Key(i))->Index(), 3002 - i);
    // Another prefix after a Clear is kept by number just as well.
    tree.Clear();
    for (int i = 1; i <= 100; ++i) tree.Nodes().Add("Y" + std::to_string(i), "t");
    EXPECT_EQ(tree.Nodes().Find(Key(5)), nullptr);
    EXPECT_EQ(tree.Nodes().Item("Y5")->Index(), 5);
}

}  // namespace
}  // namespace kevra
