#!/usr/bin/env python3
"""Deliberate faults, one at a time, against the test suite; and the size of the tests.

    tests/mutation/mutate.py count
        Lines of C++ (.cpp, .h) the repository tracks: under tests/ and in all.
    tests/mutation/mutate.py run [--build DIR] [--only NAME]... [--report FILE]
        For each fault of mutations.txt: put it into the source, build incrementally, run the
        tests (the cheap ones first, each group with --stop-on-failure), record which test failed
        first, restore the source. A fault no test catches makes the exit code 1. The source is
        restored whatever happens (also on Ctrl-C or SIGTERM).

The build folder must be configured and built once; the last whole ctest run there gives the
order (CTestCostData.txt): the tests that take least go first.
"""

import argparse
import json
import os
import re
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TABLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "mutations.txt")

# Test programs that link the core and start no other program: built and run first, alone.
QUICK_PROGRAMS = ["test_jobs", "cycle_tests", "test_module", "test_operator", "test_spool"]
# A group of the other tests is run at once until it holds about this many seconds of tests.
GROUP_SECONDS = 60.0


def count():
    files = subprocess.run(["git", "-C", ROOT, "ls-files", "*.cpp", "*.h"], check=True,
                           capture_output=True, text=True).stdout.split()
    tests = total = 0
    for name in files:
        with open(os.path.join(ROOT, name), "rb") as f:
            lines = f.read().count(b"\n")
        total += lines
        if name.startswith("tests/"):
            tests += lines
    print(f"tests {tests} of {total} lines of C++ ({100.0 * tests / total:.1f}%)")


def read_table():
    """Blocks of name/file/from/to lines; "\\n" in from and to stands for a line break."""
    mutations, current = [], {}
    with open(TABLE, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                if current:
                    mutations.append(current)
                    current = {}
                continue
            key, sep, value = line.partition(":")
            if not sep or key not in ("name", "file", "from", "to"):
                sys.exit(f"{TABLE}:{number}: not a name/file/from/to line: {line}")
            value = value[1:] if value.startswith(" ") else value
            current[key] = value.replace("\\n", "\n") if key in ("from", "to") else value
    if current:
        mutations.append(current)
    for m in mutations:
        missing = {"name", "file", "from", "to"} - m.keys()
        if missing:
            sys.exit(f"{TABLE}: mutation {m.get('name', '?')} lacks {', '.join(sorted(missing))}")
    return mutations


def check_snippets(mutations):
    bad = []
    for m in mutations:
        with open(os.path.join(ROOT, m["file"]), encoding="utf-8") as f:
            found = f.read().count(m["from"])
        if found != 1:
            bad.append(f"  {m['name']}: {m['file']} holds the snippet {found} times")
    if bad:
        sys.exit("Snippets not found exactly once (the source changed; mend the table):\n" +
                 "\n".join(bad))


def tests_of(build):
    """(name, number, program) of every test, numbered as ctest -I counts."""
    out = subprocess.run(["ctest", "--show-only=json-v1"], cwd=build, check=True,
                         capture_output=True, text=True).stdout
    result = []
    for number, test in enumerate(json.loads(out)["tests"], 1):
        command = test.get("command") or [""]
        program = os.path.basename(command[0])
        # Tests run through a wrapper name the program after it.
        if program in ("xvfb-run", "python3") and len(command) > 1:
            program = next((os.path.basename(c) for c in command[1:]
                            if not c.startswith("-")), program)
        result.append((test["name"], number, program))
    return result


def read_costs(build):
    costs = {}
    path = os.path.join(build, "Testing", "Temporary", "CTestCostData.txt")
    if os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            for line in f:
                if line.startswith("---"):
                    break
                parts = line.split()
                if len(parts) == 3:
                    costs[parts[0]] = float(parts[2])
    return costs, path


def plan(build):
    """Groups of (label, targets to build or None for all, test numbers), cheapest first."""
    tests = tests_of(build)
    costs, _ = read_costs(build)
    quick = [t for t in tests if t[2] in QUICK_PROGRAMS]
    rest = sorted((t for t in tests if t[2] not in QUICK_PROGRAMS),
                  key=lambda t: costs.get(t[0], 10.0))
    groups = [("quick", sorted({t[2] for t in quick}), [t[1] for t in quick])]
    chunk, seconds = [], 0.0
    for t in rest:
        chunk.append(t[1])
        seconds += costs.get(t[0], 10.0)
        if seconds >= GROUP_SECONDS:
            groups.append((f"group {len(groups)}", None, chunk))
            chunk, seconds = [], 0.0
    if chunk:
        groups.append((f"group {len(groups)}", None, chunk))
    return groups, {t[1]: t[0] for t in tests}


def build_targets(build, targets, log):
    command = ["cmake", "--build", build, "-j2"]
    if targets:
        command += ["--target"] + targets
    done = subprocess.run(command, stdout=log, stderr=subprocess.STDOUT)
    return done.returncode == 0


FAILED = re.compile(r"^\s*\d+ - (\S+) \((Failed|Timeout|SEGFAULT|Subprocess aborted|[^)]*)\)")


def run_group(build, numbers, log):
    """The first failed test of the group, or None."""
    command = ["ctest", "-j2", "--stop-on-failure", "--output-on-failure", "--timeout", "120", "-I",
               "0,0,0," + ",".join(str(n) for n in numbers)]
    done = subprocess.run(command, cwd=build, capture_output=True, text=True)
    log.write(done.stdout + done.stderr)
    log.flush()
    if done.returncode == 0:
        return None
    tail = done.stdout.split("The following tests FAILED:", 1)
    for line in (tail[1] if len(tail) > 1 else "").splitlines():
        match = FAILED.match(line)
        if match:
            return match.group(1)
    return "(ctest failed: " + (done.stdout.strip().splitlines() or ["?"])[-1] + ")"


class Restorer:
    """Puts one file back as it was, at the end of a mutation or of the run however it ends."""

    def __init__(self):
        self.path = None
        self.text = None

    def put(self, path, text):
        self.path, self.text = path, text

    def restore(self):
        if self.path is not None:
            with open(self.path, "w", encoding="utf-8") as f:
                f.write(self.text)
            self.path = None


def run(args):
    build = os.path.abspath(args.build)
    mutations = read_table()
    if args.only:
        wanted = set(args.only)
        mutations = [m for m in mutations if m["name"] in wanted]
    check_snippets(mutations)
    groups, names = plan(build)
    _, cost_path = read_costs(build)
    # The mutated runs must not change the order the next run finds.
    saved_costs = open(cost_path, encoding="utf-8").read() if os.path.exists(cost_path) else None
    restorer = Restorer()

    def stop(signum, _frame):
        restorer.restore()
        sys.exit(128 + signum)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    log_path = os.path.join(build, "mutation.log")
    report = open(args.report, "w", encoding="utf-8") if args.report else sys.stdout
    report.write("| # | Fault | File | Caught by | Seconds |\n|---|---|---|---|---|\n")
    report.flush()
    missed = 0
    try:
        with open(log_path, "w", encoding="utf-8") as log:
            for index, m in enumerate(mutations, 1):
                started = time.monotonic()
                path = os.path.join(ROOT, m["file"])
                with open(path, encoding="utf-8") as f:
                    original = f.read()
                restorer.put(path, original)
                with open(path, "w", encoding="utf-8") as f:
                    f.write(original.replace(m["from"], m["to"], 1))
                log.write(f"\n==== {m['name']}\n")
                caught = None
                broken = False
                built_all = False
                for label, targets, numbers in groups:
                    if not numbers:
                        continue
                    if targets is None and not built_all:
                        built_all = True
                        targets = []
                    elif targets is None:
                        targets = False
                    if targets is not False and not build_targets(build, targets, log):
                        broken = True
                        break
                    caught = run_group(build, numbers, log)
                    if caught:
                        break
                restorer.restore()
                seconds = time.monotonic() - started
                # A fault that does not build is a mistake of the table, not a catch.
                verdict = "BUILD FAILED" if broken else caught or "NOT CAUGHT"
                if broken or not caught:
                    missed += 1
                report.write(f"| {index} | {m['name']} | {m['file']} | {verdict} | "
                             f"{seconds:.0f} |\n")
                report.flush()
                print(f"{m['name']}: {verdict} ({seconds:.0f} s)", file=sys.stderr)
    finally:
        restorer.restore()
        if saved_costs is not None:
            with open(cost_path, "w", encoding="utf-8") as f:
                f.write(saved_costs)
    # The build is left as the source is again.
    build_targets(build, [], open(os.devnull, "w"))
    if missed:
        print(f"{missed} of {len(mutations)} faults were not caught", file=sys.stderr)
        return 1
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    sub = parser.add_subparsers(dest="command", required=True)
    sub.add_parser("count")
    r = sub.add_parser("run")
    r.add_argument("--build", default=os.path.join(ROOT, "build"))
    r.add_argument("--only", action="append", help="the name of a mutation (may be repeated)")
    r.add_argument("--report", help="file for the table of results (default: standard output)")
    args = parser.parse_args()
    if args.command == "count":
        count()
        return 0
    return run(args)


if __name__ == "__main__":
    sys.exit(main())
