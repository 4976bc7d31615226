// kevra-demo: a desktop host of the task list control. It shows the control
// with fields for the five context properties, loads the catalogue they
// name (at start and on Load) and logs every StartTask event.
//
// With --screenshot FILE it loads, clicks the first list item of the open
// group, selects the first task that can be started, saves a picture of the
// window to FILE and exits: offscreen (QT_QPA_PLATFORM=offscreen) the widgets
// are rendered, on a real display the window's pixels are read back.
#include <QApplication>
#include <QCommandLineParser>
#include <QGuiApplication>
#include <QImageWriter>
#include <QListWidget>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "control/ctlKevraTaskList.h"
#include "demo_window.h"
#include "platform/decimal_argument.h"
#include "qt/kevra_task_list_widget.h"
#include "qt/list_bar_view.h"
#include "qt/qt_control_site.h"
#include "qt/tree_view.h"

namespace {

// What the demo printed (its help, the screenshot line) must have reached
// standard output: a full disk or a closed descriptor shows only when the
// buffer is flushed. Checked at exit, which the command-line parser's help
// reaches too.
void CheckOutputAtExit() {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return;
    std::fprintf(stderr, "kevra-demo: cannot write to standard output: %s\n", std::strerror(errno));
    std::_Exit(1);
}

// Time for the window system to show the window and for each step to paint.
constexpr int kSettleMs = 400;

// Plain digits, as every tool takes them: QString::toInt would accept
// blanks and a '+' around the number.
bool ParseNumber(const QCommandLineParser& parser, const QString& option, int& value) {
    if (!parser.isSet(option)) return true;
    const std::string text = parser.value(option).toStdString();
    const std::optional<int64_t> parsed = kevra::ParseDecimal(text, INT32_MIN, INT32_MAX);
    if (!parsed) {
        const std::string name = "--" + option.toStdString();
        std::fprintf(stderr, "kevra-demo: %s\nTry 'kevra-demo --help' for more information.\n",
                     kevra::DecimalArgumentError(name, text, INT32_MIN, INT32_MAX).c_str());
        return false;
    }
    value = static_cast<int>(*parsed);
    return true;
}

void Click(QWidget* widget, QPoint at) {
    QMouseEvent press(QEvent::MouseButtonPress, at, widget->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, widget->mapToGlobal(at), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QApplication::sendEvent(widget, &release);
}

// What a user does before the picture is taken.
void ShowSomeTasks(DemoWindow& window) {
    kevra::qt::ListBarView* bar = window.TaskList()->listBarView();
    bar->SyncNow();
    QListWidget* items = bar->Items();
    if (items->count() > 0)
        Click(items->viewport(), items->visualItemRect(items->item(0)).center());

    kevra::qt::TaskTreeView* tree = window.TaskList()->treeView();
    tree->SyncNow();
    const kevra::Tree& model = window.TaskList()->control().sstreeTaskList();
    for (int32_t i = 1; i <= model.Nodes().Count(); ++i) {
        const kevra::Node* node = model.Nodes().At(i);
        if (!node->Font().Underline) continue;
        tree->setFocus();
        tree->setCurrentIndex(tree->Model()->IndexOf(node));
        break;
    }
}

int SaveScreenshot(DemoWindow& window, const QString& file) {
    const bool offscreen = QGuiApplication::platformName() == QLatin1String("offscreen");
    const QImage image = offscreen || !window.screen()
                             ? window.grab().toImage()
                             : window.screen()->grabWindow(window.winId()).toImage();
    QImageWriter writer(file, "png");
    if (image.isNull() || !writer.write(image)) {
        std::fprintf(
            stderr, "kevra-demo: cannot write the screenshot to %s: %s\n", qPrintable(file),
            image.isNull() ? "the window could not be grabbed" : qPrintable(writer.errorString()));
        return 1;
    }
    std::printf("kevra-demo: screenshot written to %s\n", qPrintable(file));
    return 0;
}

// A bad command line, said as every tool of the project says it.
int UsageError(const QString& problem) {
    std::fprintf(stderr, "kevra-demo: %s\nTry 'kevra-demo --help' for more information.\n",
                 qPrintable(problem));
    return 2;
}

bool EnvironmentSet(const char* name) { return !qEnvironmentVariableIsEmpty(name); }

// Whether the command line asks for --screenshot, read before Qt starts:
// the answer decides which platform Qt starts on.
bool AsksForScreenshot(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) break;
        if (std::strcmp(argv[i], "--screenshot") == 0 ||
            std::strncmp(argv[i], "--screenshot=", 13) == 0)
            return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    std::atexit(CheckOutputAtExit);
    // Qt aborts when its window system cannot start. Without a display the
    // demo still answers --help and --version, renders a --screenshot
    // offscreen, and otherwise says what to do instead of aborting.
    const bool display = EnvironmentSet("QT_QPA_PLATFORM") || EnvironmentSet("DISPLAY") ||
                         EnvironmentSet("WAYLAND_DISPLAY");
    const bool offscreen_screenshot = !display && AsksForScreenshot(argc, argv);
    if (offscreen_screenshot) qputenv("QT_QPA_PLATFORM", "offscreen");
    std::unique_ptr<QCoreApplication> application =
        display || offscreen_screenshot ? std::make_unique<QApplication>(argc, argv)
                                        : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication& app = *application;
    QCoreApplication::setApplicationName(QStringLiteral("kevra-demo"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KEVRA_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Desktop demo of the KEVRA task list control. Loads the catalogue that the fields name "
        "(by default the per-user default catalogue, made with 'kevra-catalog init --sample') "
        "and logs the tasks the user starts."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("machine-name"),
         QStringLiteral("Catalogue to load: a .json or .db file, a PostgreSQL server, or empty "
                        "for the default catalogue."),
         QStringLiteral("NAME")},
        {QStringLiteral("user-number"), QStringLiteral("User number (default 1001)."),
         QStringLiteral("N")},
        {QStringLiteral("brand"), QStringLiteral("Brand (default Meridane Grand)."),
         QStringLiteral("TEXT")},
        {QStringLiteral("facility-id"), QStringLiteral("Facility (default LON01)."),
         QStringLiteral("TEXT")},
        {QStringLiteral("app-id"), QStringLiteral("Application (default 1)."), QStringLiteral("N")},
        {QStringLiteral("screenshot"),
         QStringLiteral("Load, show some tasks, save a PNG picture of the window to FILE and "
                        "exit."),
         QStringLiteral("FILE")},
    });
    if (!parser.parse(QCoreApplication::arguments())) return UsageError(parser.errorText());
    // Only the parser's own processing lists Qt's options too.
    if (parser.isSet(QStringLiteral("help-all")))
        parser.process({QCoreApplication::arguments().first(), QStringLiteral("--help-all")});
    if (parser.isSet(QStringLiteral("help"))) parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("kevra-demo %s\n", KEVRA_VERSION);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return UsageError(QStringLiteral("unexpected argument '%1' (the demo takes options only)")
                              .arg(parser.positionalArguments().first()));


    DemoContext context;
    if (parser.isSet(QStringLiteral("machine-name")))
        context.machine_name = parser.value(QStringLiteral("machine-name"));
    if (parser.isSet(QStringLiteral("brand")))
        context.brand = parser.value(QStringLiteral("brand"));
    if (parser.isSet(QStringLiteral("facility-id")))
        context.facility_id = parser.value(QStringLiteral("facility-id"));
    if (!ParseNumber(parser, QStringLiteral("user-number"), context.user_number) ||
        !ParseNumber(parser, QStringLiteral("app-id"), context.app_id))
        return 2;
    if (!display && !offscreen_screenshot) {
        std::fputs(
            "kevra-demo: there is no display to open the window on (neither DISPLAY nor "
            "WAYLAND_DISPLAY is set).\nRun it in a desktop session, or have it save a picture "
            "of the window instead: kevra-demo --screenshot demo.png\n",
            stderr);
        return 1;
    }


    DemoWindow window(context);
    const bool screenshot = parser.isSet(QStringLiteral("screenshot"));
    int reports = 0;
    if (screenshot) {
        // Nobody is there to close a box: the reports go to standard error.
        window.TaskList()->site().SetBoxHandler(
            [&reports](const kevra::qt::QtControlSite::BoxRequest& box) {
                std::fprintf(stderr, "kevra-demo: %s: %s\n", box.title.c_str(), box.prompt.c_str());
                ++reports;
                return 1;
            });
    }
    window.show();
    window.load();
    if (!screenshot) return app.exec();

    const QString file = parser.value(QStringLiteral("screenshot"));
    int status = 1;
    QTimer::singleShot(kSettleMs, &window, [&] {
        ShowSomeTasks(window);
        QTimer::singleShot(kSettleMs, &window, [&] {
            status = SaveScreenshot(window, file);
            app.quit();
        });
    });
    app.exec();
    if (reports > 0) {
        std::fprintf(stderr, "kevra-demo: the control reported %d error(s), shown above\n",
                     reports);
        return 1;
    }
    return status;
}
