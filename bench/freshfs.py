"""Where benchmark outputs go: a check for ext4 without a journal, and a fresh journaled
ext4 file system on a loop device.

On ext4 without a journal, making an inode skips, one by one, every inode freed in the
last five minutes, so each run pays for the outputs that the runs before it deleted.
"""
import os
import subprocess
import sys

FRESH_FS_BYTES = 8 << 30


def lacks_journal(folder):
    """True when `folder` lies on an ext4 file system without a journal."""
    best, fstype, device = "", "", ""
    with open("/proc/self/mounts") as f:
        for line in f:
            dev, point, kind = line.split()[:3]
            if folder.startswith(point.rstrip("/") + "/") and len(point) >= len(best):
                best, fstype, device = point, kind, dev
    if fstype != "ext4" or not device.startswith("/dev/"):
        return False
    name = os.path.basename(os.path.realpath(device))
    journals = os.listdir("/proc/fs/jbd2") if os.path.isdir("/proc/fs/jbd2") else []
    return not any(j.startswith(name + "-") for j in journals)


class FreshFileSystem:
    """A new, journaled ext4 file system on a loop device, mounted in `work` (as root)."""

    def __init__(self, work, size=FRESH_FS_BYTES):
        self.image = os.path.join(work, "fresh-fs.img")
        self.mount = os.path.join(work, "fresh-fs")
        with open(self.image, "wb") as f:
            f.truncate(size)
        subprocess.run(["mkfs.ext4", "-q", "-F", self.image], check=True)
        self.device = subprocess.run(
            ["losetup", "--find", "--show", "--direct-io=on", self.image],
            check=True, capture_output=True, text=True).stdout.strip()
        os.makedirs(self.mount, exist_ok=True)
        subprocess.run(["mount", self.device, self.mount], check=True)

    def close(self):
        subprocess.run(["umount", self.mount], check=False)
        subprocess.run(["losetup", "--detach", self.device], check=False)
        os.remove(self.image)


def outputs_folder(args, work):
    """The fresh file system when --fresh-fs asks for one (None otherwise), and a warning
    when the outputs would go to ext4 without a journal."""
    if args.fresh_fs:
        if os.geteuid() != 0:
            raise SystemExit("--fresh-fs makes and mounts a file system: run as root")
        return FreshFileSystem(work)
    if lacks_journal(work):
        print("warning: %s is on ext4 without a journal: every run pays for the inodes "
              "that the runs before it freed; --fresh-fs (as root) measures on a "
              "journaled file system" % work, file=sys.stderr)
    return None
