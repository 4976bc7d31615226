// The tree view and its item model.
#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPixmap>
#include <QScrollBar>
#include <algorithm>

#include "qt/appearance_p.h"
#include "qt/tree_view_p.h"

namespace kevra::qt {

// ---- TaskTreeModel ----

TaskTreeModel::TaskTreeModel(Tree& tree, QObject* parent)
    : QAbstractItemModel(parent), tree_(tree) {
    tree_.OnChanged([this](const Node* node) { treeChanged(node); });
    rebuild();
}

TaskTreeModel::~TaskTreeModel() { tree_.OnChanged(nullptr); }

void TaskTreeModel::treeChanged(const Node* node) {
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

bool TaskTreeModel::takeChanges(std::vector<int32_t>& expanded) {
    const bool structural = structural_;
    expanded.swap(expanded_changes_);
    expanded_changes_.clear();
    structural_ = false;
    pending_ = false;
    return structural;
}

void TaskTreeModel::rebuild() {
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
        children_[static_cast<size_t>(first_child_[static_cast<size_t>(place.parent)] +
                                      place.row)] = static_cast<int32_t>(i + 1);
    }
    // Only nodes with children are read: a leaf's expanded state shows
    // nowhere.
    expanded_parents_.clear();
    all_parents_expanded_ = true;
    for (int32_t i = 1; i <= known_count_; ++i) {
        if (childCount(i) == 0) continue;
        if (nodes.At(i)->Expanded())
            expanded_parents_.push_back(i);
        else
            all_parents_expanded_ = false;
    }
    endResetModel();
}

void TaskTreeModel::dropViewIndexes() {
    // Emptied rather than reset to the shape of the last reset, which the
    // tree may have left since: a model must agree with itself after a reset.
    beginResetModel();
    known_count_ = 0;
    places_.clear();
    first_child_.assign(2, 0);
    children_.clear();
    expanded_parents_.clear();
    all_parents_expanded_ = true;
    structural_ = true;
    endResetModel();
}

void TaskTreeModel::setBaseFont(const QFont& font) {
    if (font == base_font_) return;
    // A reset here would collapse every row of the view and drop its
    // current node, which the tree still has selected.
    emit layoutAboutToBeChanged();
    base_font_ = font;
    fonts_.clear();
    emit layoutChanged();
}

int32_t TaskTreeModel::positionOf(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this) return 0;
    // The tree may have lost nodes since the reset (a Clear not yet shown):
    // their indexes name nothing.
    const quintptr id = index.internalId();
    const auto shown = static_cast<quintptr>(std::min(known_count_, tree_.Nodes().Count()));
    return id >= 1 && id <= shown ? static_cast<int32_t>(id) : 0;
}

Node* TaskTreeModel::nodeFromIndex(const QModelIndex& index) const {
    const int32_t position = positionOf(index);
    return position ? tree_.Nodes().At(position) : nullptr;
}

QModelIndex TaskTreeModel::indexFromNode(const Node* node) const {
    // A node added since the last reset has no row in the view yet.
    if (!node || node->Index() > std::min(known_count_, tree_.Nodes().Count()) ||
        tree_.Nodes().At(node->Index()) != node)
        return {};
    return indexAtPosition(node->Index());
}

QModelIndex TaskTreeModel::indexAtPosition(int32_t position) const {
    if (position < 1 || position > std::min(known_count_, tree_.Nodes().Count())) return {};
    return createIndex(placeOf(position).row, 0, static_cast<quintptr>(position));
}

QModelIndex TaskTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column != 0) return {};
    int32_t position = 0;
    if (parent.isValid()) {
        position = positionOf(parent);
        if (position == 0) return {};
    }
    if (row >= childCount(position)) return {};
    const int32_t child =
        children_[static_cast<size_t>(first_child_[static_cast<size_t>(position)] + row)];
    if (child > tree_.Nodes().Count()) return {};
    return createIndex(row, 0, static_cast<quintptr>(child));
}

QModelIndex TaskTreeModel::parent(const QModelIndex& child) const {
    const int32_t position = positionOf(child);
    if (position == 0) return {};
    return indexAtPosition(placeOf(position).parent);
}

int TaskTreeModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) return childCount(0);
    if (parent.column() != 0) return 0;
    const int32_t position = positionOf(parent);
    return position ? childCount(position) : 0;
}

int TaskTreeModel::columnCount(const QModelIndex&) const { return 1; }

bool TaskTreeModel::hasChildren(const QModelIndex& parent) const { return rowCount(parent) > 0; }

const QFont& TaskTreeModel::fontFor(const StdFont& font) const {
    // A fill uses three or four fonts for any number of nodes.
    for (const auto& [model_font, qt_font] : fonts_)
        if (model_font == font) return qt_font;
    fonts_.emplace_back(font, qt::fontFor(font, base_font_));
    return fonts_.back().second;
}

QVariant TaskTreeModel::data(const QModelIndex& index, int role) const {
    const Node* node = nodeFromIndex(index);
    if (!node) return {};
    switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            return QString::fromStdString(node->Text());
        case Qt::FontRole:
            return fontFor(node->Font());
        case Qt::AccessibleDescriptionRole:
            // Underlined nodes are the tasks a double-click starts.
            return node->Font().Underline ? tr("Task link; press Enter to start") : QString();
        default:
            return {};
    }
}

QVariant TaskTreeModel::headerData(int section, Qt::Orientation orientation, int role) const {
    // The header is hidden, but screen readers list it as the one column's
    // header: a name rather than the section number.
    if (orientation == Qt::Horizontal && section == 0 &&
        (role == Qt::DisplayRole || role == Qt::AccessibleTextRole))
        return tr("Tasks");
    return QAbstractItemModel::headerData(section, orientation, role);
}

Qt::ItemFlags TaskTreeModel::flags(const QModelIndex& index) const {
    const int32_t position = positionOf(index);
    if (position == 0) return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    // Until the next reset a node without children keeps none: saying so
    // spares the view a look into its expanded set for every leaf.
    if (childCount(position) == 0) flags |= Qt::ItemNeverHasChildren;
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
    retranslate();
    model_->setBaseFont(QApplication::font(this));
    setModel(model_);

    connect(model_, &TaskTreeModel::changesPending, this, &TaskTreeView::flush,
            Qt::QueuedConnection);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { userCurrentChanged(current); });
    connect(this, &QTreeView::expanded, this,
            [this](const QModelIndex& index) { userExpanded(index, true); });
    connect(this, &QTreeView::collapsed, this,
            [this](const QModelIndex& index) { userExpanded(index, false); });

    // The tree may hold nodes already.
    applying_ = true;
    applyExpanded();
    applySelection();
    applying_ = false;
}

TaskTreeView::~TaskTreeView() {
    // The model goes with the view; keep the view from reading it meanwhile.
    model_->dropViewIndexes();
    setModel(nullptr);
}

void TaskTreeView::run(const std::function<void()>& action) {
    if (runner_)
        runner_(action);
    else
        action();
}

void TaskTreeView::flush() {
    if (!model_->hasPendingChanges()) return;
    std::vector<int32_t> expanded;
    applying_ = true;
    if (model_->takeChanges(expanded)) {
        model_->rebuild();
        applyExpanded();
    } else {
        for (int32_t position : expanded) {
            if (position < 1 || position > tree_.Nodes().Count()) continue;
            const Node* node = tree_.Nodes().At(position);
            setExpanded(model_->indexFromNode(node), node->Expanded());
        }
    }
    applySelection();
    applying_ = false;
}

void TaskTreeView::applyExpanded() {
    // Nobody needs to hear of expansions the view makes to match the tree.
    const QSignalBlocker quiet(this);
    if (model_->allExpandedAtReset() && !model_->expandedAtReset().empty()) {
        // One pass of the view's own that expands as it lays out, instead of
        // an expansion per node and a layout that looks each one up again.
        expandAll();
        return;
    }
    for (int32_t position : model_->expandedAtReset())
        setExpanded(model_->indexAtPosition(position), true);
}

void TaskTreeView::applySelection() {
    const Node* selected = tree_.Selected();
    if (!selected) {
        selectionModel()->clear();
        return;
    }
    // Selecting a node in the model expands its ancestors; the view follows.
    for (const Node* p = selected->Parent(); p; p = p->Parent())
        setExpanded(model_->indexFromNode(p), true);
    const QModelIndex index = model_->indexFromNode(selected);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    scrollTo(index);
}

void TaskTreeView::applyPendingChanges() {
    flush();
    executeDelayedItemsLayout();
}

void TaskTreeView::userCurrentChanged(const QModelIndex& current) {
    if (applying_) return;
    const Node* node = model_->nodeFromIndex(current);
    if (!node) return;
    const std::string key = node->Key();
    model_->setMuted(true);
    run([this, &key] { tree_.UserSelect(key); });
    model_->setMuted(false);
    // Selecting may have expanded ancestors the view shows collapsed.
    for (const Node* p = node->Parent(); p; p = p->Parent())
        if (!isExpanded(model_->indexFromNode(p))) {
            applying_ = true;
            setExpanded(model_->indexFromNode(p), true);
            applying_ = false;
        }
}

void TaskTreeView::userExpanded(const QModelIndex& index, bool expanded) {
    if (applying_) return;
    Node* node = model_->nodeFromIndex(index);
    if (!node) return;
    model_->setMuted(true);
    run([this, node, expanded] { tree_.UserSetExpanded(node, expanded); });
    model_->setMuted(false);
}

void TaskTreeView::doubleClick() {
    // The model may still hold changes the view has not shown: the event
    // must act on the node the user sees selected.
    flush();
    run([this] { tree_.UserDblClick(); });
}

void TaskTreeView::keyPressEvent(QKeyEvent* event) {
    const bool plain = !(event->modifiers() & ~Qt::KeypadModifier);
    if (plain && (event->key() == Qt::Key_Enter || event->key() == Qt::Key_Return)) {
        if (currentIndex().isValid()) doubleClick();
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void TaskTreeView::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeView::mouseDoubleClickEvent(event);
    // Anywhere in the tree, as the event carries no position: the selected
    // node is the one started.
    if (event->button() == Qt::LeftButton) doubleClick();
}

void TaskTreeView::retranslate() {
    setAccessibleName(tr("Tasks"));
    emit model_->headerDataChanged(Qt::Horizontal, 0, 0);
}

bool TaskTreeView::event(QEvent* event) {
    ++input_depth_;
    const bool handled = QTreeView::event(event);
    --input_depth_;
    return handled;
}

bool TaskTreeView::viewportEvent(QEvent* event) {
    ++input_depth_;
    const bool handled = QTreeView::viewportEvent(event);
    --input_depth_;
    return handled;
}

void TaskTreeView::selectionChanged(const QItemSelection& selected,
                                    const QItemSelection& deselected) {
    QTreeView::selectionChanged(selected, deselected);
    // A selection none of the view's input events made is assistive
    // technology selecting a node (through the tree's selection or a node's
    // action): it is the user's choice, as a click's selection is, and the
    // node becomes the current one, which the tree the control reads
    // follows. Without that, Enter would start the node that was current
    // before, not the one shown selected.
    if (input_depth_ > 0 || applying_ || choosing_) return;
    if (!isEnabled()) {
        // Nobody can select in a disabled tree: the selection goes back to
        // the current node.
        choosing_ = true;
        selectionModel()->select(currentIndex(),
                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        choosing_ = false;
        return;
    }
    const QModelIndexList chosen = selected.indexes();
    if (chosen.isEmpty()) return;
    // From the event loop: the view must not change the selection model
    // from inside its report.
    const QPersistentModelIndex index(chosen.front());
    QMetaObject::invokeMethod(
        this,
        [this, index] {
            if (!index.isValid() || !isEnabled()) return;
            choosing_ = true;
            setCurrentIndex(index);
            choosing_ = false;
        },
        Qt::QueuedConnection);
}

void TaskTreeView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        // The model lays out what it shows: the tree as it stands.
        flush();
        model_->setBaseFont(font());
    }
    if (event->type() == QEvent::LanguageChange) retranslate();
    QTreeView::changeEvent(event);
}

int layOutTreeView(Tree& tree, QSize size, bool paint) {
    TaskTreeView view(tree);
    view.resize(size);
    view.applyPendingChanges();
    if (paint) {
        QPixmap pixmap(size);
        view.render(&pixmap);
    }
    return view.verticalScrollBar()->maximum();
}

}  // namespace kevra::qt
