// The search field: a finder on the bound task list's control, a list model
// of its results, the delegate that draws star, caption and path, and the
// popup that shows them without taking the keyboard from the field.
//
// The popup never takes the focus: every key stays with the field, which
// moves the popup's current row itself. That keeps typing uninterrupted
// and lets one widget hold the caret, the text and the accessible focus;
// the popup's rows are announced through accessibility events instead.
#include "qt/search_field.h"

#include <QAccessible>
#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <optional>
#include <set>

#include "container/user_actions.h"
#include "control/ctlKevraTaskList.h"
#include "qt/kevra_task_list_widget.h"
#include "qt/kevra_task_list_widget_p.h"
#include "qt/list_bar_view_p.h"
#include "qt/qt_control_site.h"
#include "qt/tree_view_p.h"
#include "search/switchable_history_store.h"
#include "search/task_finder.h"

namespace kevra::qt {

namespace {

using search::EntryKind;
using search::TaskFinder;

enum Role {
    kIdRole = Qt::UserRole + 1,
    kKindRole,
    kPathRole,  // the captions above the entry, joined
    kPinnedRole,
    kHeaderRole,  // a section title row (favourites, recent)
};

QString PathText(const std::vector<std::string>& path, size_t count) {
    QStringList parts;
    for (size_t i = 0; i < count && i < path.size(); ++i) parts << QString::fromStdString(path[i]);
    return parts.join(QStringLiteral(" \u203A "));
}

class ResultModel : public QAbstractListModel {
  public:
    struct Row {
        QString header;  // set for a section title
        int64_t id = 0;
        EntryKind kind = EntryKind::task;
        QString caption;
        QString above;
        bool pinned = false;

        static Row Header(const QString& title) {
            Row row;
            row.header = title;
            return row;
        }
    };

    using QAbstractListModel::QAbstractListModel;

    void setRows(std::vector<Row> rows) {
        beginResetModel();
        rows_ = std::move(rows);
        endResetModel();
    }
    const Row& row(int r) const { return rows_[static_cast<size_t>(r)]; }
    bool isEntry(int r) const {
        return r >= 0 && r < rowCount() && rows_[static_cast<size_t>(r)].header.isEmpty();
    }
    int entryCount() const {
        int n = 0;
        for (const Row& r : rows_) n += r.header.isEmpty() ? 1 : 0;
        return n;
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : static_cast<int>(rows_.size());
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        if (!index.isValid() || !isEntry(index.row())) return Qt::NoItemFlags;
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= rowCount()) return {};
        const Row& r = row(index.row());
        if (!r.header.isEmpty()) {
            if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) return r.header;
            if (role == kHeaderRole) return true;
            return {};
        }
        switch (role) {
            case Qt::DisplayRole:
                return r.caption;
            case Qt::ToolTipRole:
                return r.above.isEmpty() ? r.caption
                                         : r.above + QStringLiteral(" \u203A ") + r.caption;
            case Qt::AccessibleTextRole:
                return accessibleText(r);
            case kIdRole:
                return QVariant::fromValue<qlonglong>(r.id);
            case kKindRole:
                return static_cast<int>(r.kind);
            case kPathRole:
                return r.above;
            case kPinnedRole:
                return r.pinned;
            case kHeaderRole:
                return false;
            default:
                return {};
        }
    }

  private:
    static QString accessibleText(const Row& r) {
        // What a screen reader says: the caption, what choosing it does,
        // where it is, and the star.
        QString kind;
        switch (r.kind) {
            case EntryKind::group:
                kind = KevraSearchField::tr("group");
                break;
            case EntryKind::item:
                kind = KevraSearchField::tr("list item");
                break;
            case EntryKind::task:
                kind = KevraSearchField::tr("task");
                break;
            case EntryKind::link:
                kind = KevraSearchField::tr("link");
                break;
        }
        QString text = r.caption + QStringLiteral(", ") + kind;
        if (!r.above.isEmpty())
            text += QStringLiteral(", ") + KevraSearchField::tr("in %1").arg(r.above);
        if (r.pinned) text += QStringLiteral(", ") + KevraSearchField::tr("pinned");
        return text;
    }

    std::vector<Row> rows_;
};

// Star, caption (underlined for a link, as the tree shows links, with an
// arrow), then the path above it in lighter text.
class ResultDelegate : public QStyledItemDelegate {
  public:
    ResultDelegate(std::function<void(const QModelIndex&)> star_clicked, QObject* parent)
        : QStyledItemDelegate(parent), star_clicked_(std::move(star_clicked)) {}

    static QRect StarRect(const QStyleOptionViewItem& option) {
        const int side = option.rect.height();
        return QRect(option.rect.left(), option.rect.top(), side, side);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        // One height for titles and results: the list lays out rows of one size.
        const QFontMetrics fm(option.font);
        return QSize(fm.horizontalAdvance(index.data().toString()) + 200, fm.height() + 8);
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        painter->save();
        const QPalette& pal = opt.palette;
        const QColor lighter = pal.color(QPalette::PlaceholderText);
        if (index.data(kHeaderRole).toBool()) {
            QFont font = opt.font;
            font.setBold(true);
            font.setPointSizeF(font.pointSizeF() * 0.9);
            painter->setFont(font);
            painter->setPen(lighter);
            painter->drawText(opt.rect.adjusted(6, 0, -6, 0), Qt::AlignVCenter | Qt::AlignLeft,
                              index.data().toString());
            painter->restore();
            return;
        }
        const bool selected = opt.state & QStyle::State_Selected;
        if (selected) painter->fillRect(opt.rect, pal.brush(QPalette::Highlight));
        const QColor text = pal.color(selected ? QPalette::HighlightedText : QPalette::Text);

        const QRect star = StarRect(opt);
        const bool pinned = index.data(kPinnedRole).toBool();
        painter->setPen(pinned ? QColor(0xE0, 0xA0, 0x00) : lighter);
        painter->drawText(star, Qt::AlignCenter,
                          pinned ? QStringLiteral("\u2605") : QStringLiteral("\u2606"));

        QRect rest = opt.rect.adjusted(star.width() + 2, 0, -6, 0);
        QFont font = opt.font;
        const bool link = index.data(kKindRole).toInt() == static_cast<int>(EntryKind::link);
        font.setUnderline(link);
        painter->setFont(font);
        painter->setPen(text);
        QString caption = index.data().toString();
        if (link) caption += QStringLiteral(" \u2197");
        const QFontMetrics fm(font);
        caption = fm.elidedText(caption, Qt::ElideRight, rest.width());
        painter->drawText(rest, Qt::AlignVCenter | Qt::AlignLeft, caption);

        const QString above = index.data(kPathRole).toString();
        const int used = fm.horizontalAdvance(caption) + fm.horizontalAdvance(QLatin1Char(' ')) * 3;
        rest.setLeft(rest.left() + used);
        if (!above.isEmpty() && rest.width() > 20) {
            QFont small = opt.font;
            painter->setFont(small);
            painter->setPen(selected ? text : lighter);
            painter->drawText(rest, Qt::AlignVCenter | Qt::AlignLeft,
                              QFontMetrics(small).elidedText(above, Qt::ElideLeft, rest.width()));
        }
        painter->restore();
    }

    bool editorEvent(QEvent* event, QAbstractItemModel*, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override {
        if (event->type() != QEvent::MouseButtonRelease &&
            event->type() != QEvent::MouseButtonPress)
            return false;
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton ||
            !StarRect(option).contains(mouse->position().toPoint()))
            return false;
        if (event->type() == QEvent::MouseButtonRelease) star_clicked_(index);
        return true;  // the star is no click on the row
    }

  private:
    std::function<void(const QModelIndex&)> star_clicked_;
};

}  // namespace

class KevraSearchFieldPrivate {
  public:
    explicit KevraSearchFieldPrivate(KevraSearchField* q) : q_(q) {}

    void init();
    void bind(KevraTaskListWidget* list);
    void refresh();
    void place();
    void move(int step);
    void setCurrent(int row);
    int current() const {
        return view_->currentIndex().isValid() ? view_->currentIndex().row() : -1;
    }
    void choose(int row, bool start);
    void togglePin(int row);
    void reportHistory();
    void announce();
    void retranslate();

    KevraSearchField* q_;
    QPointer<KevraTaskListWidget> list_;
    search::SwitchableHistoryStore history_;
    std::unique_ptr<TaskFinder> finder_;
    QMetaObject::Connection unbind_;
    QFrame* popup_ = nullptr;
    QListView* view_ = nullptr;
    ResultModel* model_ = nullptr;
    int limit_ = 20;
    QString last_error_;
};

void KevraSearchFieldPrivate::init() {
    popup_ = new QFrame(q_, Qt::ToolTip | Qt::FramelessWindowHint);
    popup_->setAttribute(Qt::WA_ShowWithoutActivating);
    popup_->setFrameShape(QFrame::Box);
    popup_->setFocusPolicy(Qt::NoFocus);
    auto* layout = new QVBoxLayout(popup_);
    layout->setContentsMargins(1, 1, 1, 1);
    view_ = new QListView(popup_);
    view_->setObjectName(QStringLiteral("searchResults"));
    view_->setFocusPolicy(Qt::NoFocus);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view_->setUniformItemSizes(true);
    view_->setMouseTracking(true);
    layout->addWidget(view_);
    model_ = new ResultModel(view_);
    view_->setModel(model_);
    view_->setItemDelegate(
        new ResultDelegate([this](const QModelIndex& i) { togglePin(i.row()); }, view_));
    QObject::connect(view_, &QListView::clicked, q_, [this](const QModelIndex& i) {
        if (model_->isEntry(i.row())) choose(i.row(), true);
    });
    QObject::connect(view_->selectionModel(), &QItemSelectionModel::currentChanged, q_,
                     [this] { announce(); });
    QObject::connect(q_, &QLineEdit::textEdited, q_, [this] { q_->showPopup(); });
    retranslate();
}

void KevraSearchFieldPrivate::retranslate() {
    q_->setPlaceholderText(KevraSearchField::tr("Find a task"));
    q_->setAccessibleName(KevraSearchField::tr("Find a task"));
    view_->setAccessibleName(KevraSearchField::tr("Tasks found"));
    q_->setToolTip(KevraSearchField::tr(
        "Type part of a task's name. Up and Down choose, Enter starts a link or shows the "
        "entry, Alt+Enter only shows it, Ctrl+D pins or unpins it."));
}

void KevraSearchFieldPrivate::bind(KevraTaskListWidget* list) {
    QObject::disconnect(unbind_);
    q_->hidePopup();
    finder_.reset();
    list_ = list;
    if (!list) return;
    auto* parts = KevraTaskListWidgetPrivate::get(list);
    finder_ = std::make_unique<TaskFinder>(parts->control(), history_);
    // The task list's destructor takes its views down while the control is
    // still there: the finder must give the control's hooks back then, not
    // after the control has gone.
    unbind_ = QObject::connect(parts->treeView(), &QObject::destroyed, q_, [this] {
        q_->hidePopup();
        finder_.reset();
        list_ = nullptr;
    });
}

void KevraSearchFieldPrivate::refresh() {
    std::vector<ResultModel::Row> rows;
    if (finder_ && finder_->Loaded()) {
        std::set<int64_t> pinned;
        std::vector<TaskFinder::Entry> favourites;
        try {
            favourites = finder_->Favourites();
            for (const auto& f : favourites) pinned.insert(f.id);
        } catch (const RuntimeError& e) {
            const QString message = QString::fromStdString(e.Description());
            // Said once, not at every key.
            if (message != last_error_) emit q_->historyErrorOccurred(message);
            last_error_ = message;
        }
        const auto add = [&](const TaskFinder::Entry& e) {
            ResultModel::Row row;
            row.id = e.id;
            row.kind = e.kind;
            row.caption = e.path.empty() ? QString() : QString::fromStdString(e.path.back());
            row.above = PathText(e.path, e.path.size() - 1);
            row.pinned = pinned.count(e.id) != 0;
            rows.push_back(std::move(row));
        };
        const QString text = q_->text().trimmed();
        if (text.isEmpty()) {
            if (!favourites.empty()) {
                rows.push_back(ResultModel::Row::Header(KevraSearchField::tr("Favourites")));
                for (const auto& f : favourites) add(f);
            }
            std::vector<TaskFinder::Entry> recent;
            try {
                recent = finder_->Recent(static_cast<size_t>(limit_) + favourites.size());
            } catch (const RuntimeError&) {
                // Favourites() said why already.
            }
            size_t shown = 0;
            for (const auto& r : recent) {
                if (pinned.count(r.id) || shown == static_cast<size_t>(limit_)) continue;
                if (shown++ == 0)
                    rows.push_back(ResultModel::Row::Header(KevraSearchField::tr("Recent")));
                add(r);
            }
        } else {
            for (const auto& e : finder_->Find(text.toStdString(), static_cast<size_t>(limit_)))
                add(e);
        }
        reportHistory();
    }
    model_->setRows(std::move(rows));
    const int first = model_->isEntry(0) ? 0 : (model_->isEntry(1) ? 1 : -1);
    setCurrent(first);
    const int n = model_->entryCount();
    q_->setAccessibleDescription(q_->text().trimmed().isEmpty() && n
                                     ? KevraSearchField::tr("%n favourite or recent task(s)", "", n)
                                     : KevraSearchField::tr("%n result(s)", "", n));
    QAccessibleEvent changed(q_, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&changed);
}

void KevraSearchFieldPrivate::reportHistory() {
    if (!finder_) return;
    if (const auto error = finder_->TakeRecordingError())
        emit q_->historyErrorOccurred(
            KevraSearchField::tr("A launch could not be kept in the history: %1")
                .arg(QString::fromStdString(error->Description())));
}

void KevraSearchFieldPrivate::place() {
    const int rows = std::min(model_->rowCount(), 12);
    const int row_height = view_->sizeHintForRow(0) > 0 ? view_->sizeHintForRow(0) : 24;
    const int width = std::max(q_->width(), 460);
    const QPoint below = q_->mapToGlobal(QPoint(0, q_->height()));
    // The list's own minimum would otherwise pad a short list with blank rows.
    view_->setFixedHeight(rows * row_height + 2 * view_->frameWidth());
    const QMargins margins = popup_->layout()->contentsMargins();
    popup_->setGeometry(below.x(), below.y(), width,
                        view_->height() + margins.top() + margins.bottom());
}

void KevraSearchFieldPrivate::setCurrent(int row) {
    if (row < 0) {
        view_->selectionModel()->clear();
        return;
    }
    const QModelIndex index = model_->index(row);
    view_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    view_->scrollTo(index);
}

void KevraSearchFieldPrivate::move(int step) {
    int row = current();
    for (int next = row + step; next >= 0 && next < model_->rowCount(); next += step)
        if (model_->isEntry(next)) {
            row = next;
            break;
        }
    if (row >= 0) setCurrent(row);
}

void KevraSearchFieldPrivate::announce() {
    const int row = current();
    if (row < 0 || !popup_->isVisible()) return;
    // The field keeps the focus; the row it points at is announced as the
    // focus of the popup's list, as a screen reader expects of a list of
    // suggestions.
    QAccessibleEvent focus(view_, QAccessible::Focus);
    focus.setChild(row);
    QAccessible::updateAccessibility(&focus);
    QAccessibleEvent selection(view_, QAccessible::Selection);
    selection.setChild(row);
    QAccessible::updateAccessibility(&selection);
}

void KevraSearchFieldPrivate::choose(int row, bool start) {
    if (!finder_ || !list_ || !model_->isEntry(row)) return;
    const ResultModel::Row entry = model_->row(row);
    auto* parts = KevraTaskListWidgetPrivate::get(list_);
    ctlKevraTaskList& control = parts->control();
    QtControlSite& site = parts->site();
    const std::vector<std::string> keys = finder_->KeysOf(entry.id);
    // The user could not do it by hand either (disabled, hidden): refused.
    std::optional<Refusal> refusal;
    if (keys.empty()) refusal = Refusal{"no entry", ""};
    if (!refusal) refusal = CheckUserAction(site, control, {UserAction::Kind::open_group, keys[0]});
    if (!refusal && keys.size() > 1)
        refusal = CheckUserAction(site, control, {UserAction::Kind::dblclick, ""});
    if (refusal) {
        QApplication::beep();
        return;
    }
    q_->hidePopup();
    bool shown = false;
    site.Call([&] { shown = control.ShowTask(keys); });
    if (!shown) {
        QApplication::beep();
        return;
    }
    emit q_->entryShown(static_cast<int>(entry.id));
    if (start && entry.kind == EntryKind::link) {
        // The control's own launch, as a double-click on the selected node.
        site.Call([&] { TakeUserAction(control, {UserAction::Kind::dblclick, ""}); });
        reportHistory();
        return;
    }
    // Shown only: the keyboard goes where the entry now is.
    if (entry.kind == EntryKind::group)
        parts->listBarView()->setFocus(Qt::OtherFocusReason);
    else
        parts->treeView()->setFocus(Qt::OtherFocusReason);
}

void KevraSearchFieldPrivate::togglePin(int row) {
    if (!finder_ || !model_->isEntry(row)) return;
    const ResultModel::Row entry = model_->row(row);
    try {
        if (entry.pinned)
            finder_->Unpin(entry.id);
        else
            finder_->Pin(entry.id);
    } catch (const RuntimeError& e) {
        emit q_->historyErrorOccurred(QString::fromStdString(e.Description()));
        return;
    }
    refresh();
    // The same entry stays current, wherever it moved to.
    for (int r = 0; r < model_->rowCount(); ++r)
        if (model_->isEntry(r) && model_->row(r).id == entry.id) {
            setCurrent(r);
            break;
        }
    if (popup_->isVisible()) place();
}

// ---- KevraSearchField ----

KevraSearchField::KevraSearchField(QWidget* parent)
    : QLineEdit(parent), d(std::make_unique<KevraSearchFieldPrivate>(this)) {
    d->init();
}

KevraSearchField::~KevraSearchField() { d->bind(nullptr); }

void KevraSearchField::setTaskList(KevraTaskListWidget* taskList) { d->bind(taskList); }

KevraTaskListWidget* KevraSearchField::taskList() const { return d->list_; }

void KevraSearchField::setHistoryStorage(HistoryStorage storage, const QString& directory) {
    if (storage == HistoryStorage::Memory)
        d->history_.UseMemory();
    else
        d->history_.UseFiles(directory.toStdString());
    d->last_error_.clear();
}

int KevraSearchField::resultLimit() const { return d->limit_; }

void KevraSearchField::setResultLimit(int limit) { d->limit_ = std::max(1, limit); }

QAbstractItemView* KevraSearchField::resultView() const { return d->view_; }

bool KevraSearchField::isPopupVisible() const { return d->popup_->isVisible(); }

void KevraSearchField::showPopup() {
    d->refresh();
    if (d->model_->rowCount() == 0) {
        hidePopup();
        return;
    }
    d->place();
    d->popup_->show();
    d->popup_->raise();
    d->announce();
}

void KevraSearchField::hidePopup() { d->popup_->hide(); }

bool KevraSearchField::event(QEvent* event) {
    // Keys the field answers while its popup is open are not the window's
    // shortcuts.
    if (event->type() == QEvent::ShortcutOverride && isPopupVisible()) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape || key->key() == Qt::Key_Return ||
            key->key() == Qt::Key_Enter ||
            (key->key() == Qt::Key_D && key->modifiers() == Qt::ControlModifier)) {
            event->accept();
            return true;
        }
    }
    return QLineEdit::event(event);
}

void KevraSearchField::keyPressEvent(QKeyEvent* event) {
    const bool open = isPopupVisible();
    switch (event->key()) {
        case Qt::Key_Down:
        case Qt::Key_Up:
            if (!open) {
                showPopup();
            } else {
                d->move(event->key() == Qt::Key_Down ? 1 : -1);
            }
            return;
        case Qt::Key_PageDown:
        case Qt::Key_PageUp:
            if (open) {
                d->move(event->key() == Qt::Key_PageDown ? 10 : -10);
                return;
            }
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (open && d->current() >= 0) {
                d->choose(d->current(), !(event->modifiers() & Qt::AltModifier));
                return;
            }
            break;
        case Qt::Key_Escape:
            if (open) {
                hidePopup();
                return;
            }
            if (!text().isEmpty()) {
                clear();
                return;
            }
            break;
        case Qt::Key_D:
            if (event->modifiers() == Qt::ControlModifier) {
                if (open && d->current() >= 0) d->togglePin(d->current());
                return;
            }
            break;
        default:
            break;
    }
    QLineEdit::keyPressEvent(event);
}

void KevraSearchField::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    if (event->reason() != Qt::PopupFocusReason && event->reason() != Qt::ActiveWindowFocusReason)
        showPopup();
}

void KevraSearchField::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    if (event->reason() != Qt::PopupFocusReason) hidePopup();
}

void KevraSearchField::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) d->retranslate();
    QLineEdit::changeEvent(event);
}

}  // namespace kevra::qt
