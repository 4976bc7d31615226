// The list bar view.
#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QScrollArea>
#include <QVBoxLayout>

#include "qt/appearance_p.h"
#include "qt/list_bar_view_p.h"

namespace kevra::qt {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Screen readers announce a header as a page tab, selected when open, with
// its caption as it stands (the button's own text has its ampersands
// doubled), and the list bar as a page tab list.
class AccessibleGroupHeader : public QAccessibleWidget {
  public:
    explicit AccessibleGroupHeader(QWidget* widget)
        : QAccessibleWidget(widget, QAccessible::PageTab) {}
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) return Header()->caption();
        if (t == QAccessible::Description)
            return Header()->isOpen() ? ListBarView::tr("Open task group")
                                      : ListBarView::tr("Task group; press to open");
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.selectable = true;
        s.selected = Header()->isOpen();
        return s;
    }
    QStringList actionNames() const override {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override {
        if (name == pressAction())
            Header()->click();
        else
            QAccessibleWidget::doAction(name);
    }

  private:
    GroupHeader* Header() const { return static_cast<GroupHeader*>(widget()); }
};

QAccessibleInterface* AccessibleFactory(const QString& class_name, QObject* object) {
    if (!object || !object->isWidgetType()) return nullptr;
    QWidget* widget = static_cast<QWidget*>(object);
    if (class_name == QLatin1String("kevra::qt::GroupHeader"))
        return new AccessibleGroupHeader(widget);
    if (class_name == QLatin1String("kevra::qt::ListBarView"))
        return new QAccessibleWidget(widget, QAccessible::PageTabList);
    return nullptr;
}

}  // namespace

// ---- GroupHeader ----

GroupHeader::GroupHeader(QWidget* parent) : QPushButton(parent) {
    setCheckable(true);
    setAutoDefault(false);
    setFocusPolicy(Qt::ClickFocus);
}

void GroupHeader::setGroup(const QString& key, const QString& caption, bool open) {
    key_ = key;
    if (caption != caption_) {
        caption_ = caption;
        // Captions are text, not mnemonics.
        setText(QString(caption).replace(QLatin1Char('&'), QLatin1String("&&")));
    }
    setChecked(open);
}

void GroupHeader::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Enter:
        case Qt::Key_Return:
            if (event->modifiers() & ~Qt::KeypadModifier) break;
            click();
            return;
        case Qt::Key_Up:
            emit moveFocusRequested(-1);
            return;
        case Qt::Key_Down:
            emit moveFocusRequested(1);
            return;
        case Qt::Key_Home:
            emit moveFocusRequested(-2);
            return;
        case Qt::Key_End:
            emit moveFocusRequested(2);
            return;
        default:
            break;
    }
    QPushButton::keyPressEvent(event);
}

void GroupHeader::focusInEvent(QFocusEvent* event) {
    QPushButton::focusInEvent(event);
    emit focusEntered();
}

void GroupHeader::nextCheckState() {
    if (!isChecked()) setChecked(true);
}

// ---- ItemList ----

ItemList::ItemList(QWidget* parent) : QListWidget(parent) {}

bool ItemList::event(QEvent* event) {
    ++input_depth_;
    const bool handled = QListWidget::event(event);
    --input_depth_;
    return handled;
}

bool ItemList::viewportEvent(QEvent* event) {
    ++input_depth_;
    const bool handled = QListWidget::viewportEvent(event);
    --input_depth_;
    return handled;
}

void ItemList::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    QListWidget::selectionChanged(selected, deselected);
    if (input_depth_ > 0 || own_changes_ > 0) return;
    const OwnChanges own(this);
    if (!isEnabled()) {
        // Nobody can choose an item of a disabled list: the selection goes
        // back to the item chosen last, the current one.
        selectionModel()->select(currentIndex(), QItemSelectionModel::ClearAndSelect);
        return;
    }
    const QModelIndexList chosen = selected.indexes();
    if (chosen.isEmpty()) return;
    const QModelIndex index = chosen.front();
    setCurrentIndex(index);
    // Not from inside the selection model's report: the click fills the
    // list again.
    const QString key = index.data(ListBarView::KeyRole).toString();
    QMetaObject::invokeMethod(
        this, [this, key] { emit itemChosen(key); }, Qt::QueuedConnection);
}

// ---- ListBarView ----

ListBarView::ListBarView(ListBar& model, QWidget* parent) : QFrame(parent), model_(model) {
    static const bool factory_installed = [] {
        QAccessible::installFactory(AccessibleFactory);
        return true;
    }();
    (void)factory_installed;

    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    setFocusPolicy(Qt::NoFocus);
    setAutoFillBackground(true);

    auto* frame_layout = new QVBoxLayout(this);
    frame_layout->setContentsMargins(1, 1, 1, 1);
    scroll_ = new QScrollArea(this);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setFocusPolicy(Qt::NoFocus);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    frame_layout->addWidget(scroll_);
    auto* content = new QWidget;
    layout_ = new QVBoxLayout(content);
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(0);

    items_ = new ItemList(content);
    items_->setFrameShape(QFrame::NoFrame);
    items_->setSelectionMode(QAbstractItemView::SingleSelection);
    items_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    items_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    items_->setTextElideMode(Qt::ElideRight);
    items_->setFocusPolicy(Qt::StrongFocus);
    items_->installEventFilter(this);
    connect(items_, &QListWidget::itemClicked, this, [this](const QListWidgetItem* item) {
        if (item) clickItem(item->data(KeyRole).toString());
    });
    connect(items_, &ItemList::itemChosen, this, [this](const QString& key) {
        // The list may have been disabled while the choice waited.
        if (items_->isEnabled()) clickItem(key);
    });
    connect(items_, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* item) {
        if (!item) return;
        const QRect r = items_->visualItemRect(item);
        const QPoint at = items_->viewport()->mapTo(scroll_->widget(), r.center());
        scroll_->ensureVisible(at.x(), at.y(), 0, r.height());
    });

    scroll_->setWidget(content);

    retranslate();
    model_.OnChanged([this] { modelChanged(); });
    sync();
}

ListBarView::~ListBarView() { model_.OnChanged(nullptr); }

void ListBarView::run(const std::function<void()>& action) {
    if (runner_)
        runner_(action);
    else
        action();
}

void ListBarView::modelChanged() {
    if (sync_scheduled_) return;
    sync_scheduled_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (sync_scheduled_) sync();
        },
        Qt::QueuedConnection);
}

void ListBarView::applyPendingChanges() { sync(); }

GroupHeader* ListBarView::header(const QString& key) const {
    for (GroupHeader* h : headers_)
        if (h->key() == key) return h;
    return nullptr;
}

std::vector<QWidget*> ListBarView::tabOrder() const {
    std::vector<QWidget*> order(headers_.begin(), headers_.end());
    order.push_back(items_);
    return order;
}

void ListBarView::retranslate() {
    setAccessibleName(tr("Task groups"));
    if (!items_caption_.isNull()) items_->setAccessibleName(tr("Items of %1").arg(items_caption_));
}

void ListBarView::sync() {
    sync_scheduled_ = false;
    const ItemList::OwnChanges own(items_);
    const auto& groups = model_.Groups().All();
    const GroupRef current = model_.CurrentGroup();
    const bool headers_changed = headers_.size() != groups.size();

    matchHeaderCount(groups.size());
    int open_index = -1;
    for (size_t i = 0; i < groups.size(); ++i) {
        const bool open = groups[i] == current;
        if (open) open_index = static_cast<int>(i);
        headers_[i]->setGroup(Q(groups[i]->Key()), Q(groups[i]->Caption()), open);
    }
    stackInScreenOrder(open_index, current != nullptr);
    fillItems(current);

    if (tab_stop_ < 0 || tab_stop_ >= static_cast<int>(headers_.size())) tab_stop_ = open_index;
    setTabStop(tab_stop_);
    applyLook();
    // The open group shows all its items; when they and the headers do not
    // fit, the one scroll bar of the stack scrolls them all.
    const int row_height = items_->count() > 0 ? items_->sizeHintForRow(0) : 0;
    items_->setMinimumHeight(items_->count() * row_height + 2 * items_->frameWidth());

    if (headers_changed) emit tabOrderChanged();
}

void ListBarView::matchHeaderCount(size_t count) {
    while (headers_.size() < count) {
        auto* header = new GroupHeader(scroll_->widget());
        connect(header, &QPushButton::clicked, this, [this, header] { openGroup(header->key()); });
        connect(header, &GroupHeader::moveFocusRequested, this,
                [this, header](int step) { moveHeaderFocus(header, step); });
        // The header with the focus is the list bar's tab stop.
        connect(header, &GroupHeader::focusEntered, this, [this, header] {
            scroll_->ensureWidgetVisible(header, 0, 0);
            for (size_t i = 0; i < headers_.size(); ++i)
                if (headers_[i] == header) setTabStop(static_cast<int>(i));
        });
        headers_.push_back(header);
    }
    while (headers_.size() > count) {
        GroupHeader* header = headers_.back();
        headers_.pop_back();
        // A header that goes away with the keyboard focus hands it on.
        if (header->hasFocus() && !headers_.empty()) headers_.back()->setFocus();
        delete header;
    }
}

void ListBarView::stackInScreenOrder(int open_index, bool group_open) {
    // Stack: the headers up to the open one, its items, the other headers.
    // Assistive technology reads a widget's children in the order they were
    // made (the item list first, then each header as its group came); each
    // raised in turn, they are read in the order they are on the screen.
    while (layout_->count() > 0) delete layout_->takeAt(0);
    std::vector<QWidget*> stack;
    for (int i = 0; i <= open_index; ++i) stack.push_back(headers_[static_cast<size_t>(i)]);
    stack.push_back(items_);
    for (size_t i = static_cast<size_t>(open_index + 1); i < headers_.size(); ++i)
        stack.push_back(headers_[i]);
    for (QWidget* w : stack) {
        layout_->addWidget(w, w == items_ ? 1 : 0);
        w->raise();
    }
    items_->setVisible(group_open);
    if (!group_open) layout_->addStretch(1);
}

void ListBarView::fillItems(const GroupRef& current) {
    // The current item survives a redraw of the same group.
    const QListWidgetItem* was = items_->currentItem();
    const QString current_key = was ? was->data(KeyRole).toString() : QString();
    const QString shown_group = items_->property("kevraGroup").toString();
    const QString open_key = current ? Q(current->Key()) : QString();
    items_->clear();
    items_caption_ = QString();
    if (current) {
        for (const ListItemRef& item : current->ListItems().All()) {
            auto* row = new QListWidgetItem(Q(item->Text()), items_);
            row->setData(KeyRole, Q(item->Key()));
            if (open_key == shown_group && !current_key.isEmpty() && Q(item->Key()) == current_key)
                items_->setCurrentItem(row);
        }
        items_caption_ = Q(current->Caption());
        retranslate();
    }
    items_->setProperty("kevraGroup", open_key);
}

void ListBarView::setTabStop(int index) {
    tab_stop_ = index;
    for (size_t i = 0; i < headers_.size(); ++i)
        headers_[i]->setFocusPolicy(static_cast<int>(i) == index ? Qt::StrongFocus
                                                                 : Qt::ClickFocus);
}

void ListBarView::applyLook() {
    applying_look_ = true;
    const QPalette system = QApplication::palette(this);
    const QColor back = colourFor(model_.BackColor, system);
    const QColor fore = colourFor(model_.ForeColor, system);

    QPalette area = palette();
    area.setColor(QPalette::Window, back);
    area.setColor(QPalette::Base, back);
    area.setColor(QPalette::Text, fore);
    area.setColor(QPalette::WindowText, fore);
    setPalette(area);

    // The clicked item stands out from the bar in a shade of its colour.
    const QColor marked = back.lightness() > 128 ? back.darker(140) : back.lighter(160);
    QPalette list = items_->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        list.setColor(group, QPalette::Base, back);
        list.setColor(group, QPalette::Text, fore);
        list.setColor(group, QPalette::Highlight, marked);
        list.setColor(group, QPalette::HighlightedText, fore);
    }
    items_->setPalette(list);
    items_->setFont(fontFor(model_.Font(), QApplication::font(this)));

    const QFont header_font = fontFor(model_.GroupFont(), QApplication::font(this));
    for (GroupHeader* h : headers_) {
        h->setFont(header_font);
        h->setPalette(system);
    }
    applying_look_ = false;
}

bool ListBarView::event(QEvent* event) {
    const bool handled = QFrame::event(event);
    // A new desktop palette changes what the system colours stand for. Qt
    // tells top-level windows, whose children then see their palette change.
    const bool palette_changed =
        event->type() == QEvent::ApplicationPaletteChange || event->type() == QEvent::PaletteChange;
    if (palette_changed && !applying_look_) applyLook();
    if (event->type() == QEvent::LanguageChange) retranslate();
    return handled;
}

void ListBarView::openGroup(const QString& key) {
    const std::string k = key.toStdString();
    run([this, k] { model_.UserOpenGroup(k); });
}

void ListBarView::clickItem(const QString& key) {
    const std::string k = key.toStdString();
    run([this, k] { model_.UserClickItem(k); });
}

void ListBarView::moveHeaderFocus(GroupHeader* from, int step) {
    if (headers_.empty()) return;
    int index = 0;
    for (size_t i = 0; i < headers_.size(); ++i)
        if (headers_[i] == from) index = static_cast<int>(i);
    const int last = static_cast<int>(headers_.size()) - 1;
    if (step == -2)
        index = 0;
    else if (step == 2)
        index = last;
    else
        index = qBound(0, index + step, last);
    headers_[static_cast<size_t>(index)]->setFocus(Qt::TabFocusReason);
}

bool ListBarView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == items_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const bool plain = !(key->modifiers() & ~Qt::KeypadModifier);
        switch (key->key()) {
            case Qt::Key_Enter:
            case Qt::Key_Return:
            case Qt::Key_Space:
                if (!plain) break;
                if (const QListWidgetItem* item = items_->currentItem())
                    clickItem(item->data(KeyRole).toString());
                return true;
            case Qt::Key_Up:
                // Up from the first item goes back to the open group's header.
                if (plain && items_->currentRow() <= 0) {
                    for (GroupHeader* h : headers_) {
                        if (!h->isOpen()) continue;
                        h->setFocus(Qt::BacktabFocusReason);
                        return true;
                    }
                }
                break;
            default:
                break;
        }
    }
    return QFrame::eventFilter(watched, event);
}

}  // namespace kevra::qt
