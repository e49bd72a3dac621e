#!/usr/bin/env python3
"""Draws the demo's button pictures: one hot (full colour) and one cool
(quiet, greyed) 24 x 24 BMP per lesson, 24-bit, magenta background, which
the browser shows as transparent. Run it again after changing a drawing:

    python3 demo/make_pictures.py
"""
import math
import os
import struct

SIZE = 24
MAGENTA = (255, 0, 255)


class Canvas:
    def __init__(self):
        self.pixels = [[MAGENTA] * SIZE for _ in range(SIZE)]

    def put(self, x, y, colour):
        if 0 <= x < SIZE and 0 <= y < SIZE:
            self.pixels[y][x] = colour

    def rect(self, x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.put(x, y, colour)

    def ellipse(self, cx, cy, rx, ry, colour):
        for y in range(SIZE):
            for x in range(SIZE):
                if ((x + 0.5 - cx) / rx) ** 2 + ((y + 0.5 - cy) / ry) ** 2 <= 1.0:
                    self.put(x, y, colour)

    def polygon(self, points, colour):
        """Fills the pixels whose centres lie inside the polygon."""
        for y in range(SIZE):
            for x in range(SIZE):
                if inside(points, x + 0.5, y + 0.5):
                    self.put(x, y, colour)

    def line(self, x0, y0, x1, y1, colour, width=1.0):
        for y in range(SIZE):
            for x in range(SIZE):
                if distance_to_segment(x + 0.5, y + 0.5, x0, y0, x1, y1) <= width / 2:
                    self.put(x, y, colour)

    def bmp(self, transform=lambda colour: colour):
        rows = []
        for y in reversed(range(SIZE)):  # BMP rows run bottom-up
            row = b""
            for colour in self.pixels[y]:
                r, g, b = colour if colour == MAGENTA else transform(colour)
                row += bytes((b, g, r))
            rows.append(row)  # 72 bytes: already a multiple of four
        image = b"".join(rows)
        header = b"BM" + struct.pack("<IHHI", 54 + len(image), 0, 0, 54)
        info = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE, 1, 24, 0, len(image), 2835, 2835, 0, 0)
        return header + info + image


def inside(points, x, y):
    result = False
    for (x0, y0), (x1, y1) in zip(points, points[1:] + points[:1]):
        if (y0 > y) != (y1 > y) and x < x0 + (y - y0) * (x1 - x0) / (y1 - y0):
            result = not result
    return result


def distance_to_segment(px, py, x0, y0, x1, y1):
    dx, dy = x1 - x0, y1 - y0
    length = dx * dx + dy * dy
    t = 0.0 if length == 0 else max(0.0, min(1.0, ((px - x0) * dx + (py - y0) * dy) / length))
    return math.hypot(px - (x0 + t * dx), py - (y0 + t * dy))


def cool(colour):
    """The resting look: mostly grey, a hint of the colour, a little lighter."""
    r, g, b = colour
    grey = 0.3 * r + 0.59 * g + 0.11 * b
    mixed = [0.25 * c + 0.75 * grey for c in colour]
    r, g, b = (min(250, int(c * 0.85 + 40)) for c in mixed)
    return (r, g, b)


def house(c):  # 首页
    c.polygon([(12, 2), (23, 12), (20, 12), (20, 22), (4, 22), (4, 12), (1, 12)], (210, 90, 40))
    c.rect(6, 12, 17, 21, (250, 235, 200))
    c.rect(10, 15, 13, 21, (120, 70, 30))
    c.rect(15, 13, 17, 15, (90, 160, 220))


def book(c):  # 语文
    c.polygon([(2, 5), (12, 7), (12, 21), (2, 19)], (200, 40, 40))
    c.polygon([(12, 7), (22, 5), (22, 19), (12, 21)], (200, 40, 40))
    c.polygon([(3, 4), (11, 6), (11, 19), (3, 17)], (255, 252, 240))
    c.polygon([(13, 6), (21, 4), (21, 17), (13, 19)], (255, 252, 240))
    for y in (8, 11, 14):
        c.line(4.5, y, 10, y + 1.3, (90, 90, 110))
        c.line(14, y + 1.3, 19.5, y, (90, 90, 110))
    c.line(12, 6, 12, 20.5, (140, 20, 20), 1.2)


def sums(c):  # 数学
    c.polygon([(3, 2), (21, 2), (22, 3), (22, 21), (21, 22), (3, 22), (2, 21), (2, 3)], (40, 110, 210))
    white = (255, 255, 255)
    c.line(5, 7.5, 10, 7.5, white, 1.6)
    c.line(7.5, 5, 7.5, 10, white, 1.6)
    c.line(14, 7.5, 19, 7.5, white, 1.6)
    c.line(5.2, 14.2, 9.8, 18.8, white, 1.6)
    c.line(9.8, 14.2, 5.2, 18.8, white, 1.6)
    c.line(14, 16.5, 19, 16.5, white, 1.6)
    c.rect(16, 13, 16, 14, white)
    c.rect(16, 19, 16, 20, white)


def speech(c):  # 英语
    c.ellipse(12, 10, 10.5, 8, (40, 160, 90))
    c.polygon([(6, 15), (11, 17), (4, 22)], (40, 160, 90))
    white = (255, 255, 255)
    c.line(8, 15, 12, 4.5, white, 1.7)
    c.line(12, 4.5, 16, 15, white, 1.7)
    c.line(9.5, 11.5, 14.5, 11.5, white, 1.5)


def flask(c):  # 科学
    glass = (120, 140, 160)
    c.polygon([(9, 2), (15, 2), (15, 9), (21, 20), (20, 22), (4, 22), (3, 20), (9, 9)], glass)
    c.polygon([(10, 3), (14, 3), (14, 9.5), (19.5, 20), (19, 21), (5, 21), (4.5, 20), (10, 9.5)], (235, 245, 255))
    c.polygon([(7.3, 14), (16.7, 14), (19.5, 20), (19, 21), (5, 21), (4.5, 20)], (60, 200, 120))
    c.ellipse(10, 17.5, 1.2, 1.2, (200, 255, 220))
    c.ellipse(14, 19, 0.9, 0.9, (200, 255, 220))
    c.rect(8, 1, 16, 2, glass)


def note(c):  # 音乐
    purple = (130, 60, 190)
    c.ellipse(7, 18.5, 4, 3, purple)
    c.ellipse(17, 16.5, 4, 3, purple)
    c.line(10.3, 18, 10.3, 5, purple, 1.8)
    c.line(20.3, 16, 20.3, 3, purple, 1.8)
    c.polygon([(9.4, 4), (21.2, 2), (21.2, 6), (9.4, 8)], purple)


def palette(c):  # 美术
    c.ellipse(12, 12, 11, 9.5, (215, 170, 110))
    c.ellipse(16.5, 16, 2.2, 2.2, MAGENTA)  # the thumb hole
    c.ellipse(7, 9, 2.2, 2.2, (230, 40, 40))
    c.ellipse(12, 6.5, 2.2, 2.2, (250, 200, 30))
    c.ellipse(17, 8.5, 2.2, 2.2, (40, 110, 220))
    c.ellipse(7.5, 15, 2.2, 2.2, (40, 170, 70))


def ball(c):  # 体育
    c.ellipse(12, 12, 10, 10, (240, 120, 30))
    dark = (120, 50, 10)
    c.line(2.5, 12, 21.5, 12, dark, 1.2)
    c.line(12, 2, 12, 22, dark, 1.2)
    # The curved seams: arcs of circles whose centres lie outside the ball.
    for y in range(SIZE):
        for x in range(SIZE):
            on_ball = math.hypot(x + 0.5 - 12, y + 0.5 - 12) <= 9.5
            for centre in (-3.0, 27.0):
                if on_ball and abs(math.hypot(x + 0.5 - centre, y + 0.5 - 12) - 11.5) < 0.6:
                    c.put(x, y, dark)


LESSONS = {"shouye": house, "yuwen": book, "shuxue": sums, "yingyu": speech, "kexue": flask, "yinyue": note, "meishu": palette,
           "tiyu": ball}


def main():
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "pictures")
    os.makedirs(folder, exist_ok=True)
    for name, draw in LESSONS.items():
        canvas = Canvas()
        draw(canvas)
        for look, transform in (("hot", lambda colour: colour), ("cool", cool)):
            with open(os.path.join(folder, f"{name}-{look}.bmp"), "wb") as picture:
                picture.write(canvas.bmp(transform))


if __name__ == "__main__":
    main()
