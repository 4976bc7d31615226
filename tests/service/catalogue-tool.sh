#!/bin/bash
# kevra-catalog as a user meets it on the command line: what stands at an
# export's target and is no regular file is refused and left alone, modes
# are kept or follow the umask, "-" is standard output, the leftovers of a
# killed export go on the next run, numeric options take plain digits only,
# and output that cannot be written, or memory that runs out, is a failure
# with a message, never a silent success.
#
#   catalogue-tool.sh KEVRA_CATALOG REPO_DIR SANITIZED
#
# SANITIZED is 1 for a sanitizer build, where the memory limit is skipped
# (the sanitizer reserves more address space than any limit leaves).
set -u
catalog=$(realpath "$1")
repo=$(realpath "$2")
sanitized=${3:-0}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp" || exit 1
export XDG_DATA_HOME="$tmp/data"
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# expect STATUS STDERR-PATTERN COMMAND...: runs kevra-catalog, checks its
# exit status and that standard error contains the pattern.
expect() {
    local status=$1 pattern=$2
    shift 2
    "$catalog" "$@" >out.txt 2>err.txt
    local got=$?
    [ "$got" = "$status" ] || fail "kevra-catalog $* exited $got, not $status: $(cat err.txt)"
    grep -qF -- "$pattern" err.txt || fail "kevra-catalog $*: no \"$pattern\" in: $(cat err.txt)"
}

"$catalog" import "$repo/samples/hotel-catalogue.json" c.db >/dev/null || fail "import failed"

# Things that are not regular files.
mkfifo pipe.json
expect 1 'it is a named pipe (FIFO)' export c.db pipe.json
[ -p pipe.json ] || fail "the FIFO was replaced"
ln -s c.db link.json
expect 1 'it is a symbolic link' export c.db link.json
[ -L link.json ] || fail "the symbolic link was replaced"
# Root would replace the system's null device if the refusal broke; it
# gets a null device of its own here.
device=/dev/null
if [ "$(id -u)" = 0 ]; then
    device=$tmp/null
    mknod "$device" c 1 3 || fail "mknod"
fi
expect 1 'it is a character device' export c.db "$device"
[ -c "$device" ] || fail "the device was replaced"
expect 1 'already exists' init link.json

# "-" is standard output; the report goes to standard error.
"$catalog" export c.db - >stdout.json 2>err.txt || fail "export to - failed"
"$catalog" export c.db file.json >/dev/null || fail "export to a file failed"
cmp -s stdout.json file.json || fail "export to - differs from export to a file"
grep -qF 'to standard output' err.txt || fail "no report of the export to -: $(cat err.txt)"
[ ! -e ./- ] || fail "a file named - was written"

# Modes.
chmod 600 file.json
"$catalog" export c.db file.json >/dev/null || fail "export over a private file failed"
[ "$(stat -c %a file.json)" = 600 ] || fail "a 600 catalogue became $(stat -c %a file.json)"
(umask 027 && "$catalog" export c.db new.json >/dev/null) || fail "export to a new file failed"
[ "$(stat -c %a new.json)" = 640 ] || fail "a new file under umask 027 is $(stat -c %a new.json)"

# The temporary of an export that was killed goes with the next export;
# other files that merely look alike stay.
echo '[{"cut": ' >.new.json.tmp-Ab12Cd
echo 'mine' >new.json.tmp-Ab12Cd
"$catalog" export c.db new.json >/dev/null || fail "export after a killed one failed"
[ ! -e .new.json.tmp-Ab12Cd ] || fail "the killed export's temporary is still there"
[ -e new.json.tmp-Ab12Cd ] || fail "a file that is not a temporary of the export was removed"

# Numeric options: plain digits only, and nothing is imported otherwise.
before=$("$catalog" export c.db - 2>/dev/null)
for app in 1.5 2.5 0.6 1e0 +3 "3 " " 3" -1 0x2 2147483648 ""; do
    expect 2 "--app takes a whole number from 0 to 2147483647" import file.json c.db --app "$app"
    expect 2 "--app takes a whole number" import file.json c.db "--app=$app"
done
[ "$("$catalog" export c.db - 2>/dev/null)" = "$before" ] || fail "a refused --app changed c.db"
"$catalog" import "$repo/samples/hotel-catalogue.json" c.db --app 007 >/dev/null ||
    fail "--app 007 was refused"

# Output that cannot be written.
if [ -w /dev/full ]; then
    "$catalog" check c.db >/dev/full 2>err.txt
    [ $? = 1 ] || fail "check > /dev/full did not exit 1"
    grep -qF 'cannot write the results to standard output: No space left on device' err.txt ||
        fail "check > /dev/full: $(cat err.txt)"
    "$catalog" --help >/dev/full 2>/dev/null
    [ $? = 1 ] || fail "--help > /dev/full did not exit 1"
    "$catalog" export c.db - >/dev/full 2>err.txt
    [ $? = 1 ] || fail "export - > /dev/full did not exit 1"
    [ "$(grep -c . err.txt)" = 1 ] || fail "export - > /dev/full: not one message: $(cat err.txt)"
    grep -qF 'Cannot write the catalogue to standard output' err.txt ||
        fail "export - > /dev/full: $(cat err.txt)"
fi

# Memory: the tools stream, so a catalogue of 200,000 rows is checked,
# imported and exported in the memory of a small one; memory that runs out
# all the same (one text value of 15 MB where 36 MB is all there is) is a
# failure with a message.
if [ "$sanitized" != 1 ]; then
    awk 'BEGIN { print "["; for (i = 1; i <= 200000; i++)
        printf "{\"TaskId\": %d, \"TaskParent\": 0, \"TaskDescription\": \"Task %d\"}%s\n",
               i, i, (i < 200000 ? "," : ""); print "]" }' >big.json
    (ulimit -v 80000 && "$catalog" check big.json) >out.txt 2>err.txt ||
        fail "check of 200,000 rows under 80 MB: $(cat err.txt)"
    grep -qxF 'big.json: 200000 tasks, no problems' out.txt || fail "check of big.json: $(cat out.txt)"
    (ulimit -v 80000 && "$catalog" import big.json big.db) >out.txt 2>err.txt ||
        fail "import of 200,000 rows under 80 MB: $(cat err.txt)"
    (ulimit -v 80000 && "$catalog" check big.db) >out.txt 2>err.txt ||
        fail "check of the imported 200,000 rows under 80 MB: $(cat err.txt)"
    (ulimit -v 80000 && "$catalog" export big.db - | wc -l) >out.txt 2>err.txt
    [ "$(cat out.txt)" = 200002 ] || fail "export of 200,000 rows under 80 MB: $(cat out.txt err.txt)"

    awk 'BEGIN { printf "[{\"TaskId\": 1, \"TaskParent\": 0, \"TaskDescription\": \"";
        for (i = 0; i < 15000; i++) printf "%01000d", 0; print "\"}]" }' >wide.json
    (ulimit -v 36000 && "$catalog" check wide.json) >/dev/null 2>err.txt
    [ $? = 1 ] || fail "check under a memory limit did not exit 1: $(cat err.txt)"
    grep -qF 'kevra-catalog: out of memory' err.txt || fail "out of memory: $(cat err.txt)"
fi

if [ "$failures" -gt 0 ]; then
    echo "$failures failure(s)" >&2
    exit 1
fi
echo "all passed"
