// The tree view and its item model.
#include "qt/tree_view.h"

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
    row_of_.assign(static_cast<size_t>(known_count_) + 1, 0);
    const auto& roots = nodes.Roots();
    for (size_t i = 0; i < roots.size(); ++i)
        row_of_[static_cast<size_t>(roots[i]->Index())] = static_cast<int>(i);
    for (int32_t i = 1; i <= known_count_; ++i) {
        const auto& children = nodes.At(i)->Children();
        for (size_t j = 0; j < children.size(); ++j)
            row_of_[static_cast<size_t>(children[j]->Index())] = static_cast<int>(j);
    }
    endResetModel();
}

void TaskTreeModel::SetBaseFont(const QFont& font) {
    if (font == base_font_) return;
    beginResetModel();
    base_font_ = font;
    fonts_.clear();
    endResetModel();
}

Node* TaskTreeModel::NodeOf(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this) return nullptr;
    const quintptr id = index.internalId();
    if (id < 1 || id > static_cast<quintptr>(tree_.Nodes().Count())) return nullptr;
    return tree_.Nodes().At(static_cast<int32_t>(id));
}

int TaskTreeModel::RowOf(const Node* node) const {
    const std::vector<Node*>& siblings =
        node->Parent() ? node->Parent()->Children() : tree_.Nodes().Roots();
    const size_t pos = static_cast<size_t>(node->Index());
    if (pos < row_of_.size()) {
        const int row = row_of_[pos];
        if (row >= 0 && static_cast<size_t>(row) < siblings.size() &&
            siblings[static_cast<size_t>(row)] == node)
            return row;
    }
    // Added since the last reset: search its siblings.
    for (size_t i = 0; i < siblings.size(); ++i)
        if (siblings[i] == node) return static_cast<int>(i);
    return -1;
}

QModelIndex TaskTreeModel::IndexOf(const Node* node) const {
    if (!node) return {};
    const int row = RowOf(node);
    if (row < 0) return {};
    return createIndex(row, 0, static_cast<quintptr>(node->Index()));
}

QModelIndex TaskTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column != 0) return {};
    const std::vector<Node*>* children = &tree_.Nodes().Roots();
    if (parent.isValid()) {
        const Node* p = NodeOf(parent);
        if (!p) return {};
        children = &p->Children();
    }
    if (static_cast<size_t>(row) >= children->size()) return {};
    return createIndex(row, 0,
                       static_cast<quintptr>((*children)[static_cast<size_t>(row)]->Index()));
}

QModelIndex TaskTreeModel::parent(const QModelIndex& child) const {
    const Node* node = NodeOf(child);
    if (!node || !node->Parent()) return {};
    return IndexOf(node->Parent());
}

int TaskTreeModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) return static_cast<int>(tree_.Nodes().Roots().size());
    if (parent.column() != 0) return 0;
    const Node* node = NodeOf(parent);
    return node ? static_cast<int>(node->Children().size()) : 0;
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
    return NodeOf(index) ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
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
    const NodeCollection& nodes = tree_.Nodes();
    for (int32_t i = 1; i <= nodes.Count(); ++i) {
        const Node* node = nodes.At(i);
        if (node->Expanded() && !node->Children().empty()) setExpanded(model_->IndexOf(node), true);
    }
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
