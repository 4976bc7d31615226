// The translations of the Qt front-end and of kevra-demo: the German ones
// load for a German locale, hold a translation for every text the sources
// pass through tr() today (found by running lupdate on the sources, as the
// build's update_translations does), and the widget's texts follow the
// translation that is installed, also when it changes while it is shown.
#include <QAccessible>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>
#include <vector>

#include "platform/settings_store.h"
#include "qt/kevra_task_list_widget.h"
#include "qt/kevra_task_list_widget_p.h"
#include "qt/list_bar_view_p.h"
#include "qt/tree_view_p.h"
#include "service/task_service.h"

namespace {

// One text of a .ts file.
struct Text {
    QString context;
    QString source;
    QString comment;
    bool numerus = false;
    QString state;  // the translation's type: "" when finished
    QString translation;
};

// The texts of a .ts file, or an error.
QString ReadTs(const QString& path, std::vector<Text>& texts) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return path + QStringLiteral(": ") + file.errorString();
    QXmlStreamReader xml(&file);
    QString context;
    Text text;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement()) {
            if (xml.isEndElement() && xml.name() == QLatin1String("message")) texts.push_back(text);
            continue;
        }
        const auto name = xml.name();
        if (name == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (name == QLatin1String("message")) {
            text = Text{};
            text.context = context;
            text.numerus = xml.attributes().value(QLatin1String("numerus")) == QLatin1String("yes");
        } else if (name == QLatin1String("source")) {
            text.source = xml.readElementText();
        } else if (name == QLatin1String("comment")) {
            text.comment = xml.readElementText();
        } else if (name == QLatin1String("translation")) {
            text.state = xml.attributes().value(QLatin1String("type")).toString();
            if (!text.numerus) text.translation = xml.readElementText();
        } else if (name == QLatin1String("numerusform")) {
            text.translation += xml.readElementText();
        }
    }
    return xml.hasError() ? path + QStringLiteral(": ") + xml.errorString() : QString();
}

struct Catalog {
    const char* name;        // kevra_qt: translations/kevra_qt_de.ts
    const char* qm_dir;      // where the build put the .qm file
    const char* source_dir;  // the sources whose texts it translates
};

const Catalog kCatalogs[] = {
    {"kevra_qt", KEVRA_QT_QM_DIR, "src/qt"},
    {"kevra_demo", KEVRA_DEMO_QM_DIR, "apps/kevra-demo"},
};

class NoSettings : public kevra::SettingsStore {
  public:
    std::string GetSetting(const std::string&, const std::string&, const std::string&,
                           const std::string& default_value) override {
        return default_value;
    }
    void SaveSetting(const std::string&, const std::string&, const std::string&,
                     const std::string&) override {}
};

QString AccessibleName(QObject* object) {
    return QAccessible::queryAccessibleInterface(object)->text(QAccessible::Name);
}

}  // namespace

class TranslationTest : public QObject {
    Q_OBJECT

  private slots:
    void germanLoadsForAGermanLocale_data();
    void germanLoadsForAGermanLocale();
    void everyTextOfTheSourcesIsTranslated_data();
    void everyTextOfTheSourcesIsTranslated();
    void widgetTextsFollowTheInstalledTranslation();
};

void TranslationTest::germanLoadsForAGermanLocale_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("directory");
    QTest::addColumn<QString>("locale");
    for (const Catalog& c : kCatalogs)
        for (const char* locale : {"de_DE", "de_AT", "de"})
            QTest::addRow("%s %s", c.name, locale)
                << QString::fromLatin1(c.name) << QString::fromUtf8(c.qm_dir)
                << QString::fromLatin1(locale);
}

void TranslationTest::germanLoadsForAGermanLocale() {
    QFETCH(QString, name);
    QFETCH(QString, directory);
    QFETCH(QString, locale);
    QTranslator translator;
    QVERIFY2(
        translator.load(QLocale(locale), name, QStringLiteral("_"), directory),
        qPrintable(QStringLiteral("no %1 translation for %2 in %3").arg(name, locale, directory)));
    QCOMPARE(translator.language(), QStringLiteral("de_DE"));
    // An English user keeps the texts of the sources.
    QTranslator english;
    QVERIFY(!english.load(QLocale(QStringLiteral("en_GB")), name, QStringLiteral("_"), directory));
}

void TranslationTest::everyTextOfTheSourcesIsTranslated_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("qmDirectory");
    QTest::addColumn<QString>("sourceDirectory");
    for (const Catalog& c : kCatalogs)
        QTest::newRow(c.name) << QString::fromLatin1(c.name) << QString::fromUtf8(c.qm_dir)
                              << QString::fromLatin1(c.source_dir);
}

void TranslationTest::everyTextOfTheSourcesIsTranslated() {
    QFETCH(QString, name);
    QFETCH(QString, qmDirectory);
    QFETCH(QString, sourceDirectory);
    const QDir root(QStringLiteral(KEVRA_SOURCE_DIR));

    // The texts of the sources as they stand, as lupdate finds them.
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QString found = scratch.filePath(name + QStringLiteral("_de.ts"));
    QStringList arguments{QStringLiteral("-I"), root.filePath(QStringLiteral("src")),
                          QStringLiteral("-locations"), QStringLiteral("none")};
    const QDir sources(root.filePath(sourceDirectory));
    for (const QString& file : sources.entryList({QStringLiteral("*.cpp"), QStringLiteral("*.h")},
                                                 QDir::Files, QDir::Name))
        arguments << sources.filePath(file);
    arguments << QStringLiteral("-ts") << found;
    QProcess lupdate;
    lupdate.start(QStringLiteral(KEVRA_LUPDATE), arguments);
    QVERIFY2(lupdate.waitForFinished(60000), qPrintable(lupdate.errorString()));
    QVERIFY2(lupdate.exitStatus() == QProcess::NormalExit && lupdate.exitCode() == 0,
             lupdate.readAllStandardError().constData());
    std::vector<Text> texts;
    QString error = ReadTs(found, texts);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(!texts.empty());

    QTranslator translator;
    QVERIFY(
        translator.load(QLocale(QStringLiteral("de_DE")), name, QStringLiteral("_"), qmDirectory));
    QStringList missing;
    for (const Text& text : texts) {
        const QByteArray context = text.context.toUtf8(), source = text.source.toUtf8(),
                         comment = text.comment.toUtf8();
        const std::vector<int> counts =
            text.numerus ? std::vector<int>{1, 2} : std::vector<int>{-1};
        for (int n : counts)
            if (translator
                    .translate(context, source, comment.isEmpty() ? nullptr : comment.data(), n)
                    .isEmpty())
                missing << text.context + QStringLiteral(": ") + text.source;
    }
    QVERIFY2(missing.isEmpty(), qPrintable(QStringLiteral("not translated (run the target "
                                                          "update_translations, then translate "
                                                          "translations/%1_de.ts): ")
                                               .arg(name) +
                                           missing.join(QStringLiteral("; "))));

    // The shipped file holds finished translations only, of texts that
    // still exist.
    std::vector<Text> shipped;
    error = ReadTs(root.filePath(QStringLiteral("translations/%1_de.ts").arg(name)), shipped);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QStringList unfinished;
    for (const Text& text : shipped)
        if (!text.state.isEmpty() || text.translation.isEmpty())
            unfinished << text.context + QStringLiteral(": ") + text.source + QStringLiteral(" (") +
                              (text.state.isEmpty() ? QStringLiteral("empty") : text.state) +
                              QStringLiteral(")");
    QVERIFY2(unfinished.isEmpty(), qPrintable(unfinished.join(QStringLiteral("; "))));
    QCOMPARE(shipped.size(), texts.size());
}

void TranslationTest::widgetTextsFollowTheInstalledTranslation() {
    NoSettings settings;
    kevra::ComponentRegistry registry;
    kevra::service::RegisterTaskService(registry);
    QTranslator german;
    QVERIFY(german.load(QLocale(QStringLiteral("de_DE")), QStringLiteral("kevra_qt"),
                        QStringLiteral("_"), QStringLiteral(KEVRA_QT_QM_DIR)));
    QVERIFY(QCoreApplication::installTranslator(&german));

    QWidget window;
    auto* widget = new kevra::qt::KevraTaskListWidget(settings, registry, &window);
    auto* parts = kevra::qt::KevraTaskListWidgetPrivate::get(widget);
    widget->setMachineName(QStringLiteral(KEVRA_QT_TEST_CATALOGUE));
    widget->loadData();
    kevra::qt::ListBarView* bar = parts->listBarView();
    bar->applyPendingChanges();
    QCOMPARE(AccessibleName(widget), QStringLiteral("Aufgabenliste"));
    QCOMPARE(AccessibleName(bar), QStringLiteral("Aufgabengruppen"));
    QCOMPARE(AccessibleName(bar->itemList()), QStringLiteral("Einträge von Front Office"));
    QCOMPARE(AccessibleName(parts->treeView()), QStringLiteral("Aufgaben"));
    QCOMPARE(
        QAccessible::queryAccessibleInterface(bar->headers()[1])->text(QAccessible::Description),
        QStringLiteral("Aufgabengruppe; zum Öffnen drücken"));
    QCOMPARE(parts->treeView()->model()->headerData(0, Qt::Horizontal).toString(),
             QStringLiteral("Aufgaben"));
    // The control's own texts stay as the control writes them.
    QCOMPARE(parts->statusLabel()->text(), QStringLiteral("Loading task list . . . Please wait"));

    // Taken away, the texts are English again, without a new load.
    QCoreApplication::removeTranslator(&german);
    QCoreApplication::processEvents();
    QCOMPARE(AccessibleName(widget), QStringLiteral("Task list"));
    QCOMPARE(AccessibleName(bar), QStringLiteral("Task groups"));
    QCOMPARE(AccessibleName(bar->itemList()), QStringLiteral("Items of Front Office"));
    QCOMPARE(AccessibleName(parts->treeView()), QStringLiteral("Tasks"));
}

QTEST_MAIN(TranslationTest)
#include "translation_test.moc"
