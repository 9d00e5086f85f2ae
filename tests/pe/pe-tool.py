#!/usr/bin/python3
"""Windows images for the packer's tests, read and written with Debian's python3-pefile,
so that the packer's own reader is not the only judge of what it writes.

  pe-tool.py add-section IN OUT NAME discardable|writable
      IN with a section of 512 bytes added after its last one.
  pe-tool.py append-table IN OUT
      IN with a payload table appended as older packers appended one for a Linux launcher
      (which Windows never reads): TIMELISTINGS/#132 holding "x", 64 KiB-aligned.
  pe-tool.py make-icon OUT
      An icon file of three 32-bit images, 48x48, 32x32 and 16x16, each one colour
      (20 80 E0 as red, green, blue).
  pe-tool.py looks EXE
      The first icon group's images (WIDTHxHEIGHT BITS, with the size of the icon resource
      each names) and the version resource's strings and fixed numbers, one a line.
  pe-tool.py judge STUB OUT PAYLOAD
      OUT is STUB with PAYLOAD as its TIMELISTINGS/#132 resource: every other resource
      and every section after the resources byte-equal (but the debug entries' pointers,
      which must lead to the same data), the COFF symbol and string tables where their
      pointer leads, the checksum right, SizeOfImage the end of the last section, no
      certificate table. Prints what differs.
  pe-tool.py imports EXE
      Every function EXE imports by name, "DLL!function" a line, then the
      DependentLoadFlags of its load configuration ("dependent load flags: none" when
      it has no load configuration).
"""
import struct
import sys

import pefile

DISCARDABLE = 0x42000040  # initialized data, readable, discardable
WRITABLE = 0xC0000040  # initialized data, readable, writable


def align(value, to):
    return (value + to - 1) // to * to


def add_section(source, target, name, kind):
    pe = pefile.PE(source)
    data = bytearray(pe.__data__)
    oh = pe.OPTIONAL_HEADER
    last = pe.sections[-1]
    header = last.get_file_offset() + 40
    if header + 40 > oh.SizeOfHeaders:
        sys.exit("no room for another section header")
    va = align(last.VirtualAddress + last.Misc_VirtualSize, oh.SectionAlignment)
    raw = align(len(data), oh.FileAlignment)
    body = bytes(range(256)) * 2
    fields = name.encode().ljust(8, b"\0")
    fields += (len(body)).to_bytes(4, "little") + va.to_bytes(4, "little")
    fields += len(body).to_bytes(4, "little") + raw.to_bytes(4, "little")
    fields += bytes(12)
    fields += (DISCARDABLE if kind == "discardable" else WRITABLE).to_bytes(4, "little")
    data[header:header + 40] = fields
    data += bytes(raw - len(data)) + body
    pe = pefile.PE(data=bytes(data))
    pe.FILE_HEADER.NumberOfSections += 1
    pe.OPTIONAL_HEADER.SizeOfImage = align(va + len(body), oh.SectionAlignment)
    pe.OPTIONAL_HEADER.CheckSum = pe.generate_checksum()
    pe.write(target)


def append_table(source, target):
    image = open(source, "rb").read()
    offset = align(len(image), 64 * 1024)
    data, type_name = b"x", b"TIMELISTINGS"
    record = struct.pack("<HHHHHHQQ", 0x409, 0, 132, len(type_name), 0, 0, offset, len(data))
    record += type_name
    table_offset = offset + len(data)
    trailer = b"FWRSRC\x01\x00" + struct.pack("<QIIQ", len(image), 1, len(record), table_offset)
    with open(target, "wb") as out:
        out.write(image + bytes(offset - len(image)) + data + record + trailer)


ICON_COLOUR = (0x20, 0x80, 0xE0)


def make_icon(target):
    images = []
    for n in (48, 32, 16):
        red, green, blue = ICON_COLOUR
        pixels = bytes((blue, green, red, 255)) * (n * n)
        mask = bytes(((n + 31) // 32) * 4 * n)
        header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, len(pixels) + len(mask),
                             0, 0, 0, 0)
        images.append((n, header + pixels + mask))
    out = struct.pack("<HHH", 0, 1, len(images))
    at = 6 + 16 * len(images)
    for n, data in images:
        out += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(data), at)
        at += len(data)
    with open(target, "wb") as f:
        f.write(out + b"".join(data for _, data in images))


def looks(path):
    pe = pefile.PE(path)
    by_type = {t.id: t for t in pe.DIRECTORY_ENTRY_RESOURCE.entries if t.id}
    icons = {n.id: n.directory.entries[0].data.struct.Size for n in by_type[3].directory.entries}
    group = by_type[14].directory.entries[0].directory.entries[0].data.struct
    data = pe.get_data(group.OffsetToData, group.Size)
    count = struct.unpack_from("<H", data, 4)[0]
    for i in range(count):
        w, h, _, _, _, bits, size, icon = struct.unpack_from("<BBBBHHIH", data, 6 + 14 * i)
        print("icon %dx%d %d bits, %d bytes in icon %d of %s bytes" % (
            w or 256, h or 256, bits, size, icon, icons.get(icon)))
    for info in pe.FileInfo[0]:
        for table in getattr(info, "StringTable", []):
            for key, value in table.entries.items():
                print("%s=%s" % (key.decode(), value.decode()))
    fixed = pe.VS_FIXEDFILEINFO[0]
    print("fixed file version: %d.%d.%d.%d" % (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
                                                fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF))


def resources(pe):
    found = {}
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for n in t.directory.entries:
            for lang in n.directory.entries:
                key = (str(t.name) if t.name else t.id, str(n.name) if n.name else n.id, lang.id)
                entry = lang.data.struct
                found[key] = pe.get_data(entry.OffsetToData, entry.Size)
    return found


def debug_entries(pe):
    """Each debug entry: the file offset of its fields, and the data it leads to by its
    address and by its file offset."""
    found = []
    for entry in getattr(pe, "DIRECTORY_ENTRY_DEBUG", []):
        s = entry.struct
        by_address = pe.get_data(s.AddressOfRawData, s.SizeOfData) if s.AddressOfRawData else b""
        by_offset = pe.__data__[s.PointerToRawData:s.PointerToRawData + s.SizeOfData]
        found.append((s.get_file_offset(), by_address, by_offset))
    return found


def section_data(pe, section):
    """A section's bytes, its debug entries' two pointers left out."""
    data = bytearray(section.get_data())
    for at, _, _ in debug_entries(pe):
        at -= section.PointerToRawData
        if 0 <= at < len(data):
            data[at + 20:at + 28] = bytes(8)
    return bytes(data)


def symbols(pe):
    """The COFF symbol table and the string table after it, where their pointer leads."""
    header = pe.FILE_HEADER
    if not header.PointerToSymbolTable:
        return b""
    data = pe.__data__
    strings = header.PointerToSymbolTable + 18 * header.NumberOfSymbols
    size = int.from_bytes(data[strings:strings + 4], "little")
    return data[header.PointerToSymbolTable:strings + max(size, 4)]


def judge(stub_path, out_path, payload_path):
    stub, out = pefile.PE(stub_path), pefile.PE(out_path)
    problems = []
    if not out.verify_checksum():
        problems.append("checksum %08X, computed %08X" % (out.OPTIONAL_HEADER.CheckSum,
                                                          out.generate_checksum()))
    security = out.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    if security.VirtualAddress or security.Size:
        problems.append("a certificate table is left")
    payload = ("TIMELISTINGS", 132, 0x0409)
    before, after = resources(stub), resources(out)
    wanted = open(payload_path, "rb").read()
    if after.get(payload, b"")[54:] != wanted:
        problems.append("the payload resource is not the archive after its prefix")
    del before[payload], after[payload]
    if before != after:
        problems.append("other resources differ: %s" % sorted(
            str(k) for k in set(before) ^ set(after) | {k for k in before if before.get(k) != after.get(k)}))
    oh = out.OPTIONAL_HEADER
    last = out.sections[-1]
    if oh.SizeOfImage != align(last.VirtualAddress + last.Misc_VirtualSize, oh.SectionAlignment):
        problems.append("SizeOfImage is not the end of the last section")
    names = [s.Name for s in stub.sections]
    rsrc = names.index(b".rsrc\0\0\0")
    if [s.Name for s in out.sections] != names:
        problems.append("the sections differ")
    if symbols(stub) != symbols(out):
        problems.append("the symbol table is not where its pointer leads")
    if [e[1:] for e in debug_entries(stub)] != [e[1:] for e in debug_entries(out)]:
        problems.append("a debug entry does not lead to its data")
    for old, new in zip(stub.sections[rsrc + 1:], out.sections[rsrc + 1:]):
        if section_data(stub, old) != section_data(out, new):
            problems.append("section %r changed as it moved" % old.Name)
        if new.VirtualAddress % oh.SectionAlignment or new.PointerToRawData % oh.FileAlignment:
            problems.append("section %r is not aligned" % old.Name)
    for problem in problems:
        print(problem)
    return 1 if problems else 0


def imports(path):
    pe = pefile.PE(path)
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        for function in entry.imports:
            if function.name:
                print("%s!%s" % (entry.dll.decode(), function.name.decode()))
    config = getattr(pe, "DIRECTORY_ENTRY_LOAD_CONFIG", None)
    flags = getattr(config.struct, "DependentLoadFlags", None) if config else None
    print("dependent load flags: %s" % ("none" if flags is None else hex(flags)))


if __name__ == "__main__":
    if sys.argv[1] == "add-section":
        add_section(*sys.argv[2:6])
    elif sys.argv[1] == "append-table":
        append_table(*sys.argv[2:4])
    elif sys.argv[1] == "make-icon":
        make_icon(sys.argv[2])
    elif sys.argv[1] == "looks":
        looks(sys.argv[2])
    elif sys.argv[1] == "judge":
        sys.exit(judge(*sys.argv[2:5]))
    elif sys.argv[1] == "imports":
        imports(sys.argv[2])
    else:
        sys.exit(__doc__)
