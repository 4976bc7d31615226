// The work behind kevra-catalog: creating, importing, exporting and checking
// catalogues in any MachineName form.
//
// Kept in the service library rather than the tool so that the tests drive
// exactly the code the tool runs, and so that other programs (the desktop
// demo) can make the default catalogue without a child process.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/variant.h"
#include "service/json_catalogue.h"

namespace kevra::service {

// Called now and then during long jobs: what is being done, how many rows
// are done, of how many (0 when unknown). A job reports from its first
// phase on (reading a JSON file too), so a display never stalls at the start.
using ProgressFn = std::function<void(std::string_view what, size_t done, size_t total)>;

// "1 task", "2 tasks", "0 tasks": a count with its noun in the right number.
// `plural` defaults to `singular` with an "s".
std::string Counted(size_t n, std::string_view singular, std::string_view plural = {});

// A count with its thousands grouped by commas ("1,000,000"), for progress
// that a person reads; results that scripts read keep plain digits.
std::string GroupedDigits(size_t n);

// One task as the catalogue tools see it, wherever it came from.
struct TaskRow {
    int32_t app_id = 1;
    Variant task_id, parent, description, is_link, url, parms;
    // nullopt: granted to everyone.
    std::optional<std::vector<Grant>> grants;
    // Where the row is, for messages (Where() below): the readers set the
    // row's number (1-based, in the file or within its application) and, for
    // a JSON file, the line it opens on, and leave `where` empty; rows made
    // elsewhere may name themselves in `where` instead.
    std::string where;
    size_t number = 0;
    uint32_t line = 0;
};

// "row 12 (line 40)" for a row of a JSON file, "application 1, row 12" for
// a row of a database, or the row's own `where`.
std::string Where(const TaskRow& row);

// Hears of one task; the row may be moved from, and is reused for the next.
using TaskFn = std::function<void(TaskRow& row)>;

struct InitResult {
    bool created = false;     // the catalogue did not exist before
    size_t sample_tasks = 0;  // tasks of the sample put in
};

// Creates the catalogue at `target` (or brings an existing database's schema
// up to date). With `sample_json`, the catalogue is filled with it; a
// catalogue that already holds tasks is then refused, so a sample never
// overwrites real data. A JSON target is written only when it does not exist.
InitResult InitCatalogue(const std::string& target, const std::optional<std::string>& sample_json,
                         const ProgressFn& progress = {});

struct ImportResult {
    size_t tasks = 0;
    std::vector<int32_t> applications;  // in the order first met
    std::vector<std::string> warnings;  // values stored in a normalised form
};

// Imports the JSON catalogue `json_path` (or, with `json_text`, that text
// named `json_path`) into the database `target`: each row becomes a task of
// its "AppId", or of `default_app` when it has none, ordered as in the
// file, granted to everyone unless it has "Grants". Every task of the
// applications the file names is replaced, in one transaction. A SQLite
// target is created when missing. Raises err::kBadCatalogue listing the rows
// that cannot be imported.
ImportResult ImportJson(const std::string& json_path, const std::string& target,
                        int32_t default_app, const ProgressFn& progress = {},
                        const std::optional<std::string>& json_text = std::nullopt);

// Writes every task of `target` to the JSON catalogue file `json_path`, in
// application, sort order and id order, with "AppId" on every row and
// "Grants" on each row not granted to everyone alone. Returns the number of
// tasks. The text is written as the rows are read, to a temporary that
// replaces the file only once it is complete, keeping its mode
// (FileReplacement in platform/atomic_file.h); after a failure the file is
// as it was. A path where something other than a regular file stands is
// refused before the catalogue is read. `json_path` "-" is standard output.
size_t ExportJson(const std::string& target, const std::string& json_path,
                  const ProgressFn& progress = {});

// Hands every task in `target` to `on_task`, in the order the catalogue
// keeps them (a JSON file's rows as their AppId says, default 1), one at a
// time as they are read. Returns the number of tasks.
size_t ForEachTask(const std::string& target, const TaskFn& on_task,
                   const ProgressFn& progress = {});

struct Problem {
    std::string where;  // the row
    std::string what;
    bool operator==(const Problem&) const = default;
};
using ProblemFn = std::function<void(const Problem& problem)>;

// Checks that the catalogue will show as meant: task ids present, whole,
// non-zero and unique within their application; parents that exist; no
// cycles; a description on every row the control shows. Problems come in
// row order. A JSON file is checked as one catalogue, as it is shown; a
// database one application at a time. The rows are read one at a time and
// only what the rules need is kept of them; the problems are handed to
// `on_problem` once every row is read. Returns the number of tasks.
size_t CheckCatalogue(const std::string& target, const ProblemFn& on_problem,
                      const ProgressFn& progress = {});
std::vector<Problem> CheckCatalogue(const std::string& target);
std::vector<Problem> CheckTasks(const std::vector<TaskRow>& rows, bool by_application,
                                const ProgressFn& progress = {});

}  // namespace kevra::service
