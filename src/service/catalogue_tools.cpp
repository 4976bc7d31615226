// Creating, importing, exporting and checking catalogues.
//
// Import is strict where the database must be (task ids whole, non-zero and
// unique within their application) and faithful elsewhere: a JSON catalogue
// imported and loaded for application 1 must show exactly what the file
// shows when loaded directly. Values the control reads only as text or as
// "is it True" are stored in that reading, with a warning, so nothing the
// user sees changes.
#include "service/catalogue_tools.h"

#include <stdio_ext.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <system_error>
#include <utility>

#include "platform/atomic_file.h"
#include "platform/error.h"
#include "platform/json.h"
#include "service/catalogue_location.h"
#include "service/catalogue_schema.h"
#include "service/database.h"

namespace kevra::service {

namespace {

constexpr size_t kProgressEvery = 500;
constexpr size_t kMaxListedProblems = 20;

std::string Quoted(std::string_view s) { return json::Quote(s); }

void Report(const ProgressFn& progress, std::string_view what, size_t done, size_t total) {
    if (progress) progress(what, done, total);
}

// A task id or parent as a 32-bit integer: integers, and Doubles with no
// fraction (a JSON 5.0 reads as the id 5 in the control's keys and filters).
std::optional<int32_t> WholeInt32(const Variant& v) {
    switch (v.type()) {
        case Variant::Type::Int32:
            return v.Int32Value();
        case Variant::Type::Int64:
            if (v.Int64Value() >= INT32_MIN && v.Int64Value() <= INT32_MAX)
                return static_cast<int32_t>(v.Int64Value());
            return std::nullopt;
        case Variant::Type::Double: {
            double d = v.DoubleValue();
            if (std::isfinite(d) && d == std::floor(d) && d >= INT32_MIN && d <= INT32_MAX)
                return static_cast<int32_t>(d);
            return std::nullopt;
        }
        default:
            return std::nullopt;
    }
}

bool IsBlankText(const Variant& v) {
    return v.type() == Variant::Type::String && Trim(v.StringValue()).empty();
}

// The value of `field` in the current row, or Null when the table lacks it.
Variant FieldOrNull(Recordset& rs, const char* field, bool present) {
    return present ? rs.Fields(field).Value() : Variant::Null();
}

bool HasField(const RecordsetRef& rs, const char* field) {
    try {
        rs->Fields(field);
        return true;
    } catch (const RuntimeError&) {
        return false;
    }
}

// The rows of a JSON catalogue as tasks. A row's application is its AppId,
// or `default_app`; an AppId that is no 32-bit integer is a problem.
std::vector<TaskRow> TasksOfJson(const JsonCatalogue& cat, int32_t default_app,
                                 std::vector<std::vector<Problem>>* problems,
                                 const ProgressFn& progress = {}) {
    std::vector<TaskRow> rows;
    RecordsetRef rs = Recordset::Open(cat.rows);
    const bool has_app = HasField(rs, "AppId");
    if (problems) problems->resize(cat.grants.size());
    for (size_t i = 0; !rs->Eof(); rs->MoveNext(), ++i) {
        TaskRow row;
        row.where =
            "row " + std::to_string(i + 1) + " (line " + std::to_string(cat.row_lines[i]) + ")";
        row.task_id = rs->Fields("TaskId").Value();
        row.parent = rs->Fields("TaskParent").Value();
        row.description = rs->Fields("TaskDescription").Value();
        row.is_link = rs->Fields("IsLink").Value();
        row.url = rs->Fields("TaskURL").Value();
        row.parms = rs->Fields("TaskParms").Value();
        row.grants = cat.grants[i];
        row.app_id = default_app;
        Variant app = FieldOrNull(*rs, "AppId", has_app);
        if (!app.IsNull()) {
            if (app.type() == Variant::Type::Int32)
                row.app_id = app.Int32Value();
            else if (problems)
                (*problems)[i].push_back({row.where,
                                          "AppId must be a whole number that fits 32 bits, "
                                          "not " +
                                              app.Describe()});
        }
        rows.push_back(std::move(row));
        if (rows.size() % kProgressEvery == 0)
            Report(progress, "collecting the rows", rows.size(), cat.grants.size());
    }
    return rows;
}

// The JSON file at `path`, its parse reported as it goes.
JsonCatalogue ReadJsonReporting(const std::string& path, const ProgressFn& progress) {
    if (!progress) return ReadJsonCatalogue(path);
    const std::string what = "parsing " + path;
    return ReadJsonCatalogue(path, {}, [&](size_t rows) { progress(what, rows, 0); });
}

// The key a grant row and its task row share. Whole ids meet as numbers,
// anything else a hand-edited table holds (text in an INTEGER column of
// SQLite) by its description, so that such a task keeps its grants on export
// and check names it instead of stopping at it.
std::string IdKey(const Variant& v) {
    if (std::optional<int32_t> id = WholeInt32(v)) return std::to_string(*id);
    return v.Describe();
}

// A value of a database that must be a whole number, or an error naming the
// row and what to correct.
int32_t WholeOrThrow(const Database& db, const Variant& v, const std::string& column,
                     const std::string& row) {
    if (std::optional<int32_t> n = WholeInt32(v)) return *n;
    throw RuntimeError(err::kBadCatalogue, "The catalogue " + Quoted(db.Name()) + " has " + row +
                                               " whose " + column + " is " + v.Describe() +
                                               ", not a whole number that fits 32 bits; correct "
                                               "that row");
}

std::vector<TaskRow> TasksOfDatabase(Database& db, const ProgressFn& progress) {
    std::map<std::pair<int32_t, std::string>, std::vector<Grant>> grants;
    db.Query(
        "SELECT app_id, task_id, user_number, brand, facility_id FROM task_grant "
        "ORDER BY app_id, task_id, user_number, brand, facility_id",
        {}, [&](const Row& r) {
            const std::string row = "a task_grant row (app_id " + r[0].Describe() +
                                    ", task_id " + r[1].Describe() + ")";
            Grant g;
            if (!r[2].IsNull()) g.user_number = WholeOrThrow(db, r[2], "user_number", row);
            if (!r[3].IsNull()) g.brand = r[3].ToString();
            if (!r[4].IsNull()) g.facility_id = r[4].ToString();
            grants[{WholeOrThrow(db, r[0], "app_id", row), IdKey(r[1])}].push_back(std::move(g));
        });
    std::vector<TaskRow> rows;
    std::map<int32_t, size_t> per_app;
    db.Query(
        "SELECT app_id, id, parent, description, is_link, url, parms FROM task "
        "ORDER BY app_id, sort_order, id",
        {}, [&](const Row& r) {
            TaskRow row;
            row.app_id = WholeOrThrow(db, r[0], "app_id",
                                      "a task row (id " + r[1].Describe() + ")");
            row.task_id = r[1];
            row.parent = r[2];
            row.description = r[3];
            // Integers become the Boolean the column means; anything else
            // stays as the control would receive it, for check to name.
            row.is_link = r[4].type() == Variant::Type::Int32 || r[4].type() == Variant::Type::Int64
                              ? Variant::Boolean(r[4].ToInt64() != 0)
                              : r[4];
            row.url = r[5];
            row.parms = r[6];
            row.where = "application " + std::to_string(row.app_id) + ", row " +
                        std::to_string(++per_app[row.app_id]);
            auto it = grants.find({row.app_id, IdKey(r[1])});
            std::vector<Grant> list = it == grants.end() ? std::vector<Grant>{} : it->second;
            if (list.size() == 1 && list[0] == Grant{})
                row.grants = std::nullopt;  // everyone
            else
                row.grants = std::move(list);
            rows.push_back(std::move(row));
            if (rows.size() % kProgressEvery == 0)
                Report(progress, "reading the catalogue", rows.size(), 0);
        });
    return rows;
}

[[noreturn]] void ThrowProblems(const std::string& intro, const std::vector<Problem>& problems) {
    std::string text = intro;
    for (size_t i = 0; i < problems.size() && i < kMaxListedProblems; ++i)
        text += "\n  " + problems[i].where + ": " + problems[i].what;
    if (problems.size() > kMaxListedProblems)
        text += "\n  ... and " + Counted(problems.size() - kMaxListedProblems, "more problem") +
                " (kevra-catalog check lists them all)";
    throw RuntimeError(err::kBadCatalogue, text);
}

// A value the control reads as text (description, URL, parameters): text
// stays, Null stays, anything else is stored as the text the control would
// make of it.
Variant AsText(const Variant& v, const TaskRow& row, const char* field,
               std::vector<std::string>& warnings) {
    if (v.IsNull() || v.IsEmpty()) return Variant::Null();
    if (v.type() == Variant::Type::String) return v;
    warnings.push_back(row.where + ": " + field + " " + v.Describe() + " is stored as the text " +
                       Quoted(v.ToString()));
    return Variant(v.ToString());
}

// The whole export on standard output, checked: a full disk or a closed
// pipe behind it is a failure, not a successful export.
void WriteStandardOutput(const std::string& content) {
    errno = 0;
    const size_t written = std::fwrite(content.data(), 1, content.size(), stdout);
    if (written == content.size() && std::fflush(stdout) == 0) return;
    const int error = errno;
    // What could not be written is dropped, so that the caller's own last
    // flush does not fail over it and report the failure a second time.
    ::__fpurge(stdout);
    std::clearerr(stdout);
    throw RuntimeError(err::kPathAccess,
                       "Cannot write the catalogue to standard output: " +
                           (error ? std::generic_category().message(error) : "the write failed"));
}

std::string JsonValue(const Variant& v) {
    switch (v.type()) {
        case Variant::Type::Empty:
        case Variant::Type::Null:
            return "null";
        case Variant::Type::Boolean:
            return v.BoolValue() ? "true" : "false";
        case Variant::Type::Int32:
            return std::to_string(v.Int32Value());
        case Variant::Type::Int64:
            return std::to_string(v.Int64Value());
        case Variant::Type::Double:
            return json::Number(v.DoubleValue());
        case Variant::Type::String:
            return json::Quote(v.StringValue());
        case Variant::Type::Object:
            break;
    }
    return "null";
}

}  // namespace

std::string Counted(size_t n, std::string_view singular, std::string_view plural) {
    std::string out = std::to_string(n) + " ";
    if (n == 1) return out.append(singular);
    if (plural.empty()) return out.append(singular).append("s");
    return out.append(plural);
}

std::string GroupedDigits(size_t n) {
    const std::string digits = std::to_string(n);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

std::vector<TaskRow> ReadAllTasks(const std::string& target, const ProgressFn& progress) {
    CatalogueLocation loc = ResolveMachineName(target);
    if (loc.kind == StoreKind::kJson)
        return TasksOfJson(ReadJsonReporting(loc.target, progress), 1, nullptr, progress);
    std::unique_ptr<Database> db = OpenDatabase(loc, OpenMode::kReadOnly);
    RequireSchema(*db);
    return TasksOfDatabase(*db, progress);
}

ImportResult ImportJson(const std::string& json_path, const std::string& target,
                        int32_t default_app, const ProgressFn& progress,
                        const std::optional<std::string>& json_text) {
    CatalogueLocation loc = ResolveMachineName(target);
    if (loc.kind == StoreKind::kJson)
        throw RuntimeError(err::kInvalidArgument,
                           "Cannot import into " + Quoted(target) +
                               ": it is a JSON file; import into a database (a .db file, "
                               "sqlite:FILE, a PostgreSQL server), or copy the JSON file");
    JsonCatalogue cat = json_text ? ParseJsonCatalogue(*json_text, json_path)
                                  : ReadJsonReporting(json_path, progress);
    // Problems by row, so that they are listed in file order.
    std::vector<std::vector<Problem>> by_row;
    std::vector<TaskRow> rows = TasksOfJson(cat, default_app, &by_row, progress);

    ImportResult result;
    struct Stored {
        int32_t app, id;
        Variant parent, description, is_link, url, parms;
        const TaskRow* row;
    };
    std::vector<Stored> stored;
    stored.reserve(rows.size());
    std::map<std::pair<int32_t, int32_t>, std::string> seen;
    for (size_t i = 0; i < rows.size(); ++i) {
        if ((i + 1) % kProgressEvery == 0) Report(progress, "checking", i + 1, rows.size());
        const TaskRow& row = rows[i];
        auto& problems = by_row[i];
        std::optional<int32_t> id = WholeInt32(row.task_id);
        if (row.task_id.IsNull()) {
            problems.push_back({row.where, "TaskId is missing"});
            continue;
        }
        if (!id || *id == 0) {
            problems.push_back({row.where,
                                "TaskId must be a whole number other than 0 that "
                                "fits 32 bits, not " +
                                    row.task_id.Describe()});
            continue;
        }
        auto [it, fresh] = seen.emplace(std::make_pair(row.app_id, *id), row.where);
        if (!fresh) {
            problems.push_back({row.where, "TaskId " + std::to_string(*id) +
                                               " is already used by " + it->second +
                                               " in application " + std::to_string(row.app_id)});
            continue;
        }
        Variant parent = Variant::Null();
        if (!row.parent.IsNull()) {
            std::optional<int32_t> p = WholeInt32(row.parent);
            if (!p) {
                problems.push_back({row.where,
                                    "TaskParent must be a whole number that fits 32 "
                                    "bits, or null, not " +
                                        row.parent.Describe()});
                continue;
            }
            parent = Variant(*p);
        }
        Variant link = Variant::Null();
        if (!row.is_link.IsNull()) {
            link = Variant::Boolean(row.is_link.EqualsTrue());
            if (row.is_link.type() != Variant::Type::Boolean)
                result.warnings.push_back(row.where + ": IsLink " + row.is_link.Describe() +
                                          " is stored as " +
                                          (row.is_link.EqualsTrue() ? "true" : "false") +
                                          " (only true or -1 makes a link)");
        }
        stored.push_back({row.app_id, *id, parent,
                          AsText(row.description, row, "TaskDescription", result.warnings), link,
                          AsText(row.url, row, "TaskURL", result.warnings),
                          AsText(row.parms, row, "TaskParms", result.warnings), &row});
    }
    std::vector<Problem> problems;
    for (auto& list : by_row)
        for (auto& p : list) problems.push_back(std::move(p));
    if (!problems.empty())
        ThrowProblems("The catalogue " + Quoted(json_path) + " cannot be imported:", problems);

    for (const Stored& s : stored)
        if (std::find(result.applications.begin(), result.applications.end(), s.app) ==
            result.applications.end())
            result.applications.push_back(s.app);

    std::unique_ptr<Database> db = OpenDatabase(loc, OpenMode::kCreate);
    UpgradeSchema(*db);
    InTransaction(*db, [&] {
        for (int32_t app : result.applications) {
            db->Execute("DELETE FROM task_grant WHERE app_id = $1", {Variant(app)});
            db->Execute("DELETE FROM task WHERE app_id = $1", {Variant(app)});
        }
        std::map<int32_t, int32_t> order;
        for (size_t i = 0; i < stored.size(); ++i) {
            const Stored& s = stored[i];
            db->Execute(
                "INSERT INTO task (app_id, id, parent, description, is_link, url, parms, "
                "sort_order) VALUES ($1, $2, $3, $4, $5, $6, $7, $8)",
                {Variant(s.app), Variant(s.id), s.parent, s.description, s.is_link, s.url, s.parms,
                 Variant(++order[s.app])});
            const std::vector<Grant> everyone{Grant{}};
            for (const Grant& g : s.row->grants ? *s.row->grants : everyone) {
                db->Execute(
                    "INSERT INTO task_grant (app_id, task_id, user_number, brand, facility_id) "
                    "VALUES ($1, $2, $3, $4, $5)",
                    {Variant(s.app), Variant(s.id),
                     g.user_number ? Variant(*g.user_number) : Variant::Null(),
                     g.brand ? Variant(*g.brand) : Variant::Null(),
                     g.facility_id ? Variant(*g.facility_id) : Variant::Null()});
            }
            if ((i + 1) % kProgressEvery == 0) Report(progress, "importing", i + 1, stored.size());
        }
    });
    result.tasks = stored.size();
    Report(progress, "imported", stored.size(), stored.size());
    return result;
}

size_t ExportJson(const std::string& target, const std::string& json_path,
                  const ProgressFn& progress) {
    std::vector<TaskRow> rows = ReadAllTasks(target, progress);
    std::string out = "[\n";
    for (size_t i = 0; i < rows.size(); ++i) {
        const TaskRow& r = rows[i];
        out +=
            "  {\"TaskId\": " + JsonValue(r.task_id) + ", \"TaskParent\": " + JsonValue(r.parent) +
            ", \"TaskDescription\": " + JsonValue(r.description) +
            ", \"IsLink\": " + JsonValue(r.is_link) + ", \"TaskURL\": " + JsonValue(r.url) +
            ", \"TaskParms\": " + JsonValue(r.parms) + ", \"AppId\": " + std::to_string(r.app_id);
        if (r.grants) {
            out += ", \"Grants\": [";
            for (size_t g = 0; g < r.grants->size(); ++g) {
                const Grant& grant = (*r.grants)[g];
                std::string members;
                auto add = [&](const char* name, const std::string& value) {
                    members +=
                        (members.empty() ? "" : ", ") + std::string("\"") + name + "\": " + value;
                };
                if (grant.user_number) add("UserNumber", std::to_string(*grant.user_number));
                if (grant.brand) add("Brand", json::Quote(*grant.brand));
                if (grant.facility_id) add("FacilityId", json::Quote(*grant.facility_id));
                out += (g ? ", {" : "{") + members + "}";
            }
            out += "]";
        }
        out += i + 1 < rows.size() ? "},\n" : "}\n";
        if ((i + 1) % kProgressEvery == 0) Report(progress, "exporting", i + 1, rows.size());
    }
    out += "]\n";
    if (json_path == "-")
        WriteStandardOutput(out);
    else
        ReplaceFile(json_path, out);
    Report(progress, "exported", rows.size(), rows.size());
    return rows.size();
}

InitResult InitCatalogue(const std::string& target, const std::optional<std::string>& sample_json,
                         const ProgressFn& progress) {
    CatalogueLocation loc = ResolveMachineName(target);
    InitResult result;
    if (loc.kind == StoreKind::kJson) {
        // lstat: a symbolic link, even one to nothing, is something in the
        // way too.
        struct stat st {};
        if (::lstat(loc.target.c_str(), &st) == 0)
            throw RuntimeError(err::kPathAccess, "The catalogue " + Quoted(loc.target) +
                                                     " already exists; a JSON catalogue is "
                                                     "edited as a file, not initialised again");
        if (sample_json) {
            result.sample_tasks =
                TasksOfJson(ParseJsonCatalogue(*sample_json, "sample"), 1, nullptr).size();
        }
        ReplaceFile(loc.target, sample_json ? *sample_json : "[]\n");
        result.created = true;
        return result;
    }
    if (loc.kind == StoreKind::kSqlite) {
        struct stat st {};
        result.created = ::stat(loc.target.c_str(), &st) != 0;
    }
    {
        std::unique_ptr<Database> db = OpenDatabase(loc, OpenMode::kCreate);
        UpgradeSchema(*db);
        if (sample_json) {
            int64_t tasks = 0;
            db->Query("SELECT count(*) FROM task", {},
                      [&](const Row& r) { tasks = r[0].ToInt64(); });
            if (tasks > 0)
                throw RuntimeError(
                    err::kBadCatalogue,
                    "The catalogue " + MessageName(db->Kind(), db->Name()) + " already holds " +
                        Counted(static_cast<size_t>(tasks), "task") +
                        "; the sample goes only into an empty catalogue (to replace tasks, "
                        "use: kevra-catalog import FILE.json TARGET)");
        }
    }
    if (sample_json)
        result.sample_tasks = ImportJson("sample", target, 1, progress, sample_json).tasks;
    return result;
}

std::vector<Problem> CheckCatalogue(const std::string& target) {
    // A JSON file is shown whole, so its rows form one catalogue whatever
    // their AppId; a database shows one application at a time.
    const bool by_application = ResolveMachineName(target).kind != StoreKind::kJson;
    return CheckTasks(ReadAllTasks(target), by_application);
}

std::vector<Problem> CheckTasks(const std::vector<TaskRow>& rows, bool by_application,
                                const ProgressFn& progress) {
    struct Entry {
        size_t row;
        std::optional<int32_t> id;
        std::optional<int32_t> parent;  // nullopt: missing or not a number
    };
    std::vector<std::vector<Problem>> by_row(rows.size());
    std::map<int32_t, std::vector<size_t>> groups;
    for (size_t i = 0; i < rows.size(); ++i)
        groups[by_application ? rows[i].app_id : 0].push_back(i);
    size_t checked = 0;

    for (const auto& [app, members] : groups) {
        std::vector<Entry> entries;
        std::map<int32_t, size_t> first;  // id -> index into entries
        for (size_t i : members) {
            if (++checked % kProgressEvery == 0) Report(progress, "checking", checked, rows.size());
            const TaskRow& r = rows[i];
            auto& out = by_row[i];
            Entry e{i, WholeInt32(r.task_id), WholeInt32(r.parent)};
            if (r.task_id.IsNull())
                out.push_back({r.where, "TaskId is missing (the control needs one on every row)"});
            else if (!e.id)
                out.push_back({r.where, "TaskId " + r.task_id.Describe() +
                                            " is not a whole number that fits 32 bits"});
            else if (*e.id == 0)
                out.push_back({r.where, "TaskId 0 is reserved for \"no parent\""});
            if (e.id && *e.id != 0) {
                auto [it, fresh] = first.emplace(*e.id, entries.size());
                if (!fresh)
                    out.push_back({r.where, "TaskId " + std::to_string(*e.id) +
                                                " is used again (first by " +
                                                rows[entries[it->second].row].where + ")"});
            }
            if (r.parent.IsNull())
                out.push_back({r.where, "TaskParent is missing, so the task is never shown"});
            else if (!e.parent)
                out.push_back({r.where, "TaskParent " + r.parent.Describe() +
                                            " is not a whole number that fits 32 bits"});
            entries.push_back(e);
        }

        // Where each entry's parent chain ends: 1 at the top (shown), 2
        // nowhere (not shown), 3 in a cycle. Walked with an explicit path,
        // so chains of any length cost no stack.
        enum : uint8_t { kUnknown, kShown, kHidden, kCycle, kOnPath };
        std::vector<uint8_t> state(entries.size(), kUnknown);
        for (size_t start = 0; start < entries.size(); ++start) {
            std::vector<size_t> path;
            size_t at = start;
            uint8_t ending = kUnknown;
            for (;;) {
                if (state[at] != kUnknown && state[at] != kOnPath) {
                    ending = state[at] == kCycle ? uint8_t{kHidden} : state[at];
                    break;
                }
                if (state[at] == kOnPath) {
                    // `at` closes a cycle: mark its members and name it at
                    // its first row.
                    size_t from = 0;
                    while (path[from] != at) ++from;
                    std::string chain;
                    size_t lowest = path[from];
                    constexpr size_t kShownLinks = 8;
                    const size_t length = path.size() - from;
                    for (size_t k = from; k < path.size(); ++k) {
                        if (k - from < kShownLinks)
                            chain += std::to_string(*entries[path[k]].id) + " -> ";
                        lowest = std::min(lowest, path[k]);
                        state[path[k]] = kCycle;
                    }
                    if (length > kShownLinks)
                        chain += "... " + std::to_string(length - kShownLinks) + " more -> ";
                    chain += std::to_string(*entries[at].id);
                    by_row[entries[lowest].row].push_back(
                        {rows[entries[lowest].row].where, "TaskId " +
                                                              std::to_string(*entries[lowest].id) +
                                                              " is its own ancestor (" + chain +
                                                              "), so these tasks are never shown"});
                    path.resize(from);
                    ending = kHidden;
                    break;
                }
                const Entry& e = entries[at];
                if (!e.id || *e.id == 0 || !e.parent) {
                    ending = kHidden;
                    state[at] = kHidden;
                    break;
                }
                if (*e.parent == 0) {
                    ending = kShown;
                    state[at] = kShown;
                    break;
                }
                auto p = first.find(*e.parent);
                if (p == first.end()) {
                    by_row[e.row].push_back(
                        {rows[e.row].where, "TaskParent " + std::to_string(*e.parent) +
                                                " names no task, so the task is never shown"});
                    ending = kHidden;
                    state[at] = kHidden;
                    break;
                }
                state[at] = kOnPath;
                path.push_back(at);
                at = p->second;
            }
            for (size_t k : path)
                if (state[k] == kOnPath) state[k] = ending;
        }

        for (size_t k = 0; k < entries.size(); ++k) {
            if (state[k] != kShown) continue;
            const TaskRow& r = rows[entries[k].row];
            auto& out = by_row[entries[k].row];
            if (r.description.IsNull())
                out.push_back({r.where,
                               "TaskDescription is missing on a task that is shown (the "
                               "load fails with error 94)"});
            else if (IsBlankText(r.description))
                out.push_back({r.where, "TaskDescription is blank on a task that is shown"});
            if (r.is_link.EqualsTrue() && (r.url.IsNull() || IsBlankText(r.url)))
                out.push_back({r.where,
                               "the task is a link with no TaskURL, so double-clicking "
                               "it starts nothing"});
            else if (!r.is_link.IsNull() && r.is_link.type() != Variant::Type::Boolean &&
                     !r.is_link.EqualsTrue() && r.is_link.IsNumeric() && r.is_link.ToDouble() != 0)
                out.push_back({r.where, "IsLink is " + r.is_link.Describe() +
                                            ", which is not True (-1), so the task is no link"});
        }
    }

    std::vector<Problem> problems;
    for (auto& list : by_row)
        for (auto& p : list) problems.push_back(std::move(p));
    return problems;
}

}  // namespace kevra::service
