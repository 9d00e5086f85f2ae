#!/usr/bin/python3
"""Launcher benchmark: the whole job of the packed launcher against bsdtar, miniunzip,
unzip and 7z on the same archive, and against the floors of unpacking it.

For each scale it makes an installer-shaped payload (../shared/bench/make-payload.py),
packs it into the launcher with ferrowick-pack, and runs, interleaved in a shuffled
order each round, RUNS times each (after one untimed round that warms the page cache
and samples memory), into fresh folders:

  ferrowick   the packed launcher in a fresh drive prefix, standard input from
              /dev/null so that its notices do not wait. Its notices and messages
              arrive on its standard error, where they are timed as they come:
                unpacked  start to the completion notice: process start, staging the
                          archive out of the executable, unpacking every item, closing
                          and removing the staging archive (the target's figure);
                launch    start to the launch command's report (the bench payload's
                          SETUP.EXE is no program, so the launch reports that);
                whole     start to exit, less the fixed 5 s sleep after the launch.
  ferrowick-unpack ARCHIVE OUT   the archive reader alone (build/tools), start to exit,
              on every core (min(processors, 4) workers, as the launcher);
  ferrowick-unpack 1 worker      the same with --workers 1: item by item on one thread.
  bsdtar -xf, miniunzip -o, unzip -o, 7z x   start to exit, unpacking the same archive.
  inflate floor   ferrowick-floor inflate ARCHIVE (build/bench): reads every item's data
                  as the reader does (pread, 256 KB pieces), inflates it with ISA-L and
                  checks its CRC-32 with ISA-L, on one thread, and writes nothing.
  write floor     ferrowick-floor write ARCHIVE OUT: with every item inflated to memory
                  beforehand, makes its folders and writes its files, one write() each,
                  no times and no attributes, into a fresh folder beside the others'.
                  The floors' figures are the wall and CPU times that the program prints
                  for its timed phase alone, not its process's.

Timed runs wait for the process blocking, with nothing else of the benchmark running.

Memory (the untimed round): every run is sampled every 20 ms from /proc/PID/smaps;
the peak of the resident set less the pages of the launcher's own file (the mapped
payload) and of the archive is "rss-less-payload"; the kernel's peak (VmHWM, last seen
before exit, which counts the mapped payload too) is reported beside it. "cpu" is the
median of user plus system time of the timed runs (the launcher's: its whole run).

--fresh-fs (needs root) unpacks onto a freshly made, journaled ext4 file system on a
loop device instead of the work folder's. On ext4 without a journal, making an inode
skips, one by one, every inode freed in the last five minutes, so on such a disk each
run pays for the outputs that the runs before it deleted, by up to seconds and never
the same twice; a disk as users have it (with a journal) has no such scan.

--baseline BUILD also runs the launcher and ferrowick-unpack of another build (another
checkout's build folder, say the one before a change), packed with that build's packer,
interleaved with the rest, and prints each of ours against its baseline: an A/B in one
run. With --ab-only, just those four and bsdtar run (more runs in the same time; no
plot).

Prints a table of medians per scale with the ratio to bsdtar, the launcher's
"unpacked" time as a ratio to each floor and to their sum, and each target with its
figure, met or MISSED. Targets, medians against bsdtar's at scales 0.25 and 1.0 (the
other scales are for the plot):
  ferrowick-unpack's wall time at most 0.45x at 1.0 and 0.55x at 0.25; with one worker
  at most 0.75x; the launcher's "unpacked" (staging included) at most 0.55x at 1.0; the
  launcher's CPU time at most 0.80x; and at every scale the launcher's
  rss-less-payload under 8 MB (8192 KB).
Exit status 0 only when every target is met at both scales and the memory at every
scale (so not when either target scale was left out). Writes bench/launcher-bench.png:
median time per tool with the floors as green bars, and time against archive size with
the floors and their sum dashed.

Usage: launcher-bench.py [--build build] [--scales 0.05,0.25,0.5,1.0] [--runs 5]
                         [--work DIR] [--fresh-fs] [--verbose]
                         [--baseline BUILD [--ab-only]] [--plot bench/launcher-bench.png]
"""
import argparse
import os
import random
import select
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

import freshfs

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MAKE_PAYLOAD = os.path.join(REPO, "..", "shared", "bench", "make-payload.py")
SLEEP_S = 5.0
TARGET_SCALES = (0.25, 1.0)  # the others are measured for the plot
# Against bsdtar's medians, at each target scale: ferrowick-unpack's wall, the launcher's
# "unpacked" wall (None: reported, no target), the launcher's CPU, one worker's wall.
TARGET_UNPACK = {0.25: 0.55, 1.0: 0.45}
TARGET_LAUNCHER = {0.25: None, 1.0: 0.55}
TARGET_CPU = 0.80
TARGET_ONE_WORKER = 0.75
TARGET_RSS_KB = 8 * 1024
LAUNCHER = "ferrowick"
UNPACK = "ferrowick-unpack"
ONE_WORKER = " 1 worker"
BASELINE = " (baseline)"
INFLATE_FLOOR = "inflate floor"
WRITE_FLOOR = "write floor"
FLOORS = (INFLATE_FLOOR, WRITE_FLOOR)
SAMPLE_S = 0.02
# What the launcher writes to standard error at the moments timed.
UNPACKED_MARK = b"Data preparation has been completed"
LAUNCH_MARK = b"is not a program that can be started here"


def find_program(build, name):
    for candidate in (os.path.join(build, name), os.path.join(build, "app", name),
                      os.path.join(build, "tools", name), os.path.join(build, "bench", name)):
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


def mark_times(stream, start, marks, seen):
    """Reads `stream` to its end; notes in `seen` when each of `marks` first arrived."""
    text = b""
    for chunk in iter(lambda: os.read(stream.fileno(), 65536), b""):
        now = time.perf_counter()
        text += chunk
        for mark in marks:
            if mark not in seen and mark in text:
                seen[mark] = now - start


def run_once(command, env_extra, cwd, excluded, marks, sample, printed=False):
    """Runs `command` to its end: wall time, the times of `marks` on its standard error,
    CPU time, when `printed` what it printed (a line or two; its errors pass through),
    and, when `sample`, its memory peaks."""
    env = dict(os.environ, **env_extra)
    seen = {}
    start = time.perf_counter()
    proc = subprocess.Popen(command, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE if printed else subprocess.DEVNULL,
                            stderr=subprocess.PIPE if marks else
                            None if printed else subprocess.DEVNULL)
    reader = None
    if marks:
        reader = threading.Thread(target=mark_times, args=(proc.stderr, start, marks, seen))
        reader.start()
    peak = hwm = 0
    if sample:
        exited = os.pidfd_open(proc.pid)
        while not select.select([exited], [], [], SAMPLE_S)[0]:
            peak = max(peak, rss_without(proc.pid, excluded))
            hwm = max(hwm, high_water(proc.pid))
        os.close(exited)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    if reader:
        reader.join()
        proc.stderr.close()
    proc.returncode = os.waitstatus_to_exitcode(status)
    text = ""
    if printed:
        text = proc.stdout.read().decode(errors="replace")
        proc.stdout.close()
    return {"wall": wall, "marks": seen, "cpu": usage.ru_utime + usage.ru_stime,
            "peak": peak, "maxrss": hwm, "status": proc.returncode, "printed": text}


def floor_figures(name, text):
    """The timed phase's wall and CPU seconds that ferrowick-floor printed."""
    fields = text.split()
    if len(fields) != 4 or fields[0] != "seconds" or fields[2] != "cpu":
        sys.exit("%s printed %r, not 'seconds S cpu C'" % (name, text))
    return float(fields[1]), float(fields[3])


def count_files(folder):
    return sum(len(names) for _, _, names in os.walk(folder))


def ours(name, launcher, unpack, archive):
    chinese = lambda out: {"LC_ALL": "zh_CN.UTF-8"}
    runs = [
        (LAUNCHER + name, lambda out: [launcher],
         lambda out: {"FERROWICK_PREFIX": out, "LC_ALL": "zh_CN.UTF-8"},
         (UNPACKED_MARK, LAUNCH_MARK)),
        (UNPACK + name, lambda out: [unpack, archive, out], chinese, ()),
    ]
    if not name:  # a baseline's tool may not take --workers
        runs.append((UNPACK + ONE_WORKER,
                     lambda out: [unpack, "--workers", "1", archive, out], chinese, ()))
    return runs


def tools(programs, archive, baseline):
    # name, command for an output folder, extra environment, marks timed on stderr
    launcher, unpack, floor = programs
    return ours("", launcher, unpack, archive) + (
        ours(BASELINE, *baseline, archive) if baseline else []) + [
        ("bsdtar", lambda out: ["bsdtar", "-xf", archive, "-C", out], lambda out: {}, ()),
        ("miniunzip", lambda out: ["miniunzip", "-o", archive, "-d", out], lambda out: {}, ()),
        ("unzip", lambda out: ["unzip", "-q", "-o", archive, "-d", out], lambda out: {}, ()),
        ("7z", lambda out: ["7z", "x", "-y", "-bso0", "-bsp0", "-o" + out, archive],
         lambda out: {}, ()),
        (INFLATE_FLOOR, lambda out: [floor, "inflate", archive], lambda out: {}, ()),
        (WRITE_FLOOR, lambda out: [floor, "write", archive, out], lambda out: {}, ()),
    ]


def bench_scale(args, scale, programs, work, outputs):
    archive = os.path.join(work, "payload-%g.zip" % scale)
    if not os.path.exists(archive):
        subprocess.run([sys.executable, MAKE_PAYLOAD, archive, "--scale", str(scale)],
                       check=True, stdout=subprocess.DEVNULL)
    def pack(build, name):
        launcher = os.path.join(work, name)
        subprocess.run([build["pack"], "--payload", archive, "--output", launcher, "--stub",
                        build["stub"]], check=True)
        return launcher

    launcher = pack(programs, "launcher-%g" % scale)
    baseline = None
    if programs["baseline"]:
        base = programs["baseline"]
        baseline = (pack(base, "launcher-baseline-%g" % scale), base["unpack"])
    # The new launcher's pages, written back half a minute later, would land on the
    # runs: the disk's write-back takes CPU time from the guest.
    os.sync()
    excluded = {os.path.realpath(launcher), os.path.realpath(archive)}
    if baseline:
        excluded.add(os.path.realpath(baseline[0]))
    table = tools((launcher, programs["unpack"], programs["floor"]), archive, baseline)
    if args.ab_only:
        table = [t for t in table if t[0].startswith("ferrowick") or t[0] == "bsdtar"]
    result = {name: {"walls": [], "unpacked": [], "launch": [], "cpus": [], "peak": 0,
                     "maxrss": 0, "files": 0}
              for name, *_ in table}
    order = random.Random(int(scale * 1000))
    for run in range(args.runs + 1):
        # Run 0 warms the page cache and samples memory; it is not timed. A fresh order
        # each round, so that no tool always follows the same one.
        for name, command, env, marks in order.sample(table, len(table)):
            out = os.path.join(outputs, "out-%s" % name.replace(" ", "-"))
            shutil.rmtree(out, ignore_errors=True)
            os.makedirs(out)
            launcher_run = name.startswith(LAUNCHER + " ") or name == LAUNCHER
            if launcher_run:
                os.makedirs(os.path.join(out, "drive_c"))
            got = run_once(command(out), env(out), work, excluded, marks, sample=run == 0,
                           printed=name in FLOORS)
            if not launcher_run and got["status"] != 0:
                sys.exit("%s failed with status %d" % (name, got["status"]))
            if name in FLOORS:  # its own figures: the timed phase only
                got["wall"], got["cpu"] = floor_figures(name, got["printed"])
            files = count_files(out)
            shutil.rmtree(out)
            r = result[name]
            r["files"] = files
            if args.verbose:
                print("  round %d %-10s %.3fs cpu %.2fs %s" % (
                    run, name, got["wall"], got["cpu"],
                    " ".join("%.3fs" % t for t in got["marks"].values())), file=sys.stderr)
            if run == 0:
                r["peak"], r["maxrss"] = got["peak"], got["maxrss"]
                continue
            r["cpus"].append(got["cpu"])
            if not launcher_run:
                r["walls"].append(got["wall"])
                r["unpacked"].append(got["wall"])
                continue
            if UNPACKED_MARK not in got["marks"]:
                sys.exit("the launcher showed no completion notice (status %d)" % got["status"])
            r["walls"].append(got["wall"] - SLEEP_S)
            r["unpacked"].append(got["marks"][UNPACKED_MARK])
            if LAUNCH_MARK in got["marks"]:
                r["launch"].append(got["marks"][LAUNCH_MARK])
    return os.path.getsize(archive), result


def median(result, name, key="unpacked"):
    return statistics.median(result[name][key])


def plot(path, scales, sizes, results):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    largest = results[scales[-1]]
    names = list(largest.keys())
    # Bars: ours red and orange, the other tools blue, the floors green. Lines: a colour
    # each, the floors dashed.
    colors = {LAUNCHER: "tab:red", UNPACK: "tab:orange", INFLATE_FLOOR: "tab:green",
              WRITE_FLOOR: "tab:olive"}
    line_colors = {**colors, "bsdtar": "tab:blue", "miniunzip": "tab:purple",
                   "unzip": "tab:brown", "7z": "tab:cyan"}
    fig, (bars, lines) = plt.subplots(1, 2, figsize=(14, 5.6))
    medians = [median(largest, n) for n in names]
    bars.bar(names, medians, color=[colors.get(n, "tab:blue") for n in names])
    bars.set_ylabel("median wall time (s)")
    bars.set_title("scale %g: %.0f MB archive (launcher: staging + unpacking;\n"
                   "floors: their timed phase only)" % (scales[-1], sizes[-1] / 1e6))
    bars.tick_params(axis="x", labelrotation=30)
    for label in bars.get_xticklabels():
        label.set_horizontalalignment("right")
    for x, m in enumerate(medians):
        bars.text(x, m, "%.2f" % m, ha="center", va="bottom")
    megabytes = [z / 1e6 for z in sizes]
    for n in names:
        ys = [median(results[s], n) for s in scales]
        if n in FLOORS:
            lines.plot(megabytes, ys, linestyle="--", marker="s", markersize=4,
                       color=line_colors[n], label=n)
        else:
            lines.plot(megabytes, ys, marker="o", label=n, color=line_colors.get(n),
                       linewidth=2.5 if n == LAUNCHER else 1.2)
    both = [median(results[s], INFLATE_FLOOR) + median(results[s], WRITE_FLOOR) for s in scales]
    lines.plot(megabytes, both, linestyle="--", marker="s", markersize=4, color="black",
               label="inflate + write floors")
    lines.set_xlabel("archive size (MB)")
    lines.set_ylabel("median wall time (s)")
    lines.set_title("time against archive size (scales %s)" % ", ".join("%g" % s for s in scales))
    lines.legend(fontsize="small")
    lines.grid(True, alpha=0.3)
    fig.tight_layout()
    fig.savefig(path, dpi=100)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(REPO, "build"))
    parser.add_argument("--scales", default="0.05,0.25,0.5,1.0")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--work", default=None)
    parser.add_argument("--fresh-fs", action="store_true",
                        help="unpack onto a new journaled ext4 file system (needs root)")
    parser.add_argument("--verbose", action="store_true", help="print every run's figures")
    parser.add_argument("--baseline", default=None,
                        help="another build folder whose launcher and ferrowick-unpack run "
                             "beside ours (an A/B)")
    parser.add_argument("--ab-only", action="store_true",
                        help="with --baseline: run only ours, the baseline's and bsdtar")
    parser.add_argument("--plot", default=os.path.join(REPO, "bench", "launcher-bench.png"))
    args = parser.parse_args()
    if args.ab_only and not args.baseline:
        parser.error("--ab-only needs --baseline")

    for program in ("bsdtar", "miniunzip", "unzip", "7z"):
        if not shutil.which(program):
            sys.exit("%s is missing: run tools/install-deps" % program)
    programs = {"stub": find_program(args.build, "ferrowick"),
                "pack": find_program(args.build, "ferrowick-pack"),
                "unpack": find_program(args.build, "ferrowick-unpack"),
                "floor": find_program(args.build, "ferrowick-floor"),
                "baseline": None}
    if args.baseline:
        programs["baseline"] = {name: find_program(args.baseline, program) for name, program in
                                (("stub", "ferrowick"), ("pack", "ferrowick-pack"),
                                 ("unpack", "ferrowick-unpack"))}
    work = os.path.abspath(args.work or tempfile.mkdtemp(prefix="ferrowick-launcher-bench-"))
    os.makedirs(work, exist_ok=True)
    fresh = freshfs.outputs_folder(args, work)
    outputs = fresh.mount if fresh else work

    scales = [float(s) for s in args.scales.split(",")]
    sizes, results = [], {}
    met = {}  # target scale: all its targets met
    heavy = []  # any scale: the launcher's memory over its limit
    try:
        for scale in scales:
            size, result = bench_scale(args, scale, programs, work, outputs)
            sizes.append(size)
            results[scale] = result
            ok = report(scale, size, args.runs, result)
            if scale in TARGET_SCALES:
                met[scale] = ok
            if result[LAUNCHER]["peak"] >= TARGET_RSS_KB:
                heavy.append(scale)
        if not args.ab_only:
            plot(args.plot, scales, sizes, results)
    finally:
        if fresh:
            fresh.close()
    if not args.ab_only:
        print("\nplot: %s" % args.plot)
    if not args.work:
        shutil.rmtree(work, ignore_errors=True)
    unmeasured = [s for s in TARGET_SCALES if s not in met]
    missed = [s for s in TARGET_SCALES if not met.get(s, True)]
    shown = lambda found: ", ".join("%g" % s for s in found)
    if unmeasured:
        print("targets: scale %s not measured" % shown(unmeasured))
    if missed:
        print("targets: MISSED at scale %s" % shown(missed))
    if heavy:
        print("targets: memory MISSED at scale %s" % shown(heavy))
    all_met = not unmeasured and not missed and not heavy
    if all_met:
        print("targets: met at scales %s, memory at every scale" % shown(TARGET_SCALES))
    return 0 if all_met else 1


def targets(scale, result):
    """Each target at `scale`: what it measures, its figure, its limit (None: reported
    only), and whether it is met."""
    bsdtar = median(result, "bsdtar")
    wall = median(result, LAUNCHER) / bsdtar
    cpu = median(result, LAUNCHER, "cpus") / median(result, "bsdtar", "cpus")
    unpack = median(result, UNPACK) / bsdtar
    one = median(result, UNPACK + ONE_WORKER) / bsdtar
    memory = result[LAUNCHER]["peak"]
    rows = [
        ("ferrowick-unpack / bsdtar wall", unpack, TARGET_UNPACK.get(scale)),
        ("one worker / bsdtar wall", one, TARGET_ONE_WORKER),
        ("launcher unpacked / bsdtar wall", wall, TARGET_LAUNCHER.get(scale)),
        ("launcher cpu / bsdtar cpu", cpu, TARGET_CPU),
    ]
    shown = [(label, "%.2fx" % figure, "at most %.2fx" % limit if limit else "reported",
              limit is None or figure <= limit) for label, figure, limit in rows]
    return shown + [("launcher rss-less-payload", "%d KB" % memory,
                     "under %d KB" % TARGET_RSS_KB, memory < TARGET_RSS_KB)]


def report(scale, size, runs, result):
    """Prints one scale's table; true when its targets are met."""
    bsdtar = median(result, "bsdtar")
    ours = result[LAUNCHER]
    print("\nscale %g: archive %.1f MB, %d files, %d runs each (medians)"
          % (scale, size / 1e6, result["bsdtar"]["files"], runs))
    print("  %-27s %8s %8s %8s %10s %8s %17s %11s" %
          ("tool", "median", "min", "max", "vs bsdtar", "cpu", "rss-less-payload", "VmHWM"))
    for name, r in result.items():
        m = median(result, name)
        print("  %-27s %7.3fs %7.3fs %7.3fs %9.2fx %7.2fs %14d KB %8d KB" %
              (name, m, min(r["unpacked"]), max(r["unpacked"]), m / bsdtar,
               median(result, name, "cpus"), r["peak"], r["maxrss"]))
    for name, r in result.items():
        if name not in (LAUNCHER, LAUNCHER + BASELINE, INFLATE_FLOOR) and r["files"] != result["bsdtar"]["files"]:
            print("  warning: %s left %d files, bsdtar %d" % (name, r["files"],
                                                              result["bsdtar"]["files"]))
    unpacked = median(result, LAUNCHER)
    launch = "%.3fs" % statistics.median(ours["launch"]) if ours["launch"] else "-"
    print("  ferrowick: staging + unpacking %.3fs, to the launch command %s, whole run "
          "less the %.0f s sleep %.3fs" % (unpacked, launch, SLEEP_S,
                                          median(result, LAUNCHER, "walls")))
    if INFLATE_FLOOR in result:
        inflate, write = median(result, INFLATE_FLOOR), median(result, WRITE_FLOOR)
        print("  ferrowick unpacked: %.2fx vs inflate floor, %.2fx vs write floor, "
              "%.2fx vs inflate+write" % (unpacked / inflate, unpacked / write,
                                          unpacked / (inflate + write)))
    for name in (LAUNCHER, UNPACK):
        if name + BASELINE in result:
            print("  %s against its baseline: wall %.3f against %.3fs (%+.1f%%), cpu %.2f "
                  "against %.2fs (%+.1f%%), rss-less-payload %d against %d KB" % (
                      name, median(result, name), median(result, name + BASELINE),
                      100 * (median(result, name) / median(result, name + BASELINE) - 1),
                      median(result, name, "cpus"), median(result, name + BASELINE, "cpus"),
                      100 * (median(result, name, "cpus") /
                             median(result, name + BASELINE, "cpus") - 1),
                      result[name]["peak"], result[name + BASELINE]["peak"]))
    print("  targets%s:" % ("" if scale in TARGET_SCALES else " (none at this scale)"))
    rows = targets(scale, result)
    for label, figure, limit, ok in rows:
        print("    %-32s %9s  (%s)  %s" % (label, figure, limit, "met" if ok else "MISSED"))
    return all(ok for *_, ok in rows)


if __name__ == "__main__":
    sys.exit(main())
