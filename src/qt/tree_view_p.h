// The tree on a Qt desktop: an item model over the Tree model and the view
// that shows it. Private to the Qt front-end (not installed): the widget,
// the in-tree tools, the benchmarks and the tests use it.
//
// The item model does not copy the tree's nodes. It keeps the tree's shape
// as of its last reset (who is whose child, in which row), which is what the
// view asks between resets; an index carries the node's position in Nodes()
// (1-based), and the node behind it is read from the live tree only after a
// check, so an index that outlived a change reads nothing rather than freed
// memory. Changes are coalesced: the many changes of one fill (a node added,
// a font set, a node expanded) cost a flag each and become one model reset
// from the event loop; a change that only selects or expands existing nodes
// is applied to the view without a reset.
//
// Each node keeps its own font (size, bold, underline), its expanded state
// and the tree's one selection as the model holds them. A double-click, or
// Enter or Return on the current node, raises the model's double-click event
// for the selected node, so the control works without a mouse; typing jumps
// to the next visible node whose text starts with what was typed. A node
// that assistive technology selects is selected as by a click, in the tree
// the control reads and not only on the screen; the one column's hidden
// header is named, for screen readers list it.
#pragma once

#include <QAbstractItemModel>
#include <QFont>
#include <QTreeView>
#include <functional>
#include <utility>
#include <vector>

#include "widgets/tree.h"

namespace kevra::qt {

class TaskTreeModel : public QAbstractItemModel {
    Q_OBJECT
  public:
    explicit TaskTreeModel(Tree& tree, QObject* parent = nullptr);
    ~TaskTreeModel() override;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The node behind an index, or nullptr for an index that no longer
    // names a node.
    Node* nodeFromIndex(const QModelIndex& index) const;
    QModelIndex indexFromNode(const Node* node) const;
    // The index of the node at `position` as of the last reset.
    QModelIndex indexAtPosition(int32_t position) const;

    // The font model fonts fall back on for their family. A new one is a
    // change of layout: views keep what is expanded and selected.
    void setBaseFont(const QFont& font);

    // Changes of the tree not yet shown. takeChanges hands them over: true
    // when the structure changed (reset needed), and the positions of nodes
    // whose expanded state changed otherwise.
    bool hasPendingChanges() const { return pending_; }
    bool takeChanges(std::vector<int32_t>& expanded);
    // Resets the model to the tree as it stands.
    void rebuild();
    // The nodes with children that were expanded at the last reset, by
    // position.
    const std::vector<int32_t>& expandedAtReset() const { return expanded_parents_; }
    // Whether every node with children was expanded at the last reset.
    bool allExpandedAtReset() const { return all_parents_expanded_; }
    // Empties the model for its views, in one reset: a view dropping
    // thousands of expanded indexes one by one would look each up in turn.
    // The next takeChanges asks for a rebuild.
    void dropViewIndexes();
    // While set, the tree's change reports are not recorded: the view is
    // passing on what the user did, which it already shows.
    void setMuted(bool muted) { muted_ = muted; }

  signals:
    // Emitted once when a change arrives after the last takeChanges.
    void changesPending();

  private:
    void treeChanged(const Node* node);
    // The position a view index names, or 0 for one that names no node
    // shown since the last reset.
    int32_t positionOf(const QModelIndex& index) const;
    int32_t childCount(int32_t position) const {
        return first_child_[static_cast<size_t>(position) + 1] -
               first_child_[static_cast<size_t>(position)];
    }
    const QFont& fontFor(const StdFont& font) const;

    Tree& tree_;
    int32_t known_count_ = 0;
    bool pending_ = false;
    bool structural_ = false;
    bool muted_ = false;
    std::vector<int32_t> expanded_changes_;
    const NodeCollection::Place& placeOf(int32_t position) const {
        return places_[static_cast<size_t>(position) - 1];
    }
    // The shape of the tree at the last reset, by node position (1-based),
    // which is all the view asks between resets. Kept apart from the nodes
    // so that laying out a large tree reads a few bytes per row rather than
    // every node: each node's parent and row (places_[p - 1], as
    // NodeCollection::Places() had them), and its children (those of
    // position p are children_[first_child_[p] .. first_child_[p + 1]);
    // position 0 stands for the invisible root above the roots).
    std::vector<NodeCollection::Place> places_;
    std::vector<int32_t> first_child_;
    std::vector<int32_t> children_;
    std::vector<int32_t> expanded_parents_;  // expanded nodes with children
    bool all_parents_expanded_ = true;
    QFont base_font_;
    mutable std::vector<std::pair<StdFont, QFont>> fonts_;
};

class TaskTreeView : public QTreeView {
    Q_OBJECT
  public:
    using Runner = std::function<void(const std::function<void()>&)>;

    // Takes the tree's change report (Tree::OnChanged) for its model.
    explicit TaskTreeView(Tree& tree, QWidget* parent = nullptr);
    ~TaskTreeView() override;

    void setRunner(Runner runner) { runner_ = std::move(runner); }
    TaskTreeModel* taskModel() const { return model_; }
    // Applies the tree's pending changes and lays the rows out now.
    void applyPendingChanges();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;

  private:
    void flush();
    void applyExpanded();
    void applySelection();
    void run(const std::function<void()>& action);
    void userCurrentChanged(const QModelIndex& current);
    void userExpanded(const QModelIndex& index, bool expanded);
    void doubleClick();
    void retranslate();

    Tree& tree_;
    TaskTreeModel* model_;
    Runner runner_;
    bool applying_ = false;  // the view is being set from the tree
    int input_depth_ = 0;    // in the view's own input events
    bool choosing_ = false;  // a choice of assistive technology is being applied
};

// Builds a view of `tree` at `size`, applies the tree, lays its rows out and,
// when `paint` is set, paints it once offscreen. Returns the view's vertical
// scroll range, which depends on every laid-out row. Made for measuring the
// cost of showing a large tree; it takes the tree's change report while it
// runs, so use a tree that no other view shows.
int layOutTreeView(Tree& tree, QSize size, bool paint = true);

}  // namespace kevra::qt
