// The list bar on a Qt desktop: a view of the ListBar model.
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
// headers, the open one selected) followed by a list of items.
#pragma once

#include <QFrame>
#include <QPushButton>
#include <QString>
#include <functional>
#include <vector>

#include "widgets/listbar.h"

class QListWidget;
class QListWidgetItem;
class QScrollArea;
class QVBoxLayout;

namespace kevra::qt {

// One group header of the list bar.
class GroupHeader : public QPushButton {
    Q_OBJECT
  public:
    explicit GroupHeader(QWidget* parent = nullptr);
    void SetGroup(const QString& key, const QString& caption, bool open);
    const QString& Key() const { return key_; }
    const QString& Caption() const { return caption_; }
    bool IsOpen() const { return isChecked(); }

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

class ListBarView : public QFrame {
    Q_OBJECT
  public:
    // Runs a user action against the model; the container passes its guarded
    // call so that no exception and no nested notification escapes.
    using Runner = std::function<void(const std::function<void()>&)>;

    explicit ListBarView(ListBar& model, QWidget* parent = nullptr);
    ~ListBarView() override;

    void SetRunner(Runner runner) { runner_ = std::move(runner); }
    // Applies the model's pending changes now instead of from the event loop.
    void SyncNow();

    const std::vector<GroupHeader*>& Headers() const { return headers_; }
    GroupHeader* HeaderFor(const QString& key) const;
    QListWidget* Items() const { return items_; }
    // The list bar's widgets in tab order: the headers, then the items.
    std::vector<QWidget*> TabOrder() const;

  signals:
    // The list bar's widgets changed; the container re-threads its tab order.
    void tabOrderChanged();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;

  private:
    void ModelChanged();
    void Sync();
    void Run(const std::function<void()>& action);
    void OpenGroup(const QString& key);
    void ClickItem(const QListWidgetItem* item);
    void MoveHeaderFocus(GroupHeader* from, int step);
    void SetTabStop(int index);
    void ApplyLook();

    ListBar& model_;
    Runner runner_;
    QScrollArea* scroll_;
    QVBoxLayout* layout_;
    std::vector<GroupHeader*> headers_;
    QListWidget* items_;
    int tab_stop_ = -1;
    bool applying_look_ = false;
    bool sync_scheduled_ = false;
};

}  // namespace kevra::qt
