"""Holds a virtual machine's memory steady for a benchmark (as root).

A guest that reports its free memory to the host (virtio-balloon's free page reporting)
gives back what each run frees: the page cache of the outputs the run before deleted.
The next run's new page cache then lands on pages the host must fault in again, at a
cost that falls on whichever run gets them, so two runs of the same program differ by
half their time. For the benchmark, reporting is held off, every free page is touched
once so that the host backs it, and the reporting order is put back afterwards.
"""
import mmap
import os
import sys

ORDER = "/sys/module/page_reporting/parameters/page_reporting_order"
NO_ORDER = "11"  # above the largest order the page allocator has: nothing is reported
LEFT_FREE = 512 << 20  # untouched, for the rest of the machine meanwhile


def free_bytes():
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith("MemFree:"):
                return int(line.split()[1]) * 1024
    return 0


class SteadyMemory:
    def __init__(self):
        self.order = None
        if not os.path.exists(ORDER):
            return  # not a guest that reports free pages
        if os.geteuid() != 0:
            raise SystemExit("--steady-memory changes a kernel parameter: run as root")
        with open(ORDER) as f:
            self.order = f.read().strip()
        with open(ORDER, "w") as f:
            f.write(NO_ORDER)
        try:
            self.touch_free_memory()
        except BaseException:
            self.close()  # the caller never gets this object to close
            raise

    @staticmethod
    def touch_free_memory():
        size = max(0, free_bytes() - LEFT_FREE) // mmap.PAGESIZE * mmap.PAGESIZE
        print("steady memory: free page reporting held off; touching %.1f GB once"
              % (size / 1e9), file=sys.stderr)
        if size:
            area = mmap.mmap(-1, size)
            area[::mmap.PAGESIZE] = b"\1" * (size // mmap.PAGESIZE)
            area.close()

    def close(self):
        if self.order is not None:
            with open(ORDER, "w") as f:
                f.write(self.order)
