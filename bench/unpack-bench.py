#!/usr/bin/env python3
"""Unpack benchmark: ferrowick-unpack against miniunzip, bsdtar and unzip.

Makes an installer-shaped payload at the given scale (1.0 is the full 470 MB set),
then unpacks it with every tool, interleaved, RUNS times each into fresh folders on
the same disk, after one untimed warm-up run per tool. Reports the median wall time,
the ratios against miniunzip and bsdtar, and the peak resident memory.

Usage: unpack-bench.py [--scale 0.25] [--runs 5] [--unpack PATH] [--work DIR]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MAKE_PAYLOAD = os.path.join(REPO, "..", "shared", "bench", "make-payload.py")

TARGET_VS_MINIUNZIP = 1.05
TARGET_VS_BSDTAR = 1.10
TARGET_RSS_KB = 16 * 1024


def tools(unpack, archive):
    # Each entry: name, command for an output folder, extra environment.
    return [
        ("ferrowick-unpack", lambda out: [unpack, archive, out], {"LC_ALL": "zh_CN.UTF-8"}),
        ("miniunzip", lambda out: ["miniunzip", "-o", archive, "-d", out], {}),
        ("bsdtar", lambda out: ["bsdtar", "-xf", archive, "-C", out], {}),
        ("unzip", lambda out: ["unzip", "-q", "-o", archive, "-d", out], {}),
    ]


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


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--scale", type=float, default=0.25)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--unpack", default=os.path.join(REPO, "build", "tools", "ferrowick-unpack"),
                        help="the ferrowick-unpack of a release build")
    parser.add_argument("--work", default=None, help="folder for the payload and the outputs")
    args = parser.parse_args()

    for program in ("miniunzip", "bsdtar", "unzip"):
        if not shutil.which(program):
            sys.exit("%s is missing: run tools/install-deps" % program)
    if not os.access(args.unpack, os.X_OK):
        sys.exit("no ferrowick-unpack at %s: build a release first" % args.unpack)

    work = args.work or tempfile.mkdtemp(prefix="ferrowick-unpack-bench-")
    os.makedirs(work, exist_ok=True)
    archive = os.path.join(work, "payload-%g.zip" % args.scale)
    if not os.path.exists(archive):
        subprocess.run([sys.executable, MAKE_PAYLOAD, archive, "--scale", str(args.scale)],
                       check=True)
    stats_file = os.path.join(work, "time.txt")

    table = tools(os.path.abspath(args.unpack), archive)
    walls = {name: [] for name, _, _ in table}
    peaks = {name: 0 for name, _, _ in table}
    counts = {}
    for run in range(args.runs + 1):  # run 0 warms the page cache and is not counted
        for name, command, env in table:
            out = os.path.join(work, "out-%s" % name)
            if os.path.exists(out):
                shutil.rmtree(out)
            wall, rss_kb, files = run_once(command(out), env, out, stats_file)
            counts[name] = files
            if run > 0:
                walls[name].append(wall)
                peaks[name] = max(peaks[name], rss_kb)

    size_mb = os.path.getsize(archive) / 1e6
    print("payload: %s (%.1f MB, scale %g), %d runs each, median wall time" %
          (archive, size_mb, args.scale, args.runs))
    medians = {name: statistics.median(w) for name, w in walls.items()}
    print("%-18s %9s %9s %9s %12s %12s %9s %7s" %
          ("tool", "median s", "min s", "max s", "/miniunzip", "/bsdtar", "peak MB", "files"))
    for name, _, _ in table:
        w = walls[name]
        print("%-18s %9.3f %9.3f %9.3f %12.3f %12.3f %9.1f %7d" %
              (name, medians[name], min(w), max(w), medians[name] / medians["miniunzip"],
               medians[name] / medians["bsdtar"], peaks[name] / 1024, counts[name]))

    ours = "ferrowick-unpack"
    checks = [
        ("within %.2fx of miniunzip" % TARGET_VS_MINIUNZIP,
         medians[ours] <= TARGET_VS_MINIUNZIP * medians["miniunzip"]),
        ("within %.2fx of bsdtar" % TARGET_VS_BSDTAR,
         medians[ours] <= TARGET_VS_BSDTAR * medians["bsdtar"]),
        ("peak RSS under %d MB" % (TARGET_RSS_KB // 1024), peaks[ours] < TARGET_RSS_KB),
        ("same number of files as miniunzip", counts[ours] == counts["miniunzip"]),
    ]
    for what, ok in checks:
        print("%s: %s" % ("met " if ok else "MISSED", what))
    if not args.work:
        shutil.rmtree(work)
    return 0 if all(ok for _, ok in checks) else 1


if __name__ == "__main__":
    sys.exit(main())
