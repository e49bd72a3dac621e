#!/usr/bin/env python3
"""Draws Kestrel's window artwork into this folder.

Writes the application icon in several sizes (PNG with alpha) and the two
96x24 toolbar strips (24-bit BMP, magenta = transparent): back, forward,
stop, refresh. Pure Python, so it runs anywhere python3 does:

    python3 ui/resources/draw_artwork.py
"""

import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
MAGENTA = (255, 0, 255)
# Edge pixels of the strips are blended with the toolbar's usual light grey
# instead of magenta, so the key colour never bleeds into a fringe.
TOOLBAR_GREY = (236, 236, 236)
SAMPLES = 4  # per axis, for smooth edges


def hex_colour(text):
    return tuple(int(text[i:i + 2], 16) for i in (1, 3, 5))


# ---------------------------------------------------------------- geometry

def inside_polygon(points, x, y):
    inside = False
    j = len(points) - 1
    for i, (xi, yi) in enumerate(points):
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


def segment_distance(x, y, a, b):
    ax, ay = a
    bx, by = b
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / length2))
    px, py = ax + t * dx, ay + t * dy
    return math.hypot(x - px, y - py)


def edge_distance(points, x, y):
    return min(segment_distance(x, y, points[i - 1], points[i]) for i in range(len(points)))


def polygon(points):
    return lambda x, y: inside_polygon(points, x, y)


def polygon_inner(points, border):
    return lambda x, y: inside_polygon(points, x, y) and edge_distance(points, x, y) > border


def thick_line(a, b, half_width):
    return lambda x, y: segment_distance(x, y, a, b) <= half_width


def ring(cx, cy, inner, outer, gap_from, gap_to):
    """A ring with the angles gap_from..gap_to (degrees, clockwise from
    east, y pointing down) left open."""
    def test(x, y):
        r = math.hypot(x - cx, y - cy)
        if r < inner or r > outer:
            return False
        angle = math.degrees(math.atan2(y - cy, x - cx)) % 360
        return not (gap_from <= angle <= gap_to)
    return test


def rounded_square(x0, y0, x1, y1, radius):
    def test(x, y):
        if x < x0 or x > x1 or y < y0 or y > y1:
            return False
        cx = min(max(x, x0 + radius), x1 - radius)
        cy = min(max(y, y0 + radius), y1 - radius)
        return math.hypot(x - cx, y - cy) <= radius
    return test


def circle(cx, cy, radius):
    return lambda x, y: math.hypot(x - cx, y - cy) <= radius


# ---------------------------------------------------------------- raster

def render(layers, size, scale):
    """layers: list of (colour or colour function, shape) drawn bottom to
    top in a design space of `scale` units; returns rows of
    (r, g, b, coverage)."""
    factor = scale / size
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            total = [0, 0, 0]
            hits = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) * factor
                    y = (py + (sy + 0.5) / SAMPLES) * factor
                    colour = None
                    for paint, shape in layers:
                        if shape(x, y):
                            colour = paint(x, y) if callable(paint) else paint
                    if colour is not None:
                        hits += 1
                        for c in range(3):
                            total[c] += colour[c]
            count = SAMPLES * SAMPLES
            if hits:
                row.append((total[0] / hits, total[1] / hits, total[2] / hits, hits / count))
            else:
                row.append((0, 0, 0, 0.0))
        rows.append(row)
    return rows


def keyed(pixel):
    r, g, b, coverage = pixel
    if coverage < 0.3:
        return MAGENTA
    if coverage >= 0.75:
        return (round(r), round(g), round(b))
    return tuple(round(v * coverage + grey * (1 - coverage)) for v, grey in zip((r, g, b), TOOLBAR_GREY))


def write_png(path, rows):
    raw = bytearray()
    for row in rows:
        raw.append(0)
        for r, g, b, coverage in row:
            raw += bytes((round(r), round(g), round(b), round(coverage * 255)))
    height = len(rows)
    width = len(rows[0])

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)))
        out.write(chunk(b"IDAT", zlib.compress(bytes(raw), 9)))
        out.write(chunk(b"IEND", b""))


def write_bmp(path, rows):
    height = len(rows)
    width = len(rows[0])
    stride = (width * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):  # BMP rows run bottom-up
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += b"\0" * (stride - len(line))
        pixels += line
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, "wb") as out:
        out.write(header + info + pixels)


# ---------------------------------------------------------------- pictures

def outlined(points, fill, line):
    return [(line, polygon(points)), (fill, polygon_inner(points, 1.3))]


def back_arrow(fill, line):
    points = [(2.5, 12), (11.5, 3), (11.5, 8), (21.5, 8), (21.5, 16), (11.5, 16), (11.5, 21)]
    return outlined(points, fill, line)


def forward_arrow(fill, line):
    points = [(24 - x, y) for x, y in [(2.5, 12), (11.5, 3), (11.5, 8), (21.5, 8), (21.5, 16), (11.5, 16), (11.5, 21)]]
    return outlined(points, fill, line)


def stop_sign(fill, line):
    octagon = [(12 + 10 * math.cos(math.radians(22.5 + 45 * k)),
                12 + 10 * math.sin(math.radians(22.5 + 45 * k))) for k in range(8)]
    white = (255, 255, 255)
    return outlined(octagon, fill, line) + [
        (white, thick_line((8, 8), (16, 16), 1.6)),
        (white, thick_line((16, 8), (8, 16), 1.6)),
    ]


def refresh_arrow(fill, line):
    head = [(14.0, 1.5), (21.5, 6.5), (13.0, 10.5)]
    return [
        (line, ring(12, 13, 4.6, 9.4, 280, 345)),
        (fill, ring(12, 13, 5.8, 8.2, 275, 350)),
        (line, polygon(head)),
        (fill, polygon_inner(head, 1.2)),
    ]


BUTTONS = [back_arrow, forward_arrow, stop_sign, refresh_arrow]
NORMAL_COLOURS = [("#2f6db5", "#1b4272"), ("#2f6db5", "#1b4272"), ("#c62828", "#7f1717"), ("#2e7d32", "#1b4d1e")]
HOT_COLOURS = [("#4a9bf0", "#1f5fa6"), ("#4a9bf0", "#1f5fa6"), ("#ef4b43", "#a01f1f"), ("#45b04b", "#23692a")]


def strip(colours):
    pictures = []
    for draw, (fill, line) in zip(BUTTONS, colours):
        pictures.append(render(draw(hex_colour(fill), hex_colour(line)), 24, 24))
    rows = []
    for y in range(24):
        rows.append([keyed(pixel) for picture in pictures for pixel in picture[y]])
    return rows


def sky(x, y):
    top, bottom = hex_colour("#5db3ea"), hex_colour("#1c5a96")
    t = y / 100.0
    return tuple(a + (b - a) * t for a, b in zip(top, bottom))


BIRD = [(10, 41), (28, 36), (42, 44), (50, 40), (58, 44), (72, 36), (90, 41),
        (66, 52), (56, 58), (50, 74), (44, 58), (34, 52)]


def app_icon():
    return [
        (sky, rounded_square(4, 4, 96, 96, 18)),
        (hex_colour("#f3b544"), circle(74, 24, 9)),
        (hex_colour("#ffffff"), polygon(BIRD)),
        (hex_colour("#c8732a"), polygon([(50, 47), (55, 53), (50, 66), (45, 53)])),
    ]


def main():
    write_bmp(os.path.join(HERE, "navigation-normal.bmp"), strip(NORMAL_COLOURS))
    write_bmp(os.path.join(HERE, "navigation-hot.bmp"), strip(HOT_COLOURS))
    for size in (16, 24, 32, 48, 64, 128, 256):
        write_png(os.path.join(HERE, "kestrel-%d.png" % size), render(app_icon(), size, 100))


if __name__ == "__main__":
    main()
