// The demo's main window: the task list control with its search field above
// it (Ctrl+K), the five context fields, a Load button and the log of
// StartTask events.
//
// The control hands over a task; starting it is the host's business. The
// demo only logs it, and opens the task's URL in the desktop's browser when
// the user asks for it with "Open URL", through the desktop services.
#pragma once

#include <QMainWindow>
#include <QString>

class QGroupBox;
class QLayout;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;

namespace kevra::qt {
class KevraSearchField;
class KevraTaskListWidget;
}  // namespace kevra::qt

// The context the fields start with.
struct DemoContext {
    QString machine_name;  // empty: the per-user default catalogue
    int user_number = 1001;
    QString brand = QStringLiteral("Meridane Grand");
    QString facility_id = QStringLiteral("LON01");
    int app_id = 1;
};

class DemoWindow : public QMainWindow {
    Q_OBJECT
  public:
    explicit DemoWindow(const DemoContext& context, QWidget* parent = nullptr);

    kevra::qt::KevraTaskListWidget* TaskList() const { return tasks_; }
    kevra::qt::KevraSearchField* Search() const { return search_; }

  public slots:
    // Passes the fields to the control and loads.
    void load();

  private:
    // The window's parts, top to bottom. The constructor builds them in this
    // order, and the default tab order follows the order of creation.
    QGroupBox* ContextFields(const DemoContext& context, QWidget* central);
    QLayout* TaskListWithSearch(QWidget* central);
    QGroupBox* EventLog(QWidget* central);
    void ConnectButtons();

    void LogStartTask(int task_id, const QString& url, const QString& parms);
    void OpenLastUrl();
    void Log(const QString& line);

    kevra::qt::KevraTaskListWidget* tasks_;
    kevra::qt::KevraSearchField* search_;
    QLineEdit* machine_name_;
    QSpinBox* user_number_;
    QLineEdit* brand_;
    QLineEdit* facility_id_;
    QSpinBox* app_id_;
    QPushButton* load_button_;
    QPushButton* restore_button_;
    QPlainTextEdit* log_;
    QPushButton* open_url_;
    QString last_url_;
};
