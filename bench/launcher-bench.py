#!/usr/bin/python3
"""Launcher benchmark: the whole job of the packed launcher against bsdtar, miniunzip,
unzip and 7z on the same archive.

For each scale it makes an installer-shaped payload (../shared/bench/make-payload.py),
packs it into the launcher with ferrowick-pack, and runs, interleaved in a shuffled
order each round, RUNS times each (after one untimed warm-up round), into fresh folders
on the same disk:

  ferrowick   the packed launcher in a fresh drive prefix, standard input from
              /dev/null so the notices do not wait; timed from its start to its end
              less the fixed 5 s sleep after the launch command. That covers process
              start, staging the archive out of the executable, unpacking every item,
              removing the staging archive and the launch command itself.
  bsdtar -xf, miniunzip -o, unzip -o, 7z x   unpacking the same archive.

Memory: every run is sampled every 20 ms from /proc/PID/smaps; the peak of the
resident set less the pages of the launcher's own file (the mapped payload) and of
the archive is reported as "rss-less-payload"; "cpu" is the median of user plus
system time, which a busy machine disturbs less than the wall time; the kernel's peak (VmHWM, last seen
before exit, which counts the mapped payload too) is reported beside it.

Writes bench/launcher-bench.png (time per tool, and time against archive size) and
prints a table of medians with the ratio to the fastest other tool. Exit status 0 when
staging plus unpacking is within 1.15x of the fastest tool and the memory under 16 MB
at scales 0.25 and 1.0 (the other scales are for the plot).

Usage: launcher-bench.py [--build build] [--scales 0.05,0.25,0.5,1.0] [--runs 3]
                         [--work DIR] [--plot bench/launcher-bench.png]
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

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MAKE_PAYLOAD = os.path.join(REPO, "..", "shared", "bench", "make-payload.py")
SLEEP_S = 5.0
TARGET_RATIO = 1.15
TARGET_SCALES = (0.25, 1.0)  # the others are measured for the plot
TARGET_RSS_KB = 16 * 1024
SAMPLE_S = 0.02


def find_program(build, name):
    for candidate in (os.path.join(build, name), os.path.join(build, "app", name),
                      os.path.join(build, "tools", name)):
        if os.access(candidate, os.X_OK):
            return os.path.abspath(candidate)
    sys.exit("no %s in %s: build a release first (cmake --preset default && "
             "cmake --build --preset default)" % (name, build))


def high_water(pid):
    """The kernel's peak resident KB of `pid` (VmHWM), which counts the mapped payload."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except (FileNotFoundError, ProcessLookupError, PermissionError):
        pass
    return 0


def rss_without(pid, excluded):
    """Resident KB of `pid`, less the mappings of the files in `excluded`."""
    total = 0
    skip = False
    try:
        with open("/proc/%d/smaps" % pid) as f:
            for line in f:
                if line[0] in "0123456789abcdef" and "-" in line.split(" ", 1)[0]:
                    parts = line.split(None, 5)
                    skip = len(parts) == 6 and parts[5].strip() in excluded
                elif line.startswith("Rss:") and not skip:
                    total += int(line.split()[1])
    except (FileNotFoundError, ProcessLookupError, PermissionError):
        return 0
    return total


def run_once(command, env_extra, cwd, excluded):
    env = dict(os.environ, **env_extra)
    start = time.perf_counter()
    proc = subprocess.Popen(command, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    peak = hwm = 0
    while True:
        done, status, usage = os.wait4(proc.pid, os.WNOHANG)
        if done:
            break
        peak = max(peak, rss_without(proc.pid, excluded))
        hwm = max(hwm, high_water(proc.pid))
        time.sleep(SAMPLE_S)
    wall = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    return wall, usage.ru_utime + usage.ru_stime, peak, hwm, proc.returncode


def count_files(folder):
    return sum(len(names) for _, _, names in os.walk(folder))


def tools(launcher, archive):
    # name, command for an output folder, extra environment, what to subtract
    return [
        ("ferrowick", lambda out: [launcher],
         lambda out: {"FERROWICK_PREFIX": out, "LC_ALL": "zh_CN.UTF-8"}, SLEEP_S),
        ("bsdtar", lambda out: ["bsdtar", "-xf", archive, "-C", out], lambda out: {}, 0.0),
        ("miniunzip", lambda out: ["miniunzip", "-o", archive, "-d", out], lambda out: {}, 0.0),
        ("unzip", lambda out: ["unzip", "-q", "-o", archive, "-d", out], lambda out: {}, 0.0),
        ("7z", lambda out: ["7z", "x", "-y", "-bso0", "-bsp0", "-o" + out, archive],
         lambda out: {}, 0.0),
    ]


def bench_scale(args, scale, pack, stub, work):
    archive = os.path.join(work, "payload-%g.zip" % scale)
    if not os.path.exists(archive):
        subprocess.run([sys.executable, MAKE_PAYLOAD, archive, "--scale", str(scale)],
                       check=True, stdout=subprocess.DEVNULL)
    launcher = os.path.join(work, "launcher-%g" % scale)
    subprocess.run([pack, "--payload", archive, "--output", launcher, "--stub", stub],
                   check=True)
    excluded = {os.path.realpath(launcher), os.path.realpath(archive)}
    table = tools(launcher, archive)
    result = {name: {"walls": [], "cpus": [], "peak": 0, "maxrss": 0, "files": 0}
              for name, *_ in table}
    order = random.Random(int(scale * 1000))
    for run in range(args.runs + 1):  # run 0 warms the page cache and is not counted
        # A fresh order each round: a run pays for the file system's work on the output
        # that the run before it left and that was just deleted (on a file system without
        # a journal, the inodes freed in the last minutes are skipped one by one when new
        # ones are made), so no tool should always follow the same one.
        for name, command, env, subtract in order.sample(table, len(table)):
            out = os.path.join(work, "out-%s" % name)
            shutil.rmtree(out, ignore_errors=True)
            os.makedirs(out)
            if name == "ferrowick":
                os.makedirs(os.path.join(out, "drive_c"))
            wall, cpu, peak, maxrss, status = run_once(command(out), env(out), work, excluded)
            if name != "ferrowick" and status != 0:
                sys.exit("%s failed with status %d" % (name, status))
            files = count_files(out)
            shutil.rmtree(out)
            if run == 0:
                continue
            r = result[name]
            r["walls"].append(wall - subtract)
            r["cpus"].append(cpu)
            r["peak"] = max(r["peak"], peak)
            r["maxrss"] = max(r["maxrss"], maxrss)
            r["files"] = files
    return os.path.getsize(archive), result


def plot(path, scales, sizes, results):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    names = list(results[scales[-1]].keys())
    fig, (bars, lines) = plt.subplots(1, 2, figsize=(12, 4.8))
    largest = results[scales[-1]]
    medians = [statistics.median(largest[n]["walls"]) for n in names]
    colors = ["tab:red" if n == "ferrowick" else "tab:blue" for n in names]
    bars.bar(names, medians, color=colors)
    bars.set_ylabel("median wall time (s)")
    bars.set_title("scale %g: %.0f MB archive (launcher less its 5 s sleep)"
                   % (scales[-1], sizes[-1] / 1e6))
    for x, m in enumerate(medians):
        bars.text(x, m, "%.2f" % m, ha="center", va="bottom")
    for n in names:
        ys = [statistics.median(results[s][n]["walls"]) for s in scales]
        lines.plot([z / 1e6 for z in sizes], ys, marker="o", label=n,
                   linewidth=2.5 if n == "ferrowick" else 1.2)
    lines.set_xlabel("archive size (MB)")
    lines.set_ylabel("median wall time (s)")
    lines.set_title("time against archive size (scales %s)" % ", ".join("%g" % s for s in scales))
    lines.legend()
    lines.grid(True, alpha=0.3)
    fig.tight_layout()
    fig.savefig(path, dpi=100)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(REPO, "build"))
    parser.add_argument("--scales", default="0.05,0.25,0.5,1.0")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--work", default=None)
    parser.add_argument("--plot", default=os.path.join(REPO, "bench", "launcher-bench.png"))
    args = parser.parse_args()

    for program in ("bsdtar", "miniunzip", "unzip", "7z"):
        if not shutil.which(program):
            sys.exit("%s is missing: run tools/install-deps" % program)
    stub = find_program(args.build, "ferrowick")
    pack = find_program(args.build, "ferrowick-pack")
    work = os.path.abspath(args.work or tempfile.mkdtemp(prefix="ferrowick-launcher-bench-"))
    os.makedirs(work, exist_ok=True)

    scales = [float(s) for s in args.scales.split(",")]
    sizes, results = [], {}
    met = True
    for scale in scales:
        size, result = bench_scale(args, scale, pack, stub, work)
        sizes.append(size)
        results[scale] = result
        others = {n: statistics.median(r["walls"]) for n, r in result.items() if n != "ferrowick"}
        fastest = min(others, key=others.get)
        ours = statistics.median(result["ferrowick"]["walls"])
        print("\nscale %g: archive %.1f MB, %d files, %d runs each (medians; launcher less %.0f s sleep)"
              % (scale, size / 1e6, result["bsdtar"]["files"], args.runs, SLEEP_S))
        print("  %-10s %8s %8s %8s %9s %9s %17s %11s" %
              ("tool", "median", "min", "max", "vs fast", "cpu", "rss-less-payload", "VmHWM"))
        for name, r in result.items():
            m = statistics.median(r["walls"])
            print("  %-10s %7.2fs %7.2fs %7.2fs %8.2fx %8.2fs %14d KB %8d KB" %
                  (name, m, min(r["walls"]), max(r["walls"]), m / others[fastest],
                   statistics.median(r["cpus"]), r["peak"], r["maxrss"]))
        ratio = ours / others[fastest]
        ok = ratio <= TARGET_RATIO and result["ferrowick"]["peak"] < TARGET_RSS_KB
        verdict = "met" if ok else "MISSED"
        if scale in TARGET_SCALES:
            met = met and ok
        else:
            verdict += " (no target at this scale)"
        print("  launcher / fastest (%s): %.2fx (target %.2fx), memory %d KB (target %d KB): %s"
              % (fastest, ratio, TARGET_RATIO, result["ferrowick"]["peak"], TARGET_RSS_KB,
                 verdict))
    plot(args.plot, scales, sizes, results)
    print("\nplot: %s" % args.plot)
    if not args.work:
        shutil.rmtree(work, ignore_errors=True)
    return 0 if met else 1


if __name__ == "__main__":
    sys.exit(main())
