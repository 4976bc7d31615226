// Checking a catalogue: every row's ids, parent and link flags kept
// compactly as the rows are read, then the parent chains walked and the
// problems handed over in row order.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "service/catalogue_location.h"
#include "service/catalogue_schema.h"
#include "service/catalogue_tools.h"
#include "service/catalogue_tools_p.h"

namespace kevra::service {

using namespace catalogue_detail;

namespace {

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

}  // namespace

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
