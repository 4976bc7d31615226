// Search figures: building the catalogue index beside the LoadData it
// follows (rows already in memory, and from a SQLite catalogue file),
// measured in the same run on the same catalogues, with the index's bytes
// per entry; and a query as the user types, one keystroke
// at a time (every prefix of a ten-letter word, the twenty best results),
// for a word the catalogue holds and for the same word with two letters
// swapped, whose longer prefixes only the near-miss tier finds.
#include <benchmark/benchmark.h>

#include <map>

#include "bench/bench_search_support.h"
#include "bench/bench_stores.h"
#include "bench/bench_support.h"
#include "search/catalogue_index.h"
#include "service/task_service.h"

namespace kevra::bench {
namespace {

// LoadData from rows in memory, a fresh copy each time (the reference the
// build is held to; the same figure as BM_ListBarBuild).
void BM_SearchLoadData(benchmark::State& state) {
    const auto& cat = GeneratedCatalogue(static_cast<uint32_t>(state.range(0)));
    HeadlessControl host;
    host.LoadFreshCopies(state, cat.table);
}

// LoadData of the same catalogue from a SQLite catalogue file, through the
// real task service: what a user's load costs (the second reference).
void BM_SearchLoadDataSqlite(benchmark::State& state) {
    const auto& cat = GeneratedCatalogue(static_cast<uint32_t>(state.range(0)));
    std::string machine;
    try {
        machine = WriteSqliteStore(cat.table, "search-" + std::to_string(cat.Rows()));
    } catch (const RuntimeError& e) {
        state.SkipWithError(("cannot write the catalogue: " + e.Description()).c_str());
        return;
    }
    HeadlessControl host;
    service::RegisterTaskService(host.Registry());
    host.Control().MachineName(machine);
    host.Control().AppId(kBenchAppId);
    for (auto _ : state)
        if (!host.Load(state)) return;
}

// The index of the catalogue LoadData has just loaded.
void BM_SearchBuild(benchmark::State& state) {
    const auto& cat = GeneratedCatalogue(static_cast<uint32_t>(state.range(0)));
    HeadlessControl host;
    host.ServeRows(testdata::CopyTaskRows(cat.table));
    if (!host.Load(state)) return;
    std::unique_ptr<search::CatalogueIndex> index;
    for (auto _ : state) {
        state.PauseTiming();
        index.reset();  // the previous index goes outside the timing
        state.ResumeTiming();
        index = search::CatalogueIndex::Build(*host.Control().Tasks());
    }
    if (index->EntryCount() != cat.Rows()) {
        state.SkipWithError("the index does not hold every task of the catalogue");
        return;
    }
    const double entries = index->EntryCount();
    state.counters["entries"] = entries;
    state.counters["bytes_per_entry"] =
        static_cast<double>(index->MemoryBytes() - index->TextBytes()) / entries;
    state.counters["text_bytes_per_entry"] = static_cast<double>(index->TextBytes()) / entries;
    state.counters["captions"] = static_cast<double>(index->CaptionCount());
    state.counters["words"] = static_cast<double>(index->WordCount());
}

// The same catalogue with every caption made its own: the task id added
// as a word, so that there are as many distinct captions and words as
// tasks (a catalogue of room numbers, say), the most a dictionary holds.
TableRef DistinctCaptions(const testdata::Catalogue& cat) {
    TableBuilder b({"TaskId", "TaskParent", "TaskDescription", "IsLink", "TaskURL", "TaskParms"});
    const RecordsetRef rs = Recordset::Open(cat.table);
    const Field link = rs->Fields("IsLink");
    for (uint32_t r = 0; !rs->Eof(); rs->MoveNext(), ++r)
        b.AddRow({cat.task_id[r], cat.parent_id[r],
                  cat.description[r] + " " + std::to_string(cat.task_id[r]), link.Value(),
                  Variant::Null(), Variant::Null()});
    return b.Build();
}

void BM_SearchBuildDistinct(benchmark::State& state) {
    const auto& cat = GeneratedCatalogue(static_cast<uint32_t>(state.range(0)));
    const RecordsetRef rows = Recordset::Open(DistinctCaptions(cat));
    std::unique_ptr<search::CatalogueIndex> index;
    for (auto _ : state) {
        state.PauseTiming();
        index.reset();
        state.ResumeTiming();
        index = search::CatalogueIndex::Build(*rows);
    }
    const double entries = index->EntryCount();
    state.counters["bytes_per_entry"] =
        static_cast<double>(index->MemoryBytes() - index->TextBytes()) / entries;
    state.counters["text_bytes_per_entry"] = static_cast<double>(index->TextBytes()) / entries;
    state.counters["captions"] = static_cast<double>(index->CaptionCount());
    state.counters["words"] = static_cast<double>(index->WordCount());
}

// One keystroke: the first `letters` letters of `word`, the twenty best.
void Keystroke(benchmark::State& state, const std::string& word, bool distinct = false) {
    const auto rows = static_cast<uint32_t>(state.range(0));
    const auto letters = static_cast<size_t>(state.range(1));
    static std::map<std::pair<uint32_t, bool>, std::unique_ptr<search::CatalogueIndex>> indexes;
    auto& index = indexes[{rows, distinct}];
    if (!index) {
        const auto& cat = GeneratedCatalogue(rows);
        index = search::CatalogueIndex::Build(
            *Recordset::Open(distinct ? DistinctCaptions(cat) : cat.table));
    }
    TimeKeystroke(state, *index, word.substr(0, letters));
}

void BM_SearchKeystroke(benchmark::State& state) { Keystroke(state, "Departures"); }
void BM_SearchKeystrokeTypo(benchmark::State& state) { Keystroke(state, "Depratures"); }
void BM_SearchKeystrokeDistinct(benchmark::State& state) { Keystroke(state, "Departures", true); }
void BM_SearchKeystrokeDistinctTypo(benchmark::State& state) {
    Keystroke(state, "Depratures", true);
}

void Sizes(benchmark::internal::Benchmark* b) {
    b->ArgName("rows");
    for (int64_t n : kSizes) b->Arg(n);
    b->Unit(benchmark::kMillisecond);
}

void Keystrokes(benchmark::internal::Benchmark* b) {
    b->ArgNames({"rows", "letters"});
    for (int64_t n : kSizes)
        for (int64_t letters = 1; letters <= 10; ++letters) b->Args({n, letters});
    b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_SearchLoadData)->Apply(Sizes);
BENCHMARK(BM_SearchLoadDataSqlite)->Apply(Sizes);
BENCHMARK(BM_SearchBuild)->Apply(Sizes);
BENCHMARK(BM_SearchKeystroke)->Apply(Keystrokes);
BENCHMARK(BM_SearchKeystrokeTypo)->Apply(Keystrokes);
BENCHMARK(BM_SearchBuildDistinct)->Apply(Sizes);
BENCHMARK(BM_SearchKeystrokeDistinct)->Apply(Keystrokes);
BENCHMARK(BM_SearchKeystrokeDistinctTypo)->Apply(Keystrokes);

}  // namespace
}  // namespace kevra::bench

BENCHMARK_MAIN();
