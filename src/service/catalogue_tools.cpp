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
#include "service/database.h"

namespace kevra::service {

namespace {

constexpr size_t kProgressEvery = 500;
constexpr size_t kMaxListedProblems = 20;
// Rows handed to the database at a time by an import.
constexpr size_t kInsertBatch = 1000;

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

// An application and a task id as one number, for the tables below.
uint64_t IdKeyOf(int32_t app, int32_t id) {
    return (uint64_t{static_cast<uint32_t>(app)} << 32) | static_cast<uint32_t>(id);
}

// A hash table from application and task id to a number (a row), flat and
// open-addressed: 16 bytes a slot where a node-based map takes 50 and more,
// which at a million rows is the difference check and import are measured
// by.
class IdIndex {
  public:
    static constexpr uint64_t kNone = UINT64_MAX;

    // Stores `value` under `key` unless the key is there; returns the value
    // the key has afterwards, and whether it was new.
    std::pair<uint64_t, bool> Insert(uint64_t key, uint64_t value) {
        if ((size_ + 1) * 10 > keys_.size() * 7) Grow();
        size_t at = Slot(key);
        for (; values_[at] != kNone; at = (at + 1) & mask_)
            if (keys_[at] == key) return {values_[at], false};
        keys_[at] = key;
        values_[at] = value;
        ++size_;
        return {value, true};
    }
    uint64_t Find(uint64_t key) const {
        if (keys_.empty()) return kNone;
        for (size_t at = Slot(key); values_[at] != kNone; at = (at + 1) & mask_)
            if (keys_[at] == key) return values_[at];
        return kNone;
    }

  private:
    size_t Slot(uint64_t key) const {
        return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> 32) & mask_;
    }
    void Grow() {
        std::vector<uint64_t> keys = std::move(keys_), values = std::move(values_);
        const size_t capacity = keys.empty() ? 1024 : keys.size() * 2;
        keys_.assign(capacity, 0);
        values_.assign(capacity, kNone);
        mask_ = capacity - 1;
        size_ = 0;
        for (size_t i = 0; i < keys.size(); ++i)
            if (values[i] != kNone) Insert(keys[i], values[i]);
    }

    std::vector<uint64_t> keys_, values_;
    size_t mask_ = 0, size_ = 0;
};

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

// Reads every grant of `db`, checking the columns a grant must have whole,
// and hands each to `index` (or only checks them, without).
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

// The tasks of `db` in application, sort order and id order. With `grants`,
// each row gets its grants from there; without, rows carry none.
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

// The rows of a JSON catalogue as tasks: a row's application is its AppId,
// or `default_app`. `on_bad_app` hears of each AppId that is no 32-bit
// integer (the row keeps `default_app`).
struct JsonTaskReader {
    int32_t default_app = 1;
    std::function<void(const TaskRow&, const Variant& app)> on_bad_app;
    size_t app_field = kNoField;
    size_t fields_seen = 0;
    TaskRow row;

    void Take(JsonRowView& in, const TaskFn& on_task) {
        if (app_field == kNoField && in.fields.size() != fields_seen) {
            app_field = FindField(in.fields, "AppId");
            fields_seen = in.fields.size();
        }
        std::vector<Variant>& v = in.values;
        row.number = in.number;
        row.line = in.line;
        row.task_id = std::move(v[0]);
        row.parent = std::move(v[1]);
        row.description = std::move(v[2]);
        row.is_link = std::move(v[3]);
        row.url = std::move(v[4]);
        row.parms = std::move(v[5]);
        row.grants = std::move(in.grants);
        row.app_id = default_app;
        if (app_field != kNoField && !v[app_field].IsNull()) {
            if (v[app_field].type() == Variant::Type::Int32)
                row.app_id = v[app_field].Int32Value();
            else if (on_bad_app)
                on_bad_app(row, v[app_field]);
        }
        on_task(row);
    }
};

// How a pass over a JSON file reports: `what` every `every` rows, of
// `total` (0 when unknown).
struct JsonProgress {
    std::string what;
    size_t every = kRowsPerReport;
    size_t total = 0;
};

// The phase a first read of the JSON file `path` reports.
JsonProgress Parsing(const std::string& path) { return {"parsing " + path}; }

// Reads the JSON catalogue `path` (or, with `text`, that text named `path`)
// row by row, reporting as `how` says.
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

// ---------------------------------------------------------------------------
// Check: what each row needs, kept compact, then the parent chains walked.

// Keeps what the rules need of each row (its ids, parent and a few flags,
// 20 bytes), and hands the problems over in row order once every row is in.
class TaskChecker {
  public:
    // The row's place in messages, from its index, application and tag (the
    // line for a JSON row, the number within its application otherwise).
    using WhereFn = std::function<std::string(uint32_t row, int32_t app, uint32_t tag)>;

    explicit TaskChecker(bool by_application) : by_application_(by_application) {}
    void Add(const TaskRow& r);
    size_t Rows() const { return entries_.size(); }
    void Finish(const WhereFn& where, const ProblemFn& on_problem, const ProgressFn& progress);

  private:
    enum Flag : uint16_t {
        kHasId = 1,
        kHasParent = 2,
        kDescriptionMissing = 4,
        kDescriptionBlank = 8,
        kLinkWithoutUrl = 16,
        kLinkNotTrue = 32,
    };
    // Where each entry's parent chain ends: at the top (shown), nowhere (not
    // shown), in a cycle; or still being walked.
    enum State : uint8_t { kUnknown, kShown, kHidden, kCycle, kOnPath };
    struct Entry {
        int32_t app, id, parent;
        uint32_t tag;
        uint16_t flags;
        uint8_t state;
    };
    enum class Note : uint8_t {
        kIdMissing,
        kIdNotWhole,
        kIdZero,
        kIdAgain,
        kParentMissing,
        kParentNotWhole,
        kParentUnknown,
        kCycle,
    };
    // A problem of a row, kept until the rows are done.
    struct Noted {
        uint32_t row;
        Note note;
        uint32_t other;    // kIdAgain: the first row with the id
        std::string text;  // a value's description, a cycle's message
    };

    void Walk(const ProgressFn& progress);
    uint8_t CloseCycle(std::vector<uint32_t>& path, uint32_t at);
    std::string Text(const Noted& n, const WhereFn& where) const;
    void ShownProblems(uint32_t row, const std::string& where, const ProblemFn& on_problem) const;

    const bool by_application_;
    std::vector<Entry> entries_;
    IdIndex first_;              // application and id -> the first row with them
    std::vector<Noted> notes_;   // problems of the rows as they came, in row order
    std::vector<Noted> walked_;  // problems the walk found, in the order found
    std::unordered_map<uint32_t, std::string> link_values_;  // IsLink values like 1
};

void TaskChecker::Add(const TaskRow& r) {
    const auto row = static_cast<uint32_t>(entries_.size());
    Entry e{by_application_ ? r.app_id : 0,
            0,
            0,
            static_cast<uint32_t>(r.line ? r.line : r.number),
            0,
            kUnknown};
    std::optional<int32_t> id = WholeInt32(r.task_id), parent = WholeInt32(r.parent);
    if (r.task_id.IsNull())
        notes_.push_back({row, Note::kIdMissing, 0, {}});
    else if (!id)
        notes_.push_back({row, Note::kIdNotWhole, 0, r.task_id.Describe()});
    else if (*id == 0)
        notes_.push_back({row, Note::kIdZero, 0, {}});
    if (id) {
        e.id = *id;
        e.flags |= kHasId;
    }
    if (id && *id != 0) {
        auto [first, fresh] = first_.Insert(IdKeyOf(e.app, *id), row);
        if (!fresh) notes_.push_back({row, Note::kIdAgain, static_cast<uint32_t>(first), {}});
    }
    if (r.parent.IsNull())
        notes_.push_back({row, Note::kParentMissing, 0, {}});
    else if (!parent)
        notes_.push_back({row, Note::kParentNotWhole, 0, r.parent.Describe()});
    if (parent) {
        e.parent = *parent;
        e.flags |= kHasParent;
    }
    if (r.description.IsNull())
        e.flags |= kDescriptionMissing;
    else if (IsBlankText(r.description))
        e.flags |= kDescriptionBlank;
    if (r.is_link.EqualsTrue() && (r.url.IsNull() || IsBlankText(r.url))) {
        e.flags |= kLinkWithoutUrl;
    } else if (!r.is_link.IsNull() && r.is_link.type() != Variant::Type::Boolean &&
               !r.is_link.EqualsTrue() && r.is_link.IsNumeric() && r.is_link.ToDouble() != 0) {
        e.flags |= kLinkNotTrue;
        link_values_.emplace(row, r.is_link.Describe());
    }
    entries_.push_back(e);
}

// Walks each entry's parent chain with an explicit path, so that chains of
// any length cost no stack, and marks where it ends.
void TaskChecker::Walk(const ProgressFn& progress) {
    std::vector<uint32_t> path;
    for (uint32_t start = 0; start < entries_.size(); ++start) {
        if ((start + 1) % kProgressEvery == 0)
            Report(progress, "checking", start + 1, entries_.size());
        path.clear();
        uint32_t at = start;
        uint8_t ending = kUnknown;
        for (;;) {
            Entry& e = entries_[at];
            if (e.state == kOnPath) {
                ending = CloseCycle(path, at);
                break;
            }
            if (e.state != kUnknown) {
                ending = e.state == kCycle ? uint8_t{kHidden} : e.state;
                break;
            }
            if (!(e.flags & kHasId) || e.id == 0 || !(e.flags & kHasParent)) {
                ending = e.state = kHidden;
                break;
            }
            if (e.parent == 0) {
                ending = e.state = kShown;
                break;
            }
            const uint64_t parent = first_.Find(IdKeyOf(e.app, e.parent));
            if (parent == IdIndex::kNone) {
                walked_.push_back({at, Note::kParentUnknown, static_cast<uint32_t>(e.parent), {}});
                ending = e.state = kHidden;
                break;
            }
            e.state = kOnPath;
            path.push_back(at);
            at = static_cast<uint32_t>(parent);
        }
        for (uint32_t k : path)
            if (entries_[k].state == kOnPath) entries_[k].state = ending;
    }
}

// `at` closes a cycle on `path`: marks its members and names it at its
// first row. Returns how the rest of the path ends.
uint8_t TaskChecker::CloseCycle(std::vector<uint32_t>& path, uint32_t at) {
    size_t from = 0;
    while (path[from] != at) ++from;
    constexpr size_t kShownLinks = 8;
    const size_t length = path.size() - from;
    std::string chain;
    uint32_t lowest = path[from];
    for (size_t k = from; k < path.size(); ++k) {
        if (k - from < kShownLinks) chain += std::to_string(entries_[path[k]].id) + " -> ";
        lowest = std::min(lowest, path[k]);
        entries_[path[k]].state = kCycle;
    }
    if (length > kShownLinks) chain += "... " + std::to_string(length - kShownLinks) + " more -> ";
    chain += std::to_string(entries_[at].id);
    walked_.push_back({lowest, Note::kCycle, 0,
                       "TaskId " + std::to_string(entries_[lowest].id) + " is its own ancestor (" +
                           chain + "), so these tasks are never shown"});
    path.resize(from);
    return kHidden;
}

std::string TaskChecker::Text(const Noted& n, const WhereFn& where) const {
    const Entry& e = entries_[n.row];
    switch (n.note) {
        case Note::kIdMissing:
            return "TaskId is missing (the control needs one on every row)";
        case Note::kIdNotWhole:
            return "TaskId " + n.text + " is not a whole number that fits 32 bits";
        case Note::kIdZero:
            return "TaskId 0 is reserved for \"no parent\"";
        case Note::kIdAgain: {
            const Entry& first = entries_[n.other];
            return "TaskId " + std::to_string(e.id) + " is used again (first by " +
                   where(n.other, first.app, first.tag) + ")";
        }
        case Note::kParentMissing:
            return "TaskParent is missing, so the task is never shown";
        case Note::kParentNotWhole:
            return "TaskParent " + n.text + " is not a whole number that fits 32 bits";
        case Note::kParentUnknown:
            return "TaskParent " + std::to_string(static_cast<int32_t>(n.other)) +
                   " names no task, so the task is never shown";
        case Note::kCycle:
            break;
    }
    return n.text;
}

void TaskChecker::ShownProblems(uint32_t row, const std::string& where,
                                const ProblemFn& on_problem) const {
    const uint16_t flags = entries_[row].flags;
    if (flags & kDescriptionMissing)
        on_problem({where,
                    "TaskDescription is missing on a task that is shown (the load fails with "
                    "error 94)"});
    else if (flags & kDescriptionBlank)
        on_problem({where, "TaskDescription is blank on a task that is shown"});
    if (flags & kLinkWithoutUrl)
        on_problem(
            {where, "the task is a link with no TaskURL, so double-clicking it starts nothing"});
    else if (flags & kLinkNotTrue)
        on_problem({where, "IsLink is " + link_values_.at(row) +
                               ", which is not True (-1), so the task is no link"});
}

void TaskChecker::Finish(const WhereFn& where, const ProblemFn& on_problem,
                         const ProgressFn& progress) {
    Walk(progress);
    std::stable_sort(walked_.begin(), walked_.end(),
                     [](const Noted& a, const Noted& b) { return a.row < b.row; });
    size_t note = 0, walk = 0;
    for (uint32_t row = 0; row < entries_.size(); ++row) {
        const Entry& e = entries_[row];
        const bool shown =
            e.state == kShown &&
            (e.flags & (kDescriptionMissing | kDescriptionBlank | kLinkWithoutUrl | kLinkNotTrue));
        if ((note == notes_.size() || notes_[note].row != row) &&
            (walk == walked_.size() || walked_[walk].row != row) && !shown)
            continue;
        const std::string here = where(row, e.app, e.tag);
        for (; note < notes_.size() && notes_[note].row == row; ++note)
            on_problem({here, Text(notes_[note], where)});
        for (; walk < walked_.size() && walked_[walk].row == row; ++walk)
            on_problem({here, Text(walked_[walk], where)});
        if (shown) ShownProblems(row, here, on_problem);
    }
}

std::string JsonWhere(uint32_t row, uint32_t line) {
    return "row " + std::to_string(row + 1) + " (line " + std::to_string(line) + ")";
}

std::string DatabaseWhere(int32_t app, size_t number) {
    return "application " + std::to_string(app) + ", row " + std::to_string(number);
}

// ---------------------------------------------------------------------------
// Export: JSON text written as the rows come.

// Appends `v` as JSON.
void AppendJson(std::string& out, const Variant& v) {
    switch (v.type()) {
        case Variant::Type::Boolean:
            out += v.BoolValue() ? "true" : "false";
            return;
        case Variant::Type::Int32:
            out += std::to_string(v.Int32Value());
            return;
        case Variant::Type::Int64:
            out += std::to_string(v.Int64Value());
            return;
        case Variant::Type::Double:
            out += json::Number(v.DoubleValue());
            return;
        case Variant::Type::String:
            out += json::Quote(v.StringValue());
            return;
        case Variant::Type::Empty:
        case Variant::Type::Null:
        case Variant::Type::Object:
            break;
    }
    out += "null";
}

void AppendRow(std::string& out, const TaskRow& r) {
    out += "  {\"TaskId\": ";
    AppendJson(out, r.task_id);
    out += ", \"TaskParent\": ";
    AppendJson(out, r.parent);
    out += ", \"TaskDescription\": ";
    AppendJson(out, r.description);
    out += ", \"IsLink\": ";
    AppendJson(out, r.is_link);
    out += ", \"TaskURL\": ";
    AppendJson(out, r.url);
    out += ", \"TaskParms\": ";
    AppendJson(out, r.parms);
    out += ", \"AppId\": " + std::to_string(r.app_id);
    if (!r.grants) {
        out += "}";
        return;
    }
    out += ", \"Grants\": [";
    for (size_t g = 0; g < r.grants->size(); ++g) {
        const Grant& grant = (*r.grants)[g];
        out += g ? ", {" : "{";
        const char* separator = "";
        auto add = [&](const char* name, const std::string& value) {
            out += std::string(separator) + "\"" + name + "\": " + value;
            separator = ", ";
        };
        if (grant.user_number) add("UserNumber", std::to_string(*grant.user_number));
        if (grant.brand) add("Brand", json::Quote(*grant.brand));
        if (grant.facility_id) add("FacilityId", json::Quote(*grant.facility_id));
        out += "}";
    }
    out += "]}";
}

// Part of the export on standard output, checked: a full disk or a closed
// pipe behind it is a failure, not a successful export.
void WriteStandardOutput(std::string_view content) {
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

// Where an export's text goes: standard output a piece at a time, or a
// file, which is replaced whole once the text is complete. The file's text
// grows with realloc, which for blocks this large moves pages instead of
// copying them, so the peak is the text once rather than one and a half
// times over as a doubling string's would be.
class ExportOutput {
  public:
    explicit ExportOutput(std::string path) : path_(std::move(path)) {}
    ~ExportOutput() { std::free(text_); }
    ExportOutput(const ExportOutput&) = delete;
    ExportOutput& operator=(const ExportOutput&) = delete;

    std::string& Pending() { return pending_; }
    // Hands the pending text on when there is enough of it (or `all`).
    void Flush(bool all = false) {
        constexpr size_t kPiece = 64 * 1024;
        if (!all && pending_.size() < kPiece) return;
        if (path_ == "-") {
            WriteStandardOutput(pending_);
        } else {
            if (size_ + pending_.size() > capacity_) {
                const size_t capacity = std::max(capacity_ * 2, size_ + pending_.size());
                char* grown = static_cast<char*>(std::realloc(text_, capacity));
                if (!grown) throw std::bad_alloc();
                text_ = grown;
                capacity_ = capacity;
            }
            std::copy(pending_.begin(), pending_.end(), text_ + size_);
            size_ += pending_.size();
        }
        pending_.clear();
    }
    void Close() {
        Flush(true);
        if (path_ != "-") ReplaceFile(path_, std::string_view(text_ ? text_ : "", size_));
    }

  private:
    std::string path_;
    std::string pending_;
    char* text_ = nullptr;
    size_t size_ = 0, capacity_ = 0;
};

// ---------------------------------------------------------------------------
// Import: rows checked and inserted as they are read, in one transaction.

class Importer {
  public:
    Importer(CatalogueLocation loc, std::string json_path, const ProgressFn& progress)
        : loc_(std::move(loc)), json_path_(std::move(json_path)), progress_(progress) {}
    ~Importer() { Abandon(); }

    // The first pass: every row checked, nothing written. The problems,
    // if any, are thrown when it ends.
    void Check(const TaskRow& row) { Add(row, false); }
    void EndCheck();
    // The second pass: the rows checked again (the file may have changed
    // since) and written as they come.
    void Write(const TaskRow& row) { Add(row, true); }
    void BadApp(const TaskRow& row, const Variant& app) {
        Refuse(row, "AppId must be a whole number that fits 32 bits, not " + app.Describe());
    }
    ImportResult Finish();

  private:
    // Notes a row that cannot be stored: nothing will be written.
    void Refuse(const TaskRow& row, std::string what);
    void Add(const TaskRow& row, bool write);
    void Open();
    void Store(const TaskRow& row, int32_t id, Variant parent, Variant link);
    void Flush();
    void Abandon();
    Variant AsText(const Variant& v, const TaskRow& row, const char* field);

    const CatalogueLocation loc_;
    const std::string json_path_;
    const ProgressFn& progress_;
    std::unique_ptr<Database> db_;
    bool in_transaction_ = false;
    bool created_file_ = false;
    ImportResult result_;
    IdIndex seen_;                      // application and id -> (row << 32 | line) of its first row
    std::map<int32_t, int32_t> order_;  // the sort order so far per application
    std::vector<Problem> problems_;     // the first kMaxListedProblems
    size_t problem_count_ = 0;
    std::vector<Variant> tasks_, grants_;  // rows waiting for the next batch
};

void Importer::Refuse(const TaskRow& row, std::string what) {
    if (problems_.size() < kMaxListedProblems) problems_.push_back({Where(row), std::move(what)});
    ++problem_count_;
}

// A value the control reads as text (description, URL, parameters): text
// stays, Null stays, anything else is stored as the text the control would
// make of it.
Variant Importer::AsText(const Variant& v, const TaskRow& row, const char* field) {
    if (v.IsNull() || v.IsEmpty()) return Variant::Null();
    if (v.type() == Variant::Type::String) return v;
    result_.warnings.push_back(Where(row) + ": " + field + " " + v.Describe() +
                               " is stored as the text " + Quoted(v.ToString()));
    return Variant(v.ToString());
}

void Importer::Add(const TaskRow& row, bool write) {
    std::optional<int32_t> id = WholeInt32(row.task_id);
    if (row.task_id.IsNull()) return Refuse(row, "TaskId is missing");
    if (!id || *id == 0)
        return Refuse(row, "TaskId must be a whole number other than 0 that fits 32 bits, not " +
                               row.task_id.Describe());
    const uint64_t place = (uint64_t{static_cast<uint32_t>(row.number)} << 32) | row.line;
    auto [first, fresh] = seen_.Insert(IdKeyOf(row.app_id, *id), place);
    if (!fresh)
        return Refuse(row, "TaskId " + std::to_string(*id) + " is already used by " +
                               JsonWhere(static_cast<uint32_t>((first >> 32) - 1),
                                         static_cast<uint32_t>(first)) +
                               " in application " + std::to_string(row.app_id));
    Variant parent = Variant::Null();
    if (!row.parent.IsNull()) {
        std::optional<int32_t> p = WholeInt32(row.parent);
        if (!p)
            return Refuse(row,
                          "TaskParent must be a whole number that fits 32 bits, or "
                          "null, not " +
                              row.parent.Describe());
        parent = Variant(*p);
    }
    Variant link = Variant::Null();
    if (!row.is_link.IsNull()) {
        link = Variant::Boolean(row.is_link.EqualsTrue());
        if (write && row.is_link.type() != Variant::Type::Boolean)
            result_.warnings.push_back(
                Where(row) + ": IsLink " + row.is_link.Describe() + " is stored as " +
                (row.is_link.EqualsTrue() ? "true" : "false") + " (only true or -1 makes a link)");
    }
    if (write) Store(row, *id, std::move(parent), std::move(link));
}

// Opens the database, once the file has been read through without a
// problem.
void Importer::Open() {
    if (db_) return;
    if (loc_.kind == StoreKind::kSqlite) {
        struct stat st {};
        created_file_ = ::stat(loc_.target.c_str(), &st) != 0 && errno == ENOENT;
    }
    db_ = OpenDatabase(loc_, OpenMode::kCreate);
    UpgradeSchema(*db_);
    // The rows come in file order, their ids in none: each insert lands at
    // a random place of three indexes. With SQLite's default cache of 2 MiB
    // nearly every one of them is a read from the file; 64 MiB holds the
    // indexes of a million tasks (docs/performance.md, "Catalogue tools").
    if (db_->Kind() == StoreKind::kSqlite) db_->ExecScript("PRAGMA cache_size = -65536");
    db_->ExecScript("BEGIN");
    in_transaction_ = true;
}

void Importer::Store(const TaskRow& row, int32_t id, Variant parent, Variant link) {
    if (problem_count_ > 0) return;  // nothing is written; the rest is only checked
    Variant description = AsText(row.description, row, "TaskDescription");
    Variant url = AsText(row.url, row, "TaskURL");
    Variant parms = AsText(row.parms, row, "TaskParms");
    Open();
    const int32_t app = row.app_id;
    auto [order, first_of_app] = order_.emplace(app, 0);
    if (first_of_app) {
        Flush();
        db_->Execute("DELETE FROM task_grant WHERE app_id = $1", {Variant(app)});
        db_->Execute("DELETE FROM task WHERE app_id = $1", {Variant(app)});
        result_.applications.push_back(app);
    }
    for (Variant v : {Variant(app), Variant(id), std::move(parent), std::move(description),
                      std::move(link), std::move(url), std::move(parms), Variant(++order->second)})
        tasks_.push_back(std::move(v));
    const std::vector<Grant> everyone{Grant{}};
    for (const Grant& g : row.grants ? *row.grants : everyone) {
        grants_.push_back(Variant(app));
        grants_.push_back(Variant(id));
        grants_.push_back(g.user_number ? Variant(*g.user_number) : Variant::Null());
        grants_.push_back(g.brand ? Variant(*g.brand) : Variant::Null());
        grants_.push_back(g.facility_id ? Variant(*g.facility_id) : Variant::Null());
    }
    ++result_.tasks;
    if (tasks_.size() >= kInsertBatch * 8) Flush();
}

void Importer::Flush() {
    static const std::vector<std::string> kTaskColumns{"app_id",  "id",  "parent", "description",
                                                       "is_link", "url", "parms",  "sort_order"};
    static const std::vector<std::string> kGrantColumns{"app_id", "task_id", "user_number", "brand",
                                                        "facility_id"};
    if (!tasks_.empty()) db_->InsertRows("task", kTaskColumns, tasks_);
    if (!grants_.empty()) db_->InsertRows("task_grant", kGrantColumns, grants_);
    tasks_.clear();
    grants_.clear();
}

void Importer::EndCheck() {
    if (problem_count_ == 0) {
        seen_ = IdIndex();  // the second pass meets every id again
        return;
    }
    Abandon();
    std::string text = "The catalogue " + Quoted(json_path_) + " cannot be imported:";
    for (const auto& p : problems_) text += "\n  " + p.where + ": " + p.what;
    if (problem_count_ > kMaxListedProblems)
        text += "\n  ... and " + Counted(problem_count_ - kMaxListedProblems, "more problem") +
                " (kevra-catalog check lists them all)";
    throw RuntimeError(err::kBadCatalogue, text);
}

ImportResult Importer::Finish() {
    EndCheck();  // rows that changed between the passes
    Open();      // a catalogue without rows still gets the schema
    Flush();
    db_->ExecScript("COMMIT");
    in_transaction_ = false;
    created_file_ = false;
    Report(progress_, "imported", result_.tasks, result_.tasks);
    return std::move(result_);
}

// Rolls back what was written, and removes a SQLite file this import made:
// an import that fails leaves the target as it was.
void Importer::Abandon() {
    if (in_transaction_) {
        in_transaction_ = false;
        try {
            db_->ExecScript("ROLLBACK");
        } catch (...) {
            // The first error is the one worth reporting; a connection that
            // cannot roll back has dropped the transaction anyway.
        }
    }
    db_.reset();
    if (created_file_) {
        ::unlink(loc_.target.c_str());
        ::unlink((loc_.target + "-journal").c_str());
        created_file_ = false;
    }
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

ImportResult ImportJson(const std::string& json_path, const std::string& target,
                        int32_t default_app, const ProgressFn& progress,
                        const std::optional<std::string>& json_text) {
    CatalogueLocation loc = ResolveMachineName(target);
    if (loc.kind == StoreKind::kJson)
        throw RuntimeError(err::kInvalidArgument,
                           "Cannot import into " + Quoted(target) +
                               ": it is a JSON file; import into a database (a .db file, "
                               "sqlite:FILE, a PostgreSQL server), or copy the JSON file");
    // Two passes: the first checks every row and writes nothing, so a file
    // with problems leaves the database untouched (and unopened); the
    // second writes the rows as it reads them, knowing how many there are.
    Importer importer(loc, json_path, progress);
    JsonTaskReader reader;
    reader.default_app = default_app;
    reader.on_bad_app = [&](const TaskRow& row, const Variant& app) { importer.BadApp(row, app); };
    JsonProgress parsing = Parsing(json_path);
    if (json_text) parsing.every = SIZE_MAX;  // text in memory: no parse to wait for
    size_t rows = 0;
    ForEachJsonTask(
        json_path, json_text, reader,
        [&](TaskRow& row) {
            importer.Check(row);
            ++rows;
        },
        progress, parsing);
    importer.EndCheck();
    JsonTaskReader again = reader;  // its fields are found afresh, as the parser's are
    again.app_field = kNoField;
    again.fields_seen = 0;
    ForEachJsonTask(json_path, json_text, again, [&](TaskRow& row) { importer.Write(row); },
                    progress, {"importing", kProgressEvery, rows});
    return importer.Finish();
}

size_t ExportJson(const std::string& target, const std::string& json_path,
                  const ProgressFn& progress) {
    ExportOutput out(json_path);
    out.Pending() = "[\n";
    bool first = true;
    const size_t n = ForEachTask(
        target,
        [&](TaskRow& row) {
            std::string& text = out.Pending();
            if (!first) text += ",\n";
            first = false;
            AppendRow(text, row);
            out.Flush();
        },
        [&](std::string_view, size_t done, size_t total) {
            Report(progress, "exporting", done, total);
        });
    out.Pending() += first ? "]\n" : "\n]\n";
    out.Close();
    Report(progress, "exported", n, n);
    return n;
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

size_t CheckCatalogue(const std::string& target, const ProblemFn& on_problem,
                      const ProgressFn& progress) {
    // A JSON file is shown whole, so its rows form one catalogue whatever
    // their AppId; a database shows one application at a time.
    CatalogueLocation loc = ResolveMachineName(target);
    if (loc.kind == StoreKind::kJson) {
        TaskChecker checker(false);
        JsonTaskReader reader;
        ForEachJsonTask(
            loc.target, std::nullopt, reader, [&](TaskRow& row) { checker.Add(row); }, progress,
            Parsing(loc.target));
        checker.Finish([](uint32_t row, int32_t, uint32_t line) { return JsonWhere(row, line); },
                       on_problem, progress);
        return checker.Rows();
    }
    std::unique_ptr<Database> db = OpenDatabase(loc, OpenMode::kReadOnly);
    RequireSchema(*db);
    ReadGrants(*db, nullptr);  // only checked: a check needs no grants
    TaskChecker checker(true);
    ReadDatabaseTasks(
        *db, nullptr, [&](TaskRow& row) { checker.Add(row); }, progress, "reading the catalogue",
        CountTasks(*db));
    db.reset();
    checker.Finish(
        [](uint32_t, int32_t app, uint32_t number) { return DatabaseWhere(app, number); },
        on_problem, progress);
    return checker.Rows();
}

std::vector<Problem> CheckCatalogue(const std::string& target) {
    std::vector<Problem> problems;
    CheckCatalogue(target, [&](const Problem& p) { problems.push_back(p); });
    return problems;
}

std::vector<Problem> CheckTasks(const std::vector<TaskRow>& rows, bool by_application,
                                const ProgressFn& progress) {
    TaskChecker checker(by_application);
    for (const TaskRow& row : rows) checker.Add(row);
    std::vector<Problem> problems;
    checker.Finish([&](uint32_t row, int32_t, uint32_t) { return Where(rows[row]); },
                   [&](const Problem& p) { problems.push_back(p); }, progress);
    return problems;
}

}  // namespace kevra::service
