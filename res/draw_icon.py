#!/usr/bin/python3
"""Draws the icon, a shopping bag holding a download arrow, and writes varnholt.ico.

The .ico holds 16, 32, 48, 64 and 128 pixel images as 32-bit bitmaps and the 256 pixel image
as PNG. Each size is drawn anew from the shapes, four by four samples a pixel, so small sizes
stay crisp. Run with a folder argument to also write each size as a PNG for viewing, or with
--check to compare the drawing with the committed varnholt.ico instead of writing it.
"""

import os
import struct
import sys
import zlib

SIZES = (16, 32, 48, 64, 128, 256)
SAMPLES = 4


def bag(x, y):
    """A bag whose sides lean out a little towards the bottom, corners rounded."""
    if not 0.34 <= y <= 0.93:
        return False
    t = (y - 0.34) / (0.93 - 0.34)
    half = 0.31 + 0.05 * t
    if abs(x - 0.5) > half:
        return False
    radius = 0.07
    cx = 0.5 + (half - radius) * (1 if x > 0.5 else -1)
    for cy in (0.34 + radius, 0.93 - radius):
        near_corner = abs(x - 0.5) > half - radius and abs(y - cy) <= radius and (
            (cy < 0.5 and y < cy) or (cy > 0.5 and y > cy))
        if near_corner and (x - cx) ** 2 + (y - cy) ** 2 > radius ** 2:
            return False
    return True


def handle(x, y):
    distance = ((x - 0.5) ** 2 + (y - 0.36) ** 2) ** 0.5
    return y <= 0.36 and 0.14 <= distance <= 0.22


def arrow(x, y):
    shaft = abs(x - 0.5) <= 0.075 and 0.44 <= y <= 0.66
    head = 0.62 <= y <= 0.84 and abs(x - 0.5) <= 0.19 * (0.84 - y) / 0.22
    return shaft or head


def colour_at(x, y):
    """Straight RGBA of one sample; later shapes cover earlier ones."""
    if arrow(x, y) and bag(x, y):
        return (255, 255, 255, 255)
    if bag(x, y):
        shade = (y - 0.34) / 0.59
        return (int(24 - 14 * shade), int(132 - 40 * shade), int(222 - 50 * shade), 255)
    if handle(x, y):
        return (10, 70, 140, 255)
    return (0, 0, 0, 0)


def render(size):
    """Rows of RGBA pixels, top row first, each the average of its samples."""
    rows = []
    step = 1.0 / (size * SAMPLES)
    for row in range(size):
        pixels = []
        for column in range(size):
            totals = [0, 0, 0, 0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (column * SAMPLES + sx + 0.5) * step
                    y = (row * SAMPLES + sy + 0.5) * step
                    r, g, b, a = colour_at(x, y)
                    totals[0] += r * a
                    totals[1] += g * a
                    totals[2] += b * a
                    totals[3] += a
            alpha = totals[3]
            if alpha == 0:
                pixels.append((0, 0, 0, 0))
            else:
                pixels.append(tuple(round(c / alpha) for c in totals[:3]) +
                              (round(alpha / SAMPLES ** 2),))
        rows.append(pixels)
    return rows


def png(rows):
    size = len(rows)
    raw = b"".join(b"\0" + bytes(c for pixel in row for c in pixel) for row in rows)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def bitmap(rows):
    """A 32-bit icon bitmap: header of twice the height, BGRA rows bottom up, then the mask."""
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colours = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for r, g, b, a in row)
    mask_row = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_row)
        for column, pixel in enumerate(row):
            if pixel[3] == 0:
                bits[column // 8] |= 0x80 >> (column % 8)
        mask += bits
    return header + colours + bytes(mask)


def icon(images):
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, data = b"", b""
    for size, image in images:
        side = 0 if size == 256 else size
        entries += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
        data += image
    return directory + entries + data


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    check = sys.argv[1:] == ["--check"]
    preview = sys.argv[1] if len(sys.argv) > 1 and not check else None
    images = []
    for size in SIZES:
        rows = render(size)
        images.append((size, png(rows) if size == 256 else bitmap(rows)))
        if preview:
            with open(os.path.join(preview, f"icon-{size}.png"), "wb") as out:
                out.write(png(rows))
    path = os.path.join(here, "varnholt.ico")
    if check:
        with open(path, "rb") as committed:
            sys.exit(0 if committed.read() == icon(images) else "varnholt.ico is not the drawing")
    with open(path, "wb") as out:
        out.write(icon(images))


if __name__ == "__main__":
    main()
