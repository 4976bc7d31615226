// kevra-catalog: the command-line tool for task catalogues.
//
//   kevra-catalog init [--sample] [TARGET]
//   kevra-catalog import FILE.json TARGET [--app ID]
//   kevra-catalog export TARGET FILE.json
//   kevra-catalog check TARGET
//
// TARGET is written as the control's MachineName ("" or nothing for the
// per-user default catalogue). Results go to standard output; warnings,
// errors and the progress of long jobs to standard error. Exit status: 0
// done, 1 failed or (check) problems found, 2 bad command line.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
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

constexpr const char* kUsage =
    "usage: kevra-catalog init [--sample] [TARGET]\n"
    "       kevra-catalog import FILE.json TARGET [--app ID]\n"
    "       kevra-catalog export TARGET FILE.json\n"
    "       kevra-catalog check TARGET\n"
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
    "           exist, cycles, and shown tasks without a description\n";

struct UsageError {
    std::string message;
};

// The target as messages name it: a file by its path (the default
// catalogue's too), a PostgreSQL server by host, port and database, never by
// an address that may hold a password.
std::string Shown(const std::string& target) { return DisplayName(target); }

// Progress on standard error: rewritten in place on a terminal, a line
// every few seconds otherwise. Jobs shorter than a second print nothing.
class ProgressLine {
  public:
    ProgressLine() : tty_(::isatty(STDERR_FILENO) != 0), start_(Clock::now()), last_(start_) {}
    ~ProgressLine() { Finish(); }

    void operator()(std::string_view what, size_t done, size_t total) {
        auto now = Clock::now();
        if (now - start_ < std::chrono::seconds(1)) return;
        if (now - last_ < (tty_ ? std::chrono::milliseconds(200) : std::chrono::seconds(3))) return;
        last_ = now;
        std::string line = "kevra-catalog: " + std::string(what) + " " + std::to_string(done);
        if (total)
            line +=
                " of " + std::to_string(total) + " (" + std::to_string(done * 100 / total) + "%)";
        line += " tasks";
        if (tty_) {
            std::cerr << "\r" << line << "\x1b[K" << std::flush;
            open_ = true;
        } else {
            std::cerr << line << "\n";
        }
    }
    void Finish() {
        if (open_) std::cerr << "\n";
        open_ = false;
    }

  private:
    using Clock = std::chrono::steady_clock;
    bool tty_;
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
            throw UsageError{"init: unknown option " + a};
        else
            rest.push_back(a);
    }
    if (rest.size() > 1) throw UsageError{"init takes one TARGET"};
    const std::string target = rest.empty() ? "" : rest[0];
    ProgressLine progress;
    std::optional<std::string> sample_text;
    if (sample) sample_text = std::string(kSampleCatalogue);
    InitResult r = InitCatalogue(target, sample_text, std::ref(progress));
    progress.Finish();
    std::cout << (r.created ? "Created the catalogue " : "The catalogue ") << Shown(target);
    if (!r.created) std::cout << " is ready";
    std::cout << " (schema version " << CurrentSchemaVersion() << ")";
    if (sample) std::cout << " with the sample's " << r.sample_tasks << " tasks";
    std::cout << "\n";
    return 0;
}

int Import(std::vector<std::string> args) {
    int32_t app = 1;
    std::vector<std::string> rest;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--app") {
            if (i + 1 == args.size()) throw UsageError{"--app needs an application id"};
            app = ParseApp(args[++i]);
        } else if (args[i].rfind("--app=", 0) == 0) {
            app = ParseApp(args[i].substr(6));
        } else if (args[i].size() > 1 && args[i][0] == '-') {
            throw UsageError{"import: unknown option " + args[i]};
        } else {
            rest.push_back(args[i]);
        }
    }
    if (rest.size() != 2) throw UsageError{"import takes FILE.json and TARGET"};
    ProgressLine progress;
    ImportResult r = ImportJson(rest[0], rest[1], app, std::ref(progress));
    progress.Finish();
    for (const auto& w : r.warnings) std::cerr << "kevra-catalog: warning: " << w << "\n";
    std::cout << "Imported " << r.tasks << " tasks from " << rest[0] << " into " << Shown(rest[1])
              << " (application";
    if (r.applications.size() != 1) std::cout << "s";
    for (size_t i = 0; i < r.applications.size(); ++i)
        std::cout << (i ? ", " : " ") << r.applications[i];
    std::cout << ")\n";
    return 0;
}

int Export(const std::vector<std::string>& args) {
    if (args.size() != 2) throw UsageError{"export takes TARGET and FILE.json"};
    ProgressLine progress;
    size_t n = ExportJson(args[0], args[1], std::ref(progress));
    progress.Finish();
    // With the catalogue on standard output, the report goes beside it.
    const bool to_stdout = args[1] == "-";
    (to_stdout ? std::cerr : std::cout)
        << "Exported " << n << " tasks from " << Shown(args[0]) << " to "
        << (to_stdout ? "standard output" : args[1]) << "\n";
    return 0;
}

int Check(const std::vector<std::string>& args) {
    if (args.size() != 1) throw UsageError{"check takes one TARGET"};
    std::vector<TaskRow> rows = ReadAllTasks(args[0]);
    const bool by_app = ResolveMachineName(args[0]).kind != StoreKind::kJson;
    std::vector<Problem> problems = CheckTasks(rows, by_app);
    for (const auto& p : problems) std::cout << p.where << ": " << p.what << "\n";
    std::cout << Shown(args[0]) << ": " << rows.size() << " tasks, ";
    if (problems.empty())
        std::cout << "no problems\n";
    else
        std::cout << problems.size() << (problems.size() == 1 ? " problem\n" : " problems\n");
    return problems.empty() ? 0 : 1;
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
    if (args.empty()) {
        std::cerr << kUsage;
        return 2;
    }
    const std::string command = args[0];
    args.erase(args.begin());
    try {
        if (command == "--help" || command == "-h" || command == "help") {
            std::cout << kUsage;
            return 0;
        }
        if (command == "init") return Init(args);
        if (command == "import") return Import(args);
        if (command == "export") return Export(args);
        if (command == "check") return Check(args);
        throw UsageError{"unknown command \"" + command + "\""};
    } catch (const UsageError& e) {
        std::cerr << "kevra-catalog: " << e.message << "\n\n" << kUsage;
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
