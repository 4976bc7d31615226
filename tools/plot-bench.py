#!/usr/bin/env python3
"""Turns the JSON output of the benchmark binaries into the figures of
docs/performance.md: a log-log plot of time against catalogue size (SVG,
written directly, so nothing needs installing) and a Markdown table of every
figure, its growth between sizes and each target of the performance issue
with its verdict.

    tools/plot-bench.py --svg docs/images/bench-scaling.svg --table - OUT/bench_*.json

Times are CPU times (the machine is shared, and CPU time is what the
process itself spent); a figure's wall time is printed beside it when the
two differ by more than a tenth. A PostgreSQL load is timed by the clock,
since its work is done by the server.
"""

import argparse
import json
import math
import re
import sys

UNIT_SECONDS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
# Figures whose work happens in another process (the database server): their
# wall time is the figure, since the benchmark's CPU time cannot see it.
WALL_TIME = {"BM_LoadData_Postgres"}
SIZES = [1_000, 10_000, 100_000, 1_000_000]

# Families drawn in the plot, with a label; the floors and references dashed.
PLOTTED = [
    ("BM_TreeFill", "tree fill (headless)", False),
    ("BM_TreeFloor", "bare tree build (floor)", True),
    ("BM_ListBarBuild", "list bar build", False),
    ("BM_ListBarFloor", "bare list bar build (floor)", True),
    ("BM_LoadData_Json", "LoadData, JSON", False),
    ("BM_LoadData_Sqlite", "LoadData, SQLite", False),
    ("BM_LoadData_Postgres", "LoadData, PostgreSQL", False),
    ("BM_QtTreeView", "Qt tree view population", False),
    ("BM_QtTreeViewExpanded", "Qt tree view, all expanded", False),
    ("BM_QtTreeViewFirst", "Qt tree view, first showing", False),
    ("BM_QtTreeViewFirstExpanded", "Qt tree view, first showing, all expanded", False),
    ("BM_FilterScan", "linear scan (reference)", True),
    ("BM_FilterIndexed", "indexed equality filter", False),
    ("BM_LaunchLookup", "launch lookup", False),
    ("BM_LookupFloor", "one random read of a table as large (floor)", True),
    ("BM_LaunchThroughControl", "double-click launch", False),
]
# The binary that measures each family, for the command that reproduces it.
BINARY = {
    "BM_FilterIndexed": "bench_recordset", "BM_FilterScan": "bench_recordset",
    "BM_LaunchLookup": "bench_recordset", "BM_LaunchThroughControl": "bench_recordset",
    "BM_LookupFloor": "bench_recordset",
    "BM_TreeFill": "bench_navigation", "BM_TreeFloor": "bench_navigation",
    "BM_ListBarBuild": "bench_navigation", "BM_ListBarFloor": "bench_navigation",
    "BM_LoadData_Json": "bench_load", "BM_LoadData_Sqlite": "bench_load",
    "BM_LoadData_Postgres": "bench_load", "BM_MemoryPerRow_Json": "bench_memory",
    "BM_MemoryPerRow_Sqlite": "bench_memory", "BM_QtTreeView": "bench_qt",
    "BM_QtTreeViewExpanded": "bench_qt", "BM_QtTreeViewFirst": "bench_qt",
    "BM_QtTreeViewFirstExpanded": "bench_qt",
}


def command(family):
    return f"`build-bench/bench/{BINARY.get(family, 'bench_*')} --benchmark_filter='^{family}/'`"


COLOURS = ["#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd", "#8c564b",
           "#e377c2", "#7f7f7f", "#bcbd22", "#17becf", "#393b79", "#637939", "#e7ba52"]


def load(paths):
    """{family: {rows: entry}} and the context of the first file."""
    figures, context, errors = {}, None, []
    for path in paths:
        with open(path, encoding="utf-8") as f:
            data = json.load(f)
        context = context or data.get("context", {})
        for b in data.get("benchmarks", []):
            if b.get("run_type", "iteration") != "iteration":
                continue
            m = re.match(r"^(\w+)/rows:(\d+)", b["name"])
            if not m:
                continue
            if b.get("error_occurred"):
                errors.append(f"{b['name']}: {b.get('error_message', 'error')}")
                continue
            scale = UNIT_SECONDS[b.get("time_unit", "ns")]
            entry = dict(b)
            entry["cpu_s"] = b["cpu_time"] * scale
            entry["real_s"] = b["real_time"] * scale
            if m.group(1) in WALL_TIME:
                entry["cpu_s"] = entry["real_s"]
            figures.setdefault(m.group(1), {})[int(m.group(2))] = entry
    return figures, context or {}, errors


def seconds_text(s):
    if s is None:
        return "–"
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("µs", 1e-6)):
        if s >= scale:
            return f"{s / scale:.3g} {unit}"
    return f"{s / 1e-9:.3g} ns"


def cpu_model():
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "unknown"


def cpu(figures, family, rows):
    e = figures.get(family, {}).get(rows)
    return e["cpu_s"] if e else None


def counter(figures, family, rows, name):
    e = figures.get(family, {}).get(rows)
    return e.get(name) if e else None


def table(figures, context, errors):
    out = []
    out.append(f"Machine: {context.get('num_cpus', '?')} CPUs, {cpu_model()}, "
               f"load average at the start {', '.join(f'{x:.1f}' for x in context.get('load_avg', []))}; "
               f"run {context.get('date', '?')}.")
    out.append("")
    out.append("| Figure | 1k rows | 10k rows | 100k rows | 1M rows | growth 10k→100k | growth 100k→1M | Command |")
    out.append("|---|---|---|---|---|---|---|---|")
    for family in sorted(figures):
        if family.startswith("BM_MemoryPerRow"):
            continue
        cells = []
        wall_only = family in WALL_TIME
        for n in SIZES:
            e = figures[family].get(n)
            if not e:
                cells.append("–")
                continue
            text = seconds_text(e["cpu_s"]) + (" wall" if wall_only else "")
            if not wall_only and e["real_s"] > 1.1 * e["cpu_s"]:
                text += f" ({seconds_text(e['real_s'])} wall)"
            cells.append(text)
        growth = []
        for a, b in ((10_000, 100_000), (100_000, 1_000_000)):
            ta, tb = cpu(figures, family, a), cpu(figures, family, b)
            growth.append(f"{tb / ta:.1f}x" if ta and tb else "–")
        out.append(f"| `{family}` | " + " | ".join(cells) + " | " + " | ".join(growth) +
                   f" | {command(family)} |")
    out.append("")

    memory = sorted(f for f in figures if f.startswith("BM_MemoryPerRow"))
    if memory:
        out.append("| Memory per row (bytes) | text | retained | retained beyond text | peak | peak beyond text | Command |")
        out.append("|---|---|---|---|---|---|---|")
        for family in memory:
            store = family.replace("BM_MemoryPerRow_", "")
            for n in SIZES:
                if n not in figures[family]:
                    continue
                vals = [counter(figures, family, n, k) for k in (
                    "text_B_per_row", "retained_B_per_row", "retained_beyond_text_B_per_row",
                    "peak_B_per_row", "peak_beyond_text_B_per_row")]
                out.append(f"| {store}, {n:,} rows | " + " | ".join(f"{v:.0f}" for v in vals) +
                           f" | {command(family)} |")
        out.append("")

    def ratio(a, b):
        return a / b if a and b else None

    targets = []
    r = ratio(cpu(figures, "BM_TreeFill", 1_000_000), cpu(figures, "BM_TreeFloor", 1_000_000))
    targets.append(("tree fill of 1M nodes within 3x of the bare tree build",
                    f"{r:.1f}x" if r else "–", r is not None and r <= 3))
    r = ratio(cpu(figures, "BM_FilterScan", 100_000), cpu(figures, "BM_FilterIndexed", 100_000))
    targets.append(("indexed filter at 100k rows at least 100x faster than the scan",
                    f"{r:,.0f}x" if r else "–", r is not None and r >= 100))
    t = cpu(figures, "BM_ListBarBuild", 1_000_000)
    targets.append(("list bar build, 1M rows in 10k groups, under 1 s", seconds_text(t),
                    t is not None and t < 1))
    for family, what in (("BM_LaunchLookup", "launch lookup (filter and count)"),
                         ("BM_LaunchThroughControl", "launch through the double-click")):
        r = ratio(cpu(figures, family, 1_000_000), cpu(figures, family, 1_000))
        targets.append((f"{what}: 1M rows within 2x of 1k rows",
                        f"{r:.2f}x" if r else "–", r is not None and r <= 2))
    r = ratio(cpu(figures, "BM_LaunchLookup", 1_000_000), cpu(figures, "BM_LookupFloor", 1_000_000))
    if r:
        targets.append(("launch lookup at 1M rows against its floor, one random read of a table "
                        "as large", f"{r:.1f}x", None))
    for family in memory:
        store = family.replace("BM_MemoryPerRow_", "")
        for key, what in (("retained_beyond_text_B_per_row", "held after loading"),
                          ("peak_beyond_text_B_per_row", "peak while loading")):
            m = counter(figures, family, 1_000_000, key)
            targets.append((f"memory per row beyond its text at most 150 bytes ({store}, {what})",
                            f"{m:.0f} B" if m is not None else "–", m is not None and m <= 150))
    t = cpu(figures, "BM_LoadData_Sqlite", 1_000_000)
    targets.append(("LoadData of 1M rows from SQLite under 3 s", seconds_text(t),
                    t is not None and t < 3))
    for family, what in (("BM_QtTreeView", "as the fill leaves it"),
                         ("BM_QtTreeViewExpanded", "every node expanded"),
                         ("BM_QtTreeViewFirst", "first showing"),
                         ("BM_QtTreeViewFirstExpanded", "first showing, every node expanded")):
        t = cpu(figures, family, 100_000)
        targets.append((f"Qt tree view of 100k nodes populated under 1 s ({what})",
                        seconds_text(t), t is not None and t < 1))
    worst, worst_family, floor_worst = None, None, None
    floors = {family for family, _, dashed in PLOTTED if dashed}
    for family in figures:
        if family.startswith("BM_MemoryPerRow"):
            continue
        g = ratio(cpu(figures, family, 1_000_000), cpu(figures, family, 100_000))
        if not g:
            continue
        if family in floors:
            floor_worst = max(floor_worst or g, g)
        elif worst is None or g > worst:
            worst, worst_family = g, family
    measured = f"{worst:.1f}x (worst: `{worst_family}`)" if worst else "–"
    if worst and floor_worst:
        measured += f"; the floors and references grow up to {floor_worst:.1f}x"
    targets.append(("growth from 100k to 1M rows at most 12x for every figure", measured,
                    worst is not None and worst <= 12))

    out.append("| Target | Measured | Met |")
    out.append("|---|---|---|")
    for what, measured, met in targets:
        if met is None:
            verdict = "(a reference, no target)"
        elif met:
            verdict = "yes"
        else:
            verdict = "**no**" if measured != "–" else "not measured"
        out.append(f"| {what} | {measured} | {verdict} |")
    if errors:
        out.append("")
        out.append("Benchmarks that reported an error:")
        out.extend(f"- {e}" for e in errors)
    return "\n".join(out) + "\n"


def svg(figures, width=900, height=560):
    left, right, top, bottom = 80, 250, 30, 60
    pw, ph = width - left - right, height - top - bottom
    series = []
    for i, (family, label, dashed) in enumerate(PLOTTED):
        pts = [(n, figures[family][n]["cpu_s"]) for n in SIZES if n in figures.get(family, {})]
        if pts:
            series.append((label, dashed, COLOURS[i % len(COLOURS)], pts))
    times = [t for _, _, _, pts in series for _, t in pts]
    if not times:
        raise SystemExit("plot-bench: no timed figure with a rows: size in the input")
    ylo = math.floor(math.log10(min(times)))
    yhi = math.ceil(math.log10(max(times)))
    if yhi == ylo:
        yhi += 1
    xlo, xhi = 3, 6

    def x(n):
        return left + (math.log10(n) - xlo) / (xhi - xlo) * pw

    def y(t):
        return top + (yhi - math.log10(t)) / (yhi - ylo) * ph

    s = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
         f'viewBox="0 0 {width} {height}" font-family="sans-serif" font-size="12">',
         f'<rect width="{width}" height="{height}" fill="white"/>']
    for e in range(ylo, yhi + 1):
        yy = y(10.0 ** e)
        s.append(f'<line x1="{left}" y1="{yy:.1f}" x2="{left + pw}" y2="{yy:.1f}" stroke="#ddd"/>')
        s.append(f'<text x="{left - 8}" y="{yy + 4:.1f}" text-anchor="end">'
                 f'{seconds_text(10.0 ** e)}</text>')
    for n in SIZES:
        xx = x(n)
        s.append(f'<line x1="{xx:.1f}" y1="{top}" x2="{xx:.1f}" y2="{top + ph}" stroke="#ddd"/>')
        label = {1_000: "1k", 10_000: "10k", 100_000: "100k", 1_000_000: "1M"}[n]
        s.append(f'<text x="{xx:.1f}" y="{top + ph + 18}" text-anchor="middle">{label}</text>')
    s.append(f'<rect x="{left}" y="{top}" width="{pw}" height="{ph}" fill="none" stroke="#333"/>')
    s.append(f'<text x="{left + pw / 2}" y="{height - 15}" text-anchor="middle">'
             'catalogue size (rows, log scale)</text>')
    s.append(f'<text x="18" y="{top + ph / 2}" text-anchor="middle" '
             f'transform="rotate(-90 18 {top + ph / 2})">CPU time per operation (log scale)</text>')
    for i, (label, dashed, colour, pts) in enumerate(series):
        path = " ".join(f"{x(n):.1f},{y(t):.1f}" for n, t in pts)
        dash = ' stroke-dasharray="6,4"' if dashed else ""
        s.append(f'<polyline points="{path}" fill="none" stroke="{colour}" stroke-width="2"{dash}/>')
        for n, t in pts:
            s.append(f'<circle cx="{x(n):.1f}" cy="{y(t):.1f}" r="3" fill="{colour}"/>')
        ly = top + 10 + i * 20
        lx = left + pw + 15
        s.append(f'<line x1="{lx}" y1="{ly}" x2="{lx + 24}" y2="{ly}" stroke="{colour}" '
                 f'stroke-width="2"{dash}/>')
        s.append(f'<text x="{lx + 30}" y="{ly + 4}">{label}</text>')
    s.append("</svg>")
    return "\n".join(s) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("results", nargs="+", help="JSON files written with --benchmark_out")
    parser.add_argument("--svg", help="write the log-log plot here")
    parser.add_argument("--table", help="write the Markdown figures here ('-' for standard output)")
    args = parser.parse_args()
    try:
        figures, context, errors = load(args.results)
    except (OSError, ValueError, KeyError) as e:
        raise SystemExit(f"plot-bench: cannot read the benchmark results: {e}")
    if args.svg:
        with open(args.svg, "w", encoding="utf-8") as f:
            f.write(svg(figures))
    if args.table:
        text = table(figures, context, errors)
        if args.table == "-":
            sys.stdout.write(text)
        else:
            with open(args.table, "w", encoding="utf-8") as f:
                f.write(text)
    if not args.svg and not args.table:
        sys.stdout.write(table(figures, context, errors))


if __name__ == "__main__":
    main()
