// Loads the Designer plugin with Qt's plugin loader, as Designer does, and
// checks what the widget box shows (name, group, icon), that the plugin
// makes the widget, and that the property editor offers the five context
// properties, which the code uic generates then sets.
#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QMetaProperty>
#include <QPluginLoader>
#include <QVariant>
#include <QWidget>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>
#include <cstdlib>
#include <memory>
#include <utility>

namespace {

class DesignerPluginTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        // The widget keeps its saved selection under XDG_CONFIG_HOME.
        if (const char* tmp = std::getenv("KEVRA_TEST_TMP"))
            qputenv("XDG_CONFIG_HOME", QByteArray(tmp) + "/config");
        static int argc = 1;
        static char name[] = "kevra_designer_tests";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    static void TearDownTestSuite() { app_.reset(); }

    void SetUp() override {
        loader_.setFileName(QStringLiteral(KEVRA_DESIGNER_PLUGIN));
        QObject* instance = loader_.instance();
        ASSERT_NE(instance, nullptr) << loader_.errorString().toStdString();
        plugin_ = qobject_cast<QDesignerCustomWidgetInterface*>(instance);
        ASSERT_NE(plugin_, nullptr) << "the plugin does not offer a custom widget";
    }

    static std::unique_ptr<QApplication> app_;
    QPluginLoader loader_;
    QDesignerCustomWidgetInterface* plugin_ = nullptr;
};
std::unique_ptr<QApplication> DesignerPluginTest::app_;

TEST_F(DesignerPluginTest, TheWidgetBoxEntryNamesTheWidgetAndItsHeader) {
    EXPECT_EQ(loader_.metaData().value("IID").toString().toStdString(),
              "org.qt-project.Qt.QDesignerCustomWidgetInterface");
    EXPECT_EQ(plugin_->name().toStdString(), "kevra::qt::KevraTaskListWidget");
    EXPECT_EQ(plugin_->group().toStdString(), "KEVRA");
    // uic writes the header into the form's code as #include "...": it must
    // resolve from include/, the one folder hosts put on their path.
    EXPECT_EQ(plugin_->includeFile().toStdString(), "kevra/qt/kevra_task_list_widget.h");
    EXPECT_TRUE(plugin_->domXml().contains("<header>kevra/qt/kevra_task_list_widget.h</header>"));
    EXPECT_TRUE(QFile::exists(QStringLiteral(KEVRA_INCLUDE_ROOT "/") + plugin_->includeFile()));
    EXPECT_FALSE(plugin_->isContainer());
    EXPECT_TRUE(plugin_->domXml().contains("class=\"kevra::qt::KevraTaskListWidget\""));
    EXPECT_FALSE(plugin_->toolTip().isEmpty());
}

TEST_F(DesignerPluginTest, TheIconIsTheToolboxImageTheRightWayUp) {
    const QIcon icon = plugin_->icon();
    ASSERT_FALSE(icon.isNull());
    ASSERT_EQ(icon.availableSizes().size(), 1);
    EXPECT_EQ(icon.availableSizes().front(), QSize(16, 15));

    // Rows of a BMP are stored bottom-up: a flipped image would put the
    // list bar's navy title near the bottom.
    const QImage image = icon.pixmap(QSize(16, 15)).toImage();
    ASSERT_EQ(image.size(), QSize(16, 15));
    EXPECT_EQ(QColor(image.pixel(2, 2)), QColor(0x00, 0x00, 0x80))
        << "navy title of the open group";
    EXPECT_EQ(QColor(image.pixel(11, 4)), QColor(0xFF, 0x00, 0x00)) << "a task's icon in the tree";
    EXPECT_EQ(QColor(image.pixel(6, 7)), QColor(0xC0, 0xC0, 0xC0)) << "the gap between the two";
    EXPECT_EQ(QColor(image.pixel(0, 14)), QColor(Qt::black));
}

TEST_F(DesignerPluginTest, ThePluginCreatesTheWidget) {
    plugin_->initialize(nullptr);
    EXPECT_TRUE(plugin_->isInitialized());
    QWidget parent;
    QWidget* widget = plugin_->createWidget(&parent);
    ASSERT_NE(widget, nullptr);
    EXPECT_STREQ(widget->metaObject()->className(), "kevra::qt::KevraTaskListWidget");
    EXPECT_EQ(widget->parentWidget(), &parent);
}

TEST_F(DesignerPluginTest, ThePropertyEditorOffersTheFiveContextProperties) {
    QWidget parent;
    QWidget* widget = plugin_->createWidget(&parent);
    ASSERT_NE(widget, nullptr);
    // What Designer lists: readable, writable, designable properties of the
    // widget's class; what a form then stores it sets back by name.
    const std::pair<const char*, QVariant> context[] = {
        {"machineName", QStringLiteral("catalogue.json")},
        {"userNumber", 1001},
        {"brand", QStringLiteral("Meridane Grand")},
        {"facilityId", QStringLiteral("LON01")},
        {"appId", 1}};
    const QMetaObject* meta = widget->metaObject();
    for (const auto& [name, value] : context) {
        const int index = meta->indexOfProperty(name);
        ASSERT_GE(index, meta->propertyOffset()) << name << " is not a property of the widget";
        const QMetaProperty property = meta->property(index);
        EXPECT_TRUE(property.isReadable() && property.isWritable()) << name;
        EXPECT_TRUE(property.isDesignable()) << name;
        EXPECT_TRUE(property.hasNotifySignal()) << name;
        EXPECT_EQ(property.metaType(), value.metaType()) << name;
        EXPECT_TRUE(widget->setProperty(name, value)) << name;
        EXPECT_EQ(widget->property(name), value) << name;
    }
}

}  // namespace
