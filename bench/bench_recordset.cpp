// Record-set figures: the equality filter answered from the field index
// against a linear scan of the same record set, the launch lookup (a TaskId
// filter and the record count), raw, over ids spread too widely for the
// dense index, and through the control's double-click; and the per-node
// work of a tree walk (a clone with its children filter, the fields read
// by name), by which the record set's small speed-ups are measured.
//
// Every lookup picks its value from a long shuffled list, so that a large
// catalogue is probed all over its index, as real clicks would, rather than
// in one warm spot.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>

#include "bench/bench_support.h"

namespace kevra::bench {
namespace {

// Puts `values` in an order fixed once for all runs, but with no pattern a
// cache or a branch predictor could learn.
void Shuffle(std::vector<int32_t>& values) {
    uint64_t x = 12345;
    for (size_t i = values.size(); i > 1; --i) {
        x = x * 6364136223846793005ull + 1442695040888963407ull;
        std::swap(values[i - 1], values[(x >> 33) % i]);
    }
}

// Up to `limit` values of `pick(row)` over the rows that `want` accepts, in
// a fixed shuffled order.
template <typename Want, typename Pick>
std::vector<int32_t> SampleValues(const testdata::Catalogue& cat, size_t limit, Want want,
                                  Pick pick) {
    std::vector<int32_t> values;
    for (uint32_t r = 0; r < cat.Rows(); ++r)
        if (want(r)) values.push_back(pick(r));
    Shuffle(values);
    if (values.size() > limit) values.resize(limit);
    return values;
}

// The id of row `r` of a catalogue whose ids are spread over 32 numbers a
// row: one id at an uneven place in each run of 32.
int32_t SpreadId(uint32_t r) {
    return static_cast<int32_t>(1 + uint64_t{r} * 32 + (uint64_t{r} * 2654435761u) % 32);
}

std::vector<std::string> Filters(const std::string& field, const std::vector<int32_t>& values) {
    std::vector<std::string> out;
    for (int32_t v : values) out.push_back(field + "=" + std::to_string(v));
    return out;
}

// The parents whose children a filter looks for: tasks that have some.
std::vector<int32_t> ParentSample(const testdata::Catalogue& cat) {
    return SampleValues(
        cat, 1 << 16, [&](uint32_t r) { return cat.ChildCount(r) > 0; },
        [&](uint32_t r) { return cat.task_id[r]; });
}

// Times `count(rs, filter)` for the children filters of sampled parents in
// turn, on a record set of the catalogue of state.range(0) tasks whose
// index is built first; returns the rows the counts add up to.
template <typename Count>
int64_t TimeChildrenFilters(benchmark::State& state, Count count) {
    const auto& cat = GeneratedCatalogue(static_cast<uint32_t>(state.range(0)));
    const std::vector<std::string> filters = Filters("TaskParent", ParentSample(cat));
    RecordsetRef rs = Recordset::Open(cat.table);
    rs->Filter(filters.front());  // builds the index, once per table
    size_t i = 0;
    int64_t matched = 0;
    for (auto _ : state) {
        matched += count(rs, filters[i]);
        if (++i == filters.size()) i = 0;
    }
    return matched;
}

void BM_FilterIndexed(benchmark::State& state) {
    const int64_t matched =
        TimeChildrenFilters(state, [](const RecordsetRef& rs, const std::string& filter) {
            rs->Filter(filter);
            return rs->RecordCount();
        });
    state.counters["rows_matched"] =
        benchmark::Counter(static_cast<double>(matched), benchmark::Counter::kAvgIterations);
}

// The reference: every row read through the record set and compared.
void BM_FilterScan(benchmark::State& state) {
    const auto& cat = GeneratedCatalogue(static_cast<uint32_t>(state.range(0)));
    const std::vector<int32_t> parents = ParentSample(cat);
    RecordsetRef rs = Recordset::Open(cat.table);
    const Field parent = rs->Fields("TaskParent");
    RecordsetRef check = Recordset::Open(cat.table);
    size_t i = 0;
    int64_t matched = 0;
    for (auto _ : state) {
        const int32_t wanted = parents[i];
        int32_t count = 0;
        rs->Filter("");  // back to the first row
        for (; !rs->Eof(); rs->MoveNext()) {
            const Variant v = parent.Value();
            if (v.type() == Variant::Type::Int32 && v.Int32Value() == wanted) ++count;
        }
        matched += count;
        if (i == 0) {
            // Both sides must find the same rows, or the ratio means nothing.
            state.PauseTiming();
            check->Filter("TaskParent=" + std::to_string(wanted));
            if (check->RecordCount() != count) {
                state.SkipWithError("the scan and the indexed filter found different rows");
                break;
            }
            state.ResumeTiming();
        }
        if (++i == parents.size()) i = 0;
    }
    state.counters["rows_matched"] =
        benchmark::Counter(static_cast<double>(matched), benchmark::Counter::kAvgIterations);
}

// The launch's lookup: TaskId=n, then RecordCount, for each of `filters`
// in turn; the first, outside the timing, builds the index.
void TimeLookups(benchmark::State& state, const TableRef& table,
                 const std::vector<std::string>& filters) {
    RecordsetRef rs = Recordset::Open(table);
    rs->Filter(filters.front());
    size_t i = 0;
    for (auto _ : state) {
        rs->Filter(filters[i]);
        if (rs->RecordCount() != 1) {
            state.SkipWithError("a TaskId filter did not find its one row");
            break;
        }
        if (++i == filters.size()) i = 0;
    }
}

void BM_LaunchLookup(benchmark::State& state) {
    const auto& cat = GeneratedCatalogue(static_cast<uint32_t>(state.range(0)));
    const std::vector<std::string> filters =
        Filters("TaskId", SampleValues(
                              cat, 1 << 16, [](uint32_t) { return true; },
                              [&](uint32_t r) { return cat.task_id[r]; }));
    TimeLookups(state, cat.table, filters);
}

// The floor under the lookup: one read of a 4-byte entry, picked by a mixed
// task id, from a table of one entry per row (as the TaskId index keeps the
// row of each key), with the ids in the same order. Each read waits for the
// one before, as one click's lookup waits for nothing else to overlap it.
// At a million rows that read misses the faster caches, whatever a lookup
// does around it.
void BM_LookupFloor(benchmark::State& state) {
    const auto& cat = GeneratedCatalogue(static_cast<uint32_t>(state.range(0)));
    const std::vector<int32_t> ids = SampleValues(
        cat, 1 << 16, [](uint32_t) { return true; }, [&](uint32_t r) { return cat.task_id[r]; });
    const uint64_t entries = cat.Rows();
    // 0 in every entry, which the compiler cannot know.
    std::vector<uint32_t> table(entries, 0);
    benchmark::DoNotOptimize(table.data());
    benchmark::ClobberMemory();
    size_t i = 0;
    uint32_t carry = 0;
    for (auto _ : state) {
        const uint64_t h = (static_cast<uint64_t>(ids[i]) + carry) * 0x9E3779B97F4A7C15ull;
        carry = table[((h >> 32) * entries) >> 32];
        if (++i == ids.size()) i = 0;
    }
    benchmark::DoNotOptimize(carry);
}

// The whole double-click on a link task: settings writes, the lookup, the
// field reads and StartTask. The selected node changes every time.
void BM_LaunchThroughControl(benchmark::State& state) {
    const auto& cat = GeneratedCatalogue(static_cast<uint32_t>(state.range(0)));
    HeadlessControl host;
    host.ServeRows(cat.table);
    if (!host.Load(state)) return;
    ctlKevraTaskList& control = host.Control();
    // Fill the tree for the first list item of the first group; its link
    // tasks are what the user double-clicks.
    const uint32_t group = cat.top_rows.front();
    const uint32_t item = cat.child_rows[cat.child_begin[group]];
    control.sslistTaskList().UserClickItem(testdata::TaskKey(cat.task_id[item]));
    if (!host.Ok(state)) return;
    std::vector<std::string> links;
    // The generator numbers tasks 1..rows.
    std::vector<uint32_t> row_of_id(cat.Rows() + 1);
    for (uint32_t r = 0; r < cat.Rows(); ++r) row_of_id[static_cast<size_t>(cat.task_id[r])] = r;
    const NodeCollection& nodes = control.sstreeTaskList().Nodes();
    for (int32_t n = 1; n <= nodes.Count(); ++n) {
        const std::string& key = nodes.At(n)->Key();
        const uint32_t row = row_of_id[static_cast<size_t>(ParseInt32(key.substr(1)))];
        if (cat.level[row] >= 3) {
            RecordsetRef rs = Recordset::Open(cat.table);
            rs->Filter("TaskId=" + key.substr(1));
            if (rs->Fields("IsLink").Value().EqualsTrue()) links.push_back(key);
        }
    }
    if (links.empty()) {
        state.SkipWithError("the first list item has no link task to launch");
        return;
    }
    int64_t started = 0;
    control.OnStartTask([&](int32_t, const std::string&, const std::string&) { ++started; });
    size_t i = 0;
    for (auto _ : state) {
        control.sstreeTaskList().UserSelect(links[i]);
        control.sstreeTaskList().UserDblClick();
        if (++i == links.size()) i = 0;
    }
    if (!host.Ok(state)) return;
    if (started != static_cast<int64_t>(state.iterations()))
        state.SkipWithError("not every double-click raised StartTask");
}

// The launch lookup over a catalogue whose ids are spread over 32 times as
// many numbers as it has rows, as when a user is granted one task in 32 of
// a large shared catalogue: too wide for the dense index, so the TaskId
// index is a hash table (of 8-byte slots holding the id and its row).
TableRef SpreadIdTable(uint32_t rows) {
    TableBuilder builder({"TaskId", "TaskParent", "TaskDescription"});
    for (uint32_t r = 0; r < rows; ++r) builder.AddRow({SpreadId(r), 0, "Task"});
    return builder.Build();
}

void BM_LaunchLookupSpreadIds(benchmark::State& state) {
    const auto rows = static_cast<uint32_t>(state.range(0));
    static std::map<uint32_t, TableRef> made;
    TableRef& table = made[rows];
    if (!table) table = SpreadIdTable(rows);
    std::vector<int32_t> ids;
    for (uint32_t r = 0; r < rows; ++r) ids.push_back(SpreadId(r));
    Shuffle(ids);
    if (ids.size() > (1u << 16)) ids.resize(1u << 16);
    TimeLookups(state, table, Filters("TaskId", ids));
}

// What a tree walk does for every node before it reads the node's row: a
// clone of the record set, its children filter, the count, and the clone's
// release.
void BM_CloneAndFilter(benchmark::State& state) {
    const int64_t matched =
        TimeChildrenFilters(state, [](const RecordsetRef& rs, const std::string& filter) {
            RecordsetRef clone = rs->Clone();
            clone->Filter(filter);
            return clone->RecordCount();
        });
    benchmark::DoNotOptimize(matched);
}

// The fields a tree walk reads by name for every node, as it spells them.
void BM_FieldsByName(benchmark::State& state) {
    const auto& cat = GeneratedCatalogue(static_cast<uint32_t>(state.range(0)));
    RecordsetRef rs = Recordset::Open(cat.table);
    const std::string_view names[] = {"TaskId", "TaskDescription", "IsLink"};
    for (auto _ : state) {
        for (std::string_view name : names) {
            const Field field = rs->Fields(name);
            benchmark::DoNotOptimize(field);
        }
    }
}

void Sizes(benchmark::internal::Benchmark* b) {
    b->ArgName("rows");
    for (int64_t n : kSizes) b->Arg(n);
}

BENCHMARK(BM_FilterIndexed)->Apply(Sizes);
BENCHMARK(BM_FilterScan)->Apply(Sizes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LaunchLookup)->Apply(Sizes);
BENCHMARK(BM_LookupFloor)->Apply(Sizes);
BENCHMARK(BM_LaunchThroughControl)->Apply(Sizes);
BENCHMARK(BM_LaunchLookupSpreadIds)->Apply(Sizes);
BENCHMARK(BM_CloneAndFilter)->Apply(Sizes);
BENCHMARK(BM_FieldsByName)->ArgName("rows")->Arg(1000);

}  // namespace
}  // namespace kevra::bench

BENCHMARK_MAIN();
