// The Qt front-end driven the way a user drives it: clicks, double-clicks and
// keys on the real widgets, on the offscreen platform. Each case checks what
// the user sees (the views) and what the host receives (taskStartRequested, the
// pointer, the boxes).
#include "qt/kevra_task_list_widget.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>
#include <QVariant>
#include <QtTest>
#include <cstdio>
#include <map>
#include <memory>
#include <tuple>

#include "../platform/decimal_comma_locale.h"
#include "control/ctlKevraTaskList.h"
#include "platform/faults.h"
#include "qt/appearance_p.h"
#include "qt/kevra_task_list_widget_p.h"
#include "qt/list_bar_view_p.h"
#include "qt/qt_control_site.h"
#include "qt/tree_view_p.h"
#include "service/task_service.h"

using kevra::qt::KevraTaskListWidget;
using kevra::qt::QtControlSite;

namespace {

// The catalogue of every case (catalogue.json beside this file): two groups;
// under "Reservations" a link with blanks around its URL, a plain task
// holding a link, and a link without a URL.
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
    void SaveSelection(const std::string& group, const std::string& item, const std::string& task) {
        SaveSetting("KevraTaskList", "Selected Task", "Group", group);
        SaveSetting("KevraTaskList", "Selected Task", "ListItem", item);
        SaveSetting("KevraTaskList", "Selected Task", "Task", task);
    }
    std::string Saved(const std::string& key) {
        return GetSetting("KevraTaskList", "Selected Task", key, "<none>");
    }
    std::map<std::tuple<std::string, std::string, std::string>, std::string> values;
};

struct Box {
    QtControlSite::BoxRequest request;
    bool wait_cursor;  // the busy pointer was up while the box was shown
};

bool WaitCursorUp() {
    const QCursor* c = QGuiApplication::overrideCursor();
    return c && c->shape() == Qt::WaitCursor;
}

}  // namespace

class KevraTaskListWidgetTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();

    void sitesTheChildrenInInches();
    void contextPropertiesReachTheControlThroughSetProperty();
    void messageHandlerTakesTheReportsAndWhatEscapesIsLogged();
    void loadShowsGroupsAndRestoresTheSavedSelectionAfterThePaint();
    void headerClickOpensTheGroupAndEmptiesTheTree();
    void itemClickFillsTheTreeWithEachNodesFont();
    void doubleClickRaisesStartTaskForTheSelectedNode();
    void numbersReachTheHostWithAPointUnderADecimalCommaLocale();
    void enterRaisesStartTaskAndKeepsTheFocus();
    void keyboardOpensGroupsAndClicksItems();
    void waitCursorIsGoneAfterSuccessAndAfterFailure();
    void failingRestoreShowsOneBoxPerExternalRepaint();
    void realBoxIsPlainTextAndItsRepaintStartsNoRestore();
    void accessibleNamesRolesAndTabOrder();
    void accessibleTreeIsNamedAndInScreenOrder();
    void accessibleItemActionClicksTheItem();
    void accessibleNodeActionSelectsTheNodeTheControlStarts();
    void coloursFollowTheDesktopPalette();
    void treeModelSurvivesChangesBeforeTheViewCatchesUp();
    void treeModelAnswersForEveryNodeAsTheTreeStands();

  private:
    void Load(bool show = true);
    void ClickItem(const QString& text);
    QModelIndex Row(const QString& text) const;
    void ClickRow(const QString& text);

    std::unique_ptr<QTemporaryDir> dir_;
    QString catalogue_;
    MemorySettings settings_;
    std::unique_ptr<kevra::ComponentRegistry> registry_;
    std::unique_ptr<QWidget> window_;
    KevraTaskListWidget* w_ = nullptr;
    kevra::qt::KevraTaskListWidgetPrivate* parts_ = nullptr;
    std::vector<Box> boxes_;
};

void KevraTaskListWidgetTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    catalogue_ = QString::fromUtf8(kCatalogue);
    QVERIFY(QFile::exists(catalogue_));

    settings_.values.clear();
    registry_ = std::make_unique<kevra::ComponentRegistry>();
    kevra::service::RegisterTaskService(*registry_);
    window_ = std::make_unique<QWidget>();
    auto* layout = new QVBoxLayout(window_.get());
    w_ = new KevraTaskListWidget(settings_, *registry_, window_.get());
    layout->addWidget(w_);
    parts_ = kevra::qt::KevraTaskListWidgetPrivate::get(w_);
    // Every case checks the tree's item model as Qt checks its own, at
    // every reset the loads, refills and group changes cause.
    new QAbstractItemModelTester(parts_->treeView()->model(),
                                 QAbstractItemModelTester::FailureReportingMode::QtTest, w_);
    boxes_.clear();
    parts_->site().SetBoxHandler([this](const QtControlSite::BoxRequest& request) {
        boxes_.push_back({request, WaitCursorUp()});
        return 1;
    });
}

void KevraTaskListWidgetTest::cleanup() {
    kevra::faults::Reset();
    window_.reset();
    registry_.reset();
    dir_.reset();
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
}

void KevraTaskListWidgetTest::Load(bool show) {
    w_->setMachineName(catalogue_);
    w_->loadData();
    if (!show) return;
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    QApplication::setActiveWindow(window_.get());
    QCoreApplication::processEvents();
}

void KevraTaskListWidgetTest::ClickItem(const QString& text) {
    QListWidget* items = parts_->listBarView()->itemList();
    const auto found = items->findItems(text, Qt::MatchExactly);
    QCOMPARE(found.size(), 1);
    QTest::mouseClick(items->viewport(), Qt::LeftButton, {},
                      items->visualItemRect(found.front()).center());
    QCoreApplication::processEvents();
    parts_->treeView()->applyPendingChanges();
}

QModelIndex KevraTaskListWidgetTest::Row(const QString& text) const {
    const auto* model = parts_->treeView()->model();
    const auto hits = model->match(model->index(0, 0), Qt::DisplayRole, text, 1,
                                   Qt::MatchExactly | Qt::MatchRecursive);
    return hits.isEmpty() ? QModelIndex() : hits.front();
}

void KevraTaskListWidgetTest::ClickRow(const QString& text) {
    const QModelIndex index = Row(text);
    QVERIFY2(index.isValid(), qPrintable(text));
    QTest::mouseClick(parts_->treeView()->viewport(), Qt::LeftButton, {},
                      parts_->treeView()->visualRect(index).center());
}

void KevraTaskListWidgetTest::sitesTheChildrenInInches() {
    // 11070 x 5295 twips after the first layout pass; tree at 3015, 120.
    const double dpi_x = w_->logicalDpiX(), dpi_y = w_->logicalDpiY();
    QCOMPARE(w_->width(), qRound(11070 * dpi_x / 1440));
    QCOMPARE(w_->height(), qRound(5295 * dpi_y / 1440));
    // Layouts ask the hint and the policy: the control's size, fixed.
    QCOMPARE(w_->sizeHint(), w_->size());
    QCOMPARE(w_->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(w_->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(parts_->treeView()->geometry(),
             QRect(qRound(3015 * dpi_x / 1440), qRound(120 * dpi_y / 1440),
                   qRound(7935 * dpi_x / 1440), qRound(5055 * dpi_y / 1440)));
    // The label sizes itself to its caption and sits in the middle.
    QLabel* label = parts_->statusLabel();
    QCOMPARE(label->text(), QStringLiteral("Loading task list . . . Please wait"));
    QCOMPARE(label->size(), label->sizeHint());
    QVERIFY(qAbs(label->geometry().center().x() - w_->width() / 2) <= 1);
    QVERIFY(qAbs(label->geometry().center().y() - w_->height() / 2) <= 1);
    QVERIFY(!label->isHidden());
    QVERIFY(parts_->listBarView()->isHidden());
    QVERIFY(parts_->treeView()->isHidden());
    // A host that resizes the widget gets the control's size back.
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    w_->setFixedSize(100, 100);
    QCoreApplication::processEvents();
    QCOMPARE(w_->width(), qRound(11070 * dpi_x / 1440));
    QCOMPARE(w_->height(), qRound(5295 * dpi_y / 1440));
    QCOMPARE(w_->sizeHint(), w_->size());
}

void KevraTaskListWidgetTest::contextPropertiesReachTheControlThroughSetProperty() {
    // As Designer's generated code, a QML host or a settings dialog sets
    // them: by name, announced by their notify signals.
    struct Expected {
        const char* name;
        QVariant value;
    };
    const Expected context[] = {{"machineName", catalogue_},
                                {"userNumber", 1001},
                                {"brand", QStringLiteral("Meridane Grand")},
                                {"facilityId", QStringLiteral("LON01")},
                                {"appId", 7}};
    const QMetaObject* meta = w_->metaObject();
    for (const Expected& e : context) {
        const QMetaProperty property = meta->property(meta->indexOfProperty(e.name));
        QVERIFY2(property.isValid(), e.name);
        QVERIFY(property.isReadable() && property.isWritable() && property.isDesignable());
        QVERIFY(property.hasNotifySignal());
        QCOMPARE(property.metaType(), e.value.metaType());

        QSignalSpy changed(w_, property.notifySignal());
        QVERIFY(w_->setProperty(e.name, e.value));
        QCOMPARE(w_->property(e.name), e.value);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed[0][0], e.value);
        // The same value again is no change.
        QVERIFY(w_->setProperty(e.name, e.value));
        QCOMPARE(changed.size(), 1);
    }
    const auto members = parts_->control().GetMembers();
    QCOMPARE(members.mstrMachineName, catalogue_.toStdString());
    QCOMPARE(members.mlngUserNumber, 1001);
    QCOMPARE(members.mstrBrand, std::string("Meridane Grand"));
    QCOMPARE(members.mstrFacilityId, std::string("LON01"));
    QCOMPARE(members.mlngAppId, 7);

    QVERIFY(QMetaObject::invokeMethod(w_, "loadData"));
    QCOMPARE(parts_->control().GetMembers().mblnDataLoaded, kevra::kTrue);
    parts_->listBarView()->applyPendingChanges();
    QCOMPARE(parts_->listBarView()->headers().size(), size_t(2));
    QVERIFY(boxes_.empty());
}

void KevraTaskListWidgetTest::messageHandlerTakesTheReportsAndWhatEscapesIsLogged() {
    // The host's handler gets the report in Qt's terms.
    std::vector<KevraTaskListWidget::Message> messages;
    w_->setMessageHandler([&messages](const KevraTaskListWidget::Message& message) {
        messages.push_back(message);
        return QMessageBox::Ok;
    });
    w_->setMachineName(dir_->filePath(QStringLiteral("missing.json")));
    w_->loadData();
    QCOMPARE(messages.size(), size_t(1));
    QCOMPARE(messages[0].title, QStringLiteral("KevraTaskList - LoadData"));
    QVERIFY2(messages[0].text.contains(QStringLiteral("missing.json")),
             qPrintable(messages[0].text));
    QCOMPARE(messages[0].icon, QMessageBox::Critical);
    QCOMPARE(messages[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(boxes_.empty());

    // A handler that throws leaves the control usable.
    w_->setMessageHandler([](const KevraTaskListWidget::Message&) -> QMessageBox::StandardButton {
        throw std::runtime_error("the host's report failed");
    });
    w_->loadData();
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    QVERIFY(w_->isEnabled());

    // An empty handler brings the container's own box back.
    w_->setMessageHandler(nullptr);
    parts_->site().SetBoxHandler([this](const QtControlSite::BoxRequest& request) {
        boxes_.push_back({request, WaitCursorUp()});
        return 1;
    });
    w_->loadData();
    QCOMPARE(boxes_.size(), size_t(1));
    QCOMPARE(messages.size(), size_t(1));

    // Whatever escapes a call into the control stops at the container and
    // is logged under kevra.qt, where a host can filter it.
    static QStringList logged;
    logged.clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
            if (type == QtWarningMsg && QByteArray(context.category) == "kevra.qt")
                logged.push_back(text);
        });
    parts_->site().Call([] { throw std::runtime_error("the call failed"); });
    qInstallMessageHandler(previous);
    QCOMPARE(logged.size(), 1);
    QVERIFY2(logged[0].contains(QStringLiteral("the call failed")), qPrintable(logged[0]));
}

void KevraTaskListWidgetTest::loadShowsGroupsAndRestoresTheSavedSelectionAfterThePaint() {
    settings_.SaveSelection(" X1 ", "X2", "X5");
    Load(false);
    kevra::qt::ListBarView* bar = parts_->listBarView();
    bar->applyPendingChanges();
    QVERIFY(parts_->statusLabel()->isHidden());
    QVERIFY(!bar->isHidden());
    QCOMPARE(bar->headers().size(), size_t(2));
    QCOMPARE(bar->headers()[0]->caption(), QStringLiteral("Front Office"));
    QCOMPARE(bar->headers()[1]->caption(), QStringLiteral("Rooms and Rates"));
    QVERIFY(bar->headers()[0]->isOpen());
    QCOMPARE(bar->itemList()->count(), 2);
    // Nothing is restored before the control has painted.
    QCOMPARE(parts_->control().sstreeTaskList().Nodes().Count(), 0);

    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    QTRY_COMPARE(parts_->control().sstreeTaskList().Nodes().Count(), 6);
    parts_->treeView()->applyPendingChanges();
    const QModelIndex occupancy = Row(QStringLiteral("Occupancy"));
    QVERIFY(occupancy.isValid());
    QCOMPARE(parts_->treeView()->currentIndex(), occupancy);
    QVERIFY(parts_->treeView()->isExpanded(occupancy.parent()));  // "Reports" opened to show it
    QVERIFY(boxes_.empty());
}

void KevraTaskListWidgetTest::headerClickOpensTheGroupAndEmptiesTheTree() {
    Load();
    ClickItem(QStringLiteral("Reservations"));
    QVERIFY(parts_->treeView()->model()->rowCount() > 0);

    parts_->listBarView()->applyPendingChanges();
    kevra::qt::GroupHeader* rooms = parts_->listBarView()->header(QStringLiteral("X10"));
    QVERIFY(rooms);
    QTest::mouseClick(rooms, Qt::LeftButton);
    QCoreApplication::processEvents();
    parts_->listBarView()->applyPendingChanges();
    parts_->treeView()->applyPendingChanges();

    QCOMPARE(parts_->control().sslistTaskList().CurrentGroup()->Key(), std::string("X10"));
    QCOMPARE(parts_->control().GetMembers().mstrSelectedGroup, std::string("X10"));
    QCOMPARE(parts_->treeView()->model()->rowCount(), 0);
    QVERIFY(rooms->isOpen());
    QVERIFY(!parts_->listBarView()->header(QStringLiteral("X1"))->isOpen());
    QCOMPARE(parts_->listBarView()->itemList()->count(), 1);
    QCOMPARE(parts_->listBarView()->itemList()->item(0)->text(), QStringLiteral("Rates"));

    // Clicking the open header again keeps it open and changes nothing.
    ClickItem(QStringLiteral("Rates"));
    QTest::mouseClick(rooms, Qt::LeftButton);
    QCoreApplication::processEvents();
    parts_->treeView()->applyPendingChanges();
    QVERIFY(rooms->isChecked());
    QCOMPARE(parts_->treeView()->model()->rowCount(), 1);
}

void KevraTaskListWidgetTest::itemClickFillsTheTreeWithEachNodesFont() {
    Load();
    ClickItem(QStringLiteral("Reservations"));
    const QAbstractItemModel* model = parts_->treeView()->model();
    QCOMPARE(model->rowCount(), 1);
    const QModelIndex root = model->index(0, 0);
    const QModelIndex item = model->index(0, 0, root);
    QCOMPARE(root.data().toString(), QStringLiteral("Front Office"));
    QCOMPARE(item.data().toString(), QStringLiteral("Reservations"));
    QCOMPARE(model->rowCount(item), 3);
    QVERIFY(parts_->treeView()->isExpanded(root));
    QVERIFY(parts_->treeView()->isExpanded(item));

    struct Look {
        const char* text;
        double size;
        bool bold, underline;
    };
    const Look looks[] = {{"Front Office", 12, true, false}, {"Reservations", 10, true, false},
                          {"New Booking", 10, false, true},  {"Reports", 10, true, false},
                          {"Occupancy", 10, false, true},    {"Broken Link", 10, false, true}};
    for (const Look& look : looks) {
        const QModelIndex index = Row(QString::fromUtf8(look.text));
        QVERIFY2(index.isValid(), look.text);
        const QFont font = index.data(Qt::FontRole).value<QFont>();
        QCOMPARE(font.pointSizeF(), look.size);
        QCOMPARE(font.bold(), look.bold);
        QCOMPARE(font.underline(), look.underline);
    }
    QCOMPARE(parts_->control().GetMembers().mstrSelectedListItem, std::string("X2"));
    QVERIFY(w_->isEnabled());
}

void KevraTaskListWidgetTest::doubleClickRaisesStartTaskForTheSelectedNode() {
    Load();
    ClickItem(QStringLiteral("Reservations"));
    QSignalSpy spy(w_, &KevraTaskListWidget::taskStartRequested);
    const QModelIndex booking = Row(QStringLiteral("New Booking"));
    QTest::mouseDClick(parts_->treeView()->viewport(), Qt::LeftButton, {},
                       parts_->treeView()->visualRect(booking).center());
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy[0][0].toInt(), 3);
    QCOMPARE(spy[0][1].toString(), QStringLiteral("https://example.test/book"));
    QCOMPARE(spy[0][2].toString(), QStringLiteral("mode=new"));
    QCOMPARE(settings_.Saved("Task"), std::string("X3"));
    QCOMPARE(settings_.Saved("ListItem"), std::string("X2"));

    // A plain task saves the selection and starts nothing.
    const QModelIndex reports = Row(QStringLiteral("Reports"));
    QTest::mouseDClick(parts_->treeView()->viewport(), Qt::LeftButton, {},
                       parts_->treeView()->visualRect(reports).center());
    QCOMPARE(spy.size(), 1);
    QCOMPARE(settings_.Saved("Task"), std::string("X4"));
    QVERIFY(boxes_.empty());
}

// A desktop whose formats write 2.5 as "2,5": the numbers of the catalogue
// still reach the views and the host with a decimal point.
void KevraTaskListWidgetTest::numbersReachTheHostWithAPointUnderADecimalCommaLocale() {
    kevra::locale_test::ScopedDecimalCommaLocale locale;
    if (!locale.ok()) QSKIP(locale.why().c_str());
    char written[16];
    std::snprintf(written, sizeof written, "%g", 2.5);
    QCOMPARE(QByteArray(written), QByteArray("2,5"));  // the C library follows the locale

    QFile file(dir_->filePath(QStringLiteral("numbers.json")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"([{"TaskId": 1, "TaskParent": 0, "TaskDescription": "Rates"},
                  {"TaskId": 2, "TaskParent": 1, "TaskDescription": 2.5},
                  {"TaskId": 3, "TaskParent": 2, "TaskDescription": 0.125, "IsLink": true,
                   "TaskURL": "https://example.test/rate", "TaskParms": 1.75}])");
    file.close();
    catalogue_ = file.fileName();
    Load();
    ClickItem(QStringLiteral("2.5"));
    QSignalSpy spy(w_, &KevraTaskListWidget::taskStartRequested);
    const QModelIndex rate = Row(QStringLiteral("0.125"));
    QVERIFY(rate.isValid());
    QTest::mouseDClick(parts_->treeView()->viewport(), Qt::LeftButton, {},
                       parts_->treeView()->visualRect(rate).center());
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy[0][2].toString(), QStringLiteral("1.75"));
    QVERIFY(boxes_.empty());
}

void KevraTaskListWidgetTest::enterRaisesStartTaskAndKeepsTheFocus() {
    Load();
    ClickItem(QStringLiteral("Reservations"));
    kevra::qt::TaskTreeView* tree = parts_->treeView();
    tree->setFocus();
    QTRY_VERIFY(tree->hasFocus());

    bool disabled_during = false;
    QSignalSpy spy(w_, &KevraTaskListWidget::taskStartRequested);
    connect(w_, &KevraTaskListWidget::taskStartRequested, this,
            [&] { disabled_during = !w_->isEnabled(); });

    // Typing jumps to the node whose text starts with what was typed; the
    // node in the collapsed "Reports" is reached once that is opened.
    QTest::keyClicks(tree, QStringLiteral("rep"));
    QCOMPARE(tree->currentIndex(), Row(QStringLiteral("Reports")));
    QTest::keyClick(tree, Qt::Key_Right);  // open it
    QTest::qWait(QApplication::keyboardInputInterval() + 50);
    QTest::keyClicks(tree, QStringLiteral("occ"));
    QCOMPARE(tree->currentIndex(), Row(QStringLiteral("Occupancy")));
    QCOMPARE(parts_->control().sstreeTaskList().Selected()->Key(), std::string("X5"));

    QTest::keyClick(tree, Qt::Key_Return);
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy[0][0].toInt(), 5);
    QCOMPARE(spy[0][1].toString(), QStringLiteral("https://example.test/occupancy"));
    QCOMPARE(spy[0][2].toString(), QString());
    QVERIFY(disabled_during);
    // The control disabled itself meanwhile; the focus comes back.
    QVERIFY(w_->isEnabled());
    QVERIFY(tree->hasFocus());

    QTest::keyClick(tree, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(spy.size(), 2);
}

void KevraTaskListWidgetTest::keyboardOpensGroupsAndClicksItems() {
    Load();
    kevra::qt::ListBarView* bar = parts_->listBarView();
    bar->applyPendingChanges();
    kevra::qt::GroupHeader* first = bar->headers()[0];
    kevra::qt::GroupHeader* second = bar->headers()[1];
    first->setFocus();
    QTRY_VERIFY(first->hasFocus());

    QTest::keyClick(first, Qt::Key_Down);
    QVERIFY(second->hasFocus());
    QVERIFY(first->isOpen());  // moving does not open
    QTest::keyClick(second, Qt::Key_Space);
    QCoreApplication::processEvents();
    bar->applyPendingChanges();
    QCOMPARE(parts_->control().sslistTaskList().CurrentGroup()->Key(), std::string("X10"));
    QVERIFY(second->hasFocus());
    QCOMPARE(second->focusPolicy(), Qt::StrongFocus);  // the tab stop
    QCOMPARE(first->focusPolicy(), Qt::ClickFocus);

    QTest::keyClick(second, Qt::Key_Up);
    QVERIFY(first->hasFocus());
    QTest::keyClick(first, Qt::Key_Return);
    QCoreApplication::processEvents();
    bar->applyPendingChanges();
    QCOMPARE(parts_->control().sslistTaskList().CurrentGroup()->Key(), std::string("X1"));

    // Tab goes on to the items, where Enter clicks the current one.
    QTest::keyClick(first, Qt::Key_Tab);
    QVERIFY(bar->itemList()->hasFocus());
    QTest::keyClick(bar->itemList(), Qt::Key_Down);
    QCOMPARE(bar->itemList()->currentItem()->text(), QStringLiteral("Guests"));
    QTest::keyClick(bar->itemList(), Qt::Key_Return);
    QCOMPARE(parts_->control().GetMembers().mstrSelectedListItem, std::string("X7"));
    QTest::keyClick(bar->itemList(), Qt::Key_Up);
    QTest::keyClick(bar->itemList(), Qt::Key_Space);
    QCOMPARE(parts_->control().GetMembers().mstrSelectedListItem, std::string("X2"));
    parts_->treeView()->applyPendingChanges();
    QVERIFY(Row(QStringLiteral("New Booking")).isValid());
    QVERIFY(bar->itemList()->hasFocus());
}

void KevraTaskListWidgetTest::waitCursorIsGoneAfterSuccessAndAfterFailure() {
    bool busy_in_handler = false;
    connect(w_, &KevraTaskListWidget::taskStartRequested, this,
            [&] { busy_in_handler = WaitCursorUp(); });
    Load();
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);

    ClickItem(QStringLiteral("Reservations"));
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    ClickRow(QStringLiteral("New Booking"));
    parts_->treeView()->setFocus();
    QTest::keyClick(parts_->treeView(), Qt::Key_Return);
    QVERIFY(busy_in_handler);
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);

    // A link without a URL: the report, then the pointer is back.
    ClickRow(QStringLiteral("Broken Link"));
    QTest::keyClick(parts_->treeView(), Qt::Key_Return);
    QCOMPARE(boxes_.size(), size_t(1));
    QCOMPARE(boxes_[0].request.title, std::string("KevraTaskList - sstreeTaskList_DblClick"));
    QCOMPARE(boxes_[0].request.prompt,
             std::string("-2147221504 There is no URL associated with this task"));
    QCOMPARE(boxes_[0].request.icon, kevra::MsgBoxIcon::critical);
    QCOMPARE(boxes_[0].request.buttons, kevra::MsgBoxButtons::ok);
    QVERIFY(boxes_[0].wait_cursor);
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    QVERIFY(w_->isEnabled());

    // A load that fails: same, and the label tells the user.
    w_->setMachineName(dir_->filePath(QStringLiteral("missing.json")));
    w_->loadData();
    QCOMPARE(boxes_.size(), size_t(2));
    QCOMPARE(boxes_[1].request.title, std::string("KevraTaskList - LoadData"));
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    QVERIFY(w_->isEnabled());
}

void KevraTaskListWidgetTest::failingRestoreShowsOneBoxPerExternalRepaint() {
    settings_.SaveSelection("X1", "X2", "X3");
    Load(false);
    // The next three fills fail at their first step.
    for (int n = 1; n <= 3; ++n) kevra::faults::Arm("Clear", n, 35750, "The tree is stuck");

    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    QTRY_COMPARE(boxes_.size(), size_t(1));
    QCOMPARE(boxes_[0].request.title, std::string("KevraTaskList - SelectTask"));
    QCOMPARE(boxes_[0].request.prompt, std::string("35750 The tree is stuck"));
    // The box's own repaint does not start the restore again.
    QTest::qWait(3 * QtControlSite::kBoxRepaintMs);
    QCOMPARE(boxes_.size(), size_t(1));

    for (size_t expected = 2; expected <= 3; ++expected) {
        w_->repaint();
        QTRY_COMPARE(boxes_.size(), expected);
        QTest::qWait(3 * QtControlSite::kBoxRepaintMs);
        QCOMPARE(boxes_.size(), expected);
    }
    // The cause is gone: the next paint restores, and later ones do nothing.
    w_->repaint();
    QTRY_COMPARE(parts_->control().GetMembers().mblnSelectionRestored, kevra::kTrue);
    QCOMPARE(parts_->control().sstreeTaskList().Selected()->Key(), std::string("X3"));
    w_->repaint();
    QTest::qWait(50);
    QCOMPARE(boxes_.size(), size_t(3));
}

void KevraTaskListWidgetTest::realBoxIsPlainTextAndItsRepaintStartsNoRestore() {
    parts_->site().SetBoxHandler(nullptr);
    int boxes = 0;
    Qt::TextFormat format = Qt::AutoText;
    bool arrow_over_box = false;
    QTimer closer;
    connect(&closer, &QTimer::timeout, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        ++boxes;
        format = box->textFormat();
        arrow_over_box = QGuiApplication::overrideCursor() &&
                         QGuiApplication::overrideCursor()->shape() == Qt::ArrowCursor;
        box->button(QMessageBox::Ok)->click();
    });
    closer.start(20);

    settings_.SaveSelection("X1", "X2", "X3");
    Load(false);
    kevra::faults::Arm("Clear", 1, 35750, "<b>bold</b> is not markup here");
    kevra::faults::Arm("Clear", 2, 35750, "<b>bold</b> is not markup here");
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    QTRY_COMPARE(boxes, 1);
    QCOMPARE(format, Qt::PlainText);
    QTest::qWait(5 * QtControlSite::kBoxRepaintMs);
    QCOMPARE(boxes, 1);
    // The repaint of the load's box below is a first paint like any other and
    // restores; the fault kept for a wrongly restarted restore is done with.
    kevra::faults::Reset();

    // The busy pointer makes way for the arrow while a box waits.
    w_->setMachineName(dir_->filePath(QStringLiteral("missing.json")));
    w_->loadData();
    QCOMPARE(boxes, 2);
    QVERIFY(arrow_over_box);
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
}

void KevraTaskListWidgetTest::accessibleNamesRolesAndTabOrder() {
    Load();
    kevra::qt::ListBarView* bar = parts_->listBarView();
    bar->applyPendingChanges();

    QAccessibleInterface* list_bar = QAccessible::queryAccessibleInterface(bar);
    QVERIFY(list_bar);
    QCOMPARE(list_bar->role(), QAccessible::PageTabList);
    QCOMPARE(list_bar->text(QAccessible::Name), QStringLiteral("Task groups"));

    QAccessibleInterface* open = QAccessible::queryAccessibleInterface(bar->headers()[0]);
    QAccessibleInterface* closed = QAccessible::queryAccessibleInterface(bar->headers()[1]);
    QCOMPARE(open->role(), QAccessible::PageTab);
    QCOMPARE(open->text(QAccessible::Name), QStringLiteral("Front Office"));
    QVERIFY(open->state().selected);
    QVERIFY(!closed->state().selected);
    QCOMPARE(closed->text(QAccessible::Name), QStringLiteral("Rooms and Rates"));
    // The screen reader's press action opens the group.
    closed->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QCoreApplication::processEvents();
    QCOMPARE(parts_->control().sslistTaskList().CurrentGroup()->Key(), std::string("X10"));

    QAccessibleInterface* items = QAccessible::queryAccessibleInterface(bar->itemList());
    QCOMPARE(items->role(), QAccessible::List);
    QCOMPARE(items->text(QAccessible::Name), QStringLiteral("Items of Rooms and Rates"));
    QAccessibleInterface* tree = QAccessible::queryAccessibleInterface(parts_->treeView());
    QCOMPARE(tree->role(), QAccessible::Tree);
    QCOMPARE(tree->text(QAccessible::Name), QStringLiteral("Tasks"));

    // Tab order: label, the list bar (its header tab stop, its items), the
    // tree; the label itself takes no focus.
    const auto next_tab_stop = [](QWidget* from) {
        QWidget* w = from->nextInFocusChain();
        while (w != from && !((w->focusPolicy() & Qt::TabFocus) && w->isVisible()))
            w = w->nextInFocusChain();
        return w;
    };
    QCOMPARE(next_tab_stop(parts_->statusLabel()), bar->headers()[0]);
    bar->headers()[0]->setFocus();
    QTRY_VERIFY(bar->headers()[0]->hasFocus());
    QTest::keyClick(bar->headers()[0], Qt::Key_Tab);
    QVERIFY(bar->itemList()->hasFocus());
    QTest::keyClick(bar->itemList(), Qt::Key_Tab);
    QVERIFY(parts_->treeView()->hasFocus());
    QTest::keyClick(parts_->treeView(), Qt::Key_Backtab);
    QTest::keyClick(bar->itemList(), Qt::Key_Backtab);
    QVERIFY(bar->headers()[0]->hasFocus());
}

namespace {

// Offscreen, Qt's accessibility is not active: nobody tells a view's
// interface of a refill, and it keeps the interfaces of its cells from
// before. A screen reader's bridge hears of every refill; the cases read a
// view afresh after one, as the bridge would.
QAccessibleInterface* FreshInterface(QWidget* view) {
    if (QAccessibleInterface* stale = QAccessible::queryAccessibleInterface(view))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(stale));
    return QAccessible::queryAccessibleInterface(view);
}

QAccessibleInterface* ChildNamed(QAccessibleInterface* parent, const QString& name) {
    for (int i = 0; i < parent->childCount(); ++i) {
        QAccessibleInterface* child = parent->child(i);
        if (child && child->text(QAccessible::Name) == name) return child;
    }
    return nullptr;
}

// What a screen reader meets below `root`, depth first: the page tabs and
// lists, as "tab NAME" and "list NAME".
void ReadTabsAndLists(QAccessibleInterface* root, QStringList& read) {
    for (int i = 0; i < root->childCount(); ++i) {
        QAccessibleInterface* child = root->child(i);
        if (!child) continue;
        if (child->role() == QAccessible::PageTab)
            read << QStringLiteral("tab ") + child->text(QAccessible::Name);
        else if (child->role() == QAccessible::List)
            read << QStringLiteral("list ") + child->text(QAccessible::Name);
        else
            ReadTabsAndLists(child, read);
    }
}

void Act(QAccessibleInterface* cell) {
    QVERIFY(cell && cell->actionInterface());
    const QStringList actions = cell->actionInterface()->actionNames();
    QVERIFY(!actions.isEmpty());
    cell->actionInterface()->doAction(actions.first());
    QCoreApplication::processEvents();
}

}  // namespace

void KevraTaskListWidgetTest::accessibleTreeIsNamedAndInScreenOrder() {
    Load();
    kevra::qt::ListBarView* bar = parts_->listBarView();
    bar->applyPendingChanges();

    // The control is named; its parts follow as on the screen.
    QAccessibleInterface* control = QAccessible::queryAccessibleInterface(w_);
    QCOMPARE(control->text(QAccessible::Name), QStringLiteral("Task list"));
    QCOMPARE(control->childCount(), 3);
    QCOMPARE(control->child(0)->role(), QAccessible::StaticText);
    QCOMPARE(control->child(1)->role(), QAccessible::PageTabList);
    QCOMPARE(control->child(2)->role(), QAccessible::Tree);

    // The open group's items come right after its header, whichever is open.
    QStringList read;
    ReadTabsAndLists(control->child(1), read);
    QCOMPARE(read, QStringList({QStringLiteral("tab Front Office"),
                                QStringLiteral("list Items of Front Office"),
                                QStringLiteral("tab Rooms and Rates")}));
    QAccessible::queryAccessibleInterface(bar->headers()[1])
        ->actionInterface()
        ->doAction(QAccessibleActionInterface::pressAction());
    QCoreApplication::processEvents();
    bar->applyPendingChanges();
    read.clear();
    ReadTabsAndLists(control->child(1), read);
    QCOMPARE(read,
             QStringList({QStringLiteral("tab Front Office"), QStringLiteral("tab Rooms and Rates"),
                          QStringLiteral("list Items of Rooms and Rates")}));

    // The tree's one column header is hidden, and named where it is listed.
    QAccessibleInterface* header = control->child(2)->child(0);
    QCOMPARE(header->role(), QAccessible::ColumnHeader);
    QCOMPARE(header->text(QAccessible::Name), QStringLiteral("Tasks"));
}

void KevraTaskListWidgetTest::accessibleItemActionClicksTheItem() {
    Load();
    kevra::qt::ListBarView* bar = parts_->listBarView();
    bar->applyPendingChanges();
    QListWidget* list = bar->itemList();

    // The item's action (a toggle of its selection) does what a click does.
    Act(ChildNamed(FreshInterface(list), QStringLiteral("Reservations")));
    parts_->treeView()->applyPendingChanges();
    QCOMPARE(parts_->control().GetMembers().mstrSelectedListItem, std::string("X2"));
    QVERIFY(Row(QStringLiteral("New Booking")).isValid());
    QCOMPARE(list->currentItem()->text(), QStringLiteral("Reservations"));
    QVERIFY(list->currentItem()->isSelected());

    // A disabled list cannot be acted on.
    w_->setEnabled(false);
    Act(ChildNamed(FreshInterface(list), QStringLiteral("Guests")));
    QCOMPARE(parts_->control().GetMembers().mstrSelectedListItem, std::string("X2"));
    QCOMPARE(list->selectedItems().size(), 1);
    QCOMPARE(list->selectedItems().front()->text(), QStringLiteral("Reservations"));
    w_->setEnabled(true);

    // Choosing through the list's selection interface is a click too.
    QAccessibleInterface* items = FreshInterface(list);
    QVERIFY(items->tableInterface());
    QVERIFY(items->tableInterface()->selectRow(1));
    QCoreApplication::processEvents();
    QCOMPARE(parts_->control().GetMembers().mstrSelectedListItem, std::string("X7"));
    QCOMPARE(list->currentItem()->text(), QStringLiteral("Guests"));
    QVERIFY(boxes_.empty());
}

void KevraTaskListWidgetTest::accessibleNodeActionSelectsTheNodeTheControlStarts() {
    Load();
    ClickItem(QStringLiteral("Reservations"));
    ClickRow(QStringLiteral("New Booking"));
    kevra::qt::TaskTreeView* view = parts_->treeView();
    view->expand(Row(QStringLiteral("Reports")));
    QSignalSpy spy(w_, &KevraTaskListWidget::taskStartRequested);

    // The node a screen reader selects (the fifth row shown: Front Office,
    // Reservations, New Booking, Reports, Occupancy) is selected in the
    // tree the control reads: Enter then starts that task, not the one
    // selected before.
    QAccessibleInterface* rows = FreshInterface(view);
    QVERIFY(rows->tableInterface());
    QVERIFY(rows->tableInterface()->selectRow(4));
    QCoreApplication::processEvents();
    const kevra::Tree& tree = parts_->control().sstreeTaskList();
    QCOMPARE(tree.Selected()->Key(), std::string("X5"));
    QCOMPARE(view->currentIndex(), Row(QStringLiteral("Occupancy")));
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Return);
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy[0][0].toInt(), 5);

    // A disabled tree cannot be acted on.
    w_->setEnabled(false);
    QVERIFY(FreshInterface(view)->tableInterface()->selectRow(2));
    QCoreApplication::processEvents();
    QCOMPARE(tree.Selected()->Key(), std::string("X5"));
    QVERIFY(!view->selectionModel()->isSelected(Row(QStringLiteral("New Booking"))));
    w_->setEnabled(true);
}

void KevraTaskListWidgetTest::coloursFollowTheDesktopPalette() {
    // Plain colours keep red in the low byte; system colours are palette
    // roles, unknown ones the window colour.
    const QPalette palette = QApplication::palette();
    QCOMPARE(kevra::qt::colourFor(0x000000FFu, palette), QColor(255, 0, 0));
    QCOMPARE(kevra::qt::colourFor(0x00FF8000u, palette), QColor(0, 128, 255));
    QCOMPARE(kevra::qt::colourFor(0x80000002u, palette),
             palette.color(QPalette::Active, QPalette::Highlight));
    QCOMPARE(kevra::qt::colourFor(0x80000009u, palette),
             palette.color(QPalette::Active, QPalette::HighlightedText));
    QCOMPARE(kevra::qt::colourFor(0x800000FFu, palette),
             palette.color(QPalette::Active, QPalette::Window));

    // The loaded list bar asks for the active title bar and its text; a new
    // desktop palette repaints it.
    Load();
    QListWidget* items = parts_->listBarView()->itemList();
    QCOMPARE(items->palette().color(QPalette::Base), palette.color(QPalette::Highlight));
    QCOMPARE(items->palette().color(QPalette::Text), palette.color(QPalette::HighlightedText));
    QPalette dark = palette;
    dark.setColor(QPalette::Highlight, QColor(20, 30, 40));
    QApplication::setPalette(dark);
    QCoreApplication::processEvents();
    QCOMPARE(items->palette().color(QPalette::Base), QColor(20, 30, 40));
    QApplication::setPalette(palette);
}

void KevraTaskListWidgetTest::treeModelSurvivesChangesBeforeTheViewCatchesUp() {
    // The view reads the tree between a change and its reset (a paint, a
    // key): indexes of nodes that are gone must read as nothing.
    kevra::Tree tree;
    kevra::qt::TaskTreeView view(tree);
    QAbstractItemModelTester tester(view.model(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    tree.Nodes().Add("A", "Alpha");
    for (int i = 0; i < 50; ++i)
        tree.Nodes().Add("A", kevra::NodeCollection::kChild, "A" + std::to_string(i), "child");
    view.resize(200, 300);
    view.applyPendingChanges();
    const QModelIndex stale = view.model()->index(49, 0, view.model()->index(0, 0));
    QVERIFY(stale.isValid());

    tree.Clear();
    tree.Nodes().Add("B", "Beta");
    QVERIFY(view.taskModel()->hasPendingChanges());
    QCOMPARE(stale.data().toString(), QString());
    QCOMPARE(view.model()->parent(stale), QModelIndex());
    QPixmap pixmap(view.size());
    view.render(&pixmap);  // paints from the stale layout without harm

    view.applyPendingChanges();
    QCOMPARE(view.model()->rowCount(), 1);
    QCOMPARE(view.model()->index(0, 0).data().toString(), QStringLiteral("Beta"));

    // Selecting in the model expands the way to the node.
    tree.Nodes().Add("B", kevra::NodeCollection::kChild, "C", "Gamma");
    tree.Nodes().Add("C", kevra::NodeCollection::kChild, "D", "Delta");
    view.applyPendingChanges();
    tree.UserSelect("D");
    view.applyPendingChanges();
    QCOMPARE(view.currentIndex().data().toString(), QStringLiteral("Delta"));
    QVERIFY(view.isExpanded(view.currentIndex().parent()));
    QCOMPARE(kevra::qt::layOutTreeView(tree, QSize(200, 100)), 0);
}

namespace {

// Checks the view's model against the tree node by node: every node is
// reachable from its parent's row, leads back to its parent, has as many
// rows as children, is marked as never having children exactly when it has
// none, and is shown expanded exactly when it is expanded with children.
void CheckModelAgainstTree(kevra::qt::TaskTreeView& view, const kevra::Tree& tree) {
    const kevra::qt::TaskTreeModel* model = view.taskModel();
    const kevra::NodeCollection& nodes = tree.Nodes();
    QCOMPARE(model->rowCount(), static_cast<int>(nodes.Roots().size()));
    for (int32_t i = 1; i <= nodes.Count(); ++i) {
        const kevra::Node* node = nodes.At(i);
        const QModelIndex index = model->indexFromNode(node);
        QVERIFY2(index.isValid(), node->Key().c_str());
        QCOMPARE(model->nodeFromIndex(index), node);
        const QModelIndex parent = model->indexFromNode(node->Parent());
        QCOMPARE(model->parent(index), parent);
        QCOMPARE(model->index(index.row(), 0, parent), index);
        QCOMPARE(model->rowCount(index), static_cast<int>(node->Children().size()));
        QCOMPARE(model->hasChildren(index), !node->Children().empty());
        QCOMPARE(model->flags(index).testFlag(Qt::ItemNeverHasChildren), node->Children().empty());
        QCOMPARE(view.isExpanded(index), node->Expanded() && !node->Children().empty());
        QCOMPARE(index.data().toString(), QString::fromStdString(node->Text()));
    }
    QVERIFY(!model->index(model->rowCount(), 0).isValid());
}

}  // namespace

void KevraTaskListWidgetTest::treeModelAnswersForEveryNodeAsTheTreeStands() {
    // Roots and children added out of position order: children of one node
    // are not neighbours in Nodes().
    kevra::Tree tree;
    kevra::qt::TaskTreeView view(tree);
    QAbstractItemModelTester tester(view.model(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    auto& nodes = tree.Nodes();
    for (const char* root : {"R1", "R2", "R3"}) nodes.Add(root, root);
    for (int round = 0; round < 3; ++round) {
        for (const char* root : {"R1", "R3"}) {
            const std::string key = std::string(root) + "-" + std::to_string(round);
            nodes.Add(root, kevra::NodeCollection::kChild, key, key);
            for (int leaf = 0; leaf < round; ++leaf)
                nodes.Add(key, kevra::NodeCollection::kChild, key + "." + std::to_string(leaf),
                          "leaf");
        }
    }
    nodes.Add("R1-2", kevra::NodeCollection::kLast, "R1-3", "last sibling");
    tree.UserSetExpanded(nodes.Find("R1"), true);
    tree.UserSetExpanded(nodes.Find("R1-2"), true);
    tree.UserSetExpanded(nodes.Find("R2"), true);  // no children: shown as a leaf
    view.resize(200, 300);
    view.applyPendingChanges();
    CheckModelAgainstTree(view, tree);

    // A former leaf gains children, a collapsed node opens, an open one
    // closes: after the view catches up, every answer follows.
    nodes.Add("R2", kevra::NodeCollection::kChild, "R2-0", "new child");
    tree.UserSetExpanded(nodes.Find("R3"), true);
    tree.UserSetExpanded(nodes.Find("R1-2"), false);
    view.applyPendingChanges();
    CheckModelAgainstTree(view, tree);
    QVERIFY(view.isExpanded(view.taskModel()->indexFromNode(nodes.Find("R2"))));

    // Expanding without a structural change keeps the model as it was.
    tree.UserSetExpanded(nodes.Find("R1-2"), true);
    view.applyPendingChanges();
    CheckModelAgainstTree(view, tree);

    // Every node with children expanded when the model resets: the view
    // expands them all in one go, and must show the same.
    for (int32_t i = 1; i <= nodes.Count(); ++i) tree.UserSetExpanded(nodes.At(i), true);
    nodes.Add("R3-2", kevra::NodeCollection::kChild, "R3-2.new", "new leaf");
    view.applyPendingChanges();
    CheckModelAgainstTree(view, tree);
    // And one collapsed among them is shown collapsed after the next reset.
    tree.UserSetExpanded(nodes.Find("R3-2"), false);
    nodes.Add("R2", kevra::NodeCollection::kChild, "R2-1", "another child");
    view.applyPendingChanges();
    CheckModelAgainstTree(view, tree);
    QVERIFY(!view.isExpanded(view.taskModel()->indexFromNode(nodes.Find("R3-2"))));

    // A new font (the desktop's, the host's), which the nodes take their
    // family from, lays the rows out again and keeps what is expanded and
    // selected.
    tree.UserSelect("R1-2");
    view.applyPendingChanges();
    QFont font = view.font();
    font.setFamily(QStringLiteral("Kevra Test Sans"));
    view.setFont(font);
    CheckModelAgainstTree(view, tree);
    QCOMPARE(view.currentIndex().data().toString(), QStringLiteral("R1-2"));
    QCOMPARE(view.currentIndex().data(Qt::FontRole).value<QFont>().family(), font.family());
}

QTEST_MAIN(KevraTaskListWidgetTest)
#include "kevra_task_list_widget_test.moc"
