#!/usr/bin/env python3
"""Lists the C and C++ functions longer than 80 lines and the source files
longer than 800 lines, so that the size rule of the tree can be checked at
any time:

    tools/function-lengths.py                  # the whole tree but tests/
    tools/function-lengths.py src/headless     # some folders or files only
    tools/function-lengths.py --include-tests  # tests/ too
    tools/function-lengths.py --max-function 60 --max-file 600

A function's length counts from the first line of its signature to the line
of its closing brace. The files looked at are those git tracks (so build
folders never count); a file's length is its number of lines.

A function that is better left whole may say so: a comment line reading
`function-length: WHY` in the comment block right above its signature keeps
it off the list of faults and shows it, with the reason, under "kept long".

Exit status: 0 when nothing is over either limit, 1 when something is, 2 on
a bad command line.

The reading is lexical, not a compiler's: comments, string and character
literals and preprocessor lines are blanked first, then braces are matched.
A block counts as a function body when its header has a parameter list and
it sits in a namespace, a class or at file level; blocks inside a body
(lambdas, local classes) count towards the enclosing function. Code that
hides braces in macros can fool it; the tree has none.
"""

import argparse
import os
import re
import signal
import subprocess
import sys

SOURCE_SUFFIXES = (".c", ".cc", ".cpp", ".cxx", ".h", ".hh", ".hpp")
MARKER = re.compile(r"function-length:\s*(\S.*)")
ACCESS = re.compile(r"\b(public|protected|private)(\s+(slots|Q_SLOTS))?\s*:(?!:)|"
                    r"\b(signals|Q_SIGNALS)\s*:(?!:)")
NOT_A_NAME = {"if", "for", "while", "switch", "catch", "return", "sizeof", "alignof",
              "decltype", "noexcept", "alignas", "requires", "static_assert", "__attribute__"}


def blank_non_code(text):
    """The text with comments, literals and preprocessor lines replaced by
    spaces, line breaks kept so line numbers stay. Returns the blanked text
    and, per line, the comment text found on it (for the markers)."""
    out = []
    comments = {}
    i, n = 0, len(text)
    line = 1
    at_line_start = True

    def keep_newlines(chunk):
        return "".join(ch if ch == "\n" else " " for ch in chunk)

    while i < n:
        c = text[i]
        if c == "\n":
            out.append(c)
            line += 1
            at_line_start = True
            i += 1
            continue
        if at_line_start and c in " \t":
            out.append(c)
            i += 1
            continue
        if at_line_start and c == "#":
            # A directive runs to the end of the line, continuations included.
            j = i
            while j < n and text[j] != "\n":
                if text[j] == "\\" and j + 1 < n and text[j + 1] == "\n":
                    j += 2
                    continue
                j += 1
            chunk = text[i:j]
            line += chunk.count("\n")
            out.append(keep_newlines(chunk))
            i = j
            continue
        at_line_start = False
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            comments.setdefault(line, []).append(text[i + 2:j])
            out.append(" " * (j - i))
            i = j
            continue
        if text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            chunk = text[i:j]
            for k, part in enumerate(chunk[2:-2].split("\n")):
                comments.setdefault(line + k, []).append(part.lstrip(" *"))
            line += chunk.count("\n")
            out.append(keep_newlines(chunk))
            i = j
            continue
        raw = re.match(r'(?:u8|u|U|L)?R"([^()\\\s]{0,16})\(', text[i:i + 24])
        if raw and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            end = text.find(")" + raw.group(1) + '"', i + raw.end())
            j = n if end < 0 else end + len(raw.group(1)) + 2
            chunk = text[i:j]
            line += chunk.count("\n")
            out.append(keep_newlines(chunk))
            i = j
            continue
        if c in "\"'":
            # A digit separator (1'000) is no character literal.
            if c == "'" and i > 0 and text[i - 1].isalnum() and i + 1 < n and text[i + 1].isalnum():
                out.append(" ")
                i += 1
                continue
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            j = min(j + 1, n)
            out.append(" " * (j - i))
            i = j
            continue
        out.append(c)
        i += 1
    return "".join(out), comments


def matching_close(code, open_at, opener="{", closer="}"):
    depth = 0
    for j in range(open_at, len(code)):
        if code[j] == opener:
            depth += 1
        elif code[j] == closer:
            depth -= 1
            if depth == 0:
                return j
    return len(code) - 1


def strip_parens(header):
    """The header with every parenthesised group emptied, so commas and
    colons inside parameter lists do not count."""
    out, depth = [], 0
    for ch in header:
        if ch == "(":
            if depth == 0:
                out.append("(")
            depth += 1
        elif ch == ")":
            depth -= 1
            if depth == 0:
                out.append(")")
        elif depth == 0:
            out.append(ch)
    return "".join(out)


def function_name(header):
    kept = re.search(r"([A-Za-z_]\w*)\s*=\s*(?:\[|\w+\s*\[)", strip_parens(header))
    if kept:  # a lambda kept in a variable goes by the variable's name
        return kept.group(1)
    for m in re.finditer(r"((?:[A-Za-z_~][\w]*\s*::\s*)*~?[A-Za-z_]\w*"
                         r"(?:\s*<[^(){};]*>)?|operator\s*(?:\(\s*\)|[^\s(]+))\s*\(", header):
        name = re.sub(r"\s+", "", m.group(1))
        last = name.split("::")[-1]
        if last in NOT_A_NAME or re.fullmatch(r"Q_[A-Z_]+|[A-Z][A-Z0-9_]*_[A-Z0-9_]+", last):
            continue
        return name
    return None


def is_function_header(header):
    """Whether the text before a `{` at namespace or class level opens a
    function body rather than an initializer."""
    flat = strip_parens(header)
    if "(" not in flat:
        return False
    # An `=` outside the parameter list (not in an operator's name) starts
    # an initializer; only a lambda kept in a variable is a function then.
    flat = re.sub(r"\boperator\s*[^\w\s(]+", "operator", flat)
    assign = re.search(r"(?<![=!<>])=(?!=)", flat)
    if assign:
        return "[" in flat[assign.end():]
    return True


def scan_scope(code, start, end, found, line_of):
    """Finds the functions defined between `start` and `end`, a run of code
    at namespace or class level."""
    seg_start = start
    i = start
    while i < end:
        c = code[i]
        if c in ";}":
            seg_start = i + 1
        elif c == ":" and ACCESS.search(code[seg_start:i + 1]) and \
                ACCESS.search(code[seg_start:i + 1]).end() == i + 1 - seg_start:
            seg_start = i + 1
        elif c == "(":
            i = matching_close(code, i, "(", ")")
        elif c == "{":
            header = code[seg_start:i]
            flat = strip_parens(header)
            close = matching_close(code, i)
            if re.search(r"\b(namespace|extern|class|struct|union)\b", flat) and "(" not in flat:
                scan_scope(code, i + 1, close, found, line_of)
                seg_start = close + 1
                i = close
            elif re.search(r"\)\s*:[^:]", flat) and re.search(r"[\w>]\s*$", header) and \
                    not re.search(r"\)\s*(const|noexcept|override|final|mutable)?\s*$", header):
                # A brace initializer inside a constructor's member list.
                i = close
            elif is_function_header(header):
                first = seg_start + (len(header) - len(header.lstrip()))
                found.append((function_name(header) or "?", line_of(first), line_of(close)))
                seg_start = close + 1
                i = close
            else:
                i = close
        i += 1


def functions_in(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        text = f.read()
    code, comments = blank_non_code(text)
    starts = [0]
    for k, ch in enumerate(code):
        if ch == "\n":
            starts.append(k + 1)

    def line_of(offset):
        lo, hi = 0, len(starts) - 1
        while lo < hi:
            mid = (lo + hi + 1) // 2
            if starts[mid] <= offset:
                lo = mid
            else:
                hi = mid - 1
        return lo + 1

    found = []
    scan_scope(code, 0, len(code), found, line_of)
    source_lines = text.split("\n")
    result = []
    for name, first, last in found:
        # The comment block right above the signature may carry the marker.
        reason = None
        k = first - 1
        while k >= 1 and source_lines[k - 1].strip().startswith(("//", "/*", "*")):
            for part in comments.get(k, []):
                m = MARKER.search(part)
                if m:
                    reason = m.group(1).strip()
            k -= 1
        result.append((name, first, last - first + 1, reason))
    return result, text.count("\n") + (0 if text.endswith("\n") or not text else 1)


def tracked_files(root, paths, include_tests):
    try:
        listed = subprocess.run(["git", "-C", root, "ls-files", "-z", "--", *paths],
                                check=True, capture_output=True).stdout.decode()
    except (OSError, subprocess.CalledProcessError) as e:
        sys.exit(f"function-lengths: cannot list the files git tracks in {root}: {e}")
    for rel in sorted(filter(None, listed.split("\0"))):
        if not include_tests and (rel + "/").startswith("tests/"):
            continue
        if rel.endswith(SOURCE_SUFFIXES) and os.path.isfile(os.path.join(root, rel)):
            yield rel


def main():
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)  # quiet when piped into head
    parser = argparse.ArgumentParser(
        description="List functions and source files over the tree's length limits.")
    parser.add_argument("paths", nargs="*", help="folders or files, relative to the repository "
                        "(default: all of it)")
    parser.add_argument("--max-function", type=int, default=80, metavar="LINES")
    parser.add_argument("--max-file", type=int, default=800, metavar="LINES")
    parser.add_argument("--include-tests", action="store_true", help="look at tests/ too")
    args = parser.parse_args()

    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    long_functions, kept, long_files = [], [], []
    for rel in tracked_files(root, args.paths, args.include_tests):
        functions, lines = functions_in(os.path.join(root, rel))
        if lines > args.max_file:
            long_files.append((lines, rel))
        for name, first, length, reason in functions:
            if length > args.max_function:
                (kept if reason else long_functions).append((length, rel, first, name, reason))

    for length, rel, first, name, _ in sorted(long_functions, reverse=True):
        print(f"function {length:5d} lines  {rel}:{first}  {name}")
    for lines, rel in sorted(long_files, reverse=True):
        print(f"file     {lines:5d} lines  {rel}")
    for length, rel, first, name, reason in sorted(kept, reverse=True):
        print(f"kept long {length:4d} lines  {rel}:{first}  {name}: {reason}")
    if not long_functions and not long_files:
        print(f"no function over {args.max_function} lines, no file over {args.max_file} lines")
        return 0
    return 1


if __name__ == "__main__":
    sys.exit(main())
