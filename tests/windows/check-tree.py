#!/usr/bin/env python3
"""Checks what the launcher left on a wine prefix's (or the POSIX prefix's) drive.

  check-tree.py expect ZIP ROOT CODEPAGE [--gone NAME]...
      every item of ZIP is under ROOT (host folder) with its data, its last-write time
      (items with data) and its read-only bit; names are the item's bytes in CODEPAGE
      (cp1252, cp936) as the host file system spells them; --gone items must be absent.
  check-tree.py same A B [--any-content NAME]... [--ignore NAME]...
      the two host folders hold the same names, contents, last-write times and
      read-only bits; for a --any-content name only its presence is compared, and an
      --ignore name is left out on both sides.
Exits 1 and lists every difference when there is one.
"""
import os
import struct
import sys
import zipfile


def ansi_to_host(raw, codepage):
    if codepage == "cp1252":
        # Windows maps the five bytes cp1252 leaves undefined to the same code points.
        return "".join(raw[i:i + 1].decode("cp1252", errors="ignore") or chr(raw[i])
                       for i in range(len(raw)))
    return raw.decode(codepage)


def ut_mtime(extra):
    i = 0
    while i + 4 < len(extra):
        tag, size = struct.unpack_from("<HH", extra, i)
        if tag == 0x5455 and size >= 5 and extra[i + 4] & 1:
            return struct.unpack_from("<i", extra, i + 5)[0]
        i += 4 + size
    return None


def read_only(path):
    return not (os.stat(path).st_mode & 0o200)


def expect(zip_path, root, codepage, gone):
    problems = []
    with zipfile.ZipFile(zip_path) as z:
        for info in z.infolist():
            raw = info.filename.encode("utf-8" if info.flag_bits & 0x800 else "cp437")
            name = ansi_to_host(raw, codepage)
            # Either separator counts, and an empty level (as in "a\\/b") adds nothing.
            parts = [p for p in name.replace("\\", "/").split("/") if p]
            path = os.path.join(root, *parts)
            if name in gone:
                if os.path.lexists(path):
                    problems.append("%s: still there" % name)
                continue
            if not os.path.isfile(path):
                problems.append("%s: missing" % name)
                continue
            with open(path, "rb") as f:
                if f.read() != z.read(info):
                    problems.append("%s: different data" % name)
            mtime = ut_mtime(info.extra)
            if info.file_size and mtime is not None and int(os.stat(path).st_mtime) != mtime:
                problems.append("%s: last-write %d, expected %d"
                                % (name, os.stat(path).st_mtime, mtime))
            host = info.create_version >> 8
            dos_like = host in (0, 7, 11, 14)
            ro = (info.external_attr & 1) if dos_like else not (info.external_attr >> 16) & 0o200
            if read_only(path) != bool(ro):
                problems.append("%s: read-only %s, expected %s" % (name, read_only(path), bool(ro)))
    return problems


def walk(root, ignore):
    found = {}
    for folder, dirs, files in os.walk(root):
        for d in dirs:
            found[os.path.relpath(os.path.join(folder, d), root)] = None
        for f in files:
            if f not in ignore:
                p = os.path.join(folder, f)
                found[os.path.relpath(p, root)] = p
    return found


def same(a, b, any_content, ignore):
    problems = []
    left, right = walk(a, ignore), walk(b, ignore)
    for name in sorted(set(left) ^ set(right)):
        problems.append("%s: only in %s" % (name, a if name in left else b))
    for name in sorted(set(left) & set(right)):
        pa, pb = left[name], right[name]
        if (pa is None) != (pb is None):
            problems.append("%s: a folder on one side only" % name)
            continue
        if pa is None or os.path.basename(name) in any_content:
            continue
        with open(pa, "rb") as fa, open(pb, "rb") as fb:
            if fa.read() != fb.read():
                problems.append("%s: different data" % name)
        ta, tb = os.stat(pa).st_mtime_ns // 100, os.stat(pb).st_mtime_ns // 100
        if ta != tb:
            problems.append("%s: last-write %d vs %d (100 ns)" % (name, ta, tb))
        if read_only(pa) != read_only(pb):
            problems.append("%s: read-only %s vs %s" % (name, read_only(pa), read_only(pb)))
    return problems


def main(argv):
    options = {"--gone": [], "--any-content": [], "--ignore": []}
    args = []
    i = 1
    while i < len(argv):
        if argv[i] in options and i + 1 < len(argv):
            options[argv[i]].append(argv[i + 1])
            i += 2
        else:
            args.append(argv[i])
            i += 1
    if len(args) == 4 and args[0] == "expect":
        problems = expect(args[1], args[2], args[3], set(options["--gone"]))
    elif len(args) == 3 and args[0] == "same":
        problems = same(args[1], args[2], set(options["--any-content"]), set(options["--ignore"]))
    else:
        sys.exit(__doc__)
    for p in problems:
        print(p)
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main(sys.argv)
