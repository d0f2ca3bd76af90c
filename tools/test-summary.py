#!/usr/bin/env python3
"""Prints the one summary of tools/run-tests.sh and exits 1 when anything failed.

    test-summary.py RESULTS SUITE...

For each SUITE, RESULTS holds what run-tests.sh left of it:
  SUITE.xml       ctest's JUnit report (--output-junit), or
  SUITE.runs      one line per run that is not a ctest test (the fuzz
                  targets): NAME passed|failed|skipped [REASON]
  SUITE.build     present when the suite could not be built (its last lines)
  SUITE.seconds   the suite's wall time, set-up and build included

A skipped test's reason is the line of its output that starts with
"SKIPPED: ", or ctest's own reason; each reason is printed once per suite.
"""
import sys
import xml.etree.ElementTree as ElementTree
from collections import Counter
from pathlib import Path

SKIP_PREFIX = "SKIPPED: "


def skip_reason(testcase):
    for line in (testcase.findtext("system-out") or "").splitlines():
        if line.startswith(SKIP_PREFIX):
            return line[len(SKIP_PREFIX):].strip()
    skipped = testcase.find("skipped")
    return skipped.get("message", "") if skipped is not None else ""


def skipped_by_itself(testcase):
    """A test that asked to be skipped; ctest also marks "not run" the tests
    whose fixture failed or whose files are missing, and those are failures."""
    skipped = testcase.find("skipped")
    if skipped is None or testcase.find("failure") is not None:
        return False
    message = skipped.get("message", "")
    return message.startswith("SKIP_") or message == "Disabled"


def read_junit(path):
    counts, reasons = Counter(), Counter()
    for testcase in ElementTree.parse(path).getroot().iter("testcase"):
        if testcase.get("status") == "run" and testcase.find("failure") is None:
            counts["passed"] += 1
        elif skipped_by_itself(testcase):
            counts["skipped"] += 1
            reasons[skip_reason(testcase)] += 1
        else:
            counts["failed"] += 1
    return counts, reasons


def read_runs(path):
    counts, reasons = Counter(), Counter()
    for line in path.read_text().splitlines():
        fields = line.split(maxsplit=2)
        if len(fields) < 2:
            continue
        counts[fields[1]] += 1
        if fields[1] == "skipped":
            reasons[fields[2] if len(fields) > 2 else ""] += 1
    return counts, reasons


def duration(path):
    if not path.exists():
        return ""
    seconds = int(path.read_text().split()[0])
    return f"{seconds // 60} min {seconds % 60:02d} s"


def main():
    results, suites = Path(sys.argv[1]), sys.argv[2:]
    total = Counter()
    width = max(len(suite) for suite in suites)
    for suite in suites:
        counts, reasons = Counter(), Counter()
        notes = []
        if (results / f"{suite}.build").exists():
            counts["failed"] += 1
            notes.append("the build failed")
        elif (results / f"{suite}.xml").exists():
            counts, reasons = read_junit(results / f"{suite}.xml")
        elif (results / f"{suite}.runs").exists():
            counts, reasons = read_runs(results / f"{suite}.runs")
        else:
            counts["failed"] += 1
            notes.append("no results")
        notes += [f"{n} skipped: {reason or 'no reason given'}" for reason, n in reasons.items()]
        total += counts
        line = (f"{suite:<{width}}  {counts['passed']} passed, {counts['failed']} failed, "
                f"{counts['skipped']} skipped")
        time = duration(results / f"{suite}.seconds")
        if time:
            line += f" in {time}"
        if notes:
            line += " (" + "; ".join(notes) + ")"
        print(line)
    print(f"{total['passed']} passed, {total['failed']} failed, {total['skipped']} skipped")
    return 1 if total["failed"] else 0


if __name__ == "__main__":
    sys.exit(main())
