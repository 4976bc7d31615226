// The list bar on a Qt desktop: a view of the ListBar model. Private to the
// Qt front-end (not installed): the widget, the in-tree tools and the tests
// use it.
//
// Group headers are stacked one above the other; the open group's items are
// listed right under its header and the other headers follow below, as in a
// navigation bar. A click on a header opens that group, a click on an item
// raises the model's item-click event. The view holds keys, never model
// objects, and redraws from the event loop after the model reports a change,
// so a user action on something the model has since dropped does nothing.
//
// The open group shows all its items; when they and the headers do not fit,
// the whole stack scrolls, and what takes the keyboard focus scrolls into
// view.
//
// Keyboard: the headers take the focus (one of them is the tab stop, the one
// last focused, at first the open one); Up and Down move between them, Home
// and End jump to the first and last, Space or Enter opens the focused group.
// Tab goes on to the item list, where Enter or Space clicks the current
// item. Screen readers see the list bar as a group of page tabs (the
// headers, the open one selected) with the list of items under the open
// one, in the order they are on the screen; an item's accessible action
// clicks it, as a mouse would.
#pragma once

#include <QFrame>
#include <QListWidget>
#include <QPushButton>
#include <QString>
#include <functional>
#include <vector>

#include "widgets/listbar.h"

class QScrollArea;
class QVBoxLayout;

namespace kevra::qt {

// One group header of the list bar.
class GroupHeader : public QPushButton {
    Q_OBJECT
  public:
    explicit GroupHeader(QWidget* parent = nullptr);
    void setGroup(const QString& key, const QString& caption, bool open);
    const QString& key() const { return key_; }
    const QString& caption() const { return caption_; }
    bool isOpen() const { return isChecked(); }

  signals:
    // Up/Down (-1/+1), Home/End (-2/+2) pressed on this header.
    void moveFocusRequested(int step);
    void focusEntered();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    // A click on the open group leaves it open.
    void nextCheckState() override;

  private:
    QString key_;
    QString caption_;
};

// The open group's items. Assistive technology acts on an item through the
// list's selection (the item's accessible action selects it, and so does
// the list's selection interface), which no click follows. A selection that
// none of the list's own input events made is therefore taken as the user
// choosing that item: it becomes the current item and itemChosen() follows
// from the event loop, as itemClicked() follows a mouse click.
class ItemList : public QListWidget {
    Q_OBJECT
  public:
    explicit ItemList(QWidget* parent = nullptr);

    // Changes the view makes while this lives are its own, not the user's.
    class OwnChanges {
      public:
        explicit OwnChanges(ItemList* list) : list_(list) { ++list_->own_changes_; }
        ~OwnChanges() { --list_->own_changes_; }
        OwnChanges(const OwnChanges&) = delete;
        OwnChanges& operator=(const OwnChanges&) = delete;

      private:
        ItemList* list_;
    };

  signals:
    // The user chose the item with this key by other means than a click.
    void itemChosen(const QString& key);

  protected:
    bool event(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;

  private:
    int input_depth_ = 0;
    int own_changes_ = 0;
};

class ListBarView : public QFrame {
    Q_OBJECT
  public:
    // Runs a user action against the model; the container passes its guarded
    // call so that no exception and no nested notification escapes.
    using Runner = std::function<void(const std::function<void()>&)>;

    // The role of an item that holds its key.
    static constexpr int KeyRole = Qt::UserRole + 1;

    explicit ListBarView(ListBar& model, QWidget* parent = nullptr);
    ~ListBarView() override;

    void setRunner(Runner runner) { runner_ = std::move(runner); }
    // Applies the model's pending changes now instead of from the event loop.
    void applyPendingChanges();

    const std::vector<GroupHeader*>& headers() const { return headers_; }
    GroupHeader* header(const QString& key) const;
    ItemList* itemList() const { return items_; }
    // The list bar's widgets in tab order: the headers, then the items.
    std::vector<QWidget*> tabOrder() const;

  signals:
    // The list bar's widgets changed; the container re-threads its tab order.
    void tabOrderChanged();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;

  private:
    void modelChanged();
    void sync();
    // The parts of sync: as many header widgets as groups; the headers and
    // the item list stacked as on the screen; the open group's items.
    void matchHeaderCount(size_t count);
    void stackInScreenOrder(int open_index, bool group_open);
    void fillItems(const GroupRef& current);
    void retranslate();
    void run(const std::function<void()>& action);
    void openGroup(const QString& key);
    void clickItem(const QString& key);
    void moveHeaderFocus(GroupHeader* from, int step);
    void setTabStop(int index);
    void applyLook();

    ListBar& model_;
    Runner runner_;
    QScrollArea* scroll_;
    QVBoxLayout* layout_;
    std::vector<GroupHeader*> headers_;
    ItemList* items_;
    QString items_caption_;  // the caption of the group whose items are listed
    int tab_stop_ = -1;
    bool applying_look_ = false;
    bool sync_scheduled_ = false;
};

}  // namespace kevra::qt
