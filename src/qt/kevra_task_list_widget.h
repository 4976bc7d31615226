// The task list control as a Qt widget, for Qt Widgets applications.
//
// The widget is the control's container: it sites one ctlKevraTaskList, holds
// its status label, list bar and tree at the control's own positions (kept
// in inches on every screen), and turns Qt's events into the control's
// notifications. A host sets the five context properties, calls loadData(),
// and connects to startTask(), which hands over the task a user
// double-clicked (or chose with Enter). Starting the task is the host's
// business. Errors are reported to the user in a message box and never
// reach the host; no exception reaches Qt's event loop.
//
//     auto* tasks = new kevra::qt::KevraTaskListWidget(window);
//     tasks->setMachineName("catalogue.json");
//     connect(tasks, &kevra::qt::KevraTaskListWidget::startTask, window, &Window::start);
//     tasks->loadData();
//
// The widget has a fixed size: the control's. Its saved selection lives in
// the per-user settings store, shared by every host of the same user.
#pragma once

#include <QString>
#include <QWidget>
#include <memory>

class QLabel;

namespace kevra {
class ComponentRegistry;
class SettingsStore;
class ctlKevraTaskList;
}  // namespace kevra

namespace kevra::qt {

class ListBarView;
class QtControlSite;
class TaskTreeView;

class KevraTaskListWidget : public QWidget {
    Q_OBJECT
  public:
    // Keeps the saved selection in $XDG_CONFIG_HOME/kevra and loads
    // catalogues through the task service KEVRA.clsKEVRA.
    explicit KevraTaskListWidget(QWidget* parent = nullptr);
    // Uses the given store and component registry, which must outlive the
    // widget.
    KevraTaskListWidget(SettingsStore& settings, ComponentRegistry& registry,
                        QWidget* parent = nullptr);
    ~KevraTaskListWidget() override;

    // The parts, for hosts that need more than the slots (and for tests).
    ctlKevraTaskList& control() { return *control_; }
    QtControlSite& site() { return *site_; }
    QLabel* statusLabel() const { return label_; }
    ListBarView* listBarView() const { return list_bar_; }
    TaskTreeView* treeView() const { return tree_; }

  public slots:
    // The context properties; they take effect at the next loadData().
    void setMachineName(const QString& machineName);
    void setUserNumber(int userNumber);
    void setBrand(const QString& brand);
    void setFacilityId(const QString& facilityId);
    void setAppId(int appId);
    // Loads the catalogue; failures are shown to the user.
    void loadData();
    // Re-applies the saved selection.
    void selectTask();
    // Sends the control its terminate notification now (the destructor
    // does otherwise); the widget is inert afterwards.
    void terminate();

  signals:
    // The user chose a task that can be started.
    void startTask(int taskId, const QString& url, const QString& parms);

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void Init(SettingsStore& settings, ComponentRegistry& registry);
    void ThreadTabOrder();

    std::unique_ptr<SettingsStore> owned_settings_;
    QtControlSite* site_ = nullptr;
    std::unique_ptr<ctlKevraTaskList> control_;
    QLabel* label_ = nullptr;
    ListBarView* list_bar_ = nullptr;
    TaskTreeView* tree_ = nullptr;
};

}  // namespace kevra::qt
