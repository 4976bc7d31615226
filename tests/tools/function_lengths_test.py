#!/usr/bin/env python3
"""Checks tools/function-lengths.py, the size rule's checker: that it finds
each function where it starts and ends whatever braces surround it (in
literals, comments, directives, initializers, namespaces and classes), does
not take a class, an initializer or a control statement for a function,
honours the marker that keeps a function long, and answers with the exit
status a check relies on."""
import importlib.util
import os
import subprocess
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRIPT = os.path.join(ROOT, "tools", "function-lengths.py")
spec = importlib.util.spec_from_file_location("function_lengths", SCRIPT)
function_lengths = importlib.util.module_from_spec(spec)
spec.loader.exec_module(function_lengths)


def functions(source):
    """(name, first line, length, reason) of each function in `source`."""
    with tempfile.NamedTemporaryFile("w", suffix=".cpp", delete=False) as f:
        f.write(source)
    try:
        return function_lengths.functions_in(f.name)[0]
    finally:
        os.unlink(f.name)


class ReadingTest(unittest.TestCase):
    def test_a_function_after_a_closed_namespace_starts_at_its_own_signature(self):
        found = functions(
            "namespace a::b {\n"      # 1
            "namespace {\n"           # 2
            "int One() { return 1; }\n"  # 3
            "}  // namespace\n"       # 4
            "\n"
            "int Two(int x)\n"        # 6
            "{\n"
            "    return x;\n"
            "}\n"                     # 9
            "}  // namespace a::b\n")
        self.assertEqual([(n, first, length) for n, first, length, _ in found],
                         [("One", 3, 1), ("Two", 6, 4)])

    def test_braces_in_literals_comments_and_directives_are_not_code(self):
        found = functions(
            '#define OPEN {\n'
            'const char* s = "}}{";\n'
            "// }\n"
            "/* { */\n"
            "char c = '{';\n"
            "int n = 1'000; int Sep() { return 0; }\n"  # 6
            'const char* raw = R"x(})x";\n'
            "void F() {\n"           # 8
            '    const char* t = "}";\n'
            "    char d = '}';\n"
            "}\n"                    # 11
            "void G() {}\n")         # 12
        self.assertEqual([(n, first, length) for n, first, length, _ in found],
                         [("Sep", 6, 1), ("F", 8, 4), ("G", 12, 1)])

    def test_classes_initializers_and_lambdas_kept_in_variables(self):
        found = functions(
            "struct S : Base {\n"
            "  public:\n"
            "    S(int a) : a_{a}, b_(a) {\n"     # 3
            "    }\n"
            "    int Get() const noexcept { return a_; }\n"  # 5
            "    bool operator==(const S&) const = default;\n"
            "    int a_{0};\n"
            "    int b_ = {1};\n"
            "};\n"
            "enum class E { a, b };\n"
            "const int kTable[] = {1, 2, 3};\n"
            "auto f = [](int x) {\n"              # 12
            "    return x;\n"
            "};\n"
            "bool operator<(const S& a, const S& b) { return a.a_ < b.a_; }\n")  # 15
        self.assertEqual([(n, first, length) for n, first, length, _ in found],
                         [("S", 3, 2), ("Get", 5, 1), ("f", 12, 3), ("operator<", 15, 1)])

    def test_a_body_counts_its_lambdas_and_local_classes(self):
        body = "\n".join(["    x += 1;"] * 90)
        found = functions(
            "template <typename T>\n"
            "void Long(T x) {\n"
            "    auto f = [&] {\n" + body + "\n    };\n"
            "    struct L { void g() {} };\n"
            "    if (x) { f(); }\n"
            "}\n")
        self.assertEqual(len(found), 1)
        self.assertEqual(found[0][:3], ("Long", 1, 97))

    def test_the_marker_above_a_signature_keeps_it_long_with_its_reason(self):
        found = functions(
            "// Walks the table.\n"
            "// function-length: one switch over every opcode\n"
            "void Kept() {\n}\n"
            "void NotKept() {\n}\n")
        self.assertEqual(found[0][3], "one switch over every opcode")
        self.assertIsNone(found[1][3])


def in_a_checkout():
    return subprocess.run(["git", "-C", ROOT, "rev-parse"], capture_output=True).returncode == 0


@unittest.skipUnless(in_a_checkout(), "the checker lists the files git tracks")
class CommandLineTest(unittest.TestCase):
    def run_script(self, *args):
        return subprocess.run([sys.executable, SCRIPT, *args], capture_output=True, text=True)

    def test_status_says_whether_anything_is_over_the_limits(self):
        # The checker itself has no C++; its own limits cannot be passed.
        under = self.run_script("--max-function", "100000", "--max-file", "100000", "tools")
        self.assertEqual(under.returncode, 0, under.stderr)
        self.assertIn("no function over 100000 lines", under.stdout)

        over = self.run_script("--max-function", "1", "--max-file", "1", "src/headless")
        self.assertEqual(over.returncode, 1, over.stderr)
        lines = over.stdout.splitlines()
        self.assertTrue(any(line.startswith("function ") and "src/headless/host.cpp:" in line
                            for line in lines), over.stdout)
        self.assertTrue(any(line.startswith("file ") for line in lines), over.stdout)

    def test_tests_are_left_out_unless_asked_for(self):
        left_out = self.run_script("--max-function", "1", "--max-file", "1", "tests/headless")
        self.assertEqual(left_out.returncode, 0, left_out.stdout)
        asked = self.run_script("--include-tests", "--max-function", "1", "--max-file", "1",
                                "tests/headless")
        self.assertEqual(asked.returncode, 1, asked.stdout)

    def test_a_bad_option_is_a_usage_error(self):
        self.assertEqual(self.run_script("--max-function", "many").returncode, 2)


if __name__ == "__main__":
    unittest.main()
