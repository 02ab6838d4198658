#!/usr/bin/python3
"""vm-batch --watch while a simulated telescope writes into the watched folder.

The telescope writes each recording slowly: the header, then the sample files
growing piece by piece, the marker file last. One recording is left
half-written until the end; one is garbage and fails. The watch is killed
(SIGKILL) in the middle, while a recording is being written, and started
again; at the end it is stopped with SIGTERM. Then:
  - every complete recording was converted exactly once, and its scan files
    are byte for byte those of vm-fits;
  - the half-written one was not converted before it was complete;
  - each recording was on the site within the settling time + 10 s of its
    last file being written (the figures are printed);
  - the failure is in the summary, the catalog and the site;
  - nothing half-written is left in the output or the site.
"""
import argparse
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
    print("FAIL: " + message)
    sys.exit(1)


def write_slowly(source, target, pieces=4, pause=0.15):
    """Copies a recording's files: header, sample files in pieces, marker last."""
    os.makedirs(target, exist_ok=True)
    names = sorted(os.listdir(source))
    header = [n for n in names if re.fullmatch(r".*\.\d\dh", n)][0]
    marker = header[:-1] + "p"
    samples = [n for n in names if re.fullmatch(r"a[lr]\d+", n)]
    shutil.copyfile(os.path.join(source, header), os.path.join(target, header))
    data = {n: open(os.path.join(source, n), "rb").read() for n in samples}
    for piece in range(pieces):
        for n in samples:
            size = len(data[n])
            with open(os.path.join(target, n), "ab") as f:
                f.write(data[n][piece * size // pieces:(piece + 1) * size // pieces])
        time.sleep(pause)
    return header, marker, data


def finish(source, target, marker):
    shutil.copyfile(os.path.join(source, marker), os.path.join(target, marker))
    return time.time()


class Watch:
    def __init__(self, args, paths, log):
        self.log = open(log, "ab")
        self.process = subprocess.Popen(
            [os.path.join(args.build, "tools", "vm-batch"), "--watch", "--settle", str(SETTLE),
             "--cfg", paths["cfg"], "--catalog", paths["catalog"], "--site", paths["site"],
             paths["watched"], paths["out"]],
            stdin=subprocess.DEVNULL, stdout=self.log, stderr=self.log)

    def stop(self, sig):
        self.process.send_signal(sig)
        try:
            code = self.process.wait(timeout=120)
        except subprocess.TimeoutExpired:
            self.process.kill()
            fail("the watch did not stop within 120 s of signal %d" % sig)
        self.log.close()
        return code


def wait_for(condition, seconds, what):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if condition():
            return time.time()
        time.sleep(0.05)
    fail("waited %.0f s for %s" % (seconds, what))


def on_site(paths, folder):
    """True once a recording page of the site names a header in `folder`
    and the calendar links to it."""
    def check():
        pages = os.path.join(paths["site"], "r")
        try:
            index = open(os.path.join(paths["site"], "index.html"), encoding="utf-8").read()
            for key in os.listdir(pages):
                page = open(os.path.join(pages, key, "index.html"), encoding="utf-8").read()
                if folder + "/" in page and "r/" + key + "/" in index:
                    return True
        except OSError:
            pass
        return False
    return check


def converted_lines(log):
    text = open(log, encoding="utf-8", errors="replace").read()
    return re.findall(r"^vm-batch: (converted|failed) (\S+)", text, re.M)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--no-latency-check", action="store_true",
                        help="print the delays but do not hold them to the bound (sanitized builds)")
    args = parser.parse_args()
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

    watch = Watch(args, paths, log)
    time.sleep(0.5)
    # Two recordings arrive one after the other while the watch runs.
    for day in days[:2]:
        _, marker, _ = write_slowly(os.path.join(telescope, day), os.path.join(paths["watched"], day))
        last = finish(os.path.join(telescope, day), os.path.join(paths["watched"], day), marker)
        delays.append((day, wait_for(on_site(paths, day), 60, day + " on the site") - last))
    # The third is half-written when the watch is killed; it is finished
    # while the watch is down. The fourth is left without its marker file.
    _, marker3, _ = write_slowly(os.path.join(telescope, days[2]), os.path.join(paths["watched"], days[2]))
    _, marker4, _ = write_slowly(os.path.join(telescope, days[3]), os.path.join(paths["watched"], days[3]))
    broken = os.path.join(paths["watched"], "broken")
    os.makedirs(broken)
    with open(os.path.join(broken, "sun.09h"), "wb") as f:
        f.write(b"not a header")
    time.sleep(SETTLE + 1)
    watch.stop(signal.SIGKILL)
    finish(os.path.join(telescope, days[2]), os.path.join(paths["watched"], days[2]), marker3)
    open(os.path.join(broken, "sun.09p"), "wb").close()

    watch = Watch(args, paths, log)
    wait_for(on_site(paths, days[2]), 60, days[2] + " on the site after the restart")
    wait_for(on_site(paths, "broken"), 60, "the failed recording on the site")
    time.sleep(SETTLE + 1)
    if any(path.startswith(days[3] + "/") for _, path in converted_lines(log)):
        fail(days[3] + " was converted while half-written")
    last = finish(os.path.join(telescope, days[3]), os.path.join(paths["watched"], days[3]), marker4)
    delays.append((days[3], wait_for(on_site(paths, days[3]), 60, days[3] + " on the site") - last))
    code = watch.stop(signal.SIGTERM)
    if code not in (0, -signal.SIGTERM):
        fail("the watch ended with %d on SIGTERM" % code)
    check_outputs(args, tools, telescope, days, paths, log, delays)


def check_outputs(args, tools, telescope, days, paths, log, delays):
    lines = converted_lines(log)
    for day in days:
        count = sum(1 for verb, path in lines if verb == "converted" and path.startswith(day + "/"))
        if count != 1:
            fail("%s converted %d times:\n%s" % (day, count, open(log).read()))
        reference = os.path.join(os.path.dirname(paths["out"]), "reference", day)
        header = [n for n in os.listdir(os.path.join(telescope, day)) if n.endswith("h")][0]
        code = subprocess.run([os.path.join(args.build, "vm-fits"), "--cfg", paths["cfg"],
                               os.path.join(telescope, day, header), reference],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
        if code != 1:
            fail("vm-fits ended with %d on %s" % (code, day))
        ours = os.path.join(paths["out"], day)
        if sorted(os.listdir(reference)) != sorted(os.listdir(ours)):
            fail("%s: the watch wrote %s, vm-fits %s" % (day, sorted(os.listdir(ours)), sorted(os.listdir(reference))))
        for name in os.listdir(reference):
            if open(os.path.join(reference, name), "rb").read() != open(os.path.join(ours, name), "rb").read():
                fail("%s/%s differs from vm-fits's" % (day, name))
    if not any(verb == "failed" and path.startswith("broken/") for verb, path in lines):
        fail("no log line for the failed recording")
    summary = open(os.path.join(paths["out"], "vm-batch-summary.csv"), encoding="utf-8").read()
    if not re.search(r"^broken/sun\.09h,failed,", summary, re.M):
        fail("the failure is not in the summary:\n" + summary)
    for day in days:
        if not re.search(r"^%s/\S+,converted," % day, summary, re.M):
            fail(day + " is not converted in the summary:\n" + summary)
    with sqlite3.connect(paths["catalog"]) as db:
        statuses = dict(db.execute("SELECT header, status FROM recordings"))
    if statuses.get("broken/sun.09h") != "failed" or sum(1 for s in statuses.values() if s != "failed") != len(days):
        fail("the catalog holds %s" % statuses)
    for folder in (paths["out"], paths["site"]):
        for root, dirs, files in os.walk(folder):
            for name in dirs + files:
                if ".tmp" in name:
                    fail("left half-written: " + os.path.join(root, name))
    if "stopped watching" not in open(log, encoding="utf-8").read():
        fail("no line for the stop")
    bound = SETTLE + 10
    for day, delay in delays:
        print("%s on the site %.2f s after its last file was written (bound %.0f s)" % (day, delay, bound))
        if delay > bound and not args.no_latency_check:
            fail("%s took %.2f s" % (day, delay))
    print("the watch converted %d recordings exactly once, byte for byte as vm-fits; the half-written one "
          "waited; the failure is in the summary, the catalog and the site" % len(days))


if __name__ == "__main__":
    main()
