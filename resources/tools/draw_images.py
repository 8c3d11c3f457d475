#!/usr/bin/env python3
"""Draws the program's tool, menu and window images as PNG files.

Every picture is described once on a 32 x 32 grid of shapes and rendered at
the size needed (32 for tools and icons, 16 for menu items, 48/64 for the
window icon) with 4 x 4 supersampling. Only the standard library is used.

Tool images are opaque on a flat key colour: the program replaces the colour
found at (1, 1) with the toolbar's own. Menu images and icons keep an alpha
channel.

Usage: draw_images.py OUTPUT_FOLDER
"""
import math
import os
import struct
import sys
import zlib

SS = 4  # samples per pixel along each axis
KEY = (240, 240, 240)  # tool background, replaced at run time

OUTLINE = (46, 52, 64)
BLUE = (52, 101, 164)
LIGHT_BLUE = (114, 159, 207)
PALE_BLUE = (200, 220, 240)
RED = (204, 0, 0)
LIGHT_RED = (239, 41, 41)
GREEN = (78, 154, 6)
LIGHT_GREEN = (138, 226, 52)
YELLOW = (252, 220, 40)
ORANGE = (245, 121, 0)
GREY = (136, 138, 133)
DARK_GREY = (85, 87, 83)
LIGHT_GREY = (211, 215, 207)
WHITE = (255, 255, 255)
CYAN = (0, 190, 210)


# ---- shapes: predicates on the 32-unit grid ----------------------------------

def rect(x0, y0, x1, y1, r=0.0):
    def inside(x, y):
        if x < x0 or x > x1 or y < y0 or y > y1:
            return False
        if r <= 0:
            return True
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def ellipse(cx, cy, rx, ry=None):
    ry = rx if ry is None else ry
    return lambda x, y: ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0


def polygon(points):
    def inside(x, y):
        hit = False
        n = len(points)
        for i in range(n):
            xa, ya = points[i]
            xb, yb = points[(i + 1) % n]
            if (ya > y) != (yb > y):
                xc = xa + (y - ya) * (xb - xa) / (yb - ya)
                if x < xc:
                    hit = not hit
        return hit
    return inside


def line(xa, ya, xb, yb, width):
    half = width / 2.0
    dx, dy = xb - xa, yb - ya
    length2 = dx * dx + dy * dy or 1e-9

    def inside(x, y):
        t = max(0.0, min(1.0, ((x - xa) * dx + (y - ya) * dy) / length2))
        px, py = xa + t * dx, ya + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= half * half
    return inside


def minus(a, b):
    return lambda x, y: a(x, y) and not b(x, y)


def both(a, b):
    return lambda x, y: a(x, y) and b(x, y)


def ring(cx, cy, r_out, r_in):
    return minus(ellipse(cx, cy, r_out), ellipse(cx, cy, r_in))


def frame(x0, y0, x1, y1, width, r=0.0):
    return minus(rect(x0, y0, x1, y1, r),
                 rect(x0 + width, y0 + width, x1 - width, y1 - width, max(0.0, r - width)))


# ---- pictures: lists of (shape, colour) painted in order ----------------------

def outlined(shape_outer, shape_inner, fill):
    return [(shape_outer, OUTLINE), (shape_inner, fill)]


def video_camera():
    return (outlined(ellipse(9, 8, 5), ellipse(9, 8, 3.6), LIGHT_GREY)
            + outlined(ellipse(19, 8, 5), ellipse(19, 8, 3.6), LIGHT_GREY)
            + [(ellipse(9, 8, 1.2), OUTLINE), (ellipse(19, 8, 1.2), OUTLINE)]
            + outlined(rect(2, 12, 24, 27, 2.5), rect(3.5, 13.5, 22.5, 25.5, 1.5), BLUE)
            + [(rect(5, 15, 12, 17, 1), LIGHT_BLUE)]
            + outlined(polygon([(22, 16), (31, 11), (31, 28), (22, 23)]),
                       polygon([(23.5, 16.8), (29.6, 13.4), (29.6, 25.6), (23.5, 22.2)]), LIGHT_BLUE))


def playback():
    return (outlined(ellipse(16, 16, 14), ellipse(16, 16, 12.5), GREEN)
            + [(ellipse(16, 14, 10), (100, 180, 30))]
            + outlined(polygon([(11, 7.5), (25, 16), (11, 24.5)]),
                       polygon([(12.5, 10.2), (22.2, 16), (12.5, 21.8)]), WHITE))


def bell():
    body = polygon([(7, 23), (9, 19), (9, 12), (12, 7), (16, 6), (20, 7), (23, 12), (23, 19), (25, 23)])
    inner = polygon([(9.4, 21.8), (10.6, 19.2), (10.6, 12.4), (12.9, 8.6), (16, 7.7), (19.1, 8.6),
                     (21.4, 12.4), (21.4, 19.2), (22.6, 21.8)])
    return ([(ellipse(16, 5, 2), OUTLINE)]
            + outlined(body, inner, YELLOW)
            + [(rect(6, 22, 26, 24.5, 1), OUTLINE), (ellipse(16, 27, 3), OUTLINE), (ellipse(16, 27, 1.7), ORANGE),
               (line(13, 10, 11.8, 17, 1.6), WHITE)])


def stop_alarm():
    return bell() + [(line(5, 5, 27, 27, 5), WHITE), (line(5, 5, 27, 27, 3), RED)]


def record():
    return (outlined(ellipse(16, 16, 12), ellipse(16, 16, 10.5), RED)
            + [(ellipse(16, 16, 7.5), LIGHT_RED), (ellipse(12.5, 12, 2.6), (250, 160, 160))])


def photo_camera():
    return (outlined(rect(10, 5, 21, 11, 1.5), rect(11.5, 6.5, 19.5, 11, 1), DARK_GREY)
            + outlined(rect(2, 9, 30, 27, 3), rect(3.5, 10.5, 28.5, 25.5, 2), GREY)
            + [(rect(5, 12, 9, 14.5, 0.8), YELLOW)]
            + outlined(ellipse(16, 18, 7.5), ellipse(16, 18, 6), DARK_GREY)
            + [(ellipse(16, 18, 4.5), LIGHT_BLUE), (ellipse(14.5, 16.5, 1.5), WHITE)])


def eye():
    almond = both(ellipse(16, 27, 19, 17), ellipse(16, 5, 19, 17))
    almond_in = both(ellipse(16, 27, 17.4, 15.4), ellipse(16, 5, 17.4, 15.4))
    return ([(almond, OUTLINE), (almond_in, WHITE)]
            + [(both(ellipse(16, 16, 7.5), almond_in), BLUE),
               (both(ellipse(16, 16, 5), almond_in), LIGHT_BLUE),
               (ellipse(16, 16, 3), OUTLINE), (ellipse(14.2, 14.2, 1.4), WHITE)])


def detect():
    # An eye with motion marks on both sides.
    marks = [(line(1.5, 11, 1.5, 21, 1.8), ORANGE), (line(30.5, 11, 30.5, 21, 1.8), ORANGE)]
    return marks + eye()


def zones():
    dash = lambda x, y: (int(x + y) // 3) % 2 == 0
    return ([(rect(3, 4, 29, 28, 1), (250, 250, 250))]
            + [(both(frame(3, 4, 22, 20, 2), dash), (0, 150, 170)),
               (frame(12, 13, 29, 28, 2), GREEN),
               (line(16, 19, 16, 23, 1.4), RED), (line(14, 21, 18, 21, 1.4), RED)])


def clock():
    return (outlined(ellipse(16, 16, 14), ellipse(16, 16, 12.5), WHITE)
            + [(ring(16, 16, 12.5, 11), LIGHT_BLUE)]
            + [(line(16 + 9.5 * math.sin(a), 16 - 9.5 * math.cos(a),
                     16 + 11 * math.sin(a), 16 - 11 * math.cos(a), 1.4), OUTLINE)
               for a in [i * math.pi / 6 for i in range(12)]]
            + [(line(16, 16, 16, 7, 2.2), OUTLINE), (line(16, 16, 22, 19, 2.2), OUTLINE),
               (ellipse(16, 16, 2), RED)])


def folder():
    back = polygon([(2, 8), (3, 6), (12, 6), (14, 9), (29, 9), (30, 11), (30, 26), (2, 26)])
    return ([(back, (160, 100, 0)), (rect(3.5, 10.5, 28.5, 24.5), (230, 170, 50))]
            + outlined(polygon([(2, 26), (5.5, 14), (31.5, 14), (28.5, 26)]),
                       polygon([(4, 24.6), (6.6, 15.5), (29.6, 15.5), (27.3, 24.6)]), YELLOW))


def bolt():
    outer = [(18, 1), (5, 18), (14, 18), (11, 31), (27, 12), (17.5, 12), (22, 1)]
    inner = [(18.6, 3), (8.2, 16.6), (15.9, 16.6), (13.7, 26.5), (24.1, 13.4), (15.6, 13.4), (19.8, 3)]
    return outlined(polygon(outer), polygon(inner), ORANGE) + [(line(17, 6, 12, 13, 1.2), YELLOW)]


def compressor():
    strip = rect(8, 2, 24, 30, 1)
    holes = [(rect(9.5, y, 11.5, y + 2, 0.4), WHITE) for y in range(4, 29, 5)]
    holes += [(rect(20.5, y, 22.5, y + 2, 0.4), WHITE) for y in range(4, 29, 5)]
    frames = [(rect(13, 5, 19, 14.5, 0.8), LIGHT_BLUE), (rect(13, 17.5, 19, 27, 0.8), LIGHT_BLUE)]
    arrows = []
    for sign, x in ((1, 0.5), (-1, 31.5)):
        tip = x + sign * 7
        arrows += [(polygon([(x, 12), (tip, 16), (x, 20)]), OUTLINE),
                   (polygon([(x + sign * 1.2, 14.2), (tip - sign * 2.2, 16), (x + sign * 1.2, 17.8)]),
                    LIGHT_GREEN)]
    return [(strip, OUTLINE)] + holes + frames + arrows


def envelope_globe():
    env = (outlined(rect(1, 6, 25, 23, 1.5), rect(2.5, 7.5, 23.5, 21.5, 1), WHITE)
           + [(line(2.5, 8, 13, 16, 1.4), GREY), (line(23.5, 8, 13, 16, 1.4), GREY)])
    globe = (outlined(ellipse(23, 22, 8.5), ellipse(23, 22, 7), LIGHT_BLUE)
             + [(both(minus(ellipse(23, 22, 3.7, 7), ellipse(23, 22, 2.5, 7)), ellipse(23, 22, 7)), BLUE),
                (both(line(15, 22, 31, 22, 1.2), ellipse(23, 22, 7)), BLUE),
                (both(line(15, 18.2, 31, 18.2, 1.0), ellipse(23, 22, 7)), BLUE),
                (both(line(15, 25.8, 31, 25.8, 1.0), ellipse(23, 22, 7)), BLUE)])
    return env + globe


def power():
    gap = polygon([(16, 16), (8, -2), (24, -2)])
    return ([(minus(ring(16, 17, 13, 8.5), gap), OUTLINE),
             (minus(ring(16, 17, 11.6, 9.9), polygon([(16, 16), (7, -4), (25, -4)])), GREEN),
             (rect(13.6, 2, 18.4, 17, 2.3), OUTLINE), (rect(15, 3.4, 17, 15.6, 1), LIGHT_GREEN)])


def app_icon():
    return ([(rect(0.5, 0.5, 31.5, 31.5, 6), (38, 64, 100)), (rect(2, 2, 30, 30, 5), (58, 96, 148))]
            + [(s, c) for s, c in _scaled(video_camera(), 0.8, 3.2, 4.5)]
            + [(ellipse(25.5, 25.5, 5), WHITE), (ellipse(25.5, 25.5, 3.6), RED)])


def _scaled(shapes, k, dx, dy):
    return [((lambda s: lambda x, y: s((x - dx) / k, (y - dy) / k))(s), c) for s, c in shapes]


TOOLS = {
    "tool_camera": video_camera,
    "tool_playback": playback,
    "tool_stop_alarm": stop_alarm,
    "tool_record": record,
    "tool_snapshot": photo_camera,
    "tool_detect": detect,
    "tool_zones": zones,
    "tool_schedule": clock,
    "tool_folders": folder,
    "tool_trigger": bolt,
    "tool_compressor": compressor,
    "tool_accounts": envelope_globe,
    "tool_startup": power,
}

MENUS = {
    "menu_camera": video_camera,
    "menu_playback": playback,
    "menu_folders": folder,
    "menu_compressor": compressor,
    "menu_trigger": bolt,
    "menu_accounts": envelope_globe,
    "menu_startup": power,
    "menu_record": record,
    "menu_snapshot": photo_camera,
    "menu_detect": eye,
    "menu_zones": zones,
    "menu_schedule": clock,
}


# ---- rendering and PNG output -------------------------------------------------

def render(shapes, size, background=None):
    """Returns rows of RGBA tuples; background None leaves it transparent."""
    scale = 32.0 / size
    rows = []
    offsets = [(i + 0.5) / SS for i in range(SS)]
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]  # premultiplied
            for oy in offsets:
                for ox in offsets:
                    x, y = (px + ox) * scale, (py + oy) * scale
                    colour, alpha = (background, 1.0) if background else ((0, 0, 0), 0.0)
                    r, g, b = [c * alpha for c in colour]
                    for shape, c in shapes:
                        if shape(x, y):
                            r, g, b, alpha = c[0], c[1], c[2], 1.0
                    acc[0] += r
                    acc[1] += g
                    acc[2] += b
                    acc[3] += alpha
            n = SS * SS
            a = acc[3] / n
            if a <= 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(int(round(acc[i] / n / a)) for i in range(3)) + (int(round(a * 255)),))
        rows.append(row)
    return rows


def write_png(path, rows, alpha):
    size = len(rows)
    raw = bytearray()
    for row in rows:
        raw.append(0)
        for r, g, b, a in row:
            raw.extend((r, g, b, a) if alpha else (r, g, b))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", size, size, 8, 6 if alpha else 2, 0, 0, 0)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                  + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def keep_key_distinct(rows):
    """A tool pixel that is not background must not pass for background."""
    out = []
    for y, row in enumerate(rows):
        new = []
        for x, (r, g, b, a) in enumerate(row):
            if (r, g, b) != KEY and all(abs(c - k) <= 2 for c, k in zip((r, g, b), KEY)):
                r, g, b = KEY
            new.append((r, g, b, a))
        out.append(new)
    return out


def main():
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "images")
    os.makedirs(target, exist_ok=True)
    for name, draw in TOOLS.items():
        write_png(os.path.join(target, name + ".png"), keep_key_distinct(render(draw(), 32, KEY)), False)
    for name, draw in MENUS.items():
        write_png(os.path.join(target, name + ".png"), render(draw(), 16), True)
    for size in (16, 32, 48, 64):
        write_png(os.path.join(target, "icon_main_%d.png" % size), render(app_icon(), size), True)
    write_png(os.path.join(target, "icon_detect.png"), render(detect(), 32), True)
    # The program's icon for the desktop's hicolor theme, installed as
    # share/icons/hicolor/NxN/apps/qmr.png.
    icons = os.path.join(target, "..", "icons")
    os.makedirs(icons, exist_ok=True)
    for size in ICON_SIZES:
        write_png(os.path.join(icons, "qmr_%d.png" % size), render(app_icon(), size), True)


ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


if __name__ == "__main__":
    main()
