#!/usr/bin/env python3
"""Unpack benchmark: ferrowick-unpack against miniunzip, bsdtar, unzip and 7z.

Shapes of payload:
  installer   (the default) shaped like the shipped installer set, at a scale (1.0 is
              the full 470 MB set);
  many-items  ITEMS small items, twice: all in one folder, and spread over folders of
              1,000.
Each payload is unpacked with every tool, interleaved in a shuffled order each round,
RUNS times each into fresh folders on the same file system, after one untimed warm-up
round: ferrowick-unpack on every core (min(processors, 4) workers) and with one worker
(--workers 1), miniunzip, bsdtar, unzip and 7z. Reports the median, minimum and maximum
wall time, the ratios of the medians against miniunzip and bsdtar, and the peak
resident memory.

Usage: unpack-bench.py [--shape installer|many-items] [--scale 0.25] [--items 100000]
                       [--runs 5] [--unpack PATH] [--work DIR] [--fresh-fs]
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile

import freshfs

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MAKE_PAYLOAD = os.path.join(REPO, "..", "shared", "bench", "make-payload.py")

# Targets per shape: the ratio of the medians against miniunzip and bsdtar (None: none),
# and the peak resident memory (None: reported only).
TARGETS = {
    "installer": {"miniunzip": 1.05, "bsdtar": 1.10, "rss_kb": 16 * 1024},
    "many-items": {"miniunzip": None, "bsdtar": 1.20, "rss_kb": None},
}
ONE_WORKER = "ferrowick-unpack 1"
PER_FOLDER = 1000


def tools(unpack, archive):
    # Each entry: name, command for an output folder, extra environment.
    return [
        ("ferrowick-unpack", lambda out: [unpack, archive, out], {"LC_ALL": "zh_CN.UTF-8"}),
        (ONE_WORKER, lambda out: [unpack, "--workers", "1", archive, out],
         {"LC_ALL": "zh_CN.UTF-8"}),
        ("miniunzip", lambda out: ["miniunzip", "-o", archive, "-d", out], {}),
        ("bsdtar", lambda out: ["bsdtar", "-xf", archive, "-C", out], {}),
        ("unzip", lambda out: ["unzip", "-q", "-o", archive, "-d", out], {}),
        ("7z", lambda out: ["7z", "x", "-y", "-bso0", "-bsp0", "-o" + out, archive], {}),
    ]


def make_many(path, items, per_folder):
    """ITEMS deflated items of 100 to 1,000 bytes, PER_FOLDER to a folder."""
    rng = random.Random(items * 7 + per_folder)
    words = [b"install", b"setup", b"data", b"resource", b"value", b"window", b"\r\n"]
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for i in range(items):
            name = "many/%s%06d.txt" % ("" if per_folder >= items else
                                        "d%04d/" % (i // per_folder), i)
            info = zipfile.ZipInfo(name, date_time=(2008, 6, 1, 12, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 0
            info.external_attr = 0x20
            size = rng.randint(100, 1000)
            text = b" ".join(rng.choice(words) for _ in range(size // 5))[:size]
            archive.writestr(info, text)


def payloads(args, work):
    """(title, archive) for each payload of the shape, made when not in WORK yet."""
    made = []
    if args.shape == "installer":
        archive = os.path.join(work, "payload-%g.zip" % args.scale)
        if not os.path.exists(archive):
            subprocess.run([sys.executable, MAKE_PAYLOAD, archive, "--scale", str(args.scale)],
                           check=True)
        made.append(("installer set, scale %g" % args.scale, archive))
        return made
    for title, per_folder in (("in one folder", args.items), ("spread", PER_FOLDER)):
        archive = os.path.join(work, "many-%d-%d.zip" % (args.items, per_folder))
        if not os.path.exists(archive):
            make_many(archive, args.items, per_folder)
        folders = 1 if per_folder >= args.items else -(-args.items // per_folder)
        made.append(("%d items %s (%d folder%s)" % (args.items, title, folders,
                                                    "" if folders == 1 else "s"), archive))
    return made


def run_once(command, env_extra, out, stats_file):
    os.makedirs(out)
    env = dict(os.environ, **env_extra)
    timed = ["/usr/bin/time", "-f", "%M", "-o", stats_file] + command
    start = time.perf_counter()
    done = subprocess.run(timed, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    wall = time.perf_counter() - start
    if done.returncode != 0:
        sys.exit("%s failed (%d): %s" % (command[0], done.returncode, done.stderr.decode()[-500:]))
    with open(stats_file) as f:
        rss_kb = int(f.read().split()[-1])
    files = sum(len(names) for _, _, names in os.walk(out))
    shutil.rmtree(out)
    return wall, rss_kb, files


def bench(table, runs, outputs, stats_file):
    """Walls, peaks and file counts of every tool, interleaved in a shuffled order."""
    walls = {name: [] for name, _, _ in table}
    peaks = {name: 0 for name, _, _ in table}
    counts = {}
    order = list(table)
    shuffle = random.Random(1)
    for run in range(runs + 1):  # run 0 warms the page cache and is not counted
        shuffle.shuffle(order)
        for name, command, env in order:
            out = os.path.join(outputs, "out-%s" % name)
            if os.path.exists(out):
                shutil.rmtree(out)
            subprocess.run(["sync"], check=True)  # the last run's write-back misses this one
            wall, rss_kb, files = run_once(command(out), env, out, stats_file)
            counts[name] = files
            if run > 0:
                walls[name].append(wall)
                peaks[name] = max(peaks[name], rss_kb)
    return walls, peaks, counts


def report(title, archive, runs, table, walls, peaks, counts, targets):
    """Prints one payload's table and checks; true when its targets are met."""
    print("\n%s: %s (%.1f MB), %d runs each, median wall time" %
          (title, archive, os.path.getsize(archive) / 1e6, runs))
    medians = {name: statistics.median(w) for name, w in walls.items()}
    print("%-18s %9s %9s %9s %12s %12s %9s %7s" %
          ("tool", "median s", "min s", "max s", "/miniunzip", "/bsdtar", "peak MB", "files"))
    for name, _, _ in table:
        w = walls[name]
        print("%-18s %9.3f %9.3f %9.3f %12.3f %12.3f %9.1f %7d" %
              (name, medians[name], min(w), max(w), medians[name] / medians["miniunzip"],
               medians[name] / medians["bsdtar"], peaks[name] / 1024, counts[name]))
    ours = "ferrowick-unpack"
    checks = [("same number of files as bsdtar", counts[ours] == counts["bsdtar"]),
              ("one worker: the same number", counts[ONE_WORKER] == counts["bsdtar"])]
    for other in ("miniunzip", "bsdtar"):
        if targets[other]:
            checks.append(("within %.2fx of %s" % (targets[other], other),
                           medians[ours] <= targets[other] * medians[other]))
    if targets["rss_kb"]:
        checks.append(("peak RSS under %d MB" % (targets["rss_kb"] // 1024),
                       peaks[ours] < targets["rss_kb"]))
    for what, ok in checks:
        print("%s: %s" % ("met " if ok else "MISSED", what))
    return all(ok for _, ok in checks)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--shape", choices=sorted(TARGETS), default="installer")
    parser.add_argument("--scale", type=float, default=0.25, help="installer shape")
    parser.add_argument("--items", type=int, default=100000, help="many-items shape")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--unpack", default=os.path.join(REPO, "build", "tools", "ferrowick-unpack"),
                        help="the ferrowick-unpack of a release build")
    parser.add_argument("--work", default=None, help="folder for the payloads and the outputs")
    parser.add_argument("--fresh-fs", action="store_true",
                        help="unpack onto a new journaled ext4 file system (needs root)")
    args = parser.parse_args()

    for program in ("miniunzip", "bsdtar", "unzip", "7z"):
        if not shutil.which(program):
            sys.exit("%s is missing: run tools/install-deps" % program)
    if not os.access(args.unpack, os.X_OK):
        sys.exit("no ferrowick-unpack at %s: build a release first" % args.unpack)

    work = os.path.abspath(args.work or tempfile.mkdtemp(prefix="ferrowick-unpack-bench-"))
    os.makedirs(work, exist_ok=True)
    fresh = freshfs.outputs_folder(args, work)
    outputs = fresh.mount if fresh else work
    stats_file = os.path.join(work, "time.txt")
    met = True
    try:
        for title, archive in payloads(args, work):
            table = tools(os.path.abspath(args.unpack), archive)
            walls, peaks, counts = bench(table, args.runs, outputs, stats_file)
            met = report(title, archive, args.runs, table, walls, peaks, counts,
                         TARGETS[args.shape]) and met
    finally:
        if fresh:
            fresh.close()
    if not args.work:
        shutil.rmtree(work)
    return 0 if met else 1


if __name__ == "__main__":
    sys.exit(main())
