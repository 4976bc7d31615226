// kevra-host: the headless host application. Creates one task list control
// in the headless container, drives it with a script of host calls and user
// actions, and prints every observable effect as one line (docs/host.md).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "control/dispatch.h"
#include "headless/host.h"
#include "search/file_history_store.h"
#include "service/task_service.h"
#include "settings/ini_settings_store.h"

namespace {

#ifndef KEVRA_VERSION
#error "KEVRA_VERSION must be defined by the build (the project's version)"
#endif

const char* kUsage =
    "usage: kevra-host [SCRIPT | -]   run a script (default: standard input)\n"
    "       kevra-host --typeinfo     print the published type information as JSON\n"
    "       kevra-host --help         this text\n"
    "       kevra-host --version      the version\n"
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
    "ran to its end, 2 when it cannot be parsed or the command line is wrong,\n"
    "1 when the host itself fails.\n"
    "Settings: $XDG_CONFIG_HOME/kevra/KevraTaskList.ini. See docs/host.md.\n";

// Standard output as written: everything the host printed has reached the
// file, the pipe or the terminal, or the run failed. A full disk or a closed
// descriptor shows only at the flush, and a caller that sees status 0 takes
// the output as complete.
bool OutputWritten() {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
    std::fprintf(stderr, "kevra-host: cannot write to standard output: %s\n", std::strerror(errno));
    return false;
}

const char* FileKind(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISFIFO(mode)) return "a named pipe";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

// Opens the script named on the command line. Only a regular file is read: a
// directory reads as nothing, a device or a named pipe may never end (or
// never start). A pipe or a terminal is still welcome on standard input.
std::FILE* OpenScript(const std::string& path) {
    // Non-blocking, so that opening a named pipe without a writer does not
    // hang before the check below can refuse it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "kevra-host: cannot read the script '%s': %s\n", path.c_str(),
                     std::strerror(errno));
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        std::fprintf(stderr, "kevra-host: cannot read the script '%s': %s\n", path.c_str(),
                     std::strerror(errno));
        ::close(fd);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        std::fprintf(stderr,
                     "kevra-host: the script '%s' is %s; give a script file, or '-' to read the "
                     "script from standard input\n",
                     path.c_str(), FileKind(st.st_mode));
        ::close(fd);
        return nullptr;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    std::FILE* in = ::fdopen(fd, "rb");
    if (!in) {
        std::fprintf(stderr, "kevra-host: cannot read the script '%s': %s\n", path.c_str(),
                     std::strerror(errno));
        ::close(fd);
    }
    return in;
}

// Reads and parses the whole script before anything runs. Returns 0, or the
// exit status to end with after the message has been printed.
int ReadWholeScript(const std::string& arg, std::vector<kevra::host::Command>& commands) {
    const bool standard_input = arg == "-";
    std::FILE* in = standard_input ? stdin : OpenScript(arg);
    if (!in) return 1;
    kevra::host::ParseError error;
    const kevra::host::ReadResult result = kevra::host::ReadScript(in, commands, error);
    if (!standard_input) std::fclose(in);
    switch (result) {
        case kevra::host::ReadResult::ok:
            return 0;
        case kevra::host::ReadResult::parse_error:
            std::fprintf(stderr, "kevra-host: line %d: %s\n", error.line, error.message.c_str());
            return 2;
        case kevra::host::ReadResult::read_error:
            break;
    }
    if (standard_input)
        std::fprintf(stderr, "kevra-host: cannot read the script from standard input: %s\n",
                     error.message.c_str());
    else
        std::fprintf(stderr, "kevra-host: cannot read the script '%s': %s\n", arg.c_str(),
                     error.message.c_str());
    return 1;
}

// Runs the script, every effect printed as one line. Stops at the first line
// that cannot be written: the rest would run unseen, and a caller reading
// the output would take what it got for the whole run.
int RunScript(const std::vector<kevra::host::Command>& commands) {
    kevra::service::RegisterTaskService();
    kevra::IniSettingsStore settings(kevra::IniSettingsStore::DefaultDirectory());
    // Favourites and history outlive the run, under $XDG_STATE_HOME/kevra.
    kevra::search::FileHistoryStore history;
    int write_error = 0;
    kevra::host::HeadlessHost host(
        [&write_error](const std::string& line) {
            if (write_error != 0) return;
            if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size() ||
                std::fputc('\n', stdout) == EOF || std::fflush(stdout) != 0)
                write_error = errno != 0 ? errno : EIO;
        },
        settings, &history);
    int stopped_at = 0;
    for (const auto& command : commands) {
        host.Run(command);
        if (write_error != 0) {
            stopped_at = command.line;
            break;
        }
    }
    // The control ends as it does after every run, even one cut short.
    host.Finish();
    if (write_error == 0) return OutputWritten() ? 0 : 1;
    if (stopped_at > 0)
        std::fprintf(stderr,
                     "kevra-host: cannot write to standard output: %s (the script was stopped "
                     "at line %d)\n",
                     std::strerror(write_error), stopped_at);
    else
        std::fprintf(stderr, "kevra-host: cannot write to standard output: %s\n",
                     std::strerror(write_error));
    return 1;
}

// A bad command line: one line naming the problem and where to look, as
// every tool of the project says it, status 2.
int UsageError(const std::string& problem) {
    std::fprintf(stderr, "kevra-host: %s\nTry 'kevra-host --help' for more information.\n",
                 problem.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2)
        return UsageError("too many arguments: give one SCRIPT, or '-' for standard input");
    const std::string arg = argc == 2 ? argv[1] : "-";
    if (arg == "--help" || arg == "-h") {
        std::fputs(kUsage, stdout);
        return OutputWritten() ? 0 : 1;
    }
    if (arg == "--version") {
        std::fputs("kevra-host " KEVRA_VERSION "\n", stdout);
        return OutputWritten() ? 0 : 1;
    }
    // Running out of memory is a failure of the host, not of the script:
    // say so plainly rather than abort.
    const char* doing = "starting";
    try {
        if (arg == "--typeinfo") {
            std::printf("%s\n", kevra::dispatch::TypeInfoJson().c_str());
            return OutputWritten() ? 0 : 1;
        }
        if (arg.size() > 1 && arg[0] == '-')
            return UsageError("unknown option '" + arg +
                              "' (to run a script of that name, give ./" + arg + ")");
        std::vector<kevra::host::Command> commands;
        doing = "reading the script";
        if (const int status = ReadWholeScript(arg, commands); status != 0) return status;
        doing = "running the script";
        return RunScript(commands);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "kevra-host: out of memory while %s\n", doing);
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kevra-host: %s\n", e.what());
        return 1;
    }
}
