#!/usr/bin/env python3
"""Checks the demo run in RUN_FOLDER and prints its summary; exit code 1 when a check fails.

Usage: check.py RUN_FOLDER TWF_EXIT_CODE
"""
import datetime
import os
import re
import sys

# Where each device's plates must end up (sink numbers), as demo.ini routes them.
SINKS_OF_DEVICE = {"1": {12}, "2": {15}, "5": {21}, "3": set(), "4": {31, 32}}
COPIES_OF_DEVICE = {"5": 2}
HELD_DEVICE = "3"
MULTIPLEX_DEVICE = "4"
SPOOL_KEY = "DemoSpool"
PASS_KEY = "DemoPass"


def params(path):
    """A parameter text as a dict of its keys (first item only)."""
    with open(path, encoding="utf-8") as f:
        text = f.read().strip()
    result = {}
    for entry in text.split(";"):
        if "=" in entry:
            key, value = entry.split("=", 1)
            result[key] = value.split(",")[0].strip('"')
    return result


def read(path):
    with open(path, "rb") as f:
        return f.read()


def stamp(line):
    return datetime.datetime.strptime(line[:23], "%Y-%m-%d %H:%M:%S.%f")


def mb(n):
    return n / 1e6


def main():
    run, twf_rc = sys.argv[1], int(sys.argv[2])
    rel = os.path.relpath(run)
    checks = []

    def check(ok, text):
        checks.append((ok, text))

    inputs = {}
    for name in sorted(os.listdir(os.path.join(run, "pages"))):
        if not name.endswith(".dds"):
            inputs[name] = params(os.path.join(run, "pages", name + ".dds"))
    in_bytes = sum(os.path.getsize(os.path.join(run, "pages", n)) for n in inputs)
    jobs = sorted({p["Name"] for p in inputs.values()})

    # Outputs of every sink folder: sink number -> list of (file, input name).
    outputs = {}
    sinks_dir = os.path.join(run, "sinks")
    for folder in sorted(os.listdir(sinks_dir)) if os.path.isdir(sinks_dir) else []:
        sink = int(folder.split("-")[0])
        files = outputs.setdefault(sink, [])
        for name in sorted(os.listdir(os.path.join(sinks_dir, folder))):
            if not name.endswith(".dds"):
                files.append((os.path.join(sinks_dir, folder, name), name.split("_", 1)[1]))
    all_outputs = [o for files in outputs.values() for o in files]
    out_bytes = sum(os.path.getsize(path) for path, _ in all_outputs)

    log_path = os.path.join(run, "twf.log")
    log = open(log_path, encoding="utf-8", errors="replace").read().splitlines()
    summary = [l for l in log if " summary: " in l]
    check(twf_rc == 0 and summary and " summary: done" in summary[-1],
          "twf delivered every expected document (exit code %d)" % twf_rc)

    unequal = [path for path, source in all_outputs
               if source not in inputs or read(path) != read(os.path.join(run, "pages", source))]
    check(all_outputs and not unequal,
          "every output equals its input, byte for byte (%d files%s)"
          % (len(all_outputs), ", differing: " + ", ".join(map(os.path.basename, unequal))
             if unequal else ""))

    # Every plate reaches exactly its device's sinks, as many times as it has copies.
    wrong = []
    for source, p in inputs.items():
        device = p.get("Device", "")
        got = [sink for sink, files in outputs.items() for _, s in files if s == source]
        want = COPIES_OF_DEVICE.get(device, 1) if SINKS_OF_DEVICE.get(device) else 0
        if len(got) != want or not set(got) <= SINKS_OF_DEVICE.get(device, set()):
            wrong.append("%s at %s" % (source, got))
    check(not wrong, "every plate reached its device's sink the right number of times" +
          (": " + "; ".join(wrong[:3]) + ("; %d more" % (len(wrong) - 3) if len(wrong) > 3 else "")
           if wrong else ""))

    copies = [(s, sum(1 for files in outputs.values() for _, o in files if o == s))
              for s, p in inputs.items() if p.get("Device") in COPIES_OF_DEVICE]
    check(copies and all(n == COPIES_OF_DEVICE["5"] for _, n in copies),
          "2 copies of each poster plate (%s)" % ", ".join("%d" % n for _, n in copies))

    held_plates = [s for s, p in inputs.items() if p.get("Device") == HELD_DEVICE]
    hold_file = os.path.join(run, "data", "TWF_Data", "Config", SPOOL_KEY + ".hld")
    held = open(hold_file).read().split() if os.path.exists(hold_file) else []
    spool_dir = os.path.join(run, "storage", SPOOL_KEY)
    held_kept = [h for h in held if os.path.exists(os.path.join(spool_dir, h))]
    check(not outputs.get(22) and len(held) == 2 * len(held_plates) and
          len(held_kept) == len(held),
          "the Proof plates stayed held in module Spool (%d held jobs, none at the Proofer)"
          % len(held))

    # The operator's view from a terminal: raduvuz-ctl listed the held jobs of module Spool.
    ctl_path = os.path.join(run, "ctl-jobs.txt")
    ctl = read(ctl_path).decode("utf-8", "replace") if os.path.exists(ctl_path) else ""
    ctl_held = [l for l in ctl.splitlines() if re.search(r" held +\d", l)]
    check("Jobs in process (%d)" % len(held) in ctl and len(ctl_held) == len(held)
          and "Passed jobs" in ctl,
          "raduvuz-ctl jobs -m Spool listed the %d held jobs (%d rows held)"
          % (len(held), len(ctl_held)))

    plates_of_job = {}
    for sink in (31, 32):
        for _, source in outputs.get(sink, []):
            plates_of_job.setdefault(inputs[source]["Name"], set()).add(sink)
    split = [job for job, sinks in plates_of_job.items() if len(sinks) != 1]
    used = set().union(*plates_of_job.values()) if plates_of_job else set()
    check(plates_of_job and not split and used == {31, 32},
          "multiplex: each catalog job on one platesetter, both platesetters used (%s)"
          % ", ".join("%s %s" % (j, "+".join(map(str, sorted(s))))
                      for j, s in sorted(plates_of_job.items())))

    pass_files = os.listdir(os.path.join(run, "storage", PASS_KEY)) \
        if os.path.isdir(os.path.join(run, "storage", PASS_KEY)) else []
    check(len(pass_files) == len(inputs),
          "module Pass kept a spool file of every plate (%d)" % len(pass_files))

    # Throughput: from the start of the workflow to the last document a sink received.
    running = [stamp(l) for l in log if "workflow running" in l]
    received = [stamp(l) for l in log if ": received " in l]
    seconds = (max(received) - running[0]).total_seconds() if running and received else 0.0

    def count(pattern):
        return sum(1 for l in log if re.search(pattern, l))

    # The pass-through module's own speed: the time between each plate's "transferring" and
    # "transferred" lines, without the waits for the sinks and for the module's timer.
    started = {}
    moving = 0.0
    for line in log:
        m = re.search(r"module 3 \(Pass\): File (\S+) (transferring|transferred) at", line)
        if m and m.group(2) == "transferring":
            started[m.group(1)] = stamp(line)
        elif m and m.group(1) in started:
            moving += (stamp(line) - started.pop(m.group(1))).total_seconds()

    print()
    print("Raduvuz demo: %d plates of %d jobs in, %.1f MB" % (len(inputs), len(jobs), mb(in_bytes)))
    print("  module 3 Pass    pass-through     %2d plates passed on, %.2f s in transfer steps"
          " (%.0f MB/s)" % (count(r"module 3 \(Pass\): File .* transferred"), moving,
                            mb(in_bytes) / moving if moving else 0))
    print("  module 5 Spool   spool, 2 copies  %2d plates spooled, %d documents sent, %d held"
          " (%d Proof plates x 2)" % (count(r"module 5 \(Spool\): File .* spooled"),
                                      count(r"module 5 \(Spool\): File .* sent"), len(held),
                                      len(held_plates)))
    print("  module 7 Plates  spool, multiplex %2d plates spooled, %d documents sent"
          % (count(r"module 7 \(Plates\): File .* spooled"),
             count(r"module 7 \(Plates\): File .* sent")))
    folders = sorted(os.listdir(sinks_dir)) if os.path.isdir(sinks_dir) else []
    print("  sinks            " + ", ".join(
        "%s %d" % (f, len(outputs.get(int(f.split("-")[0]), []))) for f in folders[:3]))
    print("                   " + ", ".join(
        "%s %d" % (f, len(outputs.get(int(f.split("-")[0]), []))) for f in folders[3:]))
    pace = mb(out_bytes) / seconds if seconds else 0
    steps = mb(in_bytes) / moving if moving else 0
    print("Delivered %d documents, %.1f MB in %.1f s from the first feed to the last output:"
          " %.1f MB/s" % (len(all_outputs), mb(out_bytes), seconds, pace))
    print("Pace of the run against its transfer steps: %.1f MB/s from the first feed to the last"
          " output, %.0f MB/s in module Pass's transfer steps (%.0f%%)"
          % (pace, steps, 100 * pace / steps if steps else 0))
    print("Checks:")
    for ok, text in checks:
        print("  %s  %s" % ("ok  " if ok else "FAIL", text))
    print("Outputs:     %s/" % os.path.join(rel, "sinks"))
    print("Spool files: %s/ (one folder per module)" % os.path.join(rel, "storage"))
    print("twf log:     %s" % os.path.join(rel, "twf.log"))
    failed = sum(1 for ok, _ in checks if not ok)
    print("Demo %s" % ("passed" if not failed else "FAILED: %d check(s)" % failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
