// kevra-host: the headless host application. Creates one task list control
// in the headless container, drives it with a script of host calls and user
// actions, and prints every observable effect as one line (docs/host.md).
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "control/dispatch.h"
#include "headless/host.h"
#include "service/task_service.h"
#include "settings/ini_settings_store.h"

namespace {

const char* kUsage =
    "usage: kevra-host [SCRIPT | -]   run a script (default: standard input)\n"
    "       kevra-host --typeinfo     print the published type information as JSON\n"
    "       kevra-host --help         this text\n"
    "\n"
    "Creates one task list control in the headless container, runs the script's\n"
    "commands against it and prints every effect as one line. Commands:\n"
    "  set NAME VALUE            MachineName, UserNumber, Brand, FacilityId, AppId\n"
    "  invoke DISPID [VALUE]     call the dispatch interface by id\n"
    "  load | select             call LoadData | SelectTask\n"
    "  paint | terminate         container notifications\n"
    "  resize WIDTH HEIGHT       outer size in twips, then a resize notification\n"
    "  border HORIZONTAL VERTICAL  border allowances in twips (from the next resize)\n"
    "  open-group KEY | click-item KEY | select-node KEY | dblclick   user actions\n"
    "  fault OPERATION N NUMBER DESCRIPTION   fail the N-th call of OPERATION\n"
    "  dump                      print the state as one line of JSON\n"
    "  echo WORD...              print the words\n"
    "Words with blanks are JSON string literals. Exit status: 0 when the script\n"
    "ran to its end, 2 when it cannot be parsed, 1 when the host itself fails.\n"
    "Settings: $XDG_CONFIG_HOME/kevra/KevraTaskList.ini. See docs/host.md.\n";

}  // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(true);
    if (argc > 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::string arg = argc == 2 ? argv[1] : "-";
    if (arg == "--help" || arg == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (arg == "--typeinfo") {
        std::printf("%s\n", kevra::dispatch::TypeInfoJson().c_str());
        return 0;
    }
    if (arg.size() > 1 && arg[0] == '-') {
        std::fprintf(stderr, "kevra-host: unknown option '%s'\n%s", arg.c_str(), kUsage);
        return 2;
    }

    std::string text;
    if (arg == "-") {
        std::ostringstream buf;
        buf << std::cin.rdbuf();
        text = buf.str();
    } else {
        std::ifstream in(arg, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "kevra-host: cannot read the script '%s': %s\n", arg.c_str(),
                         std::strerror(errno));
            return 1;
        }
        std::ostringstream buf;
        buf << in.rdbuf();
        text = buf.str();
    }

    std::vector<kevra::host::Command> commands;
    kevra::host::ParseError error;
    if (!kevra::host::ParseScript(text, commands, error)) {
        std::fprintf(stderr, "kevra-host: line %d: %s\n", error.line, error.message.c_str());
        return 2;
    }

    try {
        kevra::service::RegisterTaskService();
        kevra::IniSettingsStore settings(kevra::IniSettingsStore::DefaultDirectory());
        kevra::host::HeadlessHost host(
            [](const std::string& line) {
                std::fwrite(line.data(), 1, line.size(), stdout);
                std::fputc('\n', stdout);
                std::fflush(stdout);
            },
            settings);
        host.RunAll(commands);
        host.Finish();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kevra-host: %s\n", e.what());
        return 1;
    }
    return 0;
}
