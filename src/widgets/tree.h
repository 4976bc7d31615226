// The tree: one collection of nodes at every depth, each with a unique key,
// its own font, an expanded flag, and at most one selected node. This is the
// model every front-end renders; keys, order and events live here.
//
// Nodes().Item(index) runs 1..Count() in order of addition. A node takes a
// copy of the tree's Font() at the moment it is added. Selecting a node
// inside a collapsed branch expands its ancestors, so the selected node is
// always visible.
//
// The operations the control calls pass the fault checkpoints Nodes.Add,
// Nodes.Item, Clear and SelectedNode. The User* actions and the Node*/Find
// readers are what a front-end uses; they pass none.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kevra/widgets/font.h"

namespace kevra {

class Tree;
class NodeChunks;
class KeyIndex;

class Node {
  public:
    const std::string& Key() const { return key_; }
    const std::string& Text() const { return text_; }
    const StdFont& Font() const { return font_; }
    // The parent node, or nullptr for a root.
    Node* Parent() const { return parent_; }
    const std::vector<Node*>& Children() const { return children_; }
    bool Expanded() const { return expanded_; }
    void Expanded(bool expanded);
    bool Selected() const;
    // Selecting makes this the tree's selected node and expands its
    // ancestors; deselecting the selected node leaves none selected.
    void Selected(bool selected);
    // Position in Nodes(), 1-based.
    int32_t Index() const { return index_; }

  private:
    friend class Tree;
    friend class NodeCollection;
    friend class NodeChunks;
    Tree* tree_ = nullptr;
    std::string key_;
    std::string text_;
    StdFont font_;
    Node* parent_ = nullptr;
    std::vector<Node*> children_;
    bool expanded_ = false;
    int32_t index_ = 0;
    uint32_t chunk_ = 0;  // which of the tree's chunks of nodes holds the node
};
// A node handed out keeps the nodes stored with it alive, and is detached
// from its tree by Clear.
using NodeRef = std::shared_ptr<Node>;

class NodeCollection {
  public:
    // Relationship codes of Add.
    static constexpr int32_t kFirst = 0;
    static constexpr int32_t kLast = 1;
    static constexpr int32_t kNext = 2;
    static constexpr int32_t kPrevious = 3;
    static constexpr int32_t kChild = 4;
    static constexpr int32_t kOmitted = -1;

    ~NodeCollection();

    int32_t Count() const { return static_cast<int32_t>(nodes_.size()); }
    // 1-based. Raises 35600 out of range.
    NodeRef Item(int32_t index) const;
    // Raises 35601 when no node has the key.
    NodeRef Item(const std::string& key) const;
    // Adds a node. With relative and relationship omitted it is a new root
    // after the others; with kChild it is the last child of `relative`; with
    // kLast, a last sibling of `relative`. Raises 35601 for an unknown
    // relative, 35602 for a key the tree holds, 5 for another relationship.
    // Returns the new node, which lives as long as it is in the tree; to
    // keep it beyond a Clear, take it with Item. (A NodeRef per add would
    // cost a fill of a million nodes a million count changes nobody uses.)
    Node& Add(const std::string& relative, int32_t relationship, std::string_view key,
              std::string_view text);
    Node& Add(std::string_view key, std::string_view text) { return Add("", kOmitted, key, text); }

    // Readers for front-ends (no checkpoint).
    Node* Find(const std::string& key) const;
    Node* At(int32_t index) const { return nodes_[static_cast<size_t>(index - 1)]; }
    const std::vector<Node*>& Roots() const { return roots_; }
    // Where each node sits: the Index() of its parent (0 for a root) and its
    // row among its parent's children (or among the roots). Places()[i - 1]
    // is the place of At(i). A front-end laying out a large tree reads these
    // eight bytes a node instead of the nodes themselves.
    struct Place {
        int32_t parent;
        int32_t row;
    };
    const std::vector<Place>& Places() const { return places_; }

  private:
    friend class Tree;
    explicit NodeCollection(Tree* tree);
    NodeRef RefTo(Node* node) const;
    // The parent an add of `key` goes under, or nullptr for a root; raises
    // for an unknown relative or relationship.
    Node* ParentFor(const std::string& relative, int32_t relationship, std::string_view key);
    // Find for Add's relative: a fill adds most nodes under the node added
    // just before, under the same relative as the add before, or under a
    // near ancestor of the node added last, so those are tried before the
    // key index.
    Node* FindRelative(const std::string& relative);
    void RemoveAll();
    static std::string_view KeyAt(const void* collection, uint32_t position);

    Tree* tree_;
    std::vector<Node*> nodes_;
    std::vector<Node*> roots_;
    std::vector<Place> places_;  // by position, as nodes_
    Node* last_relative_ = nullptr;
    // Where the nodes live and which node has a key: private to the tree
    // (widgets/node_chunks_p.h, widgets/key_index_p.h).
    std::unique_ptr<NodeChunks> chunks_;
    std::unique_ptr<KeyIndex> keys_;
};

class Tree {
  public:
    using DblClickHandler = std::function<void()>;

    Tree();
    Tree(const Tree&) = delete;
    Tree& operator=(const Tree&) = delete;

    NodeCollection& Nodes() { return nodes_; }
    const NodeCollection& Nodes() const { return nodes_; }
    // Removes every node; every key may be used again.
    void Clear();
    // The selected node, or nullptr when none is.
    NodeRef SelectedNode() const;
    // The selected node, or nullptr, for front-ends (no checkpoint).
    Node* Selected() const { return selected_; }

    StdFont& Font() { return font_; }
    const StdFont& Font() const { return font_; }
    bool DisplayFlag = true;
    int32_t DisplayStyle = 0;
    int32_t DisplayMode = 0;

    void OnDblClick(DblClickHandler h) { on_dbl_click_ = std::move(h); }

    // User actions. UserSelect returns false when no node has the key.
    bool UserSelect(const std::string& key);
    void UserDblClick();
    void UserSetExpanded(Node* node, bool expanded) { node->Expanded(expanded); }

    // Observers for views: called after each change (nullptr argument for a
    // change of the whole tree, such as Clear).
    void OnChanged(std::function<void(const Node*)> h) { on_changed_ = std::move(h); }

  private:
    friend class Node;
    friend class NodeCollection;
    void Changed(const Node* node);
    void Select(Node* node);

    NodeCollection nodes_;
    Node* selected_ = nullptr;
    StdFont font_;
    DblClickHandler on_dbl_click_;
    std::function<void(const Node*)> on_changed_;
};

}  // namespace kevra
