// Loads a catalogue into the installed Qt front-end's widget, through its
// public header only: the catalogue is named through the machineName
// property, and a load that fails is reported to the message handler.
#include <QApplication>
#include <QVariant>
#include <iostream>

#include "kevra/qt/kevra_task_list_widget.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    QApplication app(argc, argv);
    kevra::qt::KevraTaskListWidget widget;
    int reports = 0;
    widget.setMessageHandler([&reports](const kevra::qt::KevraTaskListWidget::Message& message) {
        std::cout << message.title.toStdString() << ": " << message.text.toStdString() << "\n";
        ++reports;
        return QMessageBox::Ok;
    });
    widget.setProperty("machineName", QString::fromLocal8Bit(argv[1]));
    widget.loadData();
    // A loaded control shows its list bar in place of the status label.
    const QWidget* list_bar = widget.findChild<QWidget*>(QStringLiteral("sslistTaskList"));
    const bool loaded = reports == 0 && list_bar && !list_bar->isHidden();
    std::cout << (loaded ? "loaded" : "not loaded") << "\n";
    return loaded ? 0 : 1;
}
