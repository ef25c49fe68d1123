#!/usr/bin/env python3
"""Draws the tray's icon (a dark ring with three dots on it, at the top, the
left and the right, on a transparent background) in six sizes and writes them
as PNG images into one .ico file. Standard library only; the output is the
same bytes on every run.

    python3 make_icon.py [output.ico]      (default: tray.ico beside this script)
"""
import math
import pathlib
import struct
import sys
import zlib

SIZES = (16, 32, 48, 64, 128, 256)
INK = (30, 58, 95)          # the header band's dark blue
RING_RADIUS = 0.33          # of the icon's width, to the middle of the stroke
RING_HALF_WIDTH = 0.055
DOT_RADIUS = 0.115
SAMPLES = 8                 # per pixel and axis, for smooth edges
CENTRE = (0.5, 0.53)        # a little low: the top dot reaches further than the ring's bottom


def dot_centres():
    (cx, cy), r = CENTRE, RING_RADIUS
    return [(cx, cy - r), (cx - r, cy), (cx + r, cy)]


def inside(x, y):
    """Whether the point (in units of the icon's width) is inked."""
    d = math.hypot(x - CENTRE[0], y - CENTRE[1])
    if abs(d - RING_RADIUS) <= RING_HALF_WIDTH:
        return True
    return any(math.hypot(x - dx, y - dy) <= DOT_RADIUS for dx, dy in dot_centres())


def render(size):
    rows = []
    for py in range(size):
        row = bytearray([0])  # PNG filter type: none
        for px in range(size):
            hits = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) / size
                    y = (py + (sy + 0.5) / SAMPLES) / size
                    hits += inside(x, y)
            alpha = round(255 * hits / (SAMPLES * SAMPLES))
            row += bytes(INK) + bytes([alpha]) if alpha else b"\0\0\0\0"
        rows.append(bytes(row))
    return b"".join(rows)


def png(size, pixels):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(pixels, 9))
            + chunk(b"IEND", b""))


def ico(images):
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, data = b"", b""
    for size, image in images:
        edge = 0 if size >= 256 else size  # 0 stands for 256
        entries += struct.pack("<BBBBHHII", edge, edge, 0, 0, 1, 32, len(image), offset + len(data))
        data += image
    return out + entries + data


def main():
    target = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else pathlib.Path(__file__).with_name("tray.ico")
    target.write_bytes(ico([(s, png(s, render(s))) for s in SIZES]))


if __name__ == "__main__":
    main()
