// kevra-catalog: the command-line tool for task catalogues.
//
//   kevra-catalog init [--sample] [TARGET]
//   kevra-catalog import FILE.json TARGET [--app ID]
//   kevra-catalog export TARGET FILE.json
//   kevra-catalog check TARGET
//   kevra-catalog [COMMAND] --help | --version
//
// TARGET is written as the control's MachineName ("" or nothing for the
// per-user default catalogue). Results go to standard output; warnings,
// errors and the progress of long jobs to standard error. Exit status: 0
// done, 1 failed or (check) problems found, 2 bad command line, as for
// every tool of the project (man/kevra-catalog.1).
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "platform/decimal_argument.h"
#include "platform/error.h"
#include "platform/variant.h"
#include "sample_catalogue.h"
#include "service/catalogue_location.h"
#include "service/catalogue_schema.h"
#include "service/catalogue_tools.h"

namespace {

using namespace kevra;
using namespace kevra::service;

#ifndef KEVRA_VERSION
#error "KEVRA_VERSION must be defined by the build (the project's version)"
#endif

constexpr const char* kUsage =
    "usage: kevra-catalog init [--sample] [TARGET]\n"
    "       kevra-catalog import FILE.json TARGET [--app ID]\n"
    "       kevra-catalog export TARGET FILE.json\n"
    "       kevra-catalog check TARGET\n"
    "       kevra-catalog [COMMAND] --help | --version\n"
    "\n"
    "TARGET is a catalogue as the control's MachineName names it: FILE.json, FILE.db,\n"
    "sqlite:FILE, postgresql://..., a libpq \"key=value\" string, a PostgreSQL host\n"
    "(database kevra), or \"\" for the per-user default catalogue\n"
    "($XDG_DATA_HOME/kevra/tasks.db). See docs/catalogues.md.\n"
    "\n"
    "  init     create the catalogue, or bring its schema up to date;\n"
    "           --sample fills a new, empty catalogue with the hotel-group sample\n"
    "  import   put the rows of a JSON catalogue into a database, replacing the\n"
    "           tasks of each application the file names (rows without AppId\n"
    "           belong to --app, default 1)\n"
    "  export   write every task of a catalogue to a JSON catalogue file\n"
    "  check    report ids that are missing, zero or repeated, parents that do not\n"
    "           exist, cycles, and shown tasks without a description\n"
    "\n"
    "  --help     this text; 'kevra-catalog COMMAND --help' shows the command's help\n"
    "  --version  the version\n"
    "\n"
    "Progress of long jobs goes to standard error. Exit status: 0 success, 1 failure\n"
    "(check: problems found), 2 a bad command line.\n";

// Each command's own help, for `kevra-catalog COMMAND --help`.
struct CommandHelp {
    const char* name;
    const char* text;
};
constexpr CommandHelp kCommandHelp[] = {
    {"init",
     "usage: kevra-catalog init [--sample] [TARGET]\n"
     "\n"
     "Creates the catalogue TARGET (default: the per-user default catalogue), or\n"
     "brings the schema of an existing database up to date. A SQLite file is\n"
     "created; a PostgreSQL database must exist. A JSON TARGET is written as an\n"
     "empty list, and only where no file stands yet.\n"
     "\n"
     "  --sample   fill the new, empty catalogue with the hotel-group sample; a\n"
     "             catalogue that already holds tasks is refused\n"},
    {"import",
     "usage: kevra-catalog import FILE.json TARGET [--app ID]\n"
     "\n"
     "Puts the rows of the JSON catalogue FILE.json into the database TARGET\n"
     "(created when it is a SQLite file that does not exist). Every task of the\n"
     "applications the file names is replaced, in one transaction; rows that\n"
     "cannot be stored are all listed, and nothing is written.\n"
     "\n"
     "  --app ID   the application of rows without \"AppId\" (0 to 2147483647,\n"
     "             default 1)\n"},
    {"export",
     "usage: kevra-catalog export TARGET FILE.json\n"
     "\n"
     "Writes every task of the catalogue TARGET to the JSON catalogue FILE.json,\n"
     "replacing the file only once it is complete. FILE.json '-' is standard\n"
     "output (the report then goes to standard error).\n"},
    {"check",
     "usage: kevra-catalog check TARGET\n"
     "\n"
     "Lists each problem of the catalogue TARGET (JSON or database) with its row:\n"
     "task ids missing, not whole, zero or repeated; parents missing or naming no\n"
     "task; cycles; shown tasks without a description; links without a URL.\n"
     "Exit status 1 when a problem is found.\n"},
};

const char* HelpOf(const std::string& command) {
    for (const auto& h : kCommandHelp)
        if (command == h.name) return h.text;
    return nullptr;
}

bool IsHelp(const std::string& arg) { return arg == "--help" || arg == "-h"; }

// A bad command line: the message names the problem, the command (if any)
// says whose help to point at.
struct UsageError {
    std::string message;
    std::string command = {};
};

// The target as messages name it: a file by its path (the default
// catalogue's too), a PostgreSQL server by host, port and database, never by
// an address that may hold a password.
std::string Shown(const std::string& target) { return DisplayName(target); }

// The interval of the plain progress lines, from KEVRA_PROGRESS_INTERVAL
// (seconds, decimals allowed; meant for tests, which cannot wait 5 s for a
// line). A value that is no such number is named and ignored: progress is
// an aid, not worth failing the job for.
std::chrono::milliseconds ProgressInterval() {
    constexpr std::chrono::milliseconds kDefault(5000);
    const char* text = std::getenv("KEVRA_PROGRESS_INTERVAL");
    if (!text || !*text) return kDefault;
    double seconds = 0;
    const char* end = text + std::strlen(text);
    auto [ptr, ec] = std::from_chars(text, end, seconds);
    if (ec != std::errc() || ptr != end || !(seconds >= 0) || seconds > 86400) {
        std::cerr << "kevra-catalog: warning: KEVRA_PROGRESS_INTERVAL \"" << text
                  << "\" is not a number of seconds from 0 to 86400; using 5\n";
        return kDefault;
    }
    return std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
}

// Progress on standard error, never on standard output (an export to "-"
// writes the catalogue there). On a terminal one line rewritten in place
// ("\r... 412,000 rows"), shown once the job has run a second, and cleared
// at the end so that the result stands alone; otherwise (a log, a pipe) a
// plain line every interval.
class ProgressLine {
  public:
    ProgressLine()
        : tty_(::isatty(STDERR_FILENO) != 0),
          interval_(ProgressInterval()),
          start_(Clock::now()),
          last_(start_) {}
    ~ProgressLine() { Finish(); }

    void operator()(std::string_view what, size_t done, size_t total) {
        const auto now = Clock::now();
        if (tty_) {
            const auto first = std::min<Clock::duration>(std::chrono::seconds(1), interval_);
            const auto every = std::min<Clock::duration>(std::chrono::milliseconds(250), interval_);
            if (now - start_ < first || (open_ && now - last_ < every)) return;
        } else if (now - last_ < interval_) {
            return;
        }
        last_ = now;
        std::string line = "kevra-catalog: " + std::string(what) + ": " + GroupedDigits(done);
        if (total)
            line += " of " + GroupedDigits(total) + (total == 1 ? " row" : " rows") + " (" +
                    std::to_string(done * 100 / total) + "%)";
        else
            line += done == 1 ? " row" : " rows";
        if (tty_) {
            std::cerr << "\r" << line << "\x1b[K" << std::flush;
            open_ = true;
        } else {
            std::cerr << line << "\n" << std::flush;
        }
    }
    void Finish() {
        if (open_) std::cerr << "\r\x1b[K" << std::flush;
        open_ = false;
    }

  private:
    using Clock = std::chrono::steady_clock;
    const bool tty_;
    const std::chrono::milliseconds interval_;
    bool open_ = false;
    Clock::time_point start_, last_;
};

int32_t ParseApp(const std::string& text) {
    constexpr int64_t kMaxApp = INT32_MAX;
    if (std::optional<int64_t> app = ParseDecimal(text, 0, kMaxApp))
        return static_cast<int32_t>(*app);
    throw UsageError{DecimalArgumentError("--app", text, 0, kMaxApp)};
}

int Init(std::vector<std::string> args) {
    bool sample = false;
    std::vector<std::string> rest;
    for (auto& a : args) {
        if (a == "--sample")
            sample = true;
        else if (a.size() > 1 && a[0] == '-')
            throw UsageError{"unknown option '" + a + "'", "init"};
        else
            rest.push_back(a);
    }
    if (rest.size() > 1)
        throw UsageError{"too many arguments: init takes one TARGET at most", "init"};
    const std::string target = rest.empty() ? "" : rest[0];
    ProgressLine progress;
    std::optional<std::string> sample_text;
    if (sample) sample_text = std::string(kSampleCatalogue);
    InitResult r = InitCatalogue(target, sample_text, std::ref(progress));
    progress.Finish();
    std::cout << (r.created ? "Created the catalogue " : "The catalogue ") << Shown(target);
    if (!r.created) std::cout << " is ready";
    std::cout << " (schema version " << CurrentSchemaVersion() << ")";
    if (sample) std::cout << " with the sample's " << Counted(r.sample_tasks, "task");
    std::cout << "\n";
    return 0;
}

int Import(std::vector<std::string> args) {
    int32_t app = 1;
    std::vector<std::string> rest;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--app") {
            if (i + 1 == args.size()) throw UsageError{"--app needs an application id", "import"};
            app = ParseApp(args[++i]);
        } else if (args[i].rfind("--app=", 0) == 0) {
            app = ParseApp(args[i].substr(6));
        } else if (args[i].size() > 1 && args[i][0] == '-') {
            throw UsageError{"unknown option '" + args[i] + "'", "import"};
        } else {
            rest.push_back(args[i]);
        }
    }
    if (rest.size() != 2)
        throw UsageError{std::string(rest.size() < 2 ? "missing arguments" : "too many arguments") +
                             ": import takes FILE.json and TARGET",
                         "import"};
    ProgressLine progress;
    ImportResult r = ImportJson(rest[0], rest[1], app, std::ref(progress));
    progress.Finish();
    for (const auto& w : r.warnings) std::cerr << "kevra-catalog: warning: " << w << "\n";
    std::cout << "Imported " << Counted(r.tasks, "task") << " from " << rest[0] << " into "
              << Shown(rest[1]) << " (application";
    if (r.applications.size() != 1) std::cout << "s";
    for (size_t i = 0; i < r.applications.size(); ++i)
        std::cout << (i ? ", " : " ") << r.applications[i];
    std::cout << ")\n";
    return 0;
}

// Options of a command that takes none: "-" alone is a name (standard
// output for export).
void NoOptions(const std::vector<std::string>& args, const char* command) {
    for (const auto& a : args)
        if (a.size() > 1 && a[0] == '-') throw UsageError{"unknown option '" + a + "'", command};
}

int Export(const std::vector<std::string>& args) {
    NoOptions(args, "export");
    if (args.size() != 2)
        throw UsageError{std::string(args.size() < 2 ? "missing arguments" : "too many arguments") +
                             ": export takes TARGET and FILE.json",
                         "export"};
    ProgressLine progress;
    size_t n = ExportJson(args[0], args[1], std::ref(progress));
    progress.Finish();
    // With the catalogue on standard output, the report goes beside it.
    const bool to_stdout = args[1] == "-";
    (to_stdout ? std::cerr : std::cout)
        << "Exported " << Counted(n, "task") << " from " << Shown(args[0]) << " to "
        << (to_stdout ? "standard output" : args[1]) << "\n";
    return 0;
}

int Check(const std::vector<std::string>& args) {
    NoOptions(args, "check");
    if (args.size() != 1)
        throw UsageError{std::string(args.empty() ? "missing argument" : "too many arguments") +
                             ": check takes one TARGET",
                         "check"};
    ProgressLine progress;
    // Problems are printed as the check hands them over, not kept: a
    // catalogue can have as many as it has rows.
    size_t problems = 0;
    const size_t tasks = CheckCatalogue(
        args[0],
        [&](const Problem& p) {
            if (problems++ == 0) progress.Finish();
            std::cout << p.where << ": " << p.what << "\n";
        },
        std::ref(progress));
    progress.Finish();
    std::cout << Shown(args[0]) << ": " << Counted(tasks, "task") << ", ";
    if (problems == 0)
        std::cout << "no problems\n";
    else
        std::cout << Counted(problems, "problem") << "\n";
    return problems == 0 ? 0 : 1;
}

// The command's status, unless its results could not all be written: a
// full disk or a closed pipe behind standard output must not pass for
// success.
int CheckedOutput(int status) {
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout) && std::cout.good()) return status;
    const int error = errno;
    std::cerr << "kevra-catalog: cannot write the results to standard output";
    if (error != 0) std::cerr << ": " << std::strerror(error);
    std::cerr << "\n";
    return 1;
}

int Run(std::vector<std::string> args) {
    try {
        if (args.empty()) throw UsageError{"no command given (init, import, export or check)"};
        const std::string command = args[0];
        args.erase(args.begin());
        if (IsHelp(command) || command == "help") {
            // "help COMMAND" as a synonym of "COMMAND --help".
            const char* help = kUsage;
            if (command == "help" && !args.empty()) {
                help = HelpOf(args[0]);
                if (!help) throw UsageError{"no help for unknown command '" + args[0] + "'"};
            }
            std::cout << help;
            return 0;
        }
        if (command == "--version") {
            std::cout << "kevra-catalog " KEVRA_VERSION "\n";
            return 0;
        }
        const char* help = HelpOf(command);
        if (!help) {
            if (command.size() > 1 && command[0] == '-')
                throw UsageError{"unknown option '" + command + "'"};
            throw UsageError{"unknown command '" + command + "' (init, import, export or check)"};
        }
        // A --help anywhere among a command's arguments asks for its help,
        // so that it can be added at the end of a line being written.
        for (const auto& a : args)
            if (IsHelp(a)) {
                std::cout << help;
                return 0;
            }
        if (command == "init") return Init(args);
        if (command == "import") return Import(args);
        if (command == "export") return Export(args);
        return Check(args);
    } catch (const UsageError& e) {
        std::cerr << "kevra-catalog: " << e.message << "\nTry 'kevra-catalog "
                  << (e.command.empty() ? "" : e.command + " ")
                  << "--help' for more information.\n";
        return 2;
    } catch (const RuntimeError& e) {
        std::cout.flush();
        std::cerr << "kevra-catalog: " << e.Description() << " (error " << e.Number() << ")\n";
        return 1;
    } catch (const std::bad_alloc&) {
        // No string is built here: the memory may still be short.
        std::cout.flush();
        std::fputs(
            "kevra-catalog: out of memory; the catalogue is too large for the memory this "
            "process may use (raise its limit, or free memory)\n",
            stderr);
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "kevra-catalog: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    int status;
    try {
        status = Run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::bad_alloc&) {
        std::fputs("kevra-catalog: out of memory before the command could start\n", stderr);
        return 1;
    }
    return CheckedOutput(status);
}
