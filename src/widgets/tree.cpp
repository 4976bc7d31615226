// The tree model.
#include "widgets/tree.h"

#include <algorithm>
#include <cassert>

#include "platform/error.h"
#include "platform/faults.h"
#include "widgets/key_index_p.h"
#include "widgets/node_chunks_p.h"

namespace kevra {

// ---- Node ----

void Node::Expanded(bool expanded) {
    if (expanded_ == expanded) return;
    expanded_ = expanded;
    if (tree_) tree_->Changed(this);
}

bool Node::Selected() const { return tree_ && tree_->selected_ == this; }

void Node::Selected(bool selected) {
    if (!tree_) return;  // removed from its tree by Clear
    if (selected) {
        tree_->Select(this);
    } else if (tree_->selected_ == this) {
        tree_->Select(nullptr);
    }
}

// ---- NodeCollection ----

namespace {

// Room for one more element, growing geometrically as push_back would
// (reserve alone grows to exactly the size asked for).
template <typename T>
void GrowForOneMore(std::vector<T>& v) {
    if (v.size() == v.capacity()) v.reserve(std::max<size_t>(4, v.size() * 2));
}

}  // namespace

NodeCollection::NodeCollection(Tree* tree)
    : tree_(tree),
      chunks_(std::make_unique<NodeChunks>()),
      keys_(std::make_unique<KeyIndex>(&NodeCollection::KeyAt, this)) {}

NodeCollection::~NodeCollection() = default;

std::string_view NodeCollection::KeyAt(const void* collection, uint32_t position) {
    return static_cast<const NodeCollection*>(collection)->nodes_[position - 1]->key_;
}

NodeRef NodeCollection::RefTo(Node* node) const { return chunks_->RefTo(node); }

NodeRef NodeCollection::Item(int32_t index) const {
    faults::Check("Nodes.Item");
    if (index < 1 || index > Count())
        throw RuntimeError(err::kIndexOutOfBounds, "Index out of bounds: node " +
                                                       std::to_string(index) + " of " +
                                                       std::to_string(Count()));
    return RefTo(nodes_[static_cast<size_t>(index - 1)]);
}

NodeRef NodeCollection::Item(const std::string& key) const {
    faults::Check("Nodes.Item");
    Node* node = Find(key);
    if (!node)
        throw RuntimeError(err::kItemNotFound,
                           "Element not found: the tree has no node with the key \"" + key + "\"");
    return RefTo(node);
}

Node* NodeCollection::Find(const std::string& key) const {
    const uint32_t position = keys_->Find(key);
    if (position == 0) return nullptr;
    Node* node = nodes_[position - 1];
    assert(node->key_ == key && "the key index points at another node");
    return node;
}

Node* NodeCollection::FindRelative(const std::string& relative) {
    if (relative.empty()) return nullptr;
    if (last_relative_ && last_relative_->key_ == relative) return last_relative_;
    // A depth-first fill adds under the node added last or under one of its
    // nearest ancestors (back from a finished subtree), all still in the
    // cache, where the key index would cost a cache miss in a large tree.
    Node* found = nullptr;
    int hops = 0;
    for (Node* n = nodes_.empty() ? nullptr : nodes_.back(); n && hops < 8;
         n = n->parent_, ++hops) {
        if (n->key_ == relative) {
            found = n;
            break;
        }
    }
    if (!found) found = Find(relative);
    if (found) last_relative_ = found;
    return found;
}

Node* NodeCollection::ParentFor(const std::string& relative, int32_t relationship,
                                std::string_view key) {
    if (relationship == kOmitted && relative.empty()) return nullptr;
    Node* rel = FindRelative(relative);
    if (!rel)
        throw RuntimeError(err::kItemNotFound,
                           "Element not found: the tree has no node with the key \"" + relative +
                               "\" to add \"" + std::string(key) + "\" to");
    if (relationship == kChild) return rel;
    if (relationship == kLast || relationship == kOmitted) return rel->parent_;
    throw RuntimeError(err::kInvalidArgument,
                       "Invalid procedure call: relationship " + std::to_string(relationship) +
                           " is not supported (use 4 for a child or 1 for a last sibling)");
}

Node& NodeCollection::Add(const std::string& relative, int32_t relationship, std::string_view key,
                          std::string_view text) {
    faults::Check("Nodes.Add");
    Node* parent = ParentFor(relative, relationship, key);
    const KeyIndex::Entry entry = keys_->Prepare(key);
    if (keys_->Holds(key, entry))
        throw RuntimeError(err::kKeyNotUnique,
                           "Key is not unique in collection: the tree already holds a node with "
                           "the key \"" +
                               std::string(key) + "\"");
    // Room everywhere the node goes, so that the add cannot fail half way.
    keys_->ReserveFor(entry);
    chunks_->ReserveOneMore(nodes_.size());
    GrowForOneMore(nodes_);
    GrowForOneMore(places_);
    std::vector<Node*>& siblings = parent ? parent->children_ : roots_;
    GrowForOneMore(siblings);
    // A node kept from an earlier fill reuses its buffers where they are
    // large enough; one too small for its new text is the only allocation
    // left that can fail, and it comes before the node is linked anywhere.
    Node& node = chunks_->Next();
    node.key_.assign(key);
    node.text_.assign(text);
    // Nothing below can fail: every container has room.
    chunks_->Take();
    node.tree_ = tree_;
    node.font_ = tree_->font_;
    node.parent_ = parent;
    node.children_.clear();
    node.expanded_ = false;
    node.index_ = Count() + 1;
    nodes_.push_back(&node);
    places_.push_back({parent ? parent->index_ : 0, static_cast<int32_t>(siblings.size())});
    siblings.push_back(&node);
    keys_->Insert(entry);
    assert(places_.size() == nodes_.size() && keys_->Size() == nodes_.size());
    tree_->Changed(&node);
    return node;
}

void NodeCollection::RemoveAll() {
    chunks_->ReleaseAll(nodes_.size());
    keys_->Clear();
    nodes_.clear();
    roots_.clear();
    places_.clear();
    last_relative_ = nullptr;
}

// ---- Tree ----

Tree::Tree() : nodes_(this) {}

void Tree::Clear() {
    faults::Check("Clear");
    selected_ = nullptr;
    nodes_.RemoveAll();
    Changed(nullptr);
}

NodeRef Tree::SelectedNode() const {
    faults::Check("SelectedNode");
    if (!selected_) return nullptr;
    return nodes_.RefTo(selected_);
}

void Tree::Select(Node* node) {
    assert((!node || node->tree_ == this) && "selecting a node of another tree");
    selected_ = node;
    for (Node* p = node ? node->parent_ : nullptr; p; p = p->parent_) p->expanded_ = true;
    Changed(nullptr);
}

bool Tree::UserSelect(const std::string& key) {
    Node* node = nodes_.Find(key);
    if (!node) return false;
    Select(node);
    return true;
}

void Tree::UserDblClick() {
    if (on_dbl_click_) on_dbl_click_();
}

void Tree::Changed(const Node* node) {
    if (on_changed_) on_changed_(node);
}

}  // namespace kevra
