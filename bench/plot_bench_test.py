#!/usr/bin/env python3
"""tools/plot-bench.py on results made up for the purpose: times in mixed
units become the right ratios and verdicts, failed benchmarks are listed
rather than plotted, and the SVG is well-formed with one line per family.

Run by ctest as plot_bench; takes the path of tools/plot-bench.py.
"""

import json
import os
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

SCRIPT = sys.argv.pop(1) if len(sys.argv) > 1 else os.path.join(
    os.path.dirname(__file__), "..", "tools", "plot-bench.py")


def bench(name, cpu, unit, real=None, **counters):
    entry = {"name": name, "run_type": "iteration", "cpu_time": cpu,
             "real_time": real if real is not None else cpu, "time_unit": unit}
    entry.update(counters)
    return entry


RESULTS = {
    "context": {"num_cpus": 2, "load_avg": [1.0, 1.0, 1.0], "date": "today"},
    "benchmarks": [
        # 1M: fill 2 s against a floor of 0.5 s (4x, missed), in two units.
        bench("BM_TreeFill/rows:100000", 150, "ms"),
        bench("BM_TreeFill/rows:1000000", 2.0, "s"),
        bench("BM_TreeFloor/rows:100000", 40_000_000, "ns"),
        bench("BM_TreeFloor/rows:1000000", 500, "ms"),
        # 100k: scan 5 ms against 1 µs (5000x, met).
        bench("BM_FilterScan/rows:100000", 5000, "us"),
        bench("BM_FilterIndexed/rows:100000", 1000, "ns"),
        bench("BM_LaunchLookup/rows:1000", 400, "ns"),
        bench("BM_LaunchLookup/rows:1000000", 700, "ns"),
        # A PostgreSQL load is read by its wall time.
        bench("BM_LoadData_Postgres/rows:1000/real_time", 2, "ms", real=50),
        bench("BM_MemoryPerRow_Json/rows:1000000/iterations:1", 1, "ms",
              text_B_per_row=37, retained_B_per_row=124, retained_beyond_text_B_per_row=87,
              peak_B_per_row=366, peak_beyond_text_B_per_row=329),
        {"name": "BM_LoadData_Sqlite/rows:1000000", "run_type": "iteration",
         "error_occurred": True, "error_message": "cannot write the catalogue"},
        # Aggregates of repetitions are not figures of their own.
        dict(bench("BM_TreeFill/rows:1000000", 9, "s"), run_type="aggregate"),
    ],
}


class PlotBench(unittest.TestCase):
    def run_script(self, *args):
        with tempfile.TemporaryDirectory() as tmp:
            results = os.path.join(tmp, "results.json")
            with open(results, "w", encoding="utf-8") as f:
                json.dump(RESULTS, f)
            svg = os.path.join(tmp, "plot.svg")
            out = subprocess.run([sys.executable, SCRIPT, "--svg", svg, "--table", "-",
                                  *args, results], capture_output=True, text=True, check=True)
            with open(svg, encoding="utf-8") as f:
                return out.stdout, f.read()

    def row(self, table, start):
        rows = [line for line in table.splitlines() if line.startswith(start)]
        self.assertEqual(len(rows), 1, f"one row starting {start!r} in:\n{table}")
        return rows[0]

    def test_ratios_and_verdicts_across_units(self):
        table, _ = self.run_script()
        self.assertIn("| 4.0x | **no** |", self.row(table, "| tree fill of 1M nodes"))
        self.assertIn("| 5,000x | yes |", self.row(table, "| indexed filter at 100k"))
        self.assertIn("| 1.75x | yes |", self.row(table, "| launch lookup (filter and count)"))
        self.assertIn("not measured", self.row(table, "| LoadData of 1M rows from SQLite"))
        self.assertIn("| 87 B | yes |", self.row(table, "| memory per row beyond its text at "
                                                       "most 150 bytes (Json, held"))
        self.assertIn("| 329 B | **no** |", self.row(table, "| memory per row beyond its text at "
                                                           "most 150 bytes (Json, peak"))
        # Growth: the fill's 13.3x (not 60x: the aggregate is no figure) is the
        # worst of the figures measured at both sizes.
        self.assertIn("13.3x (worst: `BM_TreeFill`)", self.row(table, "| growth from 100k"))
        self.assertIn("| 2 s |", self.row(table, "| `BM_TreeFill`"))
        self.assertIn("50 ms wall", self.row(table, "| `BM_LoadData_Postgres`"))

    def test_failed_benchmarks_are_listed_not_plotted(self):
        table, svg = self.run_script()
        self.assertIn("- BM_LoadData_Sqlite/rows:1000000: cannot write the catalogue", table)
        self.assertNotIn("LoadData, SQLite", svg)

    def test_svg_is_well_formed_with_a_line_per_family(self):
        _, svg = self.run_script()
        root = ET.fromstring(svg)
        lines = root.findall("{http://www.w3.org/2000/svg}polyline")
        # TreeFill, TreeFloor, FilterScan, FilterIndexed, LaunchLookup, Postgres.
        self.assertEqual(len(lines), 6)


if __name__ == "__main__":
    unittest.main()
