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
    Tree* tree_ = nullptr;
    std::string key_;
    std::string text_;
    StdFont font_;
    Node* parent_ = nullptr;
    std::vector<Node*> children_;
    bool expanded_ = false;
    int32_t index_ = 0;
    uint32_t chunk_ = 0;  // which of the collection's chunks holds the node
};
// A node handed out keeps its whole chunk of nodes alive (see NodeCollection).
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
    Node& Add(std::string_view key, std::string_view text) {
        return Add("", kOmitted, key, text);
    }

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
    explicit NodeCollection(Tree* tree) : tree_(tree) {}
    NodeRef RefTo(Node* node) const;
    // Makes room for one more node everywhere Add puts it, so that the add
    // itself cannot fail half way.
    void ReserveOneMore(Node* parent, bool hashed);
    Node* FindHashed(std::string_view key, uint32_t hash) const;
    // Find for Add's relative: a fill adds most nodes under the node added
    // just before, under the same relative as the add before, or under a
    // near ancestor of the node added last, so those are tried before the
    // key index.
    Node* FindRelative(const std::string& relative);
    // Puts a key into keys_ and seen_: at once while rebuilding, through the
    // queue of recent keys (see queued_) for an add.
    void PlaceKey(uint32_t position, uint32_t hash);
    void QueueKey(uint32_t position, uint32_t hash);
    // False when no node has a key of this hash; true when one may have.
    bool MayHold(uint32_t hash) const;
    void RemoveAll();
    // The number of a numbered key: one non-digit character, then a whole
    // number in plain decimal (no sign, no leading zero) below a billion.
    static bool NumberOf(std::string_view key, uint32_t& number);
    // Whether `key` is numbered and its number in the range numbers_ covers:
    // such a key is in numbers_, every other key in keys_.
    bool Numbered(std::string_view key, uint32_t& number) const;
    // Widens numbers_ to cover `number` when the tree is large enough for
    // its range, taking over the keys of keys_ the wider range covers.
    void CoverNumber(uint32_t number);

    // Nodes live in chunks that are never moved, a few hundred to a chunk,
    // so that a fill of a million nodes makes thousands of allocations
    // rather than millions. A chunk is shared with every NodeRef into it.
    // Clear keeps the chunks nobody else holds, their nodes' text buffers and
    // child lists included, for the next fill: refilling a tree of the same
    // size allocates nothing but what longer texts need.
    struct Chunk {
        std::vector<Node> nodes;  // made at full size; never resized
        size_t used = 0;          // nodes[0..used) are in the tree
    };
    Node& NextFreeNode();
    // The key index: open addressing over a power-of-two table of 8-byte
    // slots, each keeping its key's hash, so that a probe rarely touches a
    // node and the table of a million nodes stays small.
    struct KeySlot {
        uint32_t hash = 0;
        uint32_t position = 0;  // the node's Index(); 0: empty
    };

    Tree* tree_;
    std::vector<std::shared_ptr<Chunk>> chunks_;
    std::vector<std::shared_ptr<Chunk>> spare_;  // kept by Clear, used before new ones
    std::vector<Node*> nodes_;
    std::vector<Node*> roots_;
    std::vector<Place> places_;  // by position, as nodes_
    std::vector<KeySlot> keys_;
    size_t keyed_ = 0;  // keys in keys_ and in the queue
    // A filter of the hashes in keys_, two bits per slot, two set per key:
    // small enough to stay in the cache when keys_ does not, it answers most
    // "is this new key taken?" questions of an add without touching keys_.
    std::vector<uint64_t> seen_;
    // The keys of the latest adds wait here a while before they go into
    // keys_, their slots prefetched by their add: by the time a key's turn
    // comes its slot is in the cache, and the add that queued it has not
    // waited for memory. Lookups search the queue as well as keys_.
    static constexpr size_t kQueuedKeys = 16;
    KeySlot queued_[kQueuedKeys];
    size_t queue_length_ = 0;
    size_t queue_next_ = 0;  // where the next key goes; the oldest when full
    void FlushQueue();
    Node* last_relative_ = nullptr;
    // Numbered keys, the form the control gives every node ("X42"), are
    // not hashed: one bit per number in the range says whether a node has
    // it, and a table by number gives the node's Index(). At a million
    // nodes the bits take 128 KB, which the cache keeps, where keys_ and
    // its filter miss it on nearly every add. The range grows with the
    // tree, up to eight numbers a node; a numbered key beyond it goes into
    // keys_ (and is listed in outliers_) until the range reaches it. Every
    // numbered key of the tree has the same first character, that of the
    // first one added.
    //
    // The table by number is written by the first lookup after adds, for
    // every node added since (PositionNumbers): written at each add, its
    // store would miss the cache and hold up the stores after it.
    char number_prefix_ = 0;  // 0: no numbered key since the last Clear
    std::vector<uint64_t> numbers_;
    // Read only where numbers_ has the bit, for nodes before positioned_.
    mutable std::vector<uint32_t> number_positions_;
    mutable size_t positioned_ = 0;
    void PositionNumbers() const;
    std::vector<uint32_t> outliers_;  // Index() of numbered keys in keys_
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
    // The key of the selected node, for front-ends (no checkpoint).
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

    uint64_t Revision() const { return revision_; }
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
    uint64_t revision_ = 0;
};

}  // namespace kevra
