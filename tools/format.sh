#!/bin/sh
# Checks or applies the tree's formatting (.clang-format) on every C and C++
# file git tracks.
#
#   tools/format.sh --check   list the files that differ and exit 1 if any
#   tools/format.sh --fix     rewrite them in place
#
# `make test` runs the check first: format with --fix (or your editor's
# clang-format on save) before committing.
set -eu
cd "$(dirname "$0")/.."
mode=${1:-}
case $mode in
    --check | --fix) ;;
    *) echo "usage: tools/format.sh --check|--fix" >&2; exit 2 ;;
esac
if ! command -v clang-format >/dev/null 2>&1; then
    echo "tools/format.sh: clang-format is not installed (apt-get install clang-format," \
        "or run tools/install-deps.sh)" >&2
    exit 1
fi
files=$(git ls-files '*.c' '*.cpp' '*.h')
if [ "$mode" = --fix ]; then
    # shellcheck disable=SC2086
    clang-format -i $files
    exit 0
fi
bad=""
for f in $files; do
    clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || bad="$bad $f"
done
if [ -n "$bad" ]; then
    echo "These files differ from .clang-format (run tools/format.sh --fix):" >&2
    for f in $bad; do echo "  $f" >&2; done
    exit 1
fi
echo "format: every C and C++ file matches .clang-format"
