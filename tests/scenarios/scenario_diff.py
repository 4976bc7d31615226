#!/usr/bin/env python3
"""Shows how a scenario's printed lines differ from the expected ones, in a
form a reader can take in: a `dump` line holds the control's whole state as
one JSON value of a couple of thousand characters, so a line diff of two
such lines says only that they differ. Here every pair of lines that differ
and both carry JSON is compared value by value, and each key that differs
is named with both its values; other lines are shown as a unified diff.

    scenario_diff.py EXPECTED PRINTED

Exits 0 when the two files are the same, 1 when they differ, 2 on a bad
call.
"""
import difflib
import json
import sys

# A long value is cut in the report; the path already says where it is.
SHOWN_CHARS = 120


def split_json(line):
    """(prefix, value) when the line ends in a JSON object or array after a
    word or two (`dump {...}`), else None."""
    for i, c in enumerate(line):
        if c in "{[":
            try:
                return line[:i], json.loads(line[i:])
            except ValueError:
                return None
    return None


def shown(value):
    text = json.dumps(value, ensure_ascii=False)
    return text if len(text) <= SHOWN_CHARS else text[: SHOWN_CHARS - 3] + "..."


def differences(expected, printed, path="$"):
    """The (path, expected, printed) of every leaf where the two differ."""
    if isinstance(expected, dict) and isinstance(printed, dict):
        for key in list(expected) + [k for k in printed if k not in expected]:
            where = f"{path}.{key}"
            if key not in printed:
                yield where, expected[key], "(missing)"
            elif key not in expected:
                yield where, "(missing)", printed[key]
            else:
                yield from differences(expected[key], printed[key], where)
    elif isinstance(expected, list) and isinstance(printed, list):
        for i in range(max(len(expected), len(printed))):
            where = f"{path}[{i}]"
            if i >= len(printed):
                yield where, expected[i], "(missing)"
            elif i >= len(expected):
                yield where, "(missing)", printed[i]
            else:
                yield from differences(expected[i], printed[i], where)
    elif expected != printed or type(expected) is not type(printed):
        yield path, expected, printed


def lines_named(first, end):
    """Lines first+1..end (1-based) as words; `first` alone where none."""
    if end == first:
        return f"nothing after line {first}"
    if end == first + 1:
        return f"line {end}"
    return f"lines {first + 1}-{end}"


def report_pair(number, old, new, out):
    """Writes the structural difference of two lines; False when they are
    not both JSON lines with the same prefix."""
    a, b = split_json(old), split_json(new)
    if a is None or b is None or a[0] != b[0]:
        return False
    out.append(f"line {number}: {a[0].strip() or 'JSON'} differs at:")
    for where, e, p in differences(a[1], b[1]):
        out.append(f"  {where}: expected {shown(e) if e != '(missing)' else e}, "
                   f"printed {shown(p) if p != '(missing)' else p}")
    return True


def describe(expected_lines, printed_lines):
    """The report as lines; empty when the two are the same."""
    out = []
    matcher = difflib.SequenceMatcher(a=expected_lines, b=printed_lines, autojunk=False)
    for tag, i1, i2, j1, j2 in matcher.get_opcodes():
        if tag == "equal":
            continue
        rest_old, rest_new = [], []
        if tag == "replace":
            pairs = min(i2 - i1, j2 - j1)
            for k in range(pairs):
                if not report_pair(j1 + k + 1, expected_lines[i1 + k], printed_lines[j1 + k], out):
                    rest_old.append(expected_lines[i1 + k])
                    rest_new.append(printed_lines[j1 + k])
            rest_old += expected_lines[i1 + pairs : i2]
            rest_new += printed_lines[j1 + pairs : j2]
        else:
            rest_old, rest_new = expected_lines[i1:i2], printed_lines[j1:j2]
        if rest_old or rest_new:
            out.append(f"expected {lines_named(i1, i2)}, printed {lines_named(j1, j2)}:")
            out += ["  - " + line for line in rest_old]
            out += ["  + " + line for line in rest_new]
    return out


def read_lines(path):
    with open(path, encoding="utf-8", errors="replace", newline="") as f:
        return f.read().split("\n")


def main(argv):
    if len(argv) != 3:
        print("usage: scenario_diff.py EXPECTED PRINTED", file=sys.stderr)
        return 2
    try:
        expected, printed = read_lines(argv[1]), read_lines(argv[2])
    except OSError as e:
        print(f"scenario_diff.py: {e}", file=sys.stderr)
        return 2
    report = describe(expected, printed)
    for line in report:
        print(line)
    return 1 if report else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
