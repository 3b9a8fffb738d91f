#!/usr/bin/env python3
"""Draws the toolbar, window and tray icons as small PNG files (no third-party modules).

Each icon is a list of filled shapes on a 16 x 16 grid, rendered with 4 x 4 supersampling so
that slanted edges come out smooth, at 16 pixels and at 32 for screens of twice the density
(NAME@2x.png, which Qt picks by itself), and again into dark/ with light outlines for a dark
theme. Run from this folder; the PNGs are committed.
"""
import os
import math
import struct
import sys
import zlib

SS = 4  # supersampling factor

DARK = (40, 40, 48, 255)
WHITE = (255, 255, 255, 255)
PAPER = (250, 250, 245, 255)
BLUE = (40, 100, 200, 255)
LIGHTBLUE = (120, 170, 235, 255)
GREEN = (30, 150, 50, 255)
RED = (205, 40, 40, 255)
YELLOW = (240, 200, 60, 255)
ORANGE = (235, 130, 30, 255)
GREY = (120, 120, 130, 255)


def inside_polygon(x, y, pts):
    inside = False
    j = len(pts) - 1
    for i in range(len(pts)):
        xi, yi = pts[i]
        xj, yj = pts[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


class Canvas:
    def __init__(self, size, grid=16):
        self.size = size
        self.k = size / grid  # pixels per grid unit
        n = size * SS
        self.px = [[(0, 0, 0, 0)] * n for _ in range(n)]

    def fill(self, test, colour):
        n = self.size * SS
        for sy in range(n):
            y = (sy + 0.5) / SS / self.k
            row = self.px[sy]
            for sx in range(n):
                if test((sx + 0.5) / SS / self.k, y):
                    row[sx] = colour

    def polygon(self, pts, colour):
        self.fill(lambda x, y: inside_polygon(x, y, pts), colour)

    def rect(self, x0, y0, x1, y1, colour):
        self.fill(lambda x, y: x0 <= x < x1 and y0 <= y < y1, colour)

    def frame(self, x0, y0, x1, y1, w, edge, face):
        self.rect(x0, y0, x1, y1, edge)
        self.rect(x0 + w, y0 + w, x1 - w, y1 - w, face)

    def circle(self, cx, cy, r, colour):
        self.fill(lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r, colour)

    def ring(self, cx, cy, r0, r1, a0, a1, colour):
        def test(x, y):
            d = math.hypot(x - cx, y - cy)
            a = math.degrees(math.atan2(cy - y, x - cx))
            return r0 <= d <= r1 and a0 <= a <= a1
        self.fill(test, colour)

    def line(self, x0, y0, x1, y1, w, colour):
        dx, dy = x1 - x0, y1 - y0
        length = math.hypot(dx, dy)
        nx, ny = -dy / length * w / 2, dx / length * w / 2
        self.polygon([(x0 + nx, y0 + ny), (x1 + nx, y1 + ny), (x1 - nx, y1 - ny),
                      (x0 - nx, y0 - ny)], colour)

    def pixels(self):
        out = []
        for y in range(self.size):
            row = []
            for x in range(self.size):
                acc = [0, 0, 0, 0]
                for sy in range(SS):
                    for sx in range(SS):
                        r, g, b, a = self.px[y * SS + sy][x * SS + sx]
                        acc[0] += r * a
                        acc[1] += g * a
                        acc[2] += b * a
                        acc[3] += a
                alpha = acc[3]
                if alpha == 0:
                    row.append((0, 0, 0, 0))
                else:
                    row.append((acc[0] // alpha, acc[1] // alpha, acc[2] // alpha,
                                alpha // (SS * SS)))
            out.append(row)
        return out


def write_png(path, rows):
    height, width = len(rows), len(rows[0])
    raw = b"".join(b"\x00" + bytes(c for px in row for c in px) for row in rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


# Shared parts -------------------------------------------------------------------------------

def page(c):
    c.polygon([(2.5, 0.5), (10, 0.5), (13.5, 4), (13.5, 15.5), (2.5, 15.5)], DARK)
    c.polygon([(3.5, 1.5), (9.5, 1.5), (12.5, 4.5), (12.5, 14.5), (3.5, 14.5)], PAPER)
    c.polygon([(9.5, 1.5), (12.5, 4.5), (9.5, 4.5)], GREY)


def note(c):
    c.circle(5, 12, 2.6, DARK)
    c.rect(6.6, 2, 8.1, 12, DARK)
    c.polygon([(6.6, 1.5), (12, 3.5), (12, 6.5), (6.6, 4.5)], DARK)


def badge_plus(c):
    c.circle(12, 12, 4, WHITE)
    c.circle(12, 12, 3.4, GREEN)
    c.rect(9.8, 11.3, 14.2, 12.7, WHITE)
    c.rect(11.3, 9.8, 12.7, 14.2, WHITE)


def badge_minus(c):
    c.circle(12, 12, 4, WHITE)
    c.circle(12, 12, 3.4, RED)
    c.rect(9.8, 11.3, 14.2, 12.7, WHITE)


def screen(c):
    c.frame(0.5, 1.5, 13.5, 10.5, 1, DARK, LIGHTBLUE)
    c.rect(5, 10.5, 9, 12.5, DARK)
    c.rect(3, 12.5, 11, 13.5, DARK)


def speaker(c):
    c.polygon([(1, 5.5), (4, 5.5), (8, 2), (8, 14), (4, 10.5), (1, 10.5)], DARK)
    c.polygon([(2, 6.5), (4.4, 6.5), (7, 4.2), (7, 11.8), (4.4, 9.5), (2, 9.5)], GREY)


# Icons --------------------------------------------------------------------------------------

def icon_new(c):
    page(c)
    c.polygon([(12, 7.5), (13.1, 10.4), (16, 10.5), (13.7, 12.3), (14.6, 15.2), (12, 13.5),
               (9.4, 15.2), (10.3, 12.3), (8, 10.5), (10.9, 10.4)], YELLOW)


def icon_open(c):
    c.polygon([(0.5, 3), (5.5, 3), (7, 4.5), (13.5, 4.5), (13.5, 14), (0.5, 14)], DARK)
    c.polygon([(1.5, 4), (5, 4), (6.5, 5.5), (12.5, 5.5), (12.5, 13), (1.5, 13)], YELLOW)
    c.polygon([(3, 7.5), (15.8, 7.5), (13.5, 14), (0.5, 14)], DARK)
    c.polygon([(3.7, 8.5), (14.4, 8.5), (12.8, 13), (2, 13)], ORANGE)


def icon_delete(c):
    page(c)
    c.line(6, 6, 14, 14, 2.4, RED)
    c.line(14, 6, 6, 14, 2.4, RED)


def icon_down(c):
    c.rect(5.5, 1, 10.5, 8.5, BLUE)
    c.polygon([(1.5, 8), (14.5, 8), (8, 15)], BLUE)


def icon_up(c):
    c.rect(5.5, 7.5, 10.5, 15, BLUE)
    c.polygon([(1.5, 8), (14.5, 8), (8, 1)], BLUE)


def icon_add_file(c):
    note(c)
    badge_plus(c)


def icon_remove_file(c):
    note(c)
    badge_minus(c)


def icon_add_destination(c):
    screen(c)
    badge_plus(c)


def icon_remove_destination(c):
    screen(c)
    badge_minus(c)


def icon_start(c):
    c.polygon([(3, 1), (14.5, 8), (3, 15)], DARK)
    c.polygon([(4, 2.8), (12.6, 8), (4, 13.2)], GREEN)


def icon_stop(c):
    c.frame(2, 2, 14, 14, 1, DARK, RED)


def icon_convert(c):
    c.frame(0.5, 3.5, 6.5, 12.5, 1, DARK, LIGHTBLUE)
    c.frame(11.5, 3.5, 15.5, 12.5, 1, DARK, YELLOW)
    c.rect(6.5, 7, 9, 9, ORANGE)
    c.polygon([(8.5, 4.5), (12, 8), (8.5, 11.5)], ORANGE)


def icon_volume(c):
    speaker(c)
    c.ring(8, 8, 3.2, 4.4, -50, 50, BLUE)
    c.ring(8, 8, 5.6, 6.8, -50, 50, BLUE)


def icon_page(c):
    # A microphone on its stand.
    c.rect(4.5, 1, 11.5, 10, DARK)
    c.circle(8, 4.5, 3.5, DARK)
    c.circle(8, 7, 3.5, DARK)
    c.circle(8, 4.5, 2.5, GREY)
    c.circle(8, 7, 2.5, GREY)
    c.rect(5.5, 4.5, 10.5, 7, GREY)
    c.ring(8, 7, 4.3, 5.4, -180, 0, BLUE)
    c.rect(7.4, 12, 8.6, 14.5, BLUE)
    c.rect(4.5, 14, 11.5, 15.3, BLUE)


def icon_app(c):
    # A broadcast mast: a dot with waves on both sides, on a blue disc.
    s = c.size / 16.0
    c.circle(8 * s, 8 * s, 7.8 * s, BLUE)
    c.circle(8 * s, 8 * s, 1.6 * s, WHITE)
    for r0, r1 in ((3.2, 4.3), (5.4, 6.5)):
        c.ring(8 * s, 8 * s, r0 * s, r1 * s, -45, 45, WHITE)
        c.fill(lambda x, y, r0=r0, r1=r1: r0 * s <= math.hypot(x - 8 * s, y - 8 * s) <= r1 * s
               and abs(math.degrees(math.atan2(8 * s - y, 8 * s - x))) <= 45, WHITE)


ICONS = {
    "new.png": icon_new,
    "open.png": icon_open,
    "delete.png": icon_delete,
    "movedown.png": icon_down,
    "moveup.png": icon_up,
    "addfile.png": icon_add_file,
    "removefile.png": icon_remove_file,
    "adddestination.png": icon_add_destination,
    "removedestination.png": icon_remove_destination,
    "start.png": icon_start,
    "stop.png": icon_stop,
    "convert.png": icon_convert,
    "volume.png": icon_volume,
    "page.png": icon_page,
}


def scaled(draw, size, grid=16):
    c = Canvas(size, grid)
    draw(c)
    return c


def draw_set(folder):
    for name, draw in ICONS.items():
        write_png(os.path.join(folder, name), scaled(draw, 16).pixels())
        base, ext = os.path.splitext(name)
        write_png(os.path.join(folder, base + "@2x" + ext), scaled(draw, 32).pixels())


def main():
    global DARK, GREY
    draw_set(".")
    for size in (16, 32):
        write_png("sonvex%d.png" % size, scaled(icon_app, size, size).pixels())
    # On a dark window the outlines and the greys turn light; the colours stay.
    DARK = (225, 225, 232, 255)
    GREY = (150, 150, 160, 255)
    os.makedirs("dark", exist_ok=True)
    draw_set("dark")
    return 0


if __name__ == "__main__":
    sys.exit(main())
