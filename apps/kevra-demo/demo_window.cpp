// The demo's main window.
#include "demo_window.h"

#include <QDesktopServices>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QStatusBar>
#include <QTime>
#include <QUrl>
#include <limits>

#include "qt/kevra_task_list_widget.h"
#include "qt/search_field.h"

namespace {

QSpinBox* NumberField(int value) {
    auto* field = new QSpinBox;
    field->setRange(std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
    field->setValue(value);
    return field;
}

}  // namespace

DemoWindow::DemoWindow(const DemoContext& context, QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(tr("KEVRA Task List demo"));
    auto* central = new QWidget(this);
    auto* page = new QVBoxLayout(central);
    page->addWidget(ContextFields(context, central));
    page->addLayout(TaskListWithSearch(central));
    page->addWidget(EventLog(central), 1);
    setCentralWidget(central);
    ConnectButtons();
}

QGroupBox* DemoWindow::ContextFields(const DemoContext& context, QWidget* central) {
    auto* who = new QGroupBox(tr("Who is asking"), central);
    auto* grid = new QGridLayout(who);
    machine_name_ = new QLineEdit(context.machine_name);
    machine_name_->setPlaceholderText(
        tr("empty: the default catalogue in $XDG_DATA_HOME/kevra/tasks.db"));
    machine_name_->setToolTip(
        tr("A JSON or SQLite catalogue file, a PostgreSQL server, or empty for the "
           "default catalogue"));
    user_number_ = NumberField(context.user_number);
    brand_ = new QLineEdit(context.brand);
    facility_id_ = new QLineEdit(context.facility_id);
    app_id_ = NumberField(context.app_id);
    load_button_ = new QPushButton(tr("&Load"));
    restore_button_ = new QPushButton(tr("&Restore saved task"));
    restore_button_->setToolTip(
        tr("Opens the group, list item and task saved at the "
           "last start (SelectTask)"));

    const auto add = [grid](int row, int column, const QString& text, QWidget* field) {
        auto* label = new QLabel(text);
        label->setBuddy(field);
        grid->addWidget(label, row, column);
        grid->addWidget(field, row, column + 1);
    };
    add(0, 0, tr("&Catalogue (MachineName):"), machine_name_);
    grid->addWidget(machine_name_, 0, 1, 1, 5);
    add(1, 0, tr("&User number:"), user_number_);
    add(1, 2, tr("&Brand:"), brand_);
    add(1, 4, tr("&Facility:"), facility_id_);
    add(2, 0, tr("&Application:"), app_id_);
    grid->addWidget(load_button_, 2, 4);
    grid->addWidget(restore_button_, 2, 5);
    grid->setColumnStretch(3, 1);
    grid->setColumnStretch(5, 1);
    return who;
}

QLayout* DemoWindow::TaskListWithSearch(QWidget* central) {
    tasks_ = new kevra::qt::KevraTaskListWidget(central);
    // The field is bound before the first load, so that it follows it.
    search_ = new kevra::qt::KevraSearchField(central);
    search_->setTaskList(tasks_);
    search_->setPlaceholderText(tr("Find a task (Ctrl+K)"));
    search_->setFixedWidth(tasks_->sizeHint().width());
    auto* find = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_K), this);
    connect(find, &QShortcut::activated, this, [this] {
        search_->setFocus(Qt::ShortcutFocusReason);
        search_->selectAll();
    });
    connect(search_, &kevra::qt::KevraSearchField::historyErrorOccurred, this,
            [this](const QString& message) { Log(tr("Favourites and history: %1").arg(message)); });
    auto* control_column = new QVBoxLayout;
    control_column->addWidget(search_);
    control_column->addWidget(tasks_);
    auto* control_row = new QHBoxLayout;
    control_row->addLayout(control_column);
    control_row->addStretch(1);
    return control_row;
}

QGroupBox* DemoWindow::EventLog(QWidget* central) {
    auto* events = new QGroupBox(tr("StartTask events"), central);
    auto* events_layout = new QVBoxLayout(events);
    log_ = new QPlainTextEdit;
    log_->setReadOnly(true);
    log_->setMaximumBlockCount(500);
    log_->setAccessibleName(tr("StartTask events"));
    log_->setPlaceholderText(
        tr("Double-click a task, or press Enter on it, to see what the host "
           "receives."));
    open_url_ = new QPushButton(tr("&Open URL"));
    open_url_->setEnabled(false);
    open_url_->setToolTip(tr("Opens the last task's URL in the desktop's browser"));
    auto* url_row = new QHBoxLayout;
    url_row->addStretch(1);
    url_row->addWidget(open_url_);
    events_layout->addWidget(log_);
    events_layout->addLayout(url_row);
    return events;
}

void DemoWindow::ConnectButtons() {
    connect(load_button_, &QPushButton::clicked, this, &DemoWindow::load);
    connect(restore_button_, &QPushButton::clicked, tasks_,
            &kevra::qt::KevraTaskListWidget::selectTask);
    connect(tasks_, &kevra::qt::KevraTaskListWidget::taskStartRequested, this,
            &DemoWindow::LogStartTask);
    connect(open_url_, &QPushButton::clicked, this, &DemoWindow::OpenLastUrl);
    setTabOrder(app_id_, load_button_);
    setTabOrder(load_button_, restore_button_);
    setTabOrder(restore_button_, search_);
}

void DemoWindow::load() {
    tasks_->setMachineName(machine_name_->text().trimmed());
    tasks_->setUserNumber(user_number_->value());
    tasks_->setBrand(brand_->text());
    tasks_->setFacilityId(facility_id_->text());
    tasks_->setAppId(app_id_->value());
    tasks_->loadData();
    const QString where = machine_name_->text().trimmed().isEmpty()
                              ? tr("the default catalogue")
                              : machine_name_->text().trimmed();
    statusBar()->showMessage(tr("Loaded from %1").arg(where), 5000);
}

void DemoWindow::Log(const QString& line) {
    log_->appendPlainText(QTime::currentTime().toString(QStringLiteral("HH:mm:ss  ")) + line);
}

void DemoWindow::LogStartTask(int task_id, const QString& url, const QString& parms) {
    Log(tr("StartTask  id %1  URL %2  parameters %3")
            .arg(task_id)
            .arg(url, parms.isEmpty() ? tr("(none)") : parms));
    last_url_ = url;
    open_url_->setEnabled(true);
    open_url_->setToolTip(tr("Opens %1 in the desktop's browser").arg(url));
}

void DemoWindow::OpenLastUrl() {
    // A catalogue's URL is data: it goes to the browser only when it is a
    // web or mail address, never to whatever handles other schemes.
    const QUrl url(last_url_, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.isRelative()) {
        Log(tr("Not opened: \"%1\" is not a complete address; the catalogue should "
               "give a URL that starts with https://")
                .arg(last_url_));
        return;
    }
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https") &&
        scheme != QLatin1String("mailto")) {
        Log(tr("Not opened: only http, https and mailto addresses go to the "
               "browser, and \"%1\" is a %2 address")
                .arg(last_url_, scheme));
        return;
    }
    if (QDesktopServices::openUrl(url))
        Log(tr("Opened %1 in the desktop's browser").arg(url.toString()));
    else
        Log(tr("The desktop could not open %1: set a default web browser (for "
               "example with xdg-settings set default-web-browser)")
                .arg(url.toString()));
}
