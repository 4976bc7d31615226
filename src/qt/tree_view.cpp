// The tree view and its item model.
#include "qt/tree_view.h"

#include <algorithm>

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPixmap>
#include <QScrollBar>

#include "qt/appearance.h"

namespace kevra::qt {

// ---- TaskTreeModel ----

TaskTreeModel::TaskTreeModel(Tree& tree, QObject* parent)
    : QAbstractItemModel(parent), tree_(tree) {
    tree_.OnChanged([this](const Node* node) { TreeChanged(node); });
    Reset();
}

TaskTreeModel::~TaskTreeModel() { tree_.OnChanged(nullptr); }

void TaskTreeModel::TreeChanged(const Node* node) {
    if (muted_) return;
    if (!structural_) {
        // A node past the count we show is new; a whole-tree report that
        // leaves fewer nodes is a Clear. Any other whole-tree report is a
        // selection, which the view re-reads at every flush.
        const int32_t count = tree_.Nodes().Count();
        if (node ? node->Index() > known_count_ : count != known_count_) {
            structural_ = true;
            expanded_changes_.clear();
        } else if (node) {
            expanded_changes_.push_back(node->Index());
        }
    }
    if (!pending_) {
        pending_ = true;
        emit changesPending();
    }
}

bool TaskTreeModel::TakeChanges(std::vector<int32_t>& expanded) {
    const bool structural = structural_;
    expanded.swap(expanded_changes_);
    expanded_changes_.clear();
    structural_ = false;
    pending_ = false;
    return structural;
}

void TaskTreeModel::Reset() {
    beginResetModel();
    const NodeCollection& nodes = tree_.Nodes();
    known_count_ = nodes.Count();
    const size_t count = static_cast<size_t>(known_count_);
    const std::vector<NodeCollection::Place>& places = nodes.Places();
    places_.assign(places.begin(), places.end());
    // Children are listed parent by parent in position order, the roots
    // first (as the children of position 0), each at its row.
    first_child_.assign(count + 2, 0);
    for (const NodeCollection::Place& place : places_)
        ++first_child_[static_cast<size_t>(place.parent) + 1];
    for (size_t p = 1; p < first_child_.size(); ++p) first_child_[p] += first_child_[p - 1];
    children_.resize(count);
    for (size_t i = 0; i < count; ++i) {
        const NodeCollection::Place& place = places_[i];
        children_[static_cast<size_t>(first_child_[static_cast<size_t>(place.parent)] + place.row)] =
            static_cast<int32_t>(i + 1);
    }
    // Only nodes with children are read: a leaf's expanded state shows
    // nowhere.
    expanded_parents_.clear();
    all_parents_expanded_ = true;
    for (int32_t i = 1; i <= known_count_; ++i) {
        if (ChildCount(i) == 0) continue;
        if (nodes.At(i)->Expanded())
            expanded_parents_.push_back(i);
        else
            all_parents_expanded_ = false;
    }
    endResetModel();
}

void TaskTreeModel::DropViewIndexes() {
    beginResetModel();
    endResetModel();
}

void TaskTreeModel::SetBaseFont(const QFont& font) {
    if (font == base_font_) return;
    beginResetModel();
    base_font_ = font;
    fonts_.clear();
    endResetModel();
}

int32_t TaskTreeModel::PositionOf(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this) return 0;
    // The tree may have lost nodes since the reset (a Clear not yet shown):
    // their indexes name nothing.
    const quintptr id = index.internalId();
    const auto shown = static_cast<quintptr>(std::min(known_count_, tree_.Nodes().Count()));
    return id >= 1 && id <= shown ? static_cast<int32_t>(id) : 0;
}

Node* TaskTreeModel::NodeOf(const QModelIndex& index) const {
    const int32_t position = PositionOf(index);
    return position ? tree_.Nodes().At(position) : nullptr;
}

QModelIndex TaskTreeModel::IndexOf(const Node* node) const {
    // A node added since the last reset has no row in the view yet.
    if (!node || node->Index() > std::min(known_count_, tree_.Nodes().Count()) ||
        tree_.Nodes().At(node->Index()) != node)
        return {};
    return IndexAt(node->Index());
}

QModelIndex TaskTreeModel::IndexAt(int32_t position) const {
    if (position < 1 || position > std::min(known_count_, tree_.Nodes().Count())) return {};
    return createIndex(PlaceOf(position).row, 0, static_cast<quintptr>(position));
}

QModelIndex TaskTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column != 0) return {};
    int32_t position = 0;
    if (parent.isValid()) {
        position = PositionOf(parent);
        if (position == 0) return {};
    }
    if (row >= ChildCount(position)) return {};
    const int32_t child =
        children_[static_cast<size_t>(first_child_[static_cast<size_t>(position)] + row)];
    if (child > tree_.Nodes().Count()) return {};
    return createIndex(row, 0, static_cast<quintptr>(child));
}

QModelIndex TaskTreeModel::parent(const QModelIndex& child) const {
    const int32_t position = PositionOf(child);
    if (position == 0) return {};
    return IndexAt(PlaceOf(position).parent);
}

int TaskTreeModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) return ChildCount(0);
    if (parent.column() != 0) return 0;
    const int32_t position = PositionOf(parent);
    return position ? ChildCount(position) : 0;
}

int TaskTreeModel::columnCount(const QModelIndex&) const { return 1; }

bool TaskTreeModel::hasChildren(const QModelIndex& parent) const { return rowCount(parent) > 0; }

const QFont& TaskTreeModel::FontFor(const StdFont& font) const {
    // A fill uses three or four fonts for any number of nodes.
    for (const auto& [model_font, qt_font] : fonts_)
        if (model_font == font) return qt_font;
    fonts_.emplace_back(font, qt::FontFor(font, base_font_));
    return fonts_.back().second;
}

QVariant TaskTreeModel::data(const QModelIndex& index, int role) const {
    const Node* node = NodeOf(index);
    if (!node) return {};
    switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            return QString::fromStdString(node->Text());
        case Qt::FontRole:
            return FontFor(node->Font());
        case Qt::AccessibleDescriptionRole:
            // Underlined nodes are the tasks a double-click starts.
            return node->Font().Underline ? QStringLiteral("Task link; press Enter to start")
                                          : QString();
        default:
            return {};
    }
}

Qt::ItemFlags TaskTreeModel::flags(const QModelIndex& index) const {
    const int32_t position = PositionOf(index);
    if (position == 0) return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    // Until the next reset a node without children keeps none: saying so
    // spares the view a look into its expanded set for every leaf.
    if (ChildCount(position) == 0)
        flags |= Qt::ItemNeverHasChildren;
    return flags;
}

// ---- TaskTreeView ----

TaskTreeView::TaskTreeView(Tree& tree, QWidget* parent)
    : QTreeView(parent), tree_(tree), model_(new TaskTreeModel(tree, this)) {
    setHeaderHidden(true);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setExpandsOnDoubleClick(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAccessibleName(QStringLiteral("Tasks"));
    model_->SetBaseFont(QApplication::font(this));
    setModel(model_);

    connect(model_, &TaskTreeModel::changesPending, this, &TaskTreeView::Flush,
            Qt::QueuedConnection);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { UserCurrentChanged(current); });
    connect(this, &QTreeView::expanded, this,
            [this](const QModelIndex& index) { UserExpanded(index, true); });
    connect(this, &QTreeView::collapsed, this,
            [this](const QModelIndex& index) { UserExpanded(index, false); });

    // The tree may hold nodes already.
    applying_ = true;
    ApplyExpanded();
    ApplySelection();
    applying_ = false;
}

TaskTreeView::~TaskTreeView() {
    // The model goes with the view; keep the view from reading it meanwhile.
    model_->DropViewIndexes();
    setModel(nullptr);
}

void TaskTreeView::Run(const std::function<void()>& action) {
    if (runner_)
        runner_(action);
    else
        action();
}

void TaskTreeView::Flush() {
    if (!model_->HasPendingChanges()) return;
    std::vector<int32_t> expanded;
    applying_ = true;
    if (model_->TakeChanges(expanded)) {
        model_->Reset();
        ApplyExpanded();
    } else {
        for (int32_t position : expanded) {
            if (position < 1 || position > tree_.Nodes().Count()) continue;
            const Node* node = tree_.Nodes().At(position);
            setExpanded(model_->IndexOf(node), node->Expanded());
        }
    }
    ApplySelection();
    applying_ = false;
}

void TaskTreeView::ApplyExpanded() {
    // Nobody needs to hear of expansions the view makes to match the tree.
    const QSignalBlocker quiet(this);
    if (model_->AllExpandedAtReset() && !model_->ExpandedAtReset().empty()) {
        // One pass of the view's own that expands as it lays out, instead of
        // an expansion per node and a layout that looks each one up again.
        expandAll();
        return;
    }
    for (int32_t position : model_->ExpandedAtReset()) setExpanded(model_->IndexAt(position), true);
}

void TaskTreeView::ApplySelection() {
    const Node* selected = tree_.Selected();
    if (!selected) {
        selectionModel()->clear();
        return;
    }
    // Selecting a node in the model expands its ancestors; the view follows.
    for (const Node* p = selected->Parent(); p; p = p->Parent())
        setExpanded(model_->IndexOf(p), true);
    const QModelIndex index = model_->IndexOf(selected);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    scrollTo(index);
}

void TaskTreeView::SyncNow() {
    Flush();
    executeDelayedItemsLayout();
}

void TaskTreeView::UserCurrentChanged(const QModelIndex& current) {
    if (applying_) return;
    const Node* node = model_->NodeOf(current);
    if (!node) return;
    const std::string key = node->Key();
    model_->SetMuted(true);
    Run([this, &key] { tree_.UserSelect(key); });
    model_->SetMuted(false);
    // Selecting may have expanded ancestors the view shows collapsed.
    for (const Node* p = node->Parent(); p; p = p->Parent())
        if (!isExpanded(model_->IndexOf(p))) {
            applying_ = true;
            setExpanded(model_->IndexOf(p), true);
            applying_ = false;
        }
}

void TaskTreeView::UserExpanded(const QModelIndex& index, bool expanded) {
    if (applying_) return;
    Node* node = model_->NodeOf(index);
    if (!node) return;
    model_->SetMuted(true);
    Run([this, node, expanded] { tree_.UserSetExpanded(node, expanded); });
    model_->SetMuted(false);
}

void TaskTreeView::DoubleClick() {
    // The model may still hold changes the view has not shown: the event
    // must act on the node the user sees selected.
    Flush();
    Run([this] { tree_.UserDblClick(); });
}

void TaskTreeView::keyPressEvent(QKeyEvent* event) {
    const bool plain = !(event->modifiers() & ~Qt::KeypadModifier);
    if (plain && (event->key() == Qt::Key_Enter || event->key() == Qt::Key_Return)) {
        if (currentIndex().isValid()) DoubleClick();
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void TaskTreeView::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeView::mouseDoubleClickEvent(event);
    // Anywhere in the tree, as the event carries no position: the selected
    // node is the one started.
    if (event->button() == Qt::LeftButton) DoubleClick();
}

void TaskTreeView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) model_->SetBaseFont(font());
    QTreeView::changeEvent(event);
}

int LayOutTreeView(Tree& tree, QSize size, bool paint) {
    TaskTreeView view(tree);
    view.resize(size);
    view.SyncNow();
    if (paint) {
        QPixmap pixmap(size);
        view.render(&pixmap);
    }
    return view.verticalScrollBar()->maximum();
}

}  // namespace kevra::qt
