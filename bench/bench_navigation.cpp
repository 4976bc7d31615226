// Navigation figures, each beside its floor: the tree fill of a list item
// through the control (headless) against a bare in-memory build of a tree
// of the same shape, and the list bar build (LoadData from rows in memory)
// against a bare build of the same groups and items.
//
// The floors do the least that yields the same content: for every node its
// key formed from the task id, its trimmed text and a link to its parent,
// read from plain arrays. They say what the record set, the widget models
// and the control's order of calls cost on top.
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"

namespace kevra::bench {
namespace {

// Whether each row is a link, read once from the rows.
std::vector<uint8_t> LinkFlags(const testdata::Catalogue& cat) {
    std::vector<uint8_t> link(cat.Rows());
    RecordsetRef rs = Recordset::Open(cat.table);
    const Field is_link = rs->Fields("IsLink");
    for (uint32_t r = 0; !rs->Eof(); rs->MoveNext(), ++r) link[r] = is_link.Value().EqualsTrue();
    return link;
}

struct BareNode {
    uint32_t parent;  // index in the tree, or UINT32_MAX for the root
    std::string key;
    std::string text;
    bool link;
};

// The group root, the list item under it, then every task below the item,
// depth first, siblings in row order: the shape LoadTaskTree builds. Built
// into `tree`, whose old nodes go first and whose storage is kept, so that a
// repeated build reuses its memory as the control's tree reuses its chunks.
void BuildBareTree(const testdata::Catalogue& cat, const std::vector<uint8_t>& link, uint32_t group,
                   uint32_t item, std::vector<BareNode>& tree) {
    tree.clear();
    tree.push_back(
        {UINT32_MAX, testdata::TaskKey(cat.task_id[group]), Trim(cat.description[group]), false});
    tree.push_back({0, testdata::TaskKey(cat.task_id[item]), Trim(cat.description[item]), false});
    struct Pending {
        uint32_t row;
        uint32_t parent;
    };
    std::vector<Pending> pending;
    auto push_children = [&](uint32_t row, uint32_t parent) {
        for (uint32_t i = cat.child_begin[row + 1]; i-- > cat.child_begin[row];)
            pending.push_back({cat.child_rows[i], parent});
    };
    push_children(item, 1);
    while (!pending.empty()) {
        const Pending p = pending.back();
        pending.pop_back();
        const uint32_t index = static_cast<uint32_t>(tree.size());
        tree.push_back({p.parent, testdata::TaskKey(cat.task_id[p.row]),
                        Trim(cat.description[p.row]), link[p.row] != 0});
        push_children(p.row, index);
    }
}

void BM_TreeFill(benchmark::State& state) {
    const uint32_t rows = static_cast<uint32_t>(state.range(0));
    const auto& cat = GeneratedCatalogue(rows, SingleItemShape);
    HeadlessControl host;
    host.ServeRows(cat.table);
    if (!host.Load(state)) return;
    const uint32_t group = cat.top_rows.front();
    const uint32_t item = cat.child_rows[cat.child_begin[group]];
    const std::string item_key = testdata::TaskKey(cat.task_id[item]);
    ListBar& list_bar = host.Control().sslistTaskList();
    const NodeCollection& nodes = host.Control().sstreeTaskList().Nodes();
    // One fill before the timing, as for the floor: both are then measured
    // as a repeated click is, on memory the process has touched before (at
    // a million rows a single timed fill would also pay for the kernel
    // handing out fresh pages, which the floor, run many times, does not).
    if (!list_bar.UserClickItem(item_key)) {
        state.SkipWithError("the list item to fill is not in the open group");
        return;
    }
    for (auto _ : state) {
        if (!list_bar.UserClickItem(item_key)) {
            state.SkipWithError("the list item to fill is not in the open group");
            break;
        }
    }
    if (!host.Ok(state)) return;
    if (nodes.Count() != static_cast<int32_t>(rows)) {
        state.SkipWithError("the tree does not hold every task of the catalogue");
        return;
    }
    state.counters["nodes"] = static_cast<double>(nodes.Count());
    state.SetItemsProcessed(state.iterations() * rows);
}

void BM_TreeFloor(benchmark::State& state) {
    const uint32_t rows = static_cast<uint32_t>(state.range(0));
    const auto& cat = GeneratedCatalogue(rows, SingleItemShape);
    const std::vector<uint8_t> link = LinkFlags(cat);
    const uint32_t group = cat.top_rows.front();
    const uint32_t item = cat.child_rows[cat.child_begin[group]];
    std::vector<BareNode> tree;
    BuildBareTree(cat, link, group, item, tree);
    for (auto _ : state) {
        // The previous tree goes before the new one comes, as a refill clears it.
        BuildBareTree(cat, link, group, item, tree);
        benchmark::DoNotOptimize(tree.data());
    }
    if (tree.size() != rows) {
        state.SkipWithError("the bare tree does not hold every task of the catalogue");
        return;
    }
    state.counters["nodes"] = static_cast<double>(tree.size());
    state.SetItemsProcessed(state.iterations() * rows);
}

// LoadData with rows already in memory: the list bar build, with the index
// it needs built anew, as every load of a new record set does.
void BM_ListBarBuild(benchmark::State& state) {
    const auto& cat = GeneratedCatalogue(static_cast<uint32_t>(state.range(0)));
    HeadlessControl host;
    const ListBar& list_bar = host.Control().sslistTaskList();
    if (!host.LoadFreshCopies(state, cat.table)) return;
    if (list_bar.Groups().Count() != static_cast<int32_t>(cat.top_rows.size())) {
        state.SkipWithError("the list bar does not hold one group per top-level task");
        return;
    }
    state.counters["groups"] = static_cast<double>(list_bar.Groups().Count());
}

struct BareItem {
    std::string key;
    std::string text;
};
struct BareGroup {
    std::string key;
    std::string caption;
    std::vector<BareItem> items;
};

void BM_ListBarFloor(benchmark::State& state) {
    const auto& cat = GeneratedCatalogue(static_cast<uint32_t>(state.range(0)));
    std::vector<BareGroup> groups;
    for (auto _ : state) {
        std::vector<BareGroup> built;
        for (uint32_t g : cat.top_rows) {
            BareGroup group{testdata::TaskKey(cat.task_id[g]), Trim(cat.description[g]), {}};
            for (uint32_t i = cat.child_begin[g]; i < cat.child_begin[g + 1]; ++i) {
                const uint32_t r = cat.child_rows[i];
                group.items.push_back(
                    {testdata::TaskKey(cat.task_id[r]), Trim(cat.description[r])});
            }
            built.push_back(std::move(group));
        }
        groups = std::move(built);
        benchmark::DoNotOptimize(groups.data());
    }
    state.counters["groups"] = static_cast<double>(groups.size());
}

void Sizes(benchmark::internal::Benchmark* b) {
    b->ArgName("rows");
    for (int64_t n : kSizes) b->Arg(n);
    b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_TreeFill)->Apply(Sizes);
BENCHMARK(BM_TreeFloor)->Apply(Sizes);
BENCHMARK(BM_ListBarBuild)->Apply(Sizes);
BENCHMARK(BM_ListBarFloor)->Apply(Sizes);

}  // namespace
}  // namespace kevra::bench

BENCHMARK_MAIN();
