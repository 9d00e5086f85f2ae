#!/usr/bin/env python3
"""Writes python-zip64.zip beside this script: three items as Python's zipfile writes
them with force_zip64 (local sizes of 0xFFFFFFFF, the real ones in a Zip64 extra
block), one of them with a name flagged as UTF-8. The archive reader's tests unpack it
and compare with the same contents, made the same way.

Usage: make-python-zip64.py
"""
import os
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))


def items():
    readme = b"Zip64 local header, written by zipfile with force_zip64.\n" * 40
    data = bytes((i * 7) % 256 for i in range(5000))
    return [
        ("python/readme.txt", readme, zipfile.ZIP_DEFLATED),
        ("python/data.bin", data, zipfile.ZIP_STORED),
        ("python/\u8bf4\u660e.txt", b"UTF-8 name\n", zipfile.ZIP_DEFLATED),
    ]


def main():
    path = os.path.join(HERE, "python-zip64.zip")
    with zipfile.ZipFile(path, "w") as archive:
        for name, data, method in items():
            info = zipfile.ZipInfo(name, date_time=(2008, 6, 1, 12, 0, 0))
            info.compress_type = method
            info.create_system = 0  # MS-DOS: the external attributes are attribute bits
            info.external_attr = 0x20
            with archive.open(info, "w", force_zip64=True) as item:
                item.write(data)


if __name__ == "__main__":
    main()
