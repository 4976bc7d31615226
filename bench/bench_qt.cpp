// The Qt tree view's population on the offscreen platform: a tree filled by
// the control (headless) is handed to a new view, which takes the tree,
// lays its rows out and paints once. Two cases: the tree as the fill leaves
// it (the group and the list item expanded, the tasks below collapsed), and
// every node expanded, which makes the view lay out every row.
//
// The fill itself is not timed here; bench_navigation measures it.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <map>

#include "bench/bench_support.h"
#include "qt/tree_view.h"

namespace kevra::bench {
namespace {

// A headless control whose tree holds `rows` nodes (one group, one list item
// and every other task below it), kept for the process.
HeadlessControl& FilledControl(uint32_t rows, std::string& error) {
    static std::map<uint32_t, std::unique_ptr<HeadlessControl>> made;
    static std::map<uint32_t, testdata::Catalogue> catalogues;
    auto it = made.find(rows);
    if (it != made.end()) return *it->second;
    const auto& cat =
        catalogues.emplace(rows, testdata::GenerateCatalogue(SingleItemShape(rows))).first->second;
    auto host = std::make_unique<HeadlessControl>();
    host->ServeRows(cat.table);
    host->Control().LoadData();
    const uint32_t item = cat.child_rows[cat.child_begin[cat.top_rows.front()]];
    host->Control().sslistTaskList().UserClickItem(testdata::TaskKey(cat.task_id[item]));
    error = host->TakeError();
    return *made.emplace(rows, std::move(host)).first->second;
}

void BM_QtTreeView(benchmark::State& state, bool expand_all) {
    const uint32_t rows = static_cast<uint32_t>(state.range(0));
    std::string error;
    Tree& tree = FilledControl(rows, error).Control().sstreeTaskList();
    if (!error.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    if (tree.Nodes().Count() != static_cast<int32_t>(rows)) {
        state.SkipWithError("the tree does not hold every task of the catalogue");
        return;
    }
    for (int32_t i = 1; i <= tree.Nodes().Count(); ++i)
        tree.UserSetExpanded(tree.Nodes().At(i), expand_all || i <= 2);
    int range = 0;
    for (auto _ : state) range = qt::LayOutTreeView(tree, QSize(800, 600), true);
    state.counters["scroll_range"] = range;
    state.SetItemsProcessed(state.iterations() * rows);
}

void Register(const char* name, bool expand_all) {
    auto* b = benchmark::RegisterBenchmark(name, BM_QtTreeView, expand_all);
    b->ArgName("rows");
    for (int64_t n : kSizes) b->Arg(n);
    b->Unit(benchmark::kMillisecond);
}

}  // namespace
}  // namespace kevra::bench

int main(int argc, char** argv) {
    // No display: Qt draws into memory.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    kevra::bench::Register("BM_QtTreeView", false);
    kevra::bench::Register("BM_QtTreeViewExpanded", true);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
