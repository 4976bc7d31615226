// kevra-demo: a desktop host of the task list control. It shows the control
// with fields for the five context properties, loads the catalogue they
// name (at start and on Load) and logs every StartTask event.
//
// With --screenshot FILE it loads, clicks the first list item of the open
// group, selects the first task that can be started, saves a picture of the
// window to FILE and exits: offscreen (QT_QPA_PLATFORM=offscreen) the widgets
// are rendered, on a real display the window's pixels are read back. With
// --search TEXT the search field holds TEXT and the picture its results.
//
// Its texts and the widget's are in the user's language when the program
// carries a translation for it (German), chosen from the locale (LANGUAGE,
// LC_ALL, LC_MESSAGES, LANG).
#include <QAbstractItemView>
#include <QApplication>
#include <QCommandLineParser>
#include <QGuiApplication>
#include <QImageWriter>
#include <QLibraryInfo>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QTranslator>
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
#include "qt/kevra_task_list_widget_p.h"
#include "qt/list_bar_view_p.h"
#include "qt/search_field.h"
#include "qt/tree_view_p.h"

namespace {

// The context of the demo's texts outside its window.
struct KevraDemo {
    Q_DECLARE_TR_FUNCTIONS(KevraDemo)
};

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
        std::fprintf(stderr, "kevra-demo: %s\n%s\n",
                     kevra::DecimalArgumentError(name, text, INT32_MIN, INT32_MAX).c_str(),
                     qPrintable(KevraDemo::tr("Try 'kevra-demo --help' for more information.")));
        return false;
    }
    value = static_cast<int>(*parsed);
    return true;
}

// The demo's and the widget's translations for the user's locale, carried
// in the program (:/i18n), and Qt's own (the buttons of a box) where the
// desktop has them. A locale without a translation keeps the English texts.
void InstallTranslations(QCoreApplication& app) {
    const QLocale locale;
    const struct {
        const char* name;
        QString directory;
    } translations[] = {
        {"kevra_qt", QStringLiteral(":/i18n")},
        {"kevra_demo", QStringLiteral(":/i18n")},
        {"qtbase", QLibraryInfo::path(QLibraryInfo::TranslationsPath)},
    };
    for (const auto& t : translations) {
        auto* translator = new QTranslator(&app);
        if (translator->load(locale, QString::fromLatin1(t.name), QStringLiteral("_"), t.directory))
            QCoreApplication::installTranslator(translator);
        else
            delete translator;
    }
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
    auto* parts = kevra::qt::KevraTaskListWidgetPrivate::get(window.TaskList());
    kevra::qt::ListBarView* bar = parts->listBarView();
    bar->applyPendingChanges();
    QListWidget* items = bar->itemList();
    if (items->count() > 0)
        Click(items->viewport(), items->visualItemRect(items->item(0)).center());

    kevra::qt::TaskTreeView* tree = parts->treeView();
    tree->applyPendingChanges();
    const kevra::Tree& model = parts->control().sstreeTaskList();
    for (int32_t i = 1; i <= model.Nodes().Count(); ++i) {
        const kevra::Node* node = model.Nodes().At(i);
        if (!node->Font().Underline) continue;
        tree->setFocus();
        tree->setCurrentIndex(tree->taskModel()->indexFromNode(node));
        break;
    }
}

// The text typed into the search field, its results in the popup.
void TypeSearch(DemoWindow& window, const QString& text) {
    window.Search()->setFocus(Qt::ShortcutFocusReason);
    window.Search()->setText(text);
    window.Search()->showPopup();
}

int SaveScreenshot(DemoWindow& window, const QString& file) {
    const bool offscreen = QGuiApplication::platformName() == QLatin1String("offscreen");
    QImage image = offscreen || !window.screen()
                       ? window.grab().toImage()
                       : window.screen()->grabWindow(window.winId()).toImage();
    // The search popup is a window of its own: drawn over the picture where
    // it stands on the screen.
    if (!image.isNull() && window.Search()->isPopupVisible()) {
        QWidget* popup = window.Search()->resultView()->window();
        QPainter painter(&image);
        painter.drawPixmap(popup->geometry().topLeft() - window.geometry().topLeft(),
                           popup->grab());
    }
    QImageWriter writer(file, "png");
    if (image.isNull() || !writer.write(image)) {
        const QString why = image.isNull() ? KevraDemo::tr("the window could not be grabbed")
                                           : writer.errorString();
        std::fprintf(
            stderr, "kevra-demo: %s\n",
            qPrintable(KevraDemo::tr("cannot write the screenshot to %1: %2").arg(file, why)));
        return 1;
    }
    std::printf("kevra-demo: %s\n",
                qPrintable(KevraDemo::tr("screenshot written to %1").arg(file)));
    return 0;
}

// A bad command line, said as every tool of the project says it.
int UsageError(const QString& problem) {
    std::fprintf(stderr, "kevra-demo: %s\n%s\n", qPrintable(problem),
                 qPrintable(KevraDemo::tr("Try 'kevra-demo --help' for more information.")));
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

// Which window system Qt starts on: the user's display, offscreen for a
// picture taken without one, or none (only the command line is answered).
struct Platform {
    bool display = false;
    bool offscreen_screenshot = false;

    bool HasWindows() const { return display || offscreen_screenshot; }
};

Platform ChoosePlatform(int argc, char** argv) {
    Platform platform;
    platform.display = EnvironmentSet("QT_QPA_PLATFORM") || EnvironmentSet("DISPLAY") ||
                       EnvironmentSet("WAYLAND_DISPLAY");
    platform.offscreen_screenshot = !platform.display && AsksForScreenshot(argc, argv);
    if (platform.offscreen_screenshot) qputenv("QT_QPA_PLATFORM", "offscreen");
    return platform;
}

void AddOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(KevraDemo::tr(
        "Desktop demo of the KEVRA task list control. Loads the catalogue that the fields name "
        "(by default the per-user default catalogue, made with 'kevra-catalog init --sample') "
        "and logs the tasks the user starts."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("machine-name"),
         KevraDemo::tr("Catalogue to load: a .json or .db file, a PostgreSQL server, or empty "
                       "for the default catalogue."),
         KevraDemo::tr("NAME")},
        {QStringLiteral("user-number"), KevraDemo::tr("User number (default 1001)."),
         KevraDemo::tr("N")},
        {QStringLiteral("brand"), KevraDemo::tr("Brand (default Meridane Grand)."),
         KevraDemo::tr("TEXT")},
        {QStringLiteral("facility-id"), KevraDemo::tr("Facility (default LON01)."),
         KevraDemo::tr("TEXT")},
        {QStringLiteral("app-id"), KevraDemo::tr("Application (default 1)."), KevraDemo::tr("N")},
        {QStringLiteral("screenshot"),
         KevraDemo::tr("Load, show some tasks, save a PNG picture of the window to FILE and "
                       "exit."),
         KevraDemo::tr("FILE")},
        {QStringLiteral("search"),
         KevraDemo::tr("Type TEXT into the search field after loading; with --screenshot the "
                       "picture shows what it finds."),
         KevraDemo::tr("TEXT")},
    });
}

// Answers --help, --help-all and --version and refuses a bad command line:
// the exit status when that ends the demo, nothing when it goes on.
std::optional<int> ReadCommandLine(QCommandLineParser& parser) {
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
        return UsageError(KevraDemo::tr("unexpected argument '%1' (the demo takes options only)")
                              .arg(parser.positionalArguments().first()));
    return std::nullopt;
}

// The context options over the defaults; false, after saying why, for a
// number that is not one.
bool ReadContext(const QCommandLineParser& parser, DemoContext& context) {
    if (parser.isSet(QStringLiteral("machine-name")))
        context.machine_name = parser.value(QStringLiteral("machine-name"));
    if (parser.isSet(QStringLiteral("brand")))
        context.brand = parser.value(QStringLiteral("brand"));
    if (parser.isSet(QStringLiteral("facility-id")))
        context.facility_id = parser.value(QStringLiteral("facility-id"));
    return ParseNumber(parser, QStringLiteral("user-number"), context.user_number) &&
           ParseNumber(parser, QStringLiteral("app-id"), context.app_id);
}

int NoDisplay() {
    std::fprintf(stderr, "kevra-demo: %s\n",
                 qPrintable(KevraDemo::tr(
                     "there is no display to open the window on (neither DISPLAY nor "
                     "WAYLAND_DISPLAY is set).\nRun it in a desktop session, or have it save "
                     "a picture of the window instead: kevra-demo --screenshot demo.png")));
    return 1;
}

int RunOnScreen(QCoreApplication& app, const DemoContext& context,
                const QCommandLineParser& parser) {
    DemoWindow window(context);
    window.show();
    window.load();
    if (parser.isSet(QStringLiteral("search")))
        TypeSearch(window, parser.value(QStringLiteral("search")));
    return app.exec();
}

// Loads, shows some tasks (and the search's results), saves the picture and
// quits, each step after the one before has painted.
int RunScreenshot(QCoreApplication& app, const DemoContext& context,
                  const QCommandLineParser& parser) {
    DemoWindow window(context);
    int reports = 0;
    // Nobody is there to close a box: the reports go to standard error.
    window.TaskList()->setMessageHandler(
        [&reports](const kevra::qt::KevraTaskListWidget::Message& message) {
            std::fprintf(stderr, "kevra-demo: %s: %s\n", message.title.toUtf8().constData(),
                         message.text.toUtf8().constData());
            ++reports;
            return QMessageBox::Ok;
        });
    window.show();
    window.load();

    const QString file = parser.value(QStringLiteral("screenshot"));
    int status = 1;
    QTimer::singleShot(kSettleMs, &window, [&] {
        ShowSomeTasks(window);
        if (parser.isSet(QStringLiteral("search")))
            TypeSearch(window, parser.value(QStringLiteral("search")));
        QTimer::singleShot(kSettleMs, &window, [&] {
            status = SaveScreenshot(window, file);
            app.quit();
        });
    });
    app.exec();
    if (reports > 0) {
        std::fprintf(stderr, "kevra-demo: %s\n",
                     qPrintable(KevraDemo::tr("the control reported %n error(s), shown above",
                                              nullptr, reports)));
        return 1;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    std::atexit(CheckOutputAtExit);
    // Qt aborts when its window system cannot start. Without a display the
    // demo still answers --help and --version, renders a --screenshot
    // offscreen, and otherwise says what to do instead of aborting.
    const Platform platform = ChoosePlatform(argc, argv);
    std::unique_ptr<QCoreApplication> application =
        platform.HasWindows() ? std::make_unique<QApplication>(argc, argv)
                              : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication& app = *application;
    QCoreApplication::setApplicationName(QStringLiteral("kevra-demo"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KEVRA_VERSION));
    InstallTranslations(app);

    QCommandLineParser parser;
    AddOptions(parser);
    if (const std::optional<int> status = ReadCommandLine(parser)) return *status;
    DemoContext context;
    if (!ReadContext(parser, context)) return 2;
    if (!platform.HasWindows()) return NoDisplay();
    if (parser.isSet(QStringLiteral("screenshot"))) return RunScreenshot(app, context, parser);
    return RunOnScreen(app, context, parser);
}
