// The Qt tree view's population on the offscreen platform, in two settings:
//
//  - BM_QtTreeView: the control's view catching up with a tree the control
//    has just filled again, as after every click on a list item: the view
//    takes the new tree, lays its rows out and paints once.
//  - BM_QtTreeViewFirst: a new view taking a filled tree, as when the
//    control is first shown. Freed memory is handed back to the system
//    before each run, so that every size starts from pages it has not
//    touched yet, as a first showing does. (Left to itself, the C library
//    keeps freed blocks below 32 MB for reuse and returns larger ones: the
//    view of 100k rows would then run on warm pages and the view of a
//    million on fresh ones, and the growth between them would measure that
//    threshold rather than the view.)
//
// Each in two cases: the tree as the fill leaves it (the group and the list
// item expanded, the tasks below collapsed), and every node expanded
// ("Expanded"), which makes the view lay out every row.
//
// The fill itself is not timed here; bench_navigation measures it.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QApplication>
#include <QPixmap>
#include <QScrollBar>
#include <map>

#include "bench/bench_support.h"
#include "qt/tree_view_p.h"

namespace kevra::bench {
namespace {

// A headless control whose tree holds `rows` nodes (one group, one list item
// and every other task below it), kept for the process.
struct FilledControl {
    std::unique_ptr<HeadlessControl> host;
    std::string item;  // the list item whose click fills the tree
    std::string error;

    Tree& TreeOf() const { return host->Control().sstreeTaskList(); }
    // Fills the tree again, as a click on the list item does, and sets the
    // nodes' expanded state for the case measured.
    void Refill(bool expand_all) {
        host->Control().sslistTaskList().UserClickItem(item);
        error = host->TakeError();
        Tree& tree = TreeOf();
        for (int32_t i = 1; i <= tree.Nodes().Count(); ++i)
            tree.UserSetExpanded(tree.Nodes().At(i), expand_all || i <= 2);
    }
};

FilledControl& FilledControlOf(uint32_t rows) {
    static std::map<uint32_t, FilledControl> made;
    static std::map<uint32_t, testdata::Catalogue> catalogues;
    auto it = made.find(rows);
    if (it != made.end()) return it->second;
    const auto& cat =
        catalogues.emplace(rows, testdata::GenerateCatalogue(SingleItemShape(rows))).first->second;
    FilledControl& filled = made[rows];
    filled.host = std::make_unique<HeadlessControl>();
    filled.host->ServeRows(cat.table);
    filled.host->Control().LoadData();
    filled.item =
        testdata::TaskKey(cat.task_id[cat.child_rows[cat.child_begin[cat.top_rows.front()]]]);
    filled.error = filled.host->TakeError();
    return filled;
}

// Checks the tree before a run; false (and the run skipped) when the
// control could not fill it.
bool Ready(benchmark::State& state, const FilledControl& filled, uint32_t rows) {
    if (!filled.error.empty()) {
        state.SkipWithError(filled.error.c_str());
        return false;
    }
    if (filled.TreeOf().Nodes().Count() != static_cast<int32_t>(rows)) {
        state.SkipWithError("the tree does not hold every task of the catalogue");
        return false;
    }
    return true;
}

void BM_QtTreeView(benchmark::State& state, bool expand_all) {
    const uint32_t rows = static_cast<uint32_t>(state.range(0));
    FilledControl& filled = FilledControlOf(rows);
    filled.Refill(expand_all);
    if (!Ready(state, filled, rows)) return;
    qt::TaskTreeView view(filled.TreeOf());
    const QSize size(800, 600);
    view.resize(size);
    view.applyPendingChanges();
    QPixmap pixmap(size);
    for (auto _ : state) {
        state.PauseTiming();
        filled.Refill(expand_all);
        state.ResumeTiming();
        view.applyPendingChanges();
        view.render(&pixmap);
        state.PauseTiming();
        // The refill's notice to the view, queued for the event loop.
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    if (!Ready(state, filled, rows)) return;
    state.counters["scroll_range"] = view.verticalScrollBar()->maximum();
    state.SetItemsProcessed(state.iterations() * rows);
}

void BM_QtTreeViewFirst(benchmark::State& state, bool expand_all) {
    const uint32_t rows = static_cast<uint32_t>(state.range(0));
    FilledControl& filled = FilledControlOf(rows);
    filled.Refill(expand_all);
    QCoreApplication::processEvents();
    if (!Ready(state, filled, rows)) return;
    int range = 0;
    for (auto _ : state) {
        state.PauseTiming();
        malloc_trim(0);
        state.ResumeTiming();
        range = qt::layOutTreeView(filled.TreeOf(), QSize(800, 600), true);
    }
    state.counters["scroll_range"] = range;
    state.SetItemsProcessed(state.iterations() * rows);
}

void Register(const char* name, void (*run)(benchmark::State&, bool), bool expand_all) {
    auto* b = benchmark::RegisterBenchmark(name, run, expand_all);
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
    using kevra::bench::BM_QtTreeView;
    using kevra::bench::BM_QtTreeViewFirst;
    using kevra::bench::Register;
    Register("BM_QtTreeView", BM_QtTreeView, false);
    Register("BM_QtTreeViewExpanded", BM_QtTreeView, true);
    Register("BM_QtTreeViewFirst", BM_QtTreeViewFirst, false);
    Register("BM_QtTreeViewFirstExpanded", BM_QtTreeViewFirst, true);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
