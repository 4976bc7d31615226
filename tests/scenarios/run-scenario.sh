#!/bin/bash
# Runs one kevra-host scenario and compares what it prints with the lines it
# must print.
#
#   run-scenario.sh KEVRA_HOST SCENARIO.khs
#
# Beside SCENARIO.khs:
#   SCENARIO.expected   standard output, line for line (required)
#   SCENARIO.stderr     standard error (optional; otherwise it must be empty)
#   SCENARIO.exit       the exit status (optional; default 0)
#   SCENARIO.args       arguments to pass instead of the script (optional)
#   SCENARIO.stdin      a file to read standard input from (optional;
#                       default /dev/null), relative to data/
#   SCENARIO.stdout     a file to send standard output to instead of
#                       comparing it (optional; /dev/full for a full disk);
#                       SCENARIO.expected is then empty
#   SCENARIO.ini        the settings file before the run (optional)
#   SCENARIO.ini.after  the settings file after the run (optional)
# The host runs in the data/ folder beside the scenarios, so MachineName
# paths are relative to it, with a fresh XDG_CONFIG_HOME, XDG_DATA_HOME and
# XDG_STATE_HOME (where favourites and launch history are kept).
# A difference in standard output is shown by scenario_diff.py: each `dump`
# line that differs is compared as JSON, key by key.
#
# KEVRA_UPDATE_SCENARIOS=NAME[,NAME...] rewrites the expected files of the
# scenarios named (by file name without .khs) from this run, after showing
# what changes; other scenarios are compared as always. Rewriting is meant
# to be a deliberate act for each file, so there is no name for "all".
set -u
here=$(dirname "$(realpath "$0")")
host=$(realpath "$1")
script=$(realpath "$2")
dir=$(dirname "$script")
name=$(basename "$script" .khs)
base="$dir/$name"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export XDG_CONFIG_HOME="$tmp/config" XDG_DATA_HOME="$tmp/data" XDG_STATE_HOME="$tmp/state"
ini="$XDG_CONFIG_HOME/kevra/KevraTaskList.ini"
if [ -f "$base.ini" ]; then
    mkdir -p -m 700 "$XDG_CONFIG_HOME/kevra"
    cp "$base.ini" "$ini"
fi

cd "$dir/data" || exit 1
if [ -f "$base.args" ]; then
    read -r -a args < "$base.args"
else
    args=("$script")
fi
input=/dev/null
[ -f "$base.stdin" ] && input=$(cat "$base.stdin")
output="$tmp/stdout"
[ -f "$base.stdout" ] && output=$(cat "$base.stdout")
"$host" "${args[@]}" > "$output" 2> "$tmp/stderr" < "$input"
status=$?
[ "$output" = "$tmp/stdout" ] || : > "$tmp/stdout"

expected_status=0
[ -f "$base.exit" ] && expected_status=$(cat "$base.exit")

# Shows how the printed lines differ from the expected ones: key by key for
# JSON lines where python3 is at hand, as a line diff otherwise.
show_difference() {
    if command -v python3 > /dev/null; then
        python3 "$here/scenario_diff.py" "$1" "$2"
    else
        diff -u "$1" "$2"
    fi
}

update=0
case ",${KEVRA_UPDATE_SCENARIOS:-}," in
    *",$name,"*) update=1 ;;
esac
if [ "${KEVRA_UPDATE_SCENARIOS:-}" = 1 ]; then
    echo "KEVRA_UPDATE_SCENARIOS takes the names of the scenarios to rewrite" \
         "(KEVRA_UPDATE_SCENARIOS=$name,...), not 1; nothing was rewritten" >&2
    exit 1
fi

if [ $update = 1 ]; then
    if [ -f "$base.expected" ] && ! show_difference "$base.expected" "$tmp/stdout" > "$tmp/diff"; then
        echo "updating $name: standard output changes (expected, then printed):"
        cat "$tmp/diff"
    fi
    cp "$tmp/stdout" "$base.expected"
    [ -s "$tmp/stderr" ] && cp "$tmp/stderr" "$base.stderr"
    [ "$status" != 0 ] && echo "$status" > "$base.exit"
    [ -f "$base.ini.after" ] && cp "$ini" "$base.ini.after"
    echo "updated $name"
    exit 0
fi

failed=0
if ! show_difference "$base.expected" "$tmp/stdout" > "$tmp/diff"; then
    echo "FAIL $name: standard output differs (expected, then printed):"
    cat "$tmp/diff"
    failed=1
fi
if [ -f "$base.stderr" ]; then
    if ! diff -u "$base.stderr" "$tmp/stderr"; then
        echo "FAIL $name: standard error differs"
        failed=1
    fi
elif [ -s "$tmp/stderr" ]; then
    echo "FAIL $name: unexpected standard error:"
    cat "$tmp/stderr"
    failed=1
fi
if [ "$status" != "$expected_status" ]; then
    echo "FAIL $name: exit status $status, expected $expected_status"
    failed=1
fi
if [ -f "$base.ini.after" ] && ! diff -u "$base.ini.after" "$ini"; then
    echo "FAIL $name: settings file differs after the run"
    failed=1
fi
[ $failed = 0 ] && echo "ok $name"
exit $failed
