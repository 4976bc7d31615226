// What the search benchmarks share: a keystroke of the search field timed
// on the catalogue index alone.
#pragma once

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "search/catalogue_index.h"

namespace kevra::bench {

// One keystroke: the twenty best entries of `index` for `query`, as the
// search field asks for them, at every iteration; the counter "found" says
// how many there were.
inline void TimeKeystroke(benchmark::State& state, const search::CatalogueIndex& index,
                          const std::string& query) {
    size_t found = 0;
    for (auto _ : state) {
        const std::vector<uint32_t> results = index.Search(query, 20);
        found = results.size();
        benchmark::DoNotOptimize(results.data());
    }
    state.counters["found"] = static_cast<double>(found);
}

}  // namespace kevra::bench
