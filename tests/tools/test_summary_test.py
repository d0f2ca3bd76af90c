#!/usr/bin/env python3
"""The test command's summary, from the kinds of results a run leaves: ctest's
JUnit reports with passes, failures, skips and tests a failed fixture kept
from running, a suite that did not build, and the fuzz runs."""
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

SUMMARY = Path(__file__).resolve().parents[2] / "tools" / "test-summary.py"


def testcase(name, status, inner=""):
    return f'<testcase name="{name}" classname="{name}" time="0" status="{status}">{inner}</testcase>'


def skipped(name, message, output):
    return testcase(name, "notrun", f'<skipped message="{message}"/><system-out>{output}</system-out>')


class Summary(unittest.TestCase):
    def run_summary(self, files, suites):
        with tempfile.TemporaryDirectory() as results:
            for name, text in files.items():
                Path(results, name).write_text(text)
            run = subprocess.run([sys.executable, str(SUMMARY), results, *suites],
                                 capture_output=True, text=True)
        return run.returncode, run.stdout.splitlines()

    def test_every_kind_of_result(self):
        windows = "<testsuite>" + "".join([
            testcase("windows_plugin_dll_tables", "run"),
            skipped("wine_prefix", "SKIP_RETURN_CODE=77",
                    "SKIPPED: this kernel runs no 32-bit programs\n"),
            skipped("wine_unit_tests", "SKIP_RETURN_CODE=77",
                    "SKIPPED: this kernel runs no 32-bit programs\n"),
        ]) + "</testsuite>"
        linux = "<testsuite>" + "".join([
            testcase("a", "run"),
            testcase("b", "fail", '<failure message=""/>'),
            skipped("c", "Fixture dependency failed", ""),
        ]) + "</testsuite>"
        status, lines = self.run_summary({
            "linux.xml": linux, "linux.seconds": "75\n",
            "linux-asan.build": "error: something\n",
            "windows-i686.xml": windows,
            "fuzz.runs": "y4m_reader passed\npng_reader failed\n",
        }, ["linux", "linux-asan", "windows-i686", "fuzz"])
        self.assertEqual(lines, [
            "linux         1 passed, 2 failed, 0 skipped in 1 min 15 s",
            "linux-asan    0 passed, 1 failed, 0 skipped (the build failed)",
            "windows-i686  1 passed, 0 failed, 2 skipped "
            "(2 skipped: this kernel runs no 32-bit programs)",
            "fuzz          1 passed, 1 failed, 0 skipped",
            "3 passed, 4 failed, 2 skipped",
        ])
        self.assertEqual(status, 1)

    def test_skips_alone_are_not_a_failure(self):
        status, lines = self.run_summary({
            "w.xml": "<testsuite>" + skipped("t", "SKIP_RETURN_CODE=77", "") + "</testsuite>",
        }, ["w"])
        self.assertEqual(lines[-1], "0 passed, 0 failed, 1 skipped")
        self.assertEqual(status, 0)


if __name__ == "__main__":
    unittest.main()
