// Creating, importing, exporting and checking catalogues.
//
// Import is strict where the database must be (task ids whole, non-zero and
// unique within their application) and faithful elsewhere: a JSON catalogue
// imported and loaded for application 1 must show exactly what the file
// shows when loaded directly. Values the control reads only as text or as
// "is it True" are stored in that reading, with a warning, so nothing the
// user sees changes.
//
// Every tool streams: rows are handed on one at a time as they are read, and
// what a tool keeps beyond that is a few bytes a row (ids and parents for
// check, ids for import's duplicates, grants for export), so that a million
// rows cost tens of megabytes, not the rows themselves.
//
// This part reads: the rows of a JSON file or a database, one at a time,
// for the other tools (check, import, export in catalogue_tools_*.cpp), and
// sets up new catalogues.

#include "service/catalogue_tools.h"

#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <new>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "platform/atomic_file.h"
#include "platform/error.h"
#include "platform/json.h"
#include "service/catalogue_location.h"
#include "service/catalogue_schema.h"
#include "service/catalogue_tools_p.h"
#include "service/database.h"

namespace kevra::service {

using namespace catalogue_detail;

namespace {

// The key a grant row and its task row share, for ids that are no whole
// number: anything a hand-edited table holds (text in an INTEGER column of
// SQLite), by its description, so that such a task keeps its grants on
// export and check names it instead of stopping at it.
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

}  // namespace

namespace catalogue_detail {

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

// ---------------------------------------------------------------------------
// Reading: every task of a catalogue, one at a time.

// The grants of a database as export needs them, compact: a million tasks
// each granted to everyone cost 16 bytes each, brands and facilities are
// kept once however many grants name them.
class GrantIndex {
  public:
    // Grants arrive ordered by application and task, as the query gives them.
    void Add(int32_t app, const Variant& task_id, Grant g) {
        std::optional<int32_t> id = WholeInt32(task_id);
        if (!id) {
            other_[{app, IdKey(task_id)}].push_back(std::move(g));
            return;
        }
        const uint64_t key = IdKeyOf(app, *id);
        if (groups_.empty() || groups_.back().key != key) {
            EndGroup();
            groups_.push_back({key, static_cast<uint32_t>(grants_.size()), 0});
        }
        grants_.push_back({g.user_number.value_or(0), Intern(g.brand), Intern(g.facility_id),
                           g.user_number.has_value()});
        ++groups_.back().count;
    }
    // Sorts what was added for look-ups.
    void Seal() {
        EndGroup();
        std::stable_sort(groups_.begin(), groups_.end(),
                         [](const Group& a, const Group& b) { return a.key < b.key; });
    }
    // nullopt: granted to everyone alone.
    std::optional<std::vector<Grant>> Of(int32_t app, const Variant& task_id) const {
        std::optional<int32_t> id = WholeInt32(task_id);
        std::vector<Grant> list;
        if (!id) {
            auto it = other_.find({app, IdKey(task_id)});
            if (it != other_.end()) list = it->second;
            if (list.size() == 1 && list[0] == Grant{}) return std::nullopt;
            return list;
        }
        const uint64_t key = IdKeyOf(app, *id);
        auto it = std::lower_bound(groups_.begin(), groups_.end(), key,
                                   [](const Group& g, uint64_t k) { return g.key < k; });
        if (it == groups_.end() || it->key != key) return list;
        if (it->count == kEveryone) return std::nullopt;
        for (uint32_t i = it->first; i < it->first + it->count; ++i) list.push_back(Unpack(i));
        return list;
    }

  private:
    static constexpr uint32_t kNoText = UINT32_MAX;
    static constexpr uint32_t kEveryone = UINT32_MAX;
    struct Group {
        uint64_t key;
        uint32_t first, count;
    };
    struct Packed {
        int32_t user;
        uint32_t brand, facility;
        bool has_user;
    };
    static bool IsEveryone(const Packed& p) {
        return !p.has_user && p.brand == kNoText && p.facility == kNoText;
    }
    // A group of one grant to everyone, the common case, keeps no grant.
    void EndGroup() {
        if (groups_.empty() || groups_.back().count != 1) return;
        Group& last = groups_.back();
        if (last.first + 1 != grants_.size() || !IsEveryone(grants_.back())) return;
        grants_.pop_back();
        last.count = kEveryone;
    }
    uint32_t Intern(const std::optional<std::string>& text) {
        if (!text) return kNoText;
        auto it = interned_.find(*text);
        if (it != interned_.end()) return it->second;
        texts_.push_back(*text);
        interned_.emplace(texts_.back(), static_cast<uint32_t>(texts_.size() - 1));
        return static_cast<uint32_t>(texts_.size() - 1);
    }
    Grant Unpack(uint32_t i) const {
        const Packed& p = grants_[i];
        Grant g;
        if (p.has_user) g.user_number = p.user;
        if (p.brand != kNoText) g.brand = texts_[p.brand];
        if (p.facility != kNoText) g.facility_id = texts_[p.facility];
        return g;
    }

    std::vector<Group> groups_;
    std::vector<Packed> grants_;
    std::deque<std::string> texts_;  // stable, for the views the map keys hold
    std::unordered_map<std::string_view, uint32_t> interned_;
    std::map<std::pair<int32_t, std::string>, std::vector<Grant>> other_;
};

void ReadGrants(Database& db, GrantIndex* index) {
    db.Query(
        "SELECT app_id, task_id, user_number, brand, facility_id FROM task_grant "
        "ORDER BY app_id, task_id, user_number, brand, facility_id",
        {}, [&](const Row& r) {
            // The row is described only for the error, not for every row.
            auto whole = [&](const Variant& v, const char* column) {
                if (std::optional<int32_t> n = WholeInt32(v)) return *n;
                return WholeOrThrow(db, v, column,
                                    "a task_grant row (app_id " + r[0].Describe() + ", task_id " +
                                        r[1].Describe() + ")");
            };
            Grant g;
            if (!r[2].IsNull()) g.user_number = whole(r[2], "user_number");
            if (!r[3].IsNull()) g.brand = r[3].ToString();
            if (!r[4].IsNull()) g.facility_id = r[4].ToString();
            const int32_t app = whole(r[0], "app_id");
            if (index) index->Add(app, r[1], std::move(g));
        });
    if (index) index->Seal();
}

size_t ReadDatabaseTasks(Database& db, const GrantIndex* grants, const TaskFn& on_task,
                         const ProgressFn& progress, std::string_view what, size_t total) {
    TaskRow row;
    size_t count = 0;
    std::optional<int32_t> current_app;
    db.Query(
        "SELECT app_id, id, parent, description, is_link, url, parms FROM task "
        "ORDER BY app_id, sort_order, id",
        {}, [&](const Row& r) {
            std::optional<int32_t> app = WholeInt32(r[0]);
            row.app_id =
                app ? *app
                    : WholeOrThrow(db, r[0], "app_id", "a task row (id " + r[1].Describe() + ")");
            if (row.app_id != current_app) row.number = 0;
            current_app = row.app_id;
            ++row.number;
            row.line = 0;
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
            if (grants)
                row.grants = grants->Of(row.app_id, r[1]);
            else
                row.grants.reset();
            on_task(row);
            if (++count % kProgressEvery == 0) Report(progress, what, count, total);
        });
    return count;
}

size_t CountTasks(Database& db) {
    int64_t tasks = 0;
    db.Query("SELECT count(*) FROM task", {}, [&](const Row& r) { tasks = r[0].ToInt64(); });
    return static_cast<size_t>(std::max<int64_t>(tasks, 0));
}

void ForEachJsonTask(const std::string& path, const std::optional<std::string>& text,
                     JsonTaskReader& reader, const TaskFn& on_task, const ProgressFn& progress,
                     const JsonProgress& how) {
    auto on_row = [&](JsonRowView& in) {
        reader.Take(in, on_task);
        if (in.number % how.every == 0) Report(progress, how.what, in.number, how.total);
    };
    if (text)
        ForEachJsonRowOfText(*text, path, on_row);
    else
        ForEachJsonRow(path, on_row);
}

std::string JsonWhere(uint32_t row, uint32_t line) {
    return "row " + std::to_string(row + 1) + " (line " + std::to_string(line) + ")";
}

std::string DatabaseWhere(int32_t app, size_t number) {
    return "application " + std::to_string(app) + ", row " + std::to_string(number);
}

}  // namespace catalogue_detail

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

std::string Where(const TaskRow& row) {
    if (!row.where.empty()) return row.where;
    if (row.line) return JsonWhere(static_cast<uint32_t>(row.number - 1), row.line);
    return DatabaseWhere(row.app_id, row.number);
}

size_t ForEachTask(const std::string& target, const TaskFn& on_task, const ProgressFn& progress) {
    CatalogueLocation loc = ResolveMachineName(target);
    if (loc.kind == StoreKind::kJson) {
        JsonTaskReader reader;
        size_t count = 0;
        ForEachJsonTask(
            loc.target, std::nullopt, reader,
            [&](TaskRow& row) {
                ++count;
                on_task(row);
            },
            progress, Parsing(loc.target));
        return count;
    }
    std::unique_ptr<Database> db = OpenDatabase(loc, OpenMode::kReadOnly);
    RequireSchema(*db);
    GrantIndex grants;
    ReadGrants(*db, &grants);
    const size_t total = CountTasks(*db);
    return ReadDatabaseTasks(*db, &grants, on_task, progress, "reading the catalogue", total);
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
        if (sample_json)
            ForEachJsonRowOfText(*sample_json, "sample",
                                 [&](JsonRowView&) { ++result.sample_tasks; });
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
            const size_t tasks = CountTasks(*db);
            if (tasks > 0)
                throw RuntimeError(
                    err::kBadCatalogue,
                    "The catalogue " + MessageName(db->Kind(), db->Name()) + " already holds " +
                        Counted(tasks, "task") +
                        "; the sample goes only into an empty catalogue (to replace tasks, "
                        "use: kevra-catalog import FILE.json TARGET)");
        }
    }
    if (sample_json)
        result.sample_tasks = ImportJson("sample", target, 1, progress, sample_json).tasks;
    return result;
}

}  // namespace kevra::service
