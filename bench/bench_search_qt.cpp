// The search against the way a Qt developer filters a tree today, on the
// same catalogue in the same run: a keystroke (the first L letters of
// "Departures", the twenty best results) answered by the catalogue index,
// and by a QSortFilterProxyModel with recursive filtering and a
// case-insensitive "contains" filter over a QStandardItemModel of the same
// tree (groups, list items, tasks), whose first twenty matching rows are
// then read in tree order.
//
// A keystroke of the proxy is the step from L-1 letters to L: the filter of
// L-1 letters is set outside the timing, the filter of L letters and the
// reading of the results inside it, as the user's typing changes it.
// The ratio of the two is the figure in docs/performance.md ("Search").
#include <benchmark/benchmark.h>

#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <map>

#include "bench/bench_search_support.h"
#include "bench/bench_support.h"
#include "search/catalogue_index.h"

namespace kevra::bench {
namespace {

const char* const kWord = "Departures";

// The catalogue's tree as items, children in catalogue order.
std::unique_ptr<QStandardItemModel> ItemModel(const testdata::Catalogue& cat) {
    auto model = std::make_unique<QStandardItemModel>();
    std::vector<QStandardItem*> items(cat.Rows(), nullptr);
    // Parents before children: a walk from the top rows down.
    std::vector<uint32_t> stack(cat.top_rows.rbegin(), cat.top_rows.rend());
    for (uint32_t top : cat.top_rows) {
        items[top] = new QStandardItem(QString::fromStdString(cat.description[top]).trimmed());
        model->invisibleRootItem()->appendRow(items[top]);
    }
    while (!stack.empty()) {
        const uint32_t row = stack.back();
        stack.pop_back();
        QList<QStandardItem*> children;
        for (uint32_t c = cat.child_begin[row]; c < cat.child_begin[row + 1]; ++c) {
            const uint32_t child = cat.child_rows[c];
            items[child] =
                new QStandardItem(QString::fromStdString(cat.description[child]).trimmed());
            children.append(items[child]);
        }
        if (!children.isEmpty()) items[row]->appendRows(children);
        for (uint32_t c = cat.child_begin[row + 1]; c > cat.child_begin[row]; --c)
            stack.push_back(cat.child_rows[c - 1]);
    }
    return model;
}

struct Filtered {
    std::unique_ptr<QStandardItemModel> source;
    std::unique_ptr<QSortFilterProxyModel> proxy;
};

Filtered& Proxy(uint32_t rows) {
    static std::map<uint32_t, Filtered> made;
    Filtered& f = made[rows];
    if (!f.proxy) {
        f.source = ItemModel(GeneratedCatalogue(rows));
        f.proxy = std::make_unique<QSortFilterProxyModel>();
        f.proxy->setRecursiveFilteringEnabled(true);
        f.proxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
        f.proxy->setSourceModel(f.source.get());
    }
    return f;
}

// The first `limit` rows whose own caption contains `text`, in tree order
// (the proxy also keeps the parents of matches, which are no results).
size_t FirstMatches(const QAbstractItemModel& model, const QModelIndex& parent, const QString& text,
                    size_t limit, size_t found) {
    const int n = model.rowCount(parent);
    for (int r = 0; r < n && found < limit; ++r) {
        const QModelIndex index = model.index(r, 0, parent);
        if (index.data().toString().contains(text, Qt::CaseInsensitive)) ++found;
        found = FirstMatches(model, index, text, limit, found);
    }
    return found;
}

void BM_SearchQtProxyKeystroke(benchmark::State& state) {
    const auto rows = static_cast<uint32_t>(state.range(0));
    const auto letters = static_cast<int>(state.range(1));
    Filtered& f = Proxy(rows);
    const QString word = QString::fromLatin1(kWord);
    size_t found = 0;
    for (auto _ : state) {
        state.PauseTiming();
        f.proxy->setFilterFixedString(word.left(letters - 1));
        state.ResumeTiming();
        f.proxy->setFilterFixedString(word.left(letters));
        found = FirstMatches(*f.proxy, QModelIndex(), word.left(letters), 20, 0);
    }
    state.counters["found"] = static_cast<double>(found);
}

void BM_SearchQtIndexKeystroke(benchmark::State& state) {
    const auto rows = static_cast<uint32_t>(state.range(0));
    const auto letters = static_cast<size_t>(state.range(1));
    static std::map<uint32_t, std::unique_ptr<search::CatalogueIndex>> indexes;
    auto& index = indexes[rows];
    if (!index)
        index = search::CatalogueIndex::Build(*Recordset::Open(GeneratedCatalogue(rows).table));
    TimeKeystroke(state, *index, std::string(kWord).substr(0, letters));
}

void Keystrokes(benchmark::internal::Benchmark* b) {
    b->ArgNames({"rows", "letters"});
    for (int64_t n : {int64_t{1'000}, int64_t{1'000'000}})
        for (int64_t letters = 1; letters <= 10; ++letters) b->Args({n, letters});
    b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_SearchQtIndexKeystroke)->Apply(Keystrokes);
BENCHMARK(BM_SearchQtProxyKeystroke)->Apply(Keystrokes);

}  // namespace
}  // namespace kevra::bench

BENCHMARK_MAIN();
