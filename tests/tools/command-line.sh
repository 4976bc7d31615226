#!/bin/bash
# The three tools behave alike on the command line: --version prints the
# project's version, --help the usage (status 0, nothing on standard error),
# a bad command line one line naming the problem and "Try 'TOOL --help'" on
# standard error with status 2, a failure status 1. Then kevra-catalog's
# own: each command's --help, progress on standard error from the start of
# a long import (never on standard output), and counts in the right number.
#
#   command-line.sh VERSION KEVRA_HOST KEVRA_CATALOG [KEVRA_DEMO]
set -u
version=$1
host=$(realpath "$2")
catalog=$(realpath "$3")
demo=${4:+$(realpath "$4")}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp" || exit 1
export XDG_CONFIG_HOME="$tmp/config" XDG_DATA_HOME="$tmp/data" XDG_STATE_HOME="$tmp/state"
export XDG_RUNTIME_DIR="$tmp/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset KEVRA_PROGRESS_INTERVAL
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# run COMMAND...: runs it with standard output in out.txt, standard error in
# err.txt and the status in $status.
run() {
    "$@" >out.txt 2>err.txt </dev/null
    status=$?
}

# usage_error TOOL COMMAND...: the run must be a usage error of TOOL.
usage_error() {
    local tool=$1
    shift
    run "$@"
    local what="$tool ${*:2}"
    [ "$status" = 2 ] || fail "$what: status $status, not 2"
    [ ! -s out.txt ] || fail "$what: wrote to standard output: $(cat out.txt)"
    [ "$(wc -l <err.txt)" = 2 ] || fail "$what: not two lines on standard error: $(cat err.txt)"
    head -n 1 err.txt | grep -q "^$tool: ." || fail "$what: no problem named: $(cat err.txt)"
    tail -n 1 err.txt | grep -q "^Try '$tool \([a-z]* \)\?--help' for more information\.$" ||
        fail "$what: no pointer to --help: $(cat err.txt)"
}

# info TOOL OPTION PATTERN: OPTION prints PATTERN (a line of its output),
# status 0, nothing on standard error.
info() {
    local tool=$1 option=$2 pattern=$3
    run "${tools[$tool]}" "$option"
    [ "$status" = 0 ] || fail "$tool $option: status $status: $(cat err.txt)"
    [ ! -s err.txt ] || fail "$tool $option: wrote to standard error: $(cat err.txt)"
    grep -q -- "$pattern" out.txt || fail "$tool $option: no \"$pattern\" in: $(cat out.txt)"
}

declare -A tools=([kevra-host]=$host [kevra-catalog]=$catalog)
[ -n "$demo" ] && tools[kevra-demo]=$demo

# The demo runs as without a display; the others never ask for one.
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM

for tool in "${!tools[@]}"; do
    info "$tool" --version "^$tool $version\$"
    [ "$(wc -l <out.txt)" = 1 ] || fail "$tool --version: more than one line: $(cat out.txt)"
    info "$tool" --help "--version"
    info "$tool" -h "--help"
    usage_error "$tool" "${tools[$tool]}" --no-such-option
done

# Usage errors of each tool.
usage_error kevra-host "$host" a.khs b.khs
usage_error kevra-catalog "$catalog"
usage_error kevra-catalog "$catalog" frobnicate
usage_error kevra-catalog "$catalog" help frobnicate
usage_error kevra-catalog "$catalog" import only.json
usage_error kevra-catalog "$catalog" import a.json b.db c.db
usage_error kevra-catalog "$catalog" import a.json b.db --app
usage_error kevra-catalog "$catalog" import a.json b.db --app 1.5
usage_error kevra-catalog "$catalog" init --bogus
usage_error kevra-catalog "$catalog" init a.db b.db
usage_error kevra-catalog "$catalog" export a.db
usage_error kevra-catalog "$catalog" export a.db b.json --bogus
usage_error kevra-catalog "$catalog" check
usage_error kevra-catalog "$catalog" check --bogus x.db
grep -qF "Try 'kevra-catalog check --help'" err.txt || fail "check's error points elsewhere"
if [ -n "$demo" ]; then
    usage_error kevra-demo "$demo" --app-id 1.5
    usage_error kevra-demo "$demo" stray-argument
fi

# kevra-catalog COMMAND --help (and help COMMAND): that command's help.
for command in init import export check; do
    run "$catalog" "$command" --help
    [ "$status" = 0 ] || fail "$command --help: status $status"
    head -n 1 out.txt | grep -q "^usage: kevra-catalog $command " ||
        fail "$command --help: not its usage: $(head -n 1 out.txt)"
    run "$catalog" help "$command"
    head -n 1 out.txt | grep -q "^usage: kevra-catalog $command " ||
        fail "help $command: not its usage: $(head -n 1 out.txt)"
done
# --help anywhere wins over the rest of a line being written.
run "$catalog" import x.json --app 3 --help
[ "$status" = 0 ] && grep -q -- "--app ID" out.txt || fail "import ... --help: $(cat out.txt err.txt)"
[ ! -e x.json ] || fail "import --help did something"

# Failures are status 1.
run "$catalog" check missing.json
[ "$status" = 1 ] || fail "check of a missing file: status $status"
printf 'echo one\n' >ok.khs
run "$host" missing.khs
[ "$status" = 1 ] || fail "kevra-host missing.khs: status $status"
printf 'no-such-command\n' >bad.khs
run "$host" bad.khs
[ "$status" = 2 ] && grep -q "^kevra-host: line 1: " err.txt || fail "parse error: $status $(cat err.txt)"
run "$host" ok.khs
[ "$status" = 0 ] && [ "$(cat out.txt)" = "echo one" ] || fail "kevra-host ok.khs: $status"

# Without a display the demo says what to do instead of aborting.
if [ -n "$demo" ]; then
    run "$demo"
    [ "$status" = 1 ] || fail "kevra-demo without a display: status $status"
    grep -qF "there is no display" err.txt && grep -qF -- "--screenshot" err.txt ||
        fail "kevra-demo without a display: $(cat err.txt)"
fi

# Counts read right.
printf '[{"TaskId": 1, "TaskParent": 0, "TaskDescription": "Front Office"}]\n' >one.json
run "$catalog" import one.json one.db
grep -qx "Imported 1 task from one.json into one.db (application 1)" out.txt ||
    fail "import of one row: $(cat out.txt)"
run "$catalog" check one.db
grep -qx "one.db: 1 task, no problems" out.txt || fail "check of one row: $(cat out.txt)"
run "$catalog" export one.db one-out.json
grep -qx "Exported 1 task from one.db to one-out.json" out.txt || fail "export: $(cat out.txt)"
printf '[{"TaskId": 1, "TaskParent": 9, "TaskDescription": "A"},\n {"TaskId": 2, "TaskParent": 0}]\n' >two.json
run "$catalog" check two.json
[ "$status" = 1 ] || fail "check with problems: status $status"
grep -qx "two.json: 2 tasks, 2 problems" out.txt || fail "check of two rows: $(cat out.txt)"
printf '[{"TaskId": 1, "TaskParent": 7, "TaskDescription": "A"}]\n' >orphan.json
run "$catalog" check orphan.json
grep -qx "orphan.json: 1 task, 1 problem" out.txt || fail "check of an orphan: $(cat out.txt)"
run "$catalog" init --sample one.db
grep -qF "already holds 1 task;" err.txt || fail "init --sample over one task: $(cat err.txt)"

# Progress: big.json, a catalogue large enough for several reports of every
# phase; small.json, one that takes well under the default 5 s interval even
# in a sanitizer build on a busy machine.
catalogue_of() {
    awk -v n="$1" 'BEGIN { print "["; for (i = 1; i <= n; i++)
        printf "{\"TaskId\": %d, \"TaskParent\": %d, \"TaskDescription\": \"Task %d\"}%s\n",
               i, (i <= 10 ? 0 : int(i / 10)), i, (i < n ? "," : ""); print "]" }'
}
catalogue_of 20000 >big.json
catalogue_of 500 >small.json
# Without KEVRA_PROGRESS_INTERVAL a short job prints none.
run "$catalog" import small.json quiet.db
[ "$status" = 0 ] && [ ! -s err.txt ] || fail "a short import printed: $(cat err.txt)"
export KEVRA_PROGRESS_INTERVAL=0
run "$catalog" import big.json big.db
[ "$status" = 0 ] || fail "import with progress: status $status: $(cat err.txt)"
# The first report comes while the file is still being parsed.
[ "$(head -n 1 err.txt)" = "kevra-catalog: parsing big.json: 1,000 rows" ] ||
    fail "progress does not start with the parse: $(head -n 3 err.txt)"
grep -qx "kevra-catalog: importing: 10,000 of 20,000 rows (50%)" err.txt ||
    fail "no import progress: $(tail -n 3 err.txt)"
grep -qv "^kevra-catalog: [a-z][a-z .]*: [0-9,]* \(of [0-9,]* \)\?rows\( ([0-9]*%)\)\?$" err.txt &&
    fail "a progress line of another form: $(grep -v 'rows' err.txt | head -n 3)"
[ "$(cat out.txt)" = "Imported 20000 tasks from big.json into big.db (application 1)" ] ||
    fail "progress reached standard output: $(head -n 3 out.txt)"
run "$catalog" check big.db
grep -q "^kevra-catalog: reading the catalogue: " err.txt && grep -q "^kevra-catalog: checking: " err.txt ||
    fail "check shows no progress: $(head -n 3 err.txt)"
# Export to standard output: the catalogue alone there.
run "$catalog" export big.db -
[ "$(head -c 1 out.txt)" = "[" ] && ! grep -q "kevra-catalog" out.txt ||
    fail "progress in the exported catalogue"
grep -q "^kevra-catalog: exporting: " err.txt || fail "export shows no progress"
KEVRA_PROGRESS_INTERVAL=soon run "$catalog" check one.db
[ "$status" = 0 ] && grep -qF 'KEVRA_PROGRESS_INTERVAL "soon" is not a number of seconds' err.txt ||
    fail "a bad KEVRA_PROGRESS_INTERVAL: $status $(cat err.txt)"
# On a terminal: one line rewritten in place, cleared before the result.
if command -v script >/dev/null; then
    script -qec "'$catalog' import big.json tty.db" /dev/null >tty.txt 2>&1 </dev/null
    grep -q $'\rkevra-catalog: importing: 10,000 of 20,000 rows (50%)\e\[K\r' tty.txt ||
        fail "no rewritten line on a terminal: $(cat -v tty.txt | head -c 300)"
    [ "$(grep -c $'^kevra-catalog: parsing' tty.txt)" = 0 ] || fail "plain lines on a terminal"
    grep -q $'\r\e\[KImported 20000 tasks' tty.txt || fail "the result does not stand alone"
fi
unset KEVRA_PROGRESS_INTERVAL

if [ "$failures" -gt 0 ]; then
    echo "$failures failure(s)" >&2
    exit 1
fi
echo "all passed"
