#!/usr/bin/env python3
"""Draws the workbench's icon: hicolor/scalable/apps/tamotool.svg and the same
picture as hicolor/48x48/apps/tamotool.png (standard library only,
deterministic). A tile of grey pixels on a blue ground, with a profile curve
across it."""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SIZE = 48
GROUND = (0x1f, 0x4e, 0x79)
# 4 x 4 grey tiles (values 0..255) in the middle of the icon.
GREYS = [[40, 90, 150, 210], [70, 130, 200, 240], [60, 110, 170, 220], [30, 80, 140, 190]]
TILE, ORIGIN = 8, 8
CURVE = [(6, 34), (14, 30), (20, 18), (26, 24), (32, 12), (42, 16)]
CURVE_RGB = (0xff, 0xc4, 0x2e)
WIDTH = 3.0


def svg():
    parts = ['<svg xmlns="http://www.w3.org/2000/svg" width="48" height="48" viewBox="0 0 48 48">',
             '  <rect x="1" y="1" width="46" height="46" rx="7" fill="#%02x%02x%02x"/>' % GROUND]
    for r, row in enumerate(GREYS):
        for c, g in enumerate(row):
            parts.append('  <rect x="%d" y="%d" width="%d" height="%d" fill="#%02x%02x%02x"/>'
                         % (ORIGIN + c * TILE, ORIGIN + r * TILE, TILE, TILE, g, g, g))
    points = " ".join("%d,%d" % p for p in CURVE)
    parts.append('  <polyline points="%s" fill="none" stroke="#%02x%02x%02x" stroke-width="%g" '
                 'stroke-linecap="round" stroke-linejoin="round"/>' % ((points,) + CURVE_RGB + (WIDTH,)))
    parts.append("</svg>")
    return "\n".join(parts) + "\n"


def distance(px, py, a, b):
    (ax, ay), (bx, by) = a, b
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / float(dx * dx + dy * dy)))
    return ((px - ax - t * dx) ** 2 + (py - ay - t * dy) ** 2) ** 0.5


def colour_at(x, y):
    """RGBA of the point (x, y) of the 48 x 48 picture."""
    corner = 7.0
    cx = min(max(x, 1 + corner), 47 - corner)
    cy = min(max(y, 1 + corner), 47 - corner)
    if not (1 <= x <= 47 and 1 <= y <= 47) or (x - cx) ** 2 + (y - cy) ** 2 > corner ** 2:
        return (0, 0, 0, 0)
    if min(distance(x, y, CURVE[i], CURVE[i + 1]) for i in range(len(CURVE) - 1)) <= WIDTH / 2:
        return CURVE_RGB + (255,)
    c, r = int((x - ORIGIN) // TILE), int((y - ORIGIN) // TILE)
    if x >= ORIGIN and y >= ORIGIN and c < 4 and r < 4:
        g = GREYS[r][c]
        return (g, g, g, 255)
    return GROUND + (255,)


def png():
    sub = 4  # samples per pixel side, averaged
    rows = b""
    for y in range(SIZE):
        row = bytearray([0])
        for x in range(SIZE):
            acc = [0, 0, 0, 0]
            for j in range(sub):
                for i in range(sub):
                    rgba = colour_at(x + (i + 0.5) / sub, y + (j + 0.5) / sub)
                    for k in range(3):
                        acc[k] += rgba[k] * rgba[3]
                    acc[3] += rgba[3]
            a = acc[3]
            row += bytes([acc[k] // a if a else 0 for k in range(3)] + [a // (sub * sub)])
        rows += bytes(row)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


with open(os.path.join(HERE, "hicolor/scalable/apps/tamotool.svg"), "w") as f:
    f.write(svg())
with open(os.path.join(HERE, "hicolor/48x48/apps/tamotool.png"), "wb") as f:
    f.write(png())
