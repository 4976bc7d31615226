#!/bin/bash
# The full benchmark run: builds the benchmarks in Release, runs every
# benchmark binary at every catalogue size (1k to 1M rows), keeps each
# binary's results as JSON, and makes the plot and the figures table of
# docs/performance.md from them.
#
#   tools/run-bench.sh                  everything (about ten minutes on 2 cores)
#   tools/run-bench.sh --benchmark_filter=TreeFill   extra arguments go to every binary
#
# Environment: BUILD (default build-bench), OUT (default $BUILD/bench-results),
# JOBS (default 2), KEVRA_TEST_PG (a PostgreSQL connection string; without it
# the PostgreSQL figures are left out).
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD=${BUILD:-build-bench}
OUT=${OUT:-$BUILD/bench-results}
JOBS=${JOBS:-2}

cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j"$JOBS" --target kevra_benchmarks
mkdir -p "$OUT"

for binary in "$BUILD"/bench/bench_*; do
    [ -x "$binary" ] && [ -f "$binary" ] || continue
    name=$(basename "$binary")
    echo "== $name"
    "$binary" --benchmark_out="$OUT/$name.json" --benchmark_out_format=json "$@"
done

python3 tools/plot-bench.py --svg docs/images/bench-scaling.svg --table "$OUT/figures.md" \
    "$OUT"/bench_*.json
echo "Plot: docs/images/bench-scaling.svg; figures: $OUT/figures.md"
