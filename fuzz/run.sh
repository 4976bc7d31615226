#!/bin/sh
# Builds the libFuzzer targets with clang and runs each for a while.
#
#   fuzz/run.sh SECONDS [TARGET...]
#
# TARGET is one of filter, settings, json_catalogue, host_script (default:
# all four, one after the other). The build lives in build-fuzz/ of the repo
# (or $KEVRA_FUZZ_BUILD). Each target starts from its seed corpus in
# fuzz/corpus/<target> and keeps what it learns in <build>/corpus/<target>,
# so a later run goes on from there; the seed corpus in the repo is never
# written. A crash, a hang longer than 10 s or an input that breaks one of
# the entry's checks is saved to <build>/crashes/<target>/ and makes the
# script exit 1 after the other targets have run: copy the file into
# fuzz/regressions/<target>/ so that ctest replays it from then on.
#
# The last line per target, also kept in <build>/fuzz-stats.txt, gives the
# executions and seconds for docs/reliability.md.
set -u

usage() {
    echo "usage: fuzz/run.sh SECONDS [filter|settings|json_catalogue|host_script ...]" >&2
    exit 2
}
[ $# -ge 1 ] || usage
seconds=$1
shift
case $seconds in
    '' | *[!0-9]*) usage ;;
esac
[ "$seconds" -ge 1 ] || usage

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${KEVRA_FUZZ_BUILD:-$repo/build-fuzz}
targets=${*:-filter settings json_catalogue host_script}
for t in $targets; do
    case $t in
        filter | settings | json_catalogue | host_script) ;;
        *) echo "fuzz/run.sh: unknown target '$t'" >&2; usage ;;
    esac
done

if ! command -v clang++ >/dev/null 2>&1; then
    echo "fuzz/run.sh: clang++ is not installed; install the packages clang and" \
        "libclang-rt-14-dev (apt-get install clang libclang-rt-14-dev)" >&2
    exit 1
fi

mkdir -p "$build" || exit 1
CC=clang CXX=clang++ cmake -S "$repo/fuzz" -B "$build" -DKEVRA_FUZZ=ON >"$build/configure.log" 2>&1 || {
    tail -n 40 "$build/configure.log" >&2
    echo "fuzz/run.sh: configuring the fuzz build failed (see $build/configure.log)" >&2
    exit 1
}
names=""
for t in $targets; do names="$names fuzz_$t"; done
# shellcheck disable=SC2086
cmake --build "$build" -j2 --target $names >"$build/build.log" 2>&1 || {
    tail -n 40 "$build/build.log" >&2
    echo "fuzz/run.sh: building the fuzz targets failed (see $build/build.log)" >&2
    exit 1
}

status=0
: >"$build/fuzz-stats.txt"
for t in $targets; do
    mkdir -p "$build/corpus/$t" "$build/crashes/$t"
    log="$build/fuzz-$t.log"
    "$build/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
        -print_final_stats=1 -dict="$repo/fuzz/dict/$t.dict" \
        -artifact_prefix="$build/crashes/$t/" \
        "$build/corpus/$t" "$repo/fuzz/corpus/$t" >"$log" 2>&1
    rc=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    took=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -n 1)
    if [ $rc -eq 0 ]; then
        line="$t: ${runs:-?} executions in ${took:-$seconds} s, no failure"
    else
        line="$t: FAILED after ${runs:-?} executions (exit $rc); input saved in $build/crashes/$t/, log in $log"
        grep -E "broken promise|exception escaped|ERROR:|SUMMARY:" "$log" | head -n 5 >&2
        status=1
    fi
    echo "$line"
    echo "$line" >>"$build/fuzz-stats.txt"
done
exit $status
