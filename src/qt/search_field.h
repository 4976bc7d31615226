// A search field for the task list widget: the user types, and the tasks,
// list items and groups of the loaded catalogue that match appear in a
// popup below the field, best first, each with its path in lighter text
// and links marked. With nothing typed the popup lists the user's
// favourites, then the tasks started last.
//
// Keys: Up and Down move through the results; Enter starts a link the
// way a double-click does (or shows a group, list item or task in the list
// bar and tree); Alt+Enter only shows; Ctrl+D pins or unpins the current
// result (the star, which a click toggles too); Escape closes the popup,
// then clears the field. The field keeps the keyboard focus throughout and
// announces the current result and the number of results to assistive
// technology.
//
//     auto* search = new kevra::qt::KevraSearchField(window);
//     search->setTaskList(tasks);  // before tasks->loadData()
//
// A field follows the loads and launches of its task list from the moment
// it is bound, so bind it before the first loadData(). One field serves a
// task list at a time. Favourites and history are kept per user number,
// application and catalogue in $XDG_STATE_HOME/kevra (see docs/search.md).
#pragma once

#include <QLineEdit>
#include <memory>

class QAbstractItemView;

namespace kevra::qt {

class KevraTaskListWidget;
class KevraSearchFieldPrivate;

class KevraSearchField : public QLineEdit {
    Q_OBJECT
    // At most this many results (and recent tasks) in the popup.
    Q_PROPERTY(int resultLimit READ resultLimit WRITE setResultLimit)

  public:
    // Where favourites and history are kept: files (in a directory, or
    // $XDG_STATE_HOME/kevra), or memory for the field's life.
    enum class HistoryStorage { Files, Memory };
    Q_ENUM(HistoryStorage)

    explicit KevraSearchField(QWidget* parent = nullptr);
    ~KevraSearchField() override;

    // Binds the field to `taskList` (nullptr unbinds). A task list that
    // goes away unbinds itself.
    void setTaskList(KevraTaskListWidget* taskList);
    KevraTaskListWidget* taskList() const;

    // Takes effect at the next read or write of the history. `directory`
    // is for Files only; empty means the default.
    void setHistoryStorage(HistoryStorage storage, const QString& directory = QString());

    int resultLimit() const;
    void setResultLimit(int limit);

    // The popup's list, for hosts that style it and for tests.
    QAbstractItemView* resultView() const;
    bool isPopupVisible() const;

  public slots:
    // Lists what the text finds (or the favourites and recent tasks) in
    // the popup; hides it when there is nothing to list.
    void showPopup();
    void hidePopup();

  signals:
    // A result was shown in the list bar and tree (and, for a link chosen
    // with Enter, started).
    void entryShown(int taskId);
    // The favourites and history cannot be read or kept (a damaged file,
    // a folder that is not the user's); the sentence says what to mend.
    void historyErrorOccurred(const QString& message);

  protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    friend class KevraSearchFieldPrivate;
    Q_DISABLE_COPY(KevraSearchField)
    std::unique_ptr<KevraSearchFieldPrivate> d;
};

}  // namespace kevra::qt
