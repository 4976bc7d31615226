// Drives the installed C++ core on the headless host with a kevra-host
// script and checks that the launch raised StartTask.
#include <iostream>
#include <string>
#include <vector>

#include "kevra/control/dispatch.h"
#include "kevra/headless/host.h"
#include "kevra/headless/script.h"
#include "kevra/service/task_service.h"
#include "kevra/settings/ini_settings_store.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    kevra::service::RegisterTaskService();
    kevra::IniSettingsStore settings;
    std::vector<std::string> lines;
    kevra::host::HeadlessHost host([&](const std::string& line) { lines.push_back(line); },
                                   settings);
    std::vector<kevra::host::Command> commands;
    kevra::host::ParseError error;
    const std::string script = "set MachineName \"" + std::string(argv[1]) +
                               "\"\nload\nopen-group X1\nclick-item X2\nselect-node X3\ndblclick\n";
    if (!kevra::host::ParseScript(script, commands, error)) {
        std::cerr << "cpp_user: line " << error.line << ": " << error.message << "\n";
        return 1;
    }
    host.RunAll(commands);
    host.Finish();
    for (const auto& line : lines)
        if (line.rfind("event StartTask 3 ", 0) == 0) {
            std::cout << line << "\n";
            return kevra::dispatch::TypeInfoJson().find("ctlKevraTaskList") != std::string::npos
                       ? 0
                       : 1;
        }
    for (const auto& line : lines) std::cerr << line << "\n";
    return 1;
}
