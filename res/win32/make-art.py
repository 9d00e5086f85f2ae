#!/usr/bin/env python3
"""Draws the launcher's own icon and toolbar strip, and assembles the payload resource.

  make-art.py icon OUT.ico           icon group: 32x32 and 16x16, 16 colours each
  make-art.py toolbar OUT.bmp        the 96x15, 4-bit toolbar strip
  make-art.py payload OUT BMP ZIP    the toolbar file's 54 header bytes, then the ZIP
"""
import struct
import sys

# The standard 16-colour palette, as (blue, green, red, 0) quads.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_RED, GREY, SILVER, RED, YELLOW, BLUE, WHITE = 0, 1, 8, 7, 9, 11, 12, 15
DARK_BLUE, TEAL = 4, 6


def palette_bytes():
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)


def pack_4bit(rows, width):
    """Bottom-up 4-bit rows, each padded to a multiple of 4 bytes."""
    stride = ((width * 4 + 31) // 32) * 4
    out = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for x in range(0, width, 2):
            line.append((row[x] << 4) | (row[x + 1] if x + 1 < width else 0))
        out += line.ljust(stride, b"\0")
    return bytes(out)


def pack_mask(mask, width):
    stride = ((width + 31) // 32) * 4
    out = bytearray()
    for row in reversed(mask):
        line = bytearray((width + 7) // 8)
        for x, transparent in enumerate(row):
            if transparent:
                line[x // 8] |= 0x80 >> (x % 8)
        out += line.ljust(stride, b"\0")
    return bytes(out)


def info_header(width, height, image_size):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, image_size, 0, 0, 0, 0)


def draw_icon(n):
    """A kettle-like pot with a flame above it; None marks a transparent pixel."""
    s = n / 32.0
    px = [[None] * n for _ in range(n)]
    for y in range(n):
        for x in range(n):
            fx, fy = (x + 0.5) / s, (y + 0.5) / s
            # body: a squat ellipse
            if ((fx - 16) / 12) ** 2 + ((fy - 22) / 8) ** 2 <= 1:
                px[y][x] = DARK_BLUE if fy > 24 else BLUE
            # spout and handle
            elif 26 <= fx <= 31 and 15 <= fy <= 19 and fy >= 15 + (31 - fx) * 0.3:
                px[y][x] = DARK_BLUE
            elif ((fx - 4) / 3) ** 2 + ((fy - 20) / 4) ** 2 <= 1 and fx < 5:
                px[y][x] = GREY
            # flame: a teardrop above the lid
            elif fy < 14 and ((fx - 16) / (4 - (14 - fy) * 0.3 + 0.01)) ** 2 <= 1 and fy > 2:
                px[y][x] = YELLOW if abs(fx - 16) < 1.5 and fy > 7 else RED
            elif 12 <= fy < 14 and 10 <= fx <= 22:
                px[y][x] = BLACK
    return px


def icon_image(n):
    px = draw_icon(n)
    colours = [[c if c is not None else BLACK for c in row] for row in px]
    mask = [[c is None for c in row] for row in px]
    xor = pack_4bit(colours, n)
    andmask = pack_mask(mask, n)
    return info_header(n, 2 * n, len(xor) + len(andmask)) + palette_bytes() + xor + andmask


def make_icon():
    images = [icon_image(32), icon_image(16)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, image in zip((32, 16), images):
        out += struct.pack("<BBBBHHII", n, n, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    return out + b"".join(images)


def glyph(kind, x, y):
    """One pixel of a 16x15 toolbar button, or None for the button face."""
    if kind == "cut":
        if (x - 4) ** 2 + (y - 11) ** 2 in (4, 5) or (x - 11) ** 2 + (y - 11) ** 2 in (4, 5):
            return BLACK
        if 1 < y < 10 and (x == 4 + (9 - y) // 2 + 1 or x == 11 - (9 - y) // 2 - 1):
            return BLACK
    elif kind == "copy":
        for ox, oy in ((1, 1), (6, 5)):
            if ox <= x <= ox + 7 and oy <= y <= oy + 8:
                edge = x in (ox, ox + 7) or y in (oy, oy + 8)
                return BLACK if edge else WHITE
    elif kind == "paste":
        if 5 <= x <= 10 and 0 <= y <= 2:
            return GREY
        if 2 <= x <= 13 and 1 <= y <= 14:
            return BLACK if x in (2, 13) or y in (1, 14) else (TEAL if y < 5 else WHITE)
    elif kind == "print":
        if 4 <= x <= 11 and 1 <= y <= 6:
            return BLACK if x in (4, 11) or y == 1 else WHITE
        if 1 <= x <= 14 and 6 <= y <= 11:
            return BLACK if x in (1, 14) or y in (6, 11) else SILVER
        if x == 12 and y == 8:
            return RED
    elif kind == "about":
        if (x - 7.5) ** 2 + (y - 5) ** 2 <= 16 and (x - 7.5) ** 2 + (y - 5) ** 2 >= 5 and y <= 6:
            return DARK_BLUE
        if 7 <= x <= 8 and (7 <= y <= 9 or 11 <= y <= 12):
            return DARK_BLUE
    return None


def make_toolbar():
    width, height = 96, 15
    kinds = ["cut", "copy", "paste", "print", "about", "blank"]
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            c = glyph(kinds[x // 16], x % 16, y)
            row.append(SILVER if c is None else c)
        rows.append(row)
    bits = pack_4bit(rows, width)
    dib = info_header(width, height, len(bits)) + palette_bytes() + bits
    return struct.pack("<2sIHHI", b"BM", 14 + len(dib), 0, 0, 14 + 40 + 64) + dib


def main(argv):
    if len(argv) == 3 and argv[1] == "icon":
        data = make_icon()
    elif len(argv) == 3 and argv[1] == "toolbar":
        data = make_toolbar()
    elif len(argv) == 5 and argv[1] == "payload":
        with open(argv[3], "rb") as f:
            prefix = f.read(54)
        with open(argv[4], "rb") as f:
            data = prefix + f.read()
        if len(prefix) != 54:
            sys.exit("make-art.py: %s is shorter than 54 bytes" % argv[3])
    else:
        sys.exit(__doc__)
    with open(argv[2], "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(sys.argv)
