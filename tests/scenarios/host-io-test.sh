#!/bin/bash
# What the hosts do with inputs and outputs that a scenario file cannot hold:
# a named pipe given as the script, a script line at and past the length
# bound, a script too large for the memory the host may use, and a demo
# whose help cannot be written.
#
#   host-io-test.sh KEVRA_HOST SANITIZED [KEVRA_DEMO]
#
# SANITIZED is 1 for a sanitizer build, where a memory limit cannot be set
# (the sanitizers reserve more address space than any useful limit).
set -u
host=$1
sanitized=$2
demo=${3:-}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export XDG_CONFIG_HOME="$tmp/config" XDG_DATA_HOME="$tmp/data"
failed=0

# expect NAME STATUS STDERR: the last run's status and its standard error.
expect() {
    local name=$1 want_status=$2 want_stderr=$3
    if [ "$status" != "$want_status" ] || [ "$(cat "$tmp/stderr")" != "$want_stderr" ]; then
        echo "FAIL $name: status $status (expected $want_status), standard error:"
        cat "$tmp/stderr"
        echo "expected: $want_stderr"
        failed=1
    else
        echo "ok $name"
    fi
}

# A named pipe is refused at once, without waiting for a writer.
mkfifo "$tmp/pipe"
timeout 10 "$host" "$tmp/pipe" > "$tmp/stdout" 2> "$tmp/stderr" < /dev/null
status=$?
expect named-pipe 1 "kevra-host: the script '$tmp/pipe' is a named pipe; give a script file, or '-' to read the script from standard input"

# A line of exactly the bound runs; one byte more is a parse error that
# names the line, and nothing runs.
bound=1048576
{
    echo "# the next line is as long as a line may be"
    printf 'echo '
    head -c $((bound - 5)) /dev/zero | tr '\0' x
    echo
} > "$tmp/longest.khs"
"$host" "$tmp/longest.khs" > "$tmp/stdout" 2> "$tmp/stderr" < /dev/null
status=$?
expect longest-line 0 ""
if [ "$(wc -c < "$tmp/stdout")" != $((bound + 1)) ]; then
    echo "FAIL longest-line: printed $(wc -c < "$tmp/stdout") bytes, expected $((bound + 1))"
    failed=1
fi
{
    echo "echo before"
    printf 'echo '
    head -c $((bound - 4)) /dev/zero | tr '\0' x
    echo
} > "$tmp/too-long.khs"
"$host" "$tmp/too-long.khs" > "$tmp/stdout" 2> "$tmp/stderr" < /dev/null
status=$?
expect too-long-line 2 "kevra-host: line 2: the line is longer than $bound bytes, the longest a script line may be"
if [ -s "$tmp/stdout" ]; then
    echo "FAIL too-long-line: a script that does not parse printed output"
    failed=1
fi

# A script larger than the memory the host may use ends with a message and
# status 1, not an abort.
if [ "$sanitized" != 1 ]; then
    yes dump 2> /dev/null | head -n 50000000 |
        (ulimit -v 150000 && exec "$host" -) > "$tmp/stdout" 2> "$tmp/stderr"
    status=$?
    expect out-of-memory 1 "kevra-host: out of memory while reading the script"
fi

# The demo's help is output like any other: a full disk fails the run.
if [ -n "$demo" ]; then
    export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$tmp/runtime"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    "$demo" --help > "$tmp/stdout" 2> "$tmp/stderr"
    status=$?
    expect demo-help 0 ""
    grep -q -- --machine-name "$tmp/stdout" || {
        echo "FAIL demo-help: the help does not list --machine-name"
        failed=1
    }
    "$demo" --help > /dev/full 2> "$tmp/stderr"
    status=$?
    expect demo-help-full-disk 1 "kevra-demo: cannot write to standard output: No space left on device"
fi

exit $failed
