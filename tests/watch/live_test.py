#!/usr/bin/python3
"""vm-batch --watch while a simulated telescope writes each recording slowly
(the header, the sample files growing piece by piece, the marker file last).
One recording stays half-written until the end, one fails (its output folder
cannot be made); the watch is killed (SIGKILL) while a recording is being
written and started again, and stopped with SIGTERM at the end. Every
complete recording must be converted exactly once, byte for byte as vm-fits
converts it, the half-written one not before it is complete, each on the site
within the settling time + 10 s of its marker file; the failure in the
summary, the catalog and the site; nothing half-written left.
"""
import argparse
import csv
import filecmp
import glob
import os
import re
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time

SETTLE = 2.0


def fail(message):
    sys.exit("FAIL: " + message)


def write_slowly(source, target, pieces=4, pause=0.15):
    """Copies a recording's header, then its sample files in pieces; not its marker file."""
    os.makedirs(target, exist_ok=True)
    names = [n for n in os.listdir(source) if re.fullmatch(r".*\.\d\dh", n)]
    shutil.copyfile(os.path.join(source, names[0]), os.path.join(target, names[0]))
    data = {n: open(os.path.join(source, n), "rb").read() for n in os.listdir(source) if re.fullmatch(r"a[lr]\d+", n)}
    for piece in range(pieces):
        for n, bytes_ in data.items():
            with open(os.path.join(target, n), "ab") as f:
                f.write(bytes_[piece * len(bytes_) // pieces:(piece + 1) * len(bytes_) // pieces])
        time.sleep(pause)


def finish(source, target):
    """Writes the marker file, the last; returns when."""
    marker = [n for n in os.listdir(source) if n.endswith("p")][0]
    shutil.copyfile(os.path.join(source, marker), os.path.join(target, marker))
    return time.time()


def start_watch(args, paths, log):
    with open(log, "ab") as f:
        return subprocess.Popen([os.path.join(args.build, "tools", "vm-batch"), "--watch", "--settle", str(SETTLE),
                                 "--cfg", paths["cfg"], "--catalog", paths["catalog"], "--site", paths["site"],
                                 paths["watched"], paths["out"]], stdin=subprocess.DEVNULL, stdout=f, stderr=f)


def stop_watch(watch, sig):
    watch.send_signal(sig)
    try:
        return watch.wait(timeout=120)  # a watch that does not stop fails the test
    finally:
        watch.kill()


def wait_for(condition, seconds, what):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if condition():
            return time.time()
        time.sleep(0.05)
    fail("waited %.0f s for %s" % (seconds, what))


def on_site(paths, folder):
    """True once a recording page names a header in `folder` and the calendar links to it."""
    def check():
        try:
            index = open(os.path.join(paths["site"], "index.html"), encoding="utf-8").read()
            return any(folder + "/" in open(page, encoding="utf-8").read() and page.split("/")[-2] + "/" in index
                       for page in glob.glob(os.path.join(paths["site"], "r", "*", "index.html")))
        except OSError:
            return False
    return check


def converted_lines(log):
    text = open(log, encoding="utf-8", errors="replace").read()
    return re.findall(r"^vm-batch: (converted|failed) ([^\s:]+)", text, re.M)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    args = parser.parse_args()
    # Sanitized calibrations are many times slower: their delays are printed, not held to the bound.
    args.no_latency_check = "VMFITS_SANITIZE:BOOL=ON" in open(os.path.join(args.build, "CMakeCache.txt")).read()
    args.wait = 400 if args.no_latency_check else 60
    tools = os.path.join(args.build, "tools")
    work = tempfile.mkdtemp(prefix="vm-watch-")
    try:
        run(args, tools, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def run(args, tools, work):
    telescope = os.path.join(work, "telescope")
    subprocess.run([os.path.join(tools, "vm-simobs"), "--out", telescope, "--days", "4", "--cfg",
                    "--date", "2003-11-05"], check=True, stdout=subprocess.DEVNULL)
    days = sorted(d for d in os.listdir(telescope) if re.fullmatch(r"\d{4}-\d\d-\d\d", d))
    paths = {"cfg": os.path.join(telescope, days[0], "vm-fits.cfg"), "catalog": os.path.join(work, "catalog.sqlite"),
             "site": os.path.join(work, "site"), "watched": os.path.join(work, "watched"),
             "out": os.path.join(work, "out")}
    os.makedirs(paths["watched"])
    log = os.path.join(work, "watch.log")
    delays = []

    def arrive(day, folder=None, marker=True):  # the day's recording into the watched folder
        source, target = os.path.join(telescope, day), os.path.join(paths["watched"], folder or day)
        write_slowly(source, target)
        return finish(source, target) if marker else None

    watch = start_watch(args, paths, log)
    time.sleep(0.5)
    # Two recordings arrive one after the other while the watch runs.
    for day in days[:2]:
        last = arrive(day)
        delays.append((day, wait_for(on_site(paths, day), args.wait, day + " on the site") - last))
    # The third is half-written when the watch is killed; it is finished
    # while the watch is down. The fourth is left without its marker file.
    arrive(days[2], marker=False)
    arrive(days[3], marker=False)
    # A recording whose output folder cannot be made (a file stands in its
    # place) fails; it arrives while the watch is down.
    with open(os.path.join(paths["out"], "broken"), "w") as f:
        f.write("in the way\n")
    time.sleep(SETTLE + 1)
    stop_watch(watch, signal.SIGKILL)
    finish(os.path.join(telescope, days[2]), os.path.join(paths["watched"], days[2]))
    arrive(days[0], "broken")

    watch = start_watch(args, paths, log)
    wait_for(on_site(paths, days[2]), args.wait, days[2] + " on the site after the restart")
    wait_for(on_site(paths, "broken"), args.wait, "the failed recording on the site")
    time.sleep(SETTLE + 1)
    if any(path.startswith(days[3] + "/") for _, path in converted_lines(log)):
        fail(days[3] + " was converted while half-written")
    last = finish(os.path.join(telescope, days[3]), os.path.join(paths["watched"], days[3]))
    delays.append((days[3], wait_for(on_site(paths, days[3]), args.wait, days[3] + " on the site") - last))
    code = stop_watch(watch, signal.SIGTERM)
    if code not in (0, -signal.SIGTERM):
        fail("the watch ended with %d on SIGTERM" % code)
    check_outputs(args, telescope, days, paths, log, delays)


def check_outputs(args, telescope, days, paths, log, delays):
    lines = converted_lines(log)
    for day in days:
        count = sum(1 for verb, path in lines if verb == "converted" and path.startswith(day + "/"))
        if count != 1:
            fail("%s converted %d times:\n%s" % (day, count, open(log).read()))
        reference, ours = os.path.join(paths["out"] + "-vm-fits", day), os.path.join(paths["out"], day)
        os.makedirs(os.path.dirname(reference), exist_ok=True)
        header = [n for n in os.listdir(os.path.join(telescope, day)) if n.endswith("h")][0]
        subprocess.run([os.path.join(args.build, "vm-fits"), "--cfg", paths["cfg"],
                        os.path.join(telescope, day, header), reference], stdout=subprocess.DEVNULL)
        names = sorted(os.listdir(reference))
        same = filecmp.cmpfiles(reference, ours, names, shallow=False)[0]
        if not names or sorted(os.listdir(ours)) != names or same != names:
            fail("%s: the watch wrote %s, vm-fits %s, the same %s" % (day, os.listdir(ours), names, same))
    expected = dict({day + "/sun.05h": "converted" for day in days}, **{"broken/sun.05h": "failed"})
    with open(os.path.join(paths["out"], "vm-batch-summary.csv"), encoding="utf-8") as f:
        summary = {row["recording"]: row["status"] for row in csv.DictReader(f)}
    with sqlite3.connect(paths["catalog"]) as db:
        catalog = {h: "failed" if s == "failed" else "converted" for h, s in db.execute("SELECT header, status FROM recordings")}
    if summary != expected or catalog != expected or ("failed", "broken/sun.05h") not in lines:
        fail("expected %s; the summary holds %s, the catalog %s, the log:\n%s" % (expected, summary, catalog,
                                                                                  open(log).read()))
    left = [os.path.join(r, n) for folder in (paths["out"], paths["site"]) for r, d, f in os.walk(folder)
            for n in d + f if ".tmp" in n]
    if left or "stopped watching" not in open(log, encoding="utf-8").read():
        fail("left half-written: %s, or no line for the stop" % left)
    for day, delay in delays:
        print("%s on the site %.2f s after its last file was written (bound %.0f s)" % (day, delay, SETTLE + 10))
        if delay > SETTLE + 10 and not args.no_latency_check:
            fail("%s took %.2f s" % (day, delay))
    print("%d recordings converted once, as vm-fits converts them; the failure recorded" % len(days))


if __name__ == "__main__":
    main()
