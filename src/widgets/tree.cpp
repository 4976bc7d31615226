// The tree model.
#include "widgets/tree.h"

#include "platform/error.h"
#include "platform/faults.h"

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

NodeRef NodeCollection::Item(int32_t index) const {
    faults::Check("Nodes.Item");
    if (index < 1 || index > Count())
        throw RuntimeError(err::kIndexOutOfBounds, "Index out of bounds: node " +
                                                       std::to_string(index) + " of " +
                                                       std::to_string(Count()));
    return nodes_[static_cast<size_t>(index - 1)];
}

NodeRef NodeCollection::Item(const std::string& key) const {
    faults::Check("Nodes.Item");
    Node* node = Find(key);
    if (!node)
        throw RuntimeError(err::kItemNotFound,
                           "Element not found: the tree has no node with the key \"" + key + "\"");
    return nodes_[static_cast<size_t>(node->index_ - 1)];
}

Node* NodeCollection::Find(const std::string& key) const {
    auto it = by_key_.find(key);
    return it == by_key_.end() ? nullptr : it->second;
}

NodeRef NodeCollection::Add(const std::string& relative, int32_t relationship,
                            const std::string& key, const std::string& text) {
    faults::Check("Nodes.Add");
    Node* parent = nullptr;
    if (relationship != kOmitted || !relative.empty()) {
        Node* rel = Find(relative);
        if (!rel)
            throw RuntimeError(err::kItemNotFound,
                               "Element not found: the tree has no node with the key \"" +
                                   relative + "\" to add \"" + key + "\" to");
        if (relationship == kChild) {
            parent = rel;
        } else if (relationship == kLast || relationship == kOmitted) {
            parent = rel->parent_;
        } else {
            throw RuntimeError(err::kInvalidArgument,
                               "Invalid procedure call: relationship " +
                                   std::to_string(relationship) +
                                   " is not supported (use 4 for a child or 1 for a last sibling)");
        }
    }
    if (!key.empty() && by_key_.count(key))
        throw RuntimeError(err::kKeyNotUnique,
                           "Key is not unique in collection: the tree already holds a node with "
                           "the key \"" +
                               key + "\"");
    auto node = std::make_shared<Node>();
    node->tree_ = tree_;
    node->key_ = key;
    node->text_ = text;
    node->font_ = tree_->font_;
    node->parent_ = parent;
    node->index_ = Count() + 1;
    nodes_.push_back(node);
    (parent ? parent->children_ : roots_).push_back(node.get());
    if (!key.empty()) by_key_.emplace(key, node.get());
    tree_->Changed(node.get());
    return node;
}

// ---- Tree ----

Tree::Tree() : nodes_(this) {}

void Tree::Clear() {
    faults::Check("Clear");
    selected_ = nullptr;
    // Nodes handed out earlier stay valid objects, but belong to no tree
    // position any more: detach their links so that nothing dangles.
    for (auto& n : nodes_.nodes_) {
        n->tree_ = nullptr;
        n->parent_ = nullptr;
        n->children_.clear();
    }
    nodes_.nodes_.clear();
    nodes_.roots_.clear();
    nodes_.by_key_.clear();
    Changed(nullptr);
}

NodeRef Tree::SelectedNode() const {
    faults::Check("SelectedNode");
    if (!selected_) return nullptr;
    return nodes_.nodes_[static_cast<size_t>(selected_->index_ - 1)];
}

void Tree::Select(Node* node) {
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
    ++revision_;
    if (on_changed_) on_changed_(node);
}

}  // namespace kevra
