#!/usr/bin/env python3
"""Draws the workbench's tool-bar and menu icons and writes them as PNG files.

Standard library only: shapes are signed distance functions in pixel units, and each pixel's
coverage is taken from its distance to the shape's edge, which anti-aliases every outline
without supersampling. All icons share one palette and one outline width so that they read as
a set at 16 and 24 pixels.

Usage:
    tools/make_icons.py [OUTDIR]            (default: resources/icons beside this script)
    tools/make_icons.py --preview FILE.png  (one sheet of every icon at 48, 24 and 16 px)
"""

import math
import os
import struct
import sys
import zlib

SIZE = 48
STROKE = 2.5

# The palette.
OUTLINE = (44, 62, 80)
WHITE = (255, 255, 255)
PAPER = (250, 251, 252)
BLUE = (52, 120, 198)
LIGHT_BLUE = (206, 226, 247)
GREEN = (46, 160, 80)
LIGHT_GREEN = (120, 196, 110)
YELLOW = (246, 196, 82)
DARK_YELLOW = (222, 158, 44)
RED = (214, 69, 65)
STEEL = (200, 210, 220)
TAN = (226, 184, 120)
SUN = (250, 210, 60)


# ---- Signed distance functions: negative inside, positive outside, in pixels -----------


def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def rounded_rect(x0, y0, x1, y1, r):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r

    def f(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - r

    return f


def polygon(points, r=0.0):
    """Exact distance to a simple polygon; r > 0 rounds it (the points are the inset outline)."""
    n = len(points)

    def f(x, y):
        vx, vy = points[0]
        d = (x - vx) ** 2 + (y - vy) ** 2
        s = 1.0
        j = n - 1
        for i in range(n):
            ix, iy = points[i]
            jx, jy = points[j]
            ex, ey = jx - ix, jy - iy
            wx, wy = x - ix, y - iy
            t = max(0.0, min(1.0, (wx * ex + wy * ey) / (ex * ex + ey * ey)))
            bx, by = wx - ex * t, wy - ey * t
            d = min(d, bx * bx + by * by)
            c1, c2, c3 = y >= iy, y < jy, ex * wy > ey * wx
            if (c1 and c2 and c3) or not (c1 or c2 or c3):
                s = -s
            j = i
        return s * math.sqrt(d) - r

    return f


def segment(ax, ay, bx, by, width):
    """A line of the given width with round caps."""
    ex, ey = bx - ax, by - ay
    ll = ex * ex + ey * ey

    def f(x, y):
        wx, wy = x - ax, y - ay
        t = max(0.0, min(1.0, (wx * ex + wy * ey) / ll))
        return math.hypot(wx - ex * t, wy - ey * t) - width / 2

    return f


def point_on(cx, cy, r, deg):
    a = math.radians(deg)
    return cx + r * math.cos(a), cy - r * math.sin(a)


def arc(cx, cy, r, start, sweep, width):
    """An arc with round caps, counter-clockwise on screen from `start` degrees by `sweep`."""
    ends = [point_on(cx, cy, r, start), point_on(cx, cy, r, start + sweep)]

    def f(x, y):
        a = math.degrees(math.atan2(cy - y, x - cx))
        if (a - start) % 360.0 <= sweep:
            return abs(math.hypot(x - cx, y - cy) - r) - width / 2
        return min(math.hypot(x - ex, y - ey) for ex, ey in ends) - width / 2

    return f


def arc_head(cx, cy, r, start, sweep, length, half_width):
    """The triangle that ends an arc drawn by arc(), pointing along its direction of travel."""
    end = start + sweep
    ex, ey = point_on(cx, cy, r, end)
    a = math.radians(end)
    tx, ty = -math.sin(a), -math.cos(a)  # tangent for increasing angle
    nx, ny = math.cos(a), -math.sin(a)  # outward normal
    back = 0.2 * length
    return polygon(
        [
            (ex + tx * length, ey + ty * length),
            (ex - tx * back + nx * half_width, ey - ty * back + ny * half_width),
            (ex - tx * back - nx * half_width, ey - ty * back - ny * half_width),
        ]
    )


def union(*shapes):
    return lambda x, y: min(s(x, y) for s in shapes)


def intersect(*shapes):
    return lambda x, y: max(s(x, y) for s in shapes)


def grow(shape, amount):
    return lambda x, y: shape(x, y) - amount


# ---- The canvas ------------------------------------------------------------------------


class Canvas:
    def __init__(self, size=SIZE):
        self.size = size
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(size * size)]  # premultiplied RGBA

    def fill(self, shape, colour, alpha=1.0):
        r, g, b = (c / 255.0 for c in colour)
        for y in range(self.size):
            for x in range(self.size):
                cover = 0.5 - shape(x + 0.5, y + 0.5)
                if cover <= 0.0:
                    continue
                a = min(cover, 1.0) * alpha
                p = self.px[y * self.size + x]
                k = 1.0 - a
                p[0] = r * a + p[0] * k
                p[1] = g * a + p[1] * k
                p[2] = b * a + p[2] * k
                p[3] = a + p[3] * k

    def draw(self, shape, colour, outline=OUTLINE, stroke=STROKE):
        """Fills a shape and strokes its edge, half the stroke inside and half outside."""
        if outline is not None:
            self.fill(grow(shape, stroke / 2), outline)
            self.fill(grow(shape, -stroke / 2), colour)
        else:
            self.fill(shape, colour)

    def rgba_rows(self):
        rows = []
        for y in range(self.size):
            row = bytearray()
            for x in range(self.size):
                r, g, b, a = self.px[y * self.size + x]
                if a <= 0.0:
                    row += b"\0\0\0\0"
                    continue
                row += bytes(
                    int(round(min(1.0, max(0.0, v)) * 255)) for v in (r / a, g / a, b / a, a)
                )
            rows.append(bytes(row))
        return rows


def downscale(rows, size, factor_size):
    """Area-average a square RGBA image to factor_size (premultiplied, as a toolkit would)."""
    out = []
    scale = size / factor_size
    for oy in range(factor_size):
        row = bytearray()
        for ox in range(factor_size):
            acc = [0.0] * 4
            area = 0.0
            y0, y1 = oy * scale, (oy + 1) * scale
            x0, x1 = ox * scale, (ox + 1) * scale
            for y in range(int(y0), min(size, int(math.ceil(y1)))):
                wy = min(y + 1, y1) - max(y, y0)
                for x in range(int(x0), min(size, int(math.ceil(x1)))):
                    w = wy * (min(x + 1, x1) - max(x, x0))
                    r, g, b, a = rows[y][4 * x : 4 * x + 4]
                    al = a / 255.0
                    acc[0] += w * r * al
                    acc[1] += w * g * al
                    acc[2] += w * b * al
                    acc[3] += w * al
                    area += w
            a = acc[3] / area
            if a <= 0:
                row += b"\0\0\0\0"
            else:
                row += bytes(
                    [int(round(acc[i] / acc[3])) for i in range(3)] + [int(round(a * 255))]
                )
        out.append(bytes(row))
    return out


def write_png(path, rows, width, height):
    def chunk(tag, data):
        body = tag + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = b"".join(b"\0" + r for r in rows)
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


# ---- The icons -------------------------------------------------------------------------


def folder_new(c):
    # An open folder: the back with its tab, and the front flap tilted open.
    back = union(rounded_rect(5, 10, 21, 18, 2), rounded_rect(5, 14, 40, 40, 2.5))
    c.draw(back, DARK_YELLOW)
    c.fill(rounded_rect(9, 18, 36, 30, 1), PAPER)
    c.draw(polygon([(13, 23), (45, 23), (39, 40), (5, 40)], 1.0), YELLOW)


def picture(c, x0, y0, x1, y1):
    frame = rounded_rect(x0, y0, x1, y1, 2.5)
    c.draw(frame, LIGHT_BLUE)
    inner = grow(frame, -STROKE / 2)
    c.fill(intersect(inner, circle(x1 - 10, y0 + 9, 4)), SUN)
    hills = polygon(
        [(x0, y1), (x0 + 10, y1 - 15), (x0 + 17, y1 - 8), (x0 + 22, y1 - 12), (x1, y1 - 2), (x1, y1)]
    )
    c.fill(intersect(inner, hills), GREEN)


def img_reopen(c):
    picture(c, 3, 5, 37, 33)
    # A reload arrow over the lower right corner.
    c.draw(circle(34, 34, 12), WHITE)
    ring = union(arc(34, 34, 7, 110, 270, 3.5), arc_head(34, 34, 7, 110, 270, 6, 5.5))
    c.fill(ring, BLUE)


def archive(c):
    # A storage box: the lid, the body and its handle slot, with an arrow going in.
    c.draw(rounded_rect(10, 20, 38, 44, 2), TAN)
    c.draw(rounded_rect(6, 14, 42, 22, 2), DARK_YELLOW)
    c.fill(rounded_rect(18, 27, 30, 32, 2.5), OUTLINE)
    arrow = union(
        rounded_rect(20.5, 2, 27.5, 9, 1), polygon([(15.5, 8), (32.5, 8), (24, 16)], 0.5)
    )
    c.draw(arrow, BLUE, stroke=2)


def save(c):
    # A diskette: the body with one cut corner, the metal shutter and the paper label.
    c.draw(polygon([(7, 7), (35, 7), (41, 13), (41, 41), (7, 41)], 1.5), BLUE)
    c.draw(rounded_rect(14, 5.5, 32, 17, 1), STEEL, stroke=2)
    c.fill(rounded_rect(25, 8, 29, 14.5, 0.8), OUTLINE)
    c.draw(rounded_rect(12, 24, 36, 42.5, 1.5), PAPER, stroke=2)
    for y in (30, 35):
        c.fill(segment(16, y, 32, y, 2), LIGHT_BLUE)


def run(c):
    c.draw(circle(24, 24, 19), GREEN)
    c.fill(polygon([(19.5, 15), (34, 24), (19.5, 33)], 1.5), WHITE)


def cut(c):
    # Scissors: two blades crossing at a pivot, and the finger rings.
    blade_a = union(segment(18.5, 27, 33, 5, 5))
    blade_b = union(segment(29.5, 27, 15, 5, 5))
    c.draw(blade_b, STEEL, stroke=2)
    c.draw(blade_a, STEEL, stroke=2)
    c.fill(circle(24, 19, 1.8), OUTLINE)
    for cx in (15, 33):
        ring = lambda x, y, cx=cx: abs(math.hypot(x - cx, y - 35) - 6.5) - 2.5
        c.draw(ring, RED, stroke=2)


def sheet(c, x0, y0, x1, y1, lines):
    c.draw(rounded_rect(x0, y0, x1, y1, 2), PAPER)
    for i in range(lines):
        y = y0 + 8 + 5 * i
        c.fill(segment(x0 + 5, y, x1 - 5 - (4 if i == lines - 1 else 0), y, 2.2), BLUE)


def copy(c):
    sheet(c, 5, 4, 29, 33, 0)
    sheet(c, 17, 14, 42, 44, 5)


def paste(c):
    # A clipboard with its clip, and a sheet laid on it.
    c.draw(rounded_rect(6, 8, 36, 44, 2.5), TAN)
    c.draw(rounded_rect(14, 4, 28, 12, 2), STEEL, stroke=2)
    sheet(c, 20, 18, 43, 45, 4)


def delete(c):
    # A waste bin: lid with handle, a tapering body and its ribs.
    c.draw(rounded_rect(18, 4, 30, 11, 2), RED, stroke=2)
    c.draw(polygon([(11, 15), (37, 15), (35, 43), (13, 43)], 1), RED)
    c.draw(rounded_rect(7, 9, 41, 16, 2), RED)
    for x0, x1 in ((18, 18.6), (24, 24), (30, 29.4)):
        c.fill(segment(x0, 21, x1, 37, 2.5), WHITE, alpha=0.85)


def view(c):
    # An eye: the almond is where two large circles overlap.
    r, k = 22.7, 10.7
    almond = intersect(circle(24, 24 + k, r), circle(24, 24 - k, r))
    c.draw(almond, WHITE)
    iris = intersect(grow(almond, -STROKE / 2), circle(24, 24, 8.5))
    c.fill(iris, BLUE)
    c.fill(circle(24, 24, 3.8), OUTLINE)
    c.fill(circle(21, 21, 1.9), WHITE)


def rerun(c):
    # A circular arrow around a small play mark: run the same thing again.
    loop = union(arc(24, 24, 15, 120, 280, 5), arc_head(24, 24, 15, 120, 280, 9, 8))
    c.draw(loop, GREEN, stroke=2)
    c.fill(polygon([(21, 17.5), (31, 24), (21, 30.5)], 1.2), GREEN)


ICONS = {
    "folder_new": folder_new,
    "img_reopen": img_reopen,
    "archive": archive,
    "save": save,
    "run": run,
    "cut": cut,
    "copy": copy,
    "paste": paste,
    "delete": delete,
    "view": view,
    "rerun": rerun,
}


def render(draw):
    c = Canvas()
    draw(c)
    return c.rgba_rows()


def preview(path):
    """One sheet on a light background: each icon at 48, 24 and 16 px, enlarged 2x."""
    zoom, pad = 2, 8
    cell = (SIZE + 24 + 16 + 4 * pad) * zoom
    height = (SIZE + 2 * pad) * zoom
    width = cell
    sheet_rows = [bytearray(b"\xee\xee\xee\xff" * width) for _ in range(height * len(ICONS))]
    for n, draw in enumerate(ICONS.values()):
        full = render(draw)
        x = pad
        for size, rows in ((SIZE, full), (24, downscale(full, SIZE, 24)), (16, downscale(full, SIZE, 16))):
            for y in range(size):
                for xx in range(size):
                    r, g, b, a = rows[y][4 * xx : 4 * xx + 4]
                    al = a / 255.0
                    colour = bytes(int(round(v * al + 0xEE * (1 - al))) for v in (r, g, b)) + b"\xff"
                    for dy in range(zoom):
                        row = sheet_rows[n * height + (pad + y) * zoom + dy]
                        for dx in range(zoom):
                            o = 4 * ((x + xx) * zoom + dx)
                            row[o : o + 4] = colour
            x += size + pad
    write_png(path, [bytes(r) for r in sheet_rows], width, len(sheet_rows))


def main(argv):
    if len(argv) == 3 and argv[1] == "--preview":
        preview(argv[2])
        return 0
    here = os.path.dirname(os.path.abspath(__file__))
    out = argv[1] if len(argv) > 1 else os.path.join(here, "..", "resources", "icons")
    os.makedirs(out, exist_ok=True)
    for name, draw in ICONS.items():
        write_png(os.path.join(out, name + ".png"), render(draw), SIZE, SIZE)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
