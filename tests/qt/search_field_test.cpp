// The search field driven by keys and clicks on the offscreen platform, as a
// keyboard user drives it: what the popup lists and announces, where Enter
// and Alt+Enter take the user, the star, favourites and recent tasks with
// nothing typed, and a task list that goes away under the field.
#include "qt/search_field.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QtTest>
#include <map>
#include <memory>
#include <tuple>

#include "control/ctlKevraTaskList.h"
#include "qt/kevra_task_list_widget.h"
#include "qt/kevra_task_list_widget_p.h"
#include "qt/qt_control_site.h"
#include "qt/tree_view_p.h"
#include "service/task_service.h"

using kevra::qt::KevraSearchField;
using kevra::qt::KevraTaskListWidget;

namespace {

// Two groups; under Front Office > Reservations the link New Booking, the
// task Reports with the link Occupancy below it, and Broken Link (a link
// without a URL); Rooms & Rates > Rates > Seasonal.
const char* kCatalogue = KEVRA_QT_TEST_CATALOGUE;

class MemorySettings : public kevra::SettingsStore {
  public:
    std::string GetSetting(const std::string& app, const std::string& section,
                           const std::string& key, const std::string& default_value) override {
        auto it = values.find({app, section, key});
        return it == values.end() ? default_value : it->second;
    }
    void SaveSetting(const std::string& app, const std::string& section, const std::string& key,
                     const std::string& value) override {
        values[{app, section, key}] = value;
    }
    std::map<std::tuple<std::string, std::string, std::string>, std::string> values;
};

// Roles of the popup's rows (as the field's model sets them).
constexpr int kKindRole = Qt::UserRole + 2;
constexpr int kPathRole = Qt::UserRole + 3;
constexpr int kPinnedRole = Qt::UserRole + 4;
constexpr int kLink = 3;

}  // namespace

class SearchFieldTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();
    void typingListsMatchesWithTheirPathAndLinksMarked();
    void arrowsMoveWithinTheResultsAndTheCurrentOneIsAnnounced();
    void enterStartsALinkAsADoubleClickWould();
    void altEnterOnlyShowsAndHandsTheKeyboardToTheTree();
    void enterOnAGroupOpensItInTheListBar();
    void starPinsAndAnEmptyQueryListsFavouritesThenRecent();
    void escapeClosesThePopupThenClearsTheText();
    void nothingIsListedBeforeALoad();
    void favouritesInFilesOutliveTheField();
    void aTaskListThatGoesAwayUnbindsTheField();

  private:
    void Build(KevraSearchField::HistoryStorage storage = KevraSearchField::HistoryStorage::Memory);
    void Load();
    void Type(const QString& text);
    QStringList Listed() const;
    int Current() const { return view()->currentIndex().row(); }
    QAbstractItemView* view() const { return field_->resultView(); }
    QString Saved(const std::string& key) {
        auto it = settings_.values.find({"KevraTaskList", "Selected Task", key});
        return it == settings_.values.end() ? QString() : QString::fromStdString(it->second);
    }

    std::unique_ptr<QTemporaryDir> dir_;
    MemorySettings settings_;
    std::unique_ptr<kevra::ComponentRegistry> registry_;
    std::unique_ptr<QWidget> window_;
    KevraTaskListWidget* tasks_ = nullptr;
    KevraSearchField* field_ = nullptr;
    kevra::qt::KevraTaskListWidgetPrivate* parts_ = nullptr;
};

void SearchFieldTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    qputenv("XDG_STATE_HOME", dir_->filePath(QStringLiteral("state")).toUtf8());
    settings_.values.clear();
    registry_ = std::make_unique<kevra::ComponentRegistry>();
    kevra::service::RegisterTaskService(*registry_);
}

void SearchFieldTest::Build(KevraSearchField::HistoryStorage storage) {
    window_ = std::make_unique<QWidget>();
    auto* layout = new QVBoxLayout(window_.get());
    field_ = new KevraSearchField(window_.get());
    field_->setHistoryStorage(storage);
    tasks_ = new KevraTaskListWidget(settings_, *registry_, window_.get());
    field_->setTaskList(tasks_);
    layout->addWidget(field_);
    layout->addWidget(tasks_);
    parts_ = kevra::qt::KevraTaskListWidgetPrivate::get(tasks_);
    parts_->site().SetBoxHandler([](const kevra::qt::QtControlSite::BoxRequest&) { return 1; });
}

void SearchFieldTest::cleanup() {
    window_.reset();
    registry_.reset();
    dir_.reset();
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
}

void SearchFieldTest::Load() {
    tasks_->setMachineName(QString::fromUtf8(kCatalogue));
    tasks_->loadData();
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    QApplication::setActiveWindow(window_.get());
    field_->setFocus(Qt::ShortcutFocusReason);
    QCoreApplication::processEvents();
}

void SearchFieldTest::Type(const QString& text) {
    field_->selectAll();
    QTest::keyClick(field_, Qt::Key_Backspace);
    QTest::keyClicks(field_, text);
}

QStringList SearchFieldTest::Listed() const {
    QStringList rows;
    for (int r = 0; r < view()->model()->rowCount(); ++r)
        rows << view()->model()->index(r, 0).data().toString();
    return rows;
}

void SearchFieldTest::typingListsMatchesWithTheirPathAndLinksMarked() {
    Build();
    Load();
    Type(QStringLiteral("occ"));
    QVERIFY(field_->isPopupVisible());
    QCOMPARE(Listed(), QStringList{QStringLiteral("Occupancy")});
    const QModelIndex row = view()->model()->index(0, 0);
    QCOMPARE(row.data(kPathRole).toString(),
             QStringLiteral("Front Office \u203A Reservations \u203A Reports"));
    QCOMPARE(row.data(kKindRole).toInt(), kLink);
    // What a screen reader reads for the row and for the field.
    const QString spoken = row.data(Qt::AccessibleTextRole).toString();
    QVERIFY2(spoken.startsWith(QStringLiteral("Occupancy, link, in Front Office")),
             qPrintable(spoken));
    QCOMPARE(field_->accessibleDescription(), QStringLiteral("1 result(s)"));
    QCOMPARE(field_->accessibleName(), QStringLiteral("Find a task"));
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(view());
    QVERIFY(list);
    QCOMPARE(list->role(), QAccessible::List);
    QCOMPARE(list->text(QAccessible::Name), QStringLiteral("Tasks found"));

    // The ranking is the finder's: a caption that starts with the text,
    // then one with a word that does ("Rooms & Rates" as the list bar
    // reads it).
    Type(QStringLiteral("rat"));
    QCOMPARE(Listed(), (QStringList{QStringLiteral("Rates"), QStringLiteral("Rooms and Rates"),
                                    QStringLiteral("Seasonal")}));
    QCOMPARE(field_->accessibleDescription(), QStringLiteral("3 result(s)"));
    Type(QStringLiteral("zzz"));
    QVERIFY(!field_->isPopupVisible());
}

void SearchFieldTest::arrowsMoveWithinTheResultsAndTheCurrentOneIsAnnounced() {
    Build();
    Load();
    Type(QStringLiteral("r"));
    const int n = view()->model()->rowCount();
    QVERIFY(n >= 3);
    QCOMPARE(Current(), 0);
    QTest::keyClick(field_, Qt::Key_Up);
    QCOMPARE(Current(), 0);  // stays at the top
    QTest::keyClick(field_, Qt::Key_Down);
    QTest::keyClick(field_, Qt::Key_Down);
    QCOMPARE(Current(), 2);
    for (int i = 0; i < n + 2; ++i) QTest::keyClick(field_, Qt::Key_Down);
    QCOMPARE(Current(), n - 1);  // stays at the bottom
    QTest::keyClick(field_, Qt::Key_Up);
    QCOMPARE(Current(), n - 2);
    QVERIFY(field_->hasFocus());  // the keys never left the field
    QCOMPARE(field_->text(), QStringLiteral("r"));
    QVERIFY(view()->selectionModel()->isSelected(view()->model()->index(n - 2, 0)));
}

void SearchFieldTest::enterStartsALinkAsADoubleClickWould() {
    Build();
    Load();
    QSignalSpy started(tasks_, &KevraTaskListWidget::taskStartRequested);
    QSignalSpy shown(field_, &KevraSearchField::entryShown);
    Type(QStringLiteral("booking"));
    QTest::keyClick(field_, Qt::Key_Return);
    QCOMPARE(started.size(), 1);
    QCOMPARE(started.at(0).at(0).toInt(), 3);
    QCOMPARE(started.at(0).at(1).toString(), QStringLiteral("https://example.test/book"));
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.at(0).at(0).toInt(), 3);
    QVERIFY(!field_->isPopupVisible());
    // The saved selection of a double-click, written by the control.
    QCOMPARE(Saved("Group"), QStringLiteral("X1"));
    QCOMPARE(Saved("ListItem"), QStringLiteral("X2"));
    QCOMPARE(Saved("Task"), QStringLiteral("X3"));

    // The launch is counted: the task leads the recent ones.
    field_->clear();
    field_->showPopup();
    QCOMPARE(Listed(), (QStringList{QStringLiteral("Recent"), QStringLiteral("New Booking")}));
    QCOMPARE(Current(), 1);  // the title is no result

    // A plain task is shown, not started.
    Type(QStringLiteral("reports"));
    QTest::keyClick(field_, Qt::Key_Enter);
    QCOMPARE(started.size(), 1);
    QCOMPARE(parts_->control().sstreeTaskList().Selected()->Key(), std::string("X4"));
}

void SearchFieldTest::altEnterOnlyShowsAndHandsTheKeyboardToTheTree() {
    Build();
    Load();
    QSignalSpy started(tasks_, &KevraTaskListWidget::taskStartRequested);
    Type(QStringLiteral("occupancy"));
    QTest::keyClick(field_, Qt::Key_Return, Qt::AltModifier);
    QCOMPARE(started.size(), 0);
    const kevra::Node* node = parts_->control().sstreeTaskList().Selected();
    QVERIFY(node);
    QCOMPARE(node->Key(), std::string("X5"));
    QVERIFY(node->Parent()->Expanded());
    QVERIFY(parts_->treeView()->hasFocus());
    // From there, Enter is the tree's own: the control starts it.
    QCoreApplication::processEvents();
    parts_->treeView()->applyPendingChanges();
    QTest::keyClick(parts_->treeView(), Qt::Key_Return);
    QCOMPARE(started.size(), 1);
    QCOMPARE(started.at(0).at(0).toInt(), 5);
}

void SearchFieldTest::enterOnAGroupOpensItInTheListBar() {
    Build();
    Load();
    QCOMPARE(parts_->control().sslistTaskList().CurrentGroup()->Key(), std::string("X1"));
    Type(QStringLiteral("rooms and"));
    QCOMPARE(Listed().value(0), QStringLiteral("Rooms and Rates"));
    QTest::keyClick(field_, Qt::Key_Return);
    QCOMPARE(parts_->control().sslistTaskList().CurrentGroup()->Key(), std::string("X10"));
    QCOMPARE(Saved("Task"), QString());  // opening a group starts nothing
}

void SearchFieldTest::starPinsAndAnEmptyQueryListsFavouritesThenRecent() {
    Build();
    Load();
    Type(QStringLiteral("seasonal"));
    QTest::keyClick(field_, Qt::Key_Return);  // a launch
    Type(QStringLiteral("booking"));
    QTest::keyClick(field_, Qt::Key_Return);  // and another
    Type(QStringLiteral("guests"));
    QVERIFY(!view()->model()->index(0, 0).data(kPinnedRole).toBool());
    QTest::keyClick(field_, Qt::Key_D, Qt::ControlModifier);
    QVERIFY(view()->model()->index(0, 0).data(kPinnedRole).toBool());
    QVERIFY(view()
                ->model()
                ->index(0, 0)
                .data(Qt::AccessibleTextRole)
                .toString()
                .endsWith(QStringLiteral("pinned")));

    // The star of another result, clicked.
    Type(QStringLiteral("booking"));
    const QRect rect = view()->visualRect(view()->model()->index(0, 0));
    QTest::mouseClick(view()->viewport(), Qt::LeftButton, {},
                      QPoint(rect.left() + rect.height() / 2, rect.center().y()));
    QVERIFY(view()->model()->index(0, 0).data(kPinnedRole).toBool());
    QVERIFY(field_->isPopupVisible());  // the star is no choice of the row

    field_->clear();
    field_->showPopup();
    // Pinned in that order; the recent ones not pinned already.
    QCOMPARE(Listed(), (QStringList{QStringLiteral("Favourites"), QStringLiteral("Guests"),
                                    QStringLiteral("New Booking"), QStringLiteral("Recent"),
                                    QStringLiteral("Seasonal")}));
    QCOMPARE(field_->accessibleDescription(), QStringLiteral("3 favourite or recent task(s)"));
    QTest::keyClick(field_, Qt::Key_Down);
    QTest::keyClick(field_, Qt::Key_Down);
    QCOMPARE(Current(), 4);  // over the title
    QTest::keyClick(field_, Qt::Key_Up);
    QTest::keyClick(field_, Qt::Key_D, Qt::ControlModifier);  // unpin New Booking
    QCOMPARE(Listed(), (QStringList{QStringLiteral("Favourites"), QStringLiteral("Guests"),
                                    QStringLiteral("Recent"), QStringLiteral("New Booking"),
                                    QStringLiteral("Seasonal")}));
    QCOMPARE(Current(), 3);  // the unpinned entry stays current where it went
}

void SearchFieldTest::escapeClosesThePopupThenClearsTheText() {
    Build();
    Load();
    Type(QStringLiteral("rep"));
    QVERIFY(field_->isPopupVisible());
    QTest::keyClick(field_, Qt::Key_Escape);
    QVERIFY(!field_->isPopupVisible());
    QCOMPARE(field_->text(), QStringLiteral("rep"));
    QTest::keyClick(field_, Qt::Key_Down);
    QVERIFY(field_->isPopupVisible());  // Down opens it again
    QTest::keyClick(field_, Qt::Key_Escape);
    QTest::keyClick(field_, Qt::Key_Escape);
    QCOMPARE(field_->text(), QString());
}

void SearchFieldTest::nothingIsListedBeforeALoad() {
    Build();
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    field_->setFocus(Qt::ShortcutFocusReason);
    QTest::keyClicks(field_, QStringLiteral("booking"));
    QVERIFY(!field_->isPopupVisible());
    QCOMPARE(view()->model()->rowCount(), 0);
    QCOMPARE(field_->accessibleDescription(), QStringLiteral("0 result(s)"));
    // A failed load afterwards leaves nothing to find either.
    tasks_->setMachineName(dir_->filePath(QStringLiteral("missing.json")));
    tasks_->loadData();
    Type(QStringLiteral("booking"));
    QVERIFY(!field_->isPopupVisible());
}

void SearchFieldTest::favouritesInFilesOutliveTheField() {
    Build(KevraSearchField::HistoryStorage::Files);
    Load();
    Type(QStringLiteral("guests"));
    QTest::keyClick(field_, Qt::Key_D, Qt::ControlModifier);
    QVERIFY(QFile::exists(dir_->filePath(QStringLiteral("state/kevra/history-user0-app0.txt"))));
    window_.reset();

    Build(KevraSearchField::HistoryStorage::Files);
    Load();
    field_->clear();
    field_->showPopup();
    QCOMPARE(Listed(), (QStringList{QStringLiteral("Favourites"), QStringLiteral("Guests")}));

    // A damaged file is reported once, and a search still finds.
    window_.reset();
    QFile damaged(dir_->filePath(QStringLiteral("state/kevra/history-user0-app0.txt")));
    QVERIFY(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate));
    damaged.write("not a history\n");
    damaged.close();
    Build(KevraSearchField::HistoryStorage::Files);
    QSignalSpy errors(field_, &KevraSearchField::historyErrorOccurred);
    Load();
    Type(QStringLiteral("guests"));
    Type(QStringLiteral("guest"));
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors.at(0).at(0).toString().contains(QStringLiteral("line 1")),
             qPrintable(errors.at(0).at(0).toString()));
    QCOMPARE(Listed(), QStringList{QStringLiteral("Guests")});
}

void SearchFieldTest::aTaskListThatGoesAwayUnbindsTheField() {
    Build();
    Load();
    Type(QStringLiteral("book"));
    QVERIFY(field_->isPopupVisible());
    delete tasks_;  // hands the control's hooks back while it is still there
    tasks_ = nullptr;
    QVERIFY(!field_->isPopupVisible());
    QCOMPARE(field_->taskList(), nullptr);
    Type(QStringLiteral("booking"));
    QTest::keyClick(field_, Qt::Key_Return);
    QVERIFY(!field_->isPopupVisible());
}

QTEST_MAIN(SearchFieldTest)
#include "search_field_test.moc"
