// The Designer plugin: the widget box entry and the widget factory.
#include "designer/kevra_designer_plugin.h"

#include <QIcon>
#include <QPixmap>

#include "abi/toolbox_bitmap.h"
#include "qt/kevra_task_list_widget.h"

namespace kevra::designer {

namespace {
// The class name as uic writes it into generated code.
constexpr const char* kClassName = "kevra::qt::KevraTaskListWidget";
}  // namespace

KevraTaskListDesignerPlugin::KevraTaskListDesignerPlugin(QObject* parent) : QObject(parent) {}

QString KevraTaskListDesignerPlugin::name() const { return QString::fromLatin1(kClassName); }

QString KevraTaskListDesignerPlugin::group() const { return QStringLiteral("KEVRA"); }

QString KevraTaskListDesignerPlugin::toolTip() const {
    return QStringLiteral("KEVRA Task List Control");
}

QString KevraTaskListDesignerPlugin::whatsThis() const {
    return QStringLiteral(
        "The task catalogue in a list bar and a tree. Set machineName, userNumber, brand, "
        "facilityId and appId here or at run time, call loadData(), and connect to "
        "taskStartRequested(), which hands over the task the user double-clicked.");
}

QString KevraTaskListDesignerPlugin::includeFile() const {
    return QStringLiteral("kevra/qt/kevra_task_list_widget.h");
}

QIcon KevraTaskListDesignerPlugin::icon() const {
    const auto bmp = abi::ToolboxBitmap();
    QPixmap pixmap;
    pixmap.loadFromData(bmp.data(), static_cast<uint>(bmp.size()), "BMP");
    return QIcon(pixmap);
}

QWidget* KevraTaskListDesignerPlugin::createWidget(QWidget* parent) {
    return new qt::KevraTaskListWidget(parent);
}

void KevraTaskListDesignerPlugin::initialize(QDesignerFormEditorInterface*) { initialized_ = true; }

QString KevraTaskListDesignerPlugin::domXml() const {
    return QStringLiteral(
               "<ui language=\"c++\">\n"
               " <widget class=\"%1\" name=\"taskList\"/>\n"
               " <customwidgets>\n"
               "  <customwidget>\n"
               "   <class>%1</class>\n"
               "   <header>kevra/qt/kevra_task_list_widget.h</header>\n"
               "  </customwidget>\n"
               " </customwidgets>\n"
               "</ui>\n")
        .arg(QString::fromLatin1(kClassName));
}

}  // namespace kevra::designer
