// Loads a catalogue into the installed Qt front-end's widget.
#include <QApplication>
#include <iostream>

#include "kevra/control/ctlKevraTaskList.h"
#include "kevra/qt/kevra_task_list_widget.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    QApplication app(argc, argv);
    kevra::qt::KevraTaskListWidget widget;
    widget.setMachineName(QString::fromLocal8Bit(argv[1]));
    widget.loadData();
    const bool loaded = widget.control().GetMembers().mblnDataLoaded == kevra::kTrue;
    std::cout << (loaded ? "loaded" : "not loaded") << "\n";
    return loaded ? 0 : 1;
}
