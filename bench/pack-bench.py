#!/usr/bin/env python3
"""Packing benchmark: ferrowick-pack on Linux, into the Windows launcher (PE) against
into the Linux launcher (ELF), with the same installer-shaped payload; and, given
--windows-packer, the Windows packer under wine into the same Windows launcher.

Each packing reads the payload through once with the launcher's own reader (the check),
then writes the launcher: for the ELF the stub and the appended resource table, for the
PE its resource section laid out anew with the sections after it, the checksum summed on
the way. Both run RUNS times, interleaved, after one untimed round that warms the page
cache. Reported: median, minimum and maximum wall time, the PE's median as a ratio to
the ELF's, and each one's peak resident memory (/usr/bin/time -f %M). Targets: the ratio
at most 1.2, and the PE's peak memory under 32 MB (the payload streamed, never held).

The Windows packer runs as wine runs a program, in a prefix of the work folder made
before the first run; its peak resident memory is that of the process wine runs it in,
wine's own libraries and heap included (--version alone takes about 19 MB there). Its
target is the same: under 32 MB, and it writes the same bytes as the Linux packer.

Usage: pack-bench.py [--scale 1.0] [--runs 5] [--build build] [--windows-stub PATH]
                     [--windows-packer PATH] [--work DIR]
"""
import argparse
import filecmp
import os
import statistics
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MAKE_PAYLOAD = os.path.join(REPO, "..", "shared", "bench", "make-payload.py")
TARGET_RATIO = 1.2
TARGET_PEAK_KB = 32 * 1024


def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def pack(packer, stub, payload, output, stats, wine_prefix=None):
    if os.path.exists(output):
        os.remove(output)
    if wine_prefix:
        # wine execs the program in the process it starts: that process's peak is its own.
        command = ["/usr/bin/time", "-f", "%M", "-o", stats, "env", "WINEPREFIX=" + wine_prefix,
                   "WINEDEBUG=-all", "wine", packer, "--payload", wine_path(payload),
                   "--stub", wine_path(stub), "--output", wine_path(output)]
    else:
        command = ["/usr/bin/time", "-f", "%M", "-o", stats, packer, "--payload", payload,
                   "--stub", stub, "--output", output]
    start = time.perf_counter()
    done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    wall = time.perf_counter() - start
    if done.returncode != 0:
        sys.exit("packing into %s failed: %s" % (stub, done.stderr.decode()[-500:]))
    with open(stats) as f:
        return wall, int(f.read().split()[-1])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--scale", type=float, default=1.0)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--build", default=os.path.join(REPO, "build"))
    parser.add_argument("--windows-stub",
                        default=os.path.join(REPO, "build-mingw", "app", "ferrowick.exe"))
    parser.add_argument("--windows-packer",
                        help="ferrowick-pack.exe, run under wine (build-mingw/app/ferrowick-pack.exe)")
    parser.add_argument("--work", help="a folder to keep the payload in between runs")
    args = parser.parse_args()

    packer = os.path.join(args.build, "ferrowick-pack")
    stubs = {"ELF": os.path.join(args.build, "app", "ferrowick-stub"), "PE": args.windows_stub}
    for path in [packer] + list(stubs.values()):
        if not os.path.exists(path):
            sys.exit("%s is missing: build it first (cmake --preset default, and for the PE "
                     "cmake --preset mingw)" % path)
    work = args.work or tempfile.mkdtemp(prefix="pack-bench-")
    os.makedirs(work, exist_ok=True)
    payload = os.path.join(work, "payload-%g.zip" % args.scale)
    if not os.path.exists(payload):
        subprocess.run([sys.executable, MAKE_PAYLOAD, payload, "--scale", str(args.scale)],
                       check=True)
    stats = os.path.join(work, "time.txt")
    packers = {"ELF": (packer, None), "PE": (packer, None)}
    if args.windows_packer:
        prefix = os.path.join(work, "wineprefix")
        wine_run = os.path.join(REPO, "tests", "windows", "wine-run")
        subprocess.run([wine_run, prefix, args.windows_packer, "--version"], check=True,
                       stdout=subprocess.DEVNULL)
        stubs["PE, wine"] = args.windows_stub
        packers["PE, wine"] = (args.windows_packer, prefix)

    walls = {kind: [] for kind in stubs}
    peaks = {kind: 0 for kind in stubs}
    for run in range(args.runs + 1):  # run 0 warms the page cache and is not counted
        for kind in (stubs if run % 2 else reversed(list(stubs))):
            output = os.path.join(work, "launcher-%s" % kind.replace(", ", "-"))
            wall, peak = pack(packers[kind][0], stubs[kind], payload, output, stats,
                              packers[kind][1])
            if run > 0:
                walls[kind].append(wall)
                peaks[kind] = max(peaks[kind], peak)

    print("packing %s (%.1f MB), %d runs each" % (payload, os.path.getsize(payload) / 1e6,
                                                   args.runs))
    print("%-9s %9s %9s %9s %9s" % ("stub", "median s", "min s", "max s", "peak MB"))
    for kind in stubs:
        w = walls[kind]
        print("%-9s %9.3f %9.3f %9.3f %9.1f" % (kind, statistics.median(w), min(w), max(w),
                                                peaks[kind] / 1024))
    ratio = statistics.median(walls["PE"]) / statistics.median(walls["ELF"])
    met = [("PE/ELF wall time %.3fx, at most %.1fx" % (ratio, TARGET_RATIO),
            ratio <= TARGET_RATIO),
           ("PE peak memory %.1f MB, under %d MB" % (peaks["PE"] / 1024, TARGET_PEAK_KB // 1024),
            peaks["PE"] < TARGET_PEAK_KB)]
    if "PE, wine" in stubs:
        same = filecmp.cmp(os.path.join(work, "launcher-PE"),
                           os.path.join(work, "launcher-PE-wine"), shallow=False)
        met += [("Windows packer (wine) peak memory %.1f MB, under %d MB"
                 % (peaks["PE, wine"] / 1024, TARGET_PEAK_KB // 1024),
                 peaks["PE, wine"] < TARGET_PEAK_KB),
                ("the Windows packer's launcher %s the Linux packer's"
                 % ("is byte for byte" if same else "DIFFERS from"), same)]
    for text, ok in met:
        print("%s: %s" % ("met" if ok else "MISSED", text))
    for kind in stubs:
        os.remove(os.path.join(work, "launcher-%s" % kind.replace(", ", "-")))
    return 0 if all(ok for _, ok in met) else 1


if __name__ == "__main__":
    sys.exit(main())
