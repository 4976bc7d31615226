#!/usr/bin/env python3
"""Checks scenario_diff.py, which the scenario runner relies on to show a
failing dump: that it names each key that differs, sees a key that is only
on one side, falls back to lines for text that is not JSON, and reports
nothing for equal files."""
import os
import sys
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scenario_diff  # noqa: E402


class DescribeTest(unittest.TestCase):
    def test_equal_files_give_no_report(self):
        lines = ['dump {"a":1}', "yield", ""]
        self.assertEqual(scenario_diff.describe(lines, list(lines)), [])

    def test_names_each_differing_key_of_a_dump(self):
        old = ['dump {"pointer":0,"label":{"visible":true,"caption":"x"},"rows":[1,2]}']
        new = ['dump {"pointer":11,"label":{"visible":true,"caption":"y"},"rows":[1]}']
        report = scenario_diff.describe(old, new)
        self.assertEqual(report[0], "line 1: dump differs at:")
        self.assertIn("  $.pointer: expected 0, printed 11", report)
        self.assertIn('  $.label.caption: expected "x", printed "y"', report)
        self.assertIn("  $.rows[1]: expected 2, printed (missing)", report)
        self.assertFalse(any("visible" in line for line in report))

    def test_a_key_on_one_side_only_and_a_changed_type(self):
        report = scenario_diff.describe(['dump {"a":1}'], ['dump {"a":true,"b":null}'])
        self.assertIn("  $.a: expected 1, printed true", report)
        self.assertIn("  $.b: expected (missing), printed null", report)

    def test_other_lines_are_shown_whole(self):
        report = scenario_diff.describe(["pointer 11", "yield"], ["pointer 0", "yield", "extra"])
        self.assertEqual(
            report,
            ["expected line 1, printed line 1:", "  - pointer 11", "  + pointer 0",
             "expected nothing after line 2, printed line 3:", "  + extra"])


if __name__ == "__main__":
    unittest.main()
