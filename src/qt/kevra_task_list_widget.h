// The task list control as a Qt widget, for Qt Widgets applications.
//
// The widget is the control's container: it sites one ctlKevraTaskList, holds
// its status label, list bar and tree at the control's own positions (kept
// in inches on every screen), and turns Qt's events into the control's
// notifications. A host sets the five context properties (in code, through
// setProperty, or in Designer's property editor), calls loadData(), and
// connects to taskStartRequested(), which hands over the task a user
// double-clicked (or chose with Enter). Starting the task is the host's
// business. Errors are reported to the user in a message box (or to the
// host's message handler) and never reach the host as exceptions; no
// exception reaches Qt's event loop.
//
//     auto* tasks = new kevra::qt::KevraTaskListWidget(window);
//     tasks->setMachineName("catalogue.json");
//     connect(tasks, &kevra::qt::KevraTaskListWidget::taskStartRequested,
//             window, &Window::start);
//     tasks->loadData();
//
// The widget has a fixed size: the control's. Its saved selection lives in
// the per-user settings store, shared by every host of the same user.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

namespace kevra {
class ComponentRegistry;
class SettingsStore;
}  // namespace kevra

namespace kevra::qt {

class KevraTaskListWidgetPrivate;

class KevraTaskListWidget : public QWidget {
    Q_OBJECT
    // The context of the next loadData(). The control only takes these
    // values; reading one gives what was last set here.
    Q_PROPERTY(QString machineName READ machineName WRITE setMachineName NOTIFY machineNameChanged)
    Q_PROPERTY(int userNumber READ userNumber WRITE setUserNumber NOTIFY userNumberChanged)
    Q_PROPERTY(QString brand READ brand WRITE setBrand NOTIFY brandChanged)
    Q_PROPERTY(QString facilityId READ facilityId WRITE setFacilityId NOTIFY facilityIdChanged)
    Q_PROPERTY(int appId READ appId WRITE setAppId NOTIFY appIdChanged)

  public:
    // A report the control shows the user: title, text, icon and the
    // buttons offered.
    struct Message {
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    };
    // Shows a message the host's own way and returns the button the user
    // pressed.
    using MessageHandler = std::function<QMessageBox::StandardButton(const Message&)>;

    // Keeps the saved selection in $XDG_CONFIG_HOME/kevra and loads
    // catalogues through the task service KEVRA.clsKEVRA.
    explicit KevraTaskListWidget(QWidget* parent = nullptr);
    // Uses the given store and component registry, which must outlive the
    // widget.
    KevraTaskListWidget(SettingsStore& settings, ComponentRegistry& registry,
                        QWidget* parent = nullptr);
    ~KevraTaskListWidget() override;

    QString machineName() const;
    int userNumber() const;
    QString brand() const;
    QString facilityId() const;
    int appId() const;

    // Replaces the modal message box, for hosts that report errors their
    // own way (and for tests). An empty handler brings the box back.
    void setMessageHandler(MessageHandler handler);

    // The control's size, which is also the widget's fixed size.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

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
    void machineNameChanged(const QString& machineName);
    void userNumberChanged(int userNumber);
    void brandChanged(const QString& brand);
    void facilityIdChanged(const QString& facilityId);
    void appIdChanged(int appId);
    // The user chose a task that can be started: the host starts it. The
    // control waits meanwhile, busy pointer up.
    void taskStartRequested(int taskId, const QString& url, const QString& parameters);

  protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    friend class KevraTaskListWidgetPrivate;
    Q_DISABLE_COPY(KevraTaskListWidget)
    std::unique_ptr<KevraTaskListWidgetPrivate> d;
};

}  // namespace kevra::qt
