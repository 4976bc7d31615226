#!/bin/bash
# The manual pages: each formats without a warning of the formatter, and
# names every option its tool's --help lists, so that a new option cannot
# ship undocumented.
#
#   man-pages.sh MAN_DIR VERSION KEVRA_HOST KEVRA_CATALOG [KEVRA_DEMO]
set -u
man_dir=$1
host=$3
catalog=$4
demo=${5:-}

if ! command -v groff >/dev/null; then
    echo "groff is not installed (Debian: groff-base); tools/install-deps.sh installs it" >&2
    exit 1
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export XDG_RUNTIME_DIR="$tmp/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# check PAGE HELP-COMMAND...: the page formats cleanly and names every
# option (long and short) that the help text lists.
check() {
    local page=$man_dir/$1
    shift
    [ -f "$page" ] || { fail "$page is missing"; return; }
    if ! groff -man -Tutf8 -ww -z "$page" 2>"$tmp/warnings" || [ -s "$tmp/warnings" ]; then
        fail "$page: $(cat "$tmp/warnings")"
    fi
    # The page as a reader sees it, in plain ASCII.
    groff -man -Tascii "$page" 2>/dev/null | col -bx >"$tmp/page.txt"
    "$@" >"$tmp/help.txt" 2>/dev/null || fail "$* failed"
    local options
    options=$(grep -o -- '\(^\|[^[:alnum:]-]\)-\{1,2\}[[:alpha:]][[:alnum:]-]*' "$tmp/help.txt" |
        sed 's/^[^-]*//' | sort -u)
    # A command's own help may list none; the tool's always lists some.
    [ -n "$options" ] || [ $# -gt 2 ] || fail "no options found in the help of $*"
    echo "$(basename "$page"): $(echo $options)"
    for option in $options; do
        grep -q -- "\(^\|[^[:alnum:]-]\)$option\($\|[^[:alnum:]-]\)" "$tmp/page.txt" ||
            fail "$(basename "$page") does not name $option, which $(basename "$1") --help lists"
    done
}

check kevra-host.1 "$host" --help
check kevra-catalog.1 "$catalog" --help
for command in init import export check; do
    check kevra-catalog.1 "$catalog" "$command" --help
done
if [ -n "$demo" ]; then
    check kevra-demo.1 "$demo" --help
fi

if [ "$failures" -gt 0 ]; then
    echo "$failures failure(s)" >&2
    exit 1
fi
echo "all passed"
