#!/usr/bin/env python3
"""Draws the viewer's icons and the status bitmap into src/res.

Standard library only. Every picture is a list of shapes in pixel coordinates, rendered
with 4 x 4 supersampling; icons are written as .ico files with 32-bit DIB entries (colour,
alpha and the AND mask), the bitmap as a 24-bit .bmp.

Usage: draw_icons.py [OUTPUT_DIR]   (default: src/res next to this tool)
"""
import math
import os
import struct
import sys

SIZES = (16, 20, 24, 32, 48)
SUB = 4  # samples per pixel along each axis

CYAN = (0, 190, 230)
CYAN_DARK = (0, 110, 150)
GREY = (185, 185, 185)
GREY_DARK = (110, 110, 110)
GREY_SOLID = (150, 150, 150)
RED = (215, 35, 35)
RED_DARK = (140, 15, 15)
WHITE = (255, 255, 255)
BLUE = (35, 100, 215)
BLUE_DARK = (15, 55, 140)
FRAME = (60, 64, 72)
SCREEN = (70, 150, 230)
SCREEN_LIGHT = (150, 205, 250)


# Shapes: each is (colour, test) where test(x, y) says whether a point is inside.
def rect(x0, y0, x1, y1, colour):
    return (colour, lambda x, y: x0 <= x < x1 and y0 <= y < y1)


def rounded(x0, y0, x1, y1, r, colour):
    def inside(x, y):
        if not (x0 <= x < x1 and y0 <= y < y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return (colour, inside)


def disk(cx, cy, r, colour):
    return (colour, lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r)


def arc(cx, cy, r_in, r_out, half_angle_deg, colour):
    """A ring piece opening upwards, half_angle_deg either side of straight up."""
    limit = math.radians(half_angle_deg)

    def inside(x, y):
        d2 = (x - cx) ** 2 + (y - cy) ** 2
        if not (r_in * r_in <= d2 <= r_out * r_out):
            return False
        return abs(math.atan2(x - cx, cy - y)) <= limit
    return (colour, inside)


def segment(ax, ay, bx, by, half_width, colour, round_ends=True):
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy

    def inside(x, y):
        t = ((x - ax) * dx + (y - ay) * dy) / length2
        if not round_ends and (t < 0 or t > 1):
            return False
        t = min(max(t, 0.0), 1.0)
        px, py = ax + t * dx, ay + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= half_width * half_width
    return (colour, inside)


def render(shapes, width, height, background=None):
    """RGBA rows, top row first. The last shape that covers a sample wins."""
    rows = []
    for py in range(height):
        row = []
        for px in range(width):
            r = g = b = a = 0
            for sy in range(SUB):
                for sx in range(SUB):
                    x = px + (sx + 0.5) / SUB
                    y = py + (sy + 0.5) / SUB
                    colour = background
                    for shape_colour, inside in reversed(shapes):
                        if inside(x, y):
                            colour = shape_colour
                            break
                    if colour is not None:
                        r += colour[0]
                        g += colour[1]
                        b += colour[2]
                        a += 1
            n = SUB * SUB
            if a:
                row.append((round(r / a), round(g / a), round(b / a), round(255 * a / n)))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


# Pictures. Each takes the icon size and returns shapes; geometry is designed on a 32-unit
# grid and scaled, except the bars, which are laid out on whole pixels to stay crisp.
def signal_bars(size, filled):
    gap = max(1, round(size / 16))
    bar = (size - 3 * gap) // 4
    left = (size - (4 * bar + 3 * gap)) // 2
    bottom = size - max(1, size // 16)
    top_min = round(size * 0.62)
    shapes = []
    for i in range(4):
        x0 = left + i * (bar + gap)
        top = top_min - round(i * (top_min - max(1, size // 16)) / 3)
        lit = i < filled
        if size < 24:
            # Too small for an outline: solid bars read best.
            shapes.append(rect(x0, top, x0 + bar, bottom, CYAN if lit else GREY_SOLID))
            continue
        shapes.append(rect(x0, top, x0 + bar, bottom, CYAN_DARK if lit else GREY_DARK))
        inset = 1 if size < 32 else 2
        shapes.append(rect(x0 + inset, top + inset, x0 + bar - inset, bottom - inset,
                           CYAN if lit else GREY))
    return shapes


def no_wwan(size):
    s = size / 32.0
    cx, cy = 16 * s, 22.5 * s
    shapes = [
        arc(cx, cy, 11.3 * s, 14.9 * s, 48, GREY_DARK),
        arc(cx, cy, 17.3 * s, 20.9 * s, 42, GREY_DARK),
        arc(cx, cy, 12.1 * s, 14.1 * s, 45, GREY_SOLID),
        arc(cx, cy, 18.1 * s, 20.1 * s, 39, GREY_SOLID),
        disk(cx, cy, 9.3 * s, RED_DARK),
        disk(cx, cy, 8.3 * s, RED),
    ]
    d = 4.2 * s
    w = max(0.9, 1.5 * s)
    shapes.append(segment(cx - d, cy - d, cx + d, cy + d, w, WHITE))
    shapes.append(segment(cx - d, cy + d, cx + d, cy - d, w, WHITE))
    return shapes


def unplugged(size):
    s = size / 32.0

    def box(x0, y0, x1, y1, r, colour):
        return rounded(x0 * s, y0 * s, x1 * s, y1 * s, r * s, colour)

    line = max(1.0, 1.6 * s)
    return [
        # cables
        segment(0, 16 * s, 6 * s, 16 * s, line, BLUE_DARK, round_ends=False),
        segment(26 * s, 16 * s, 32 * s, 16 * s, line, BLUE_DARK, round_ends=False),
        # plug with its two prongs
        box(5, 9, 13.5, 23, 2.2, BLUE_DARK),
        box(6.2, 10.2, 12.3, 21.8, 1.4, BLUE),
        box(13, 11, 18, 14, 0.5, BLUE_DARK),
        box(13, 18, 18, 21, 0.5, BLUE_DARK),
        # socket
        box(21, 9, 27, 23, 2.2, BLUE_DARK),
        box(22.2, 10.2, 25.8, 21.8, 1.4, BLUE),
        box(21, 11.5, 23.5, 13.5, 0.3, BLUE_DARK),
        box(21, 18.5, 23.5, 20.5, 0.3, BLUE_DARK),
    ]


def monitor(x, y, w, h, s, shapes):
    """A flat-panel monitor on a stand, top-left corner at (x, y) in 32-unit space."""
    stand_h = h * 0.28
    screen_h = h - stand_h
    shapes.append(rounded(x * s, y * s, (x + w) * s, (y + screen_h) * s, 1.3 * s, FRAME))
    border = max(1.0 / s, 1.6)
    shapes.append(rect((x + border) * s, (y + border) * s, (x + w - border) * s,
                       (y + screen_h - border) * s, SCREEN))
    # a light band across the screen's top left
    shapes.append(rect((x + border) * s, (y + border) * s, (x + w * 0.55) * s,
                       (y + border + (screen_h - 2 * border) * 0.35) * s, SCREEN_LIGHT))
    mid = x + w / 2
    neck = max(1.2, w * 0.14)
    shapes.append(rect((mid - neck / 2) * s, (y + screen_h) * s, (mid + neck / 2) * s,
                       (y + h - 1.6) * s, FRAME))
    shapes.append(rect((mid - w * 0.32) * s, (y + h - 2.2) * s, (mid + w * 0.32) * s,
                       (y + h) * s, FRAME))


def two_monitors(size):
    s = size / 32.0
    shapes = []
    monitor(0.5, 7, 15, 19, s, shapes)
    monitor(16.5, 7, 15, 19, s, shapes)
    return shapes


def two_monitors_small(size):
    # Overlapped and larger, so that both screens still read at 16 pixels.
    s = size / 32.0
    shapes = []
    monitor(0.5, 2, 20, 20, s, shapes)
    monitor(11.5, 10, 20, 21.5, s, shapes)
    return shapes


def network_bitmap():
    """47 x 47: two computers joined by cables to a network junction below them."""
    shapes = []
    hub_y = 37
    # cables first, under everything
    shapes.append(segment(11.5, 22, 11.5, hub_y - 1, 1.1, GREY_DARK))
    shapes.append(segment(35.5, 22, 35.5, hub_y - 1, 1.1, GREY_DARK))
    shapes.append(segment(11.5, hub_y, 35.5, hub_y, 1.1, GREY_DARK))
    monitor(2, 3, 19, 21, 1.0, shapes)
    monitor(26, 3, 19, 21, 1.0, shapes)
    # the junction: a small switch box with port lights
    shapes.append(rounded(15, 33, 32, 42, 1.5, FRAME))
    shapes.append(rect(16.5, 34.5, 30.5, 40.5, (95, 100, 110)))
    for i in range(4):
        shapes.append(rect(18 + i * 3.2, 38, 19.6 + i * 3.2, 39.6, (80, 220, 90)))
    return shapes


# Writers.
def ico_bytes(images):
    """images: list of (size, rows) with RGBA rows, top first."""
    entries = []
    blobs = []
    offset = 6 + 16 * len(images)
    for size, rows in images:
        header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
        pixels = bytearray()
        for row in reversed(rows):
            for r, g, b, a in row:
                pixels += bytes((b, g, r, a))
        mask_stride = ((size + 31) // 32) * 4
        mask = bytearray()
        for row in reversed(rows):
            line = bytearray(mask_stride)
            for x, (_, _, _, a) in enumerate(row):
                if a == 0:
                    line[x // 8] |= 0x80 >> (x % 8)
            mask += line
        blob = header + pixels + mask
        entries.append(struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32,
                                   len(blob), offset))
        blobs.append(blob)
        offset += len(blob)
    return struct.pack("<HHH", 0, 1, len(images)) + b"".join(entries) + b"".join(blobs)


def bmp_bytes(rows):
    height = len(rows)
    width = len(rows[0])
    stride = (width * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for r, g, b, _ in row:
            line += bytes((b, g, r))
        line += bytes(stride - len(line))
        pixels += line
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    file_header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(pixels), 0, 0, 14 + 40)
    return file_header + info + pixels


ICONS = {
    "app.ico": two_monitors,
    "app_small.ico": two_monitors_small,
    "signal_1.ico": lambda n: signal_bars(n, 1),
    "signal_2.ico": lambda n: signal_bars(n, 2),
    "signal_3.ico": lambda n: signal_bars(n, 3),
    "signal_4.ico": lambda n: signal_bars(n, 4),
    "signal_0.ico": lambda n: signal_bars(n, 0),
    "no_wwan.ico": no_wwan,
    "unplugged.ico": unplugged,
}


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "..", "src", "res")
    os.makedirs(out, exist_ok=True)
    for name, picture in ICONS.items():
        images = [(n, render(picture(n), n, n)) for n in SIZES]
        with open(os.path.join(out, name), "wb") as f:
            f.write(ico_bytes(images))
    with open(os.path.join(out, "network.bmp"), "wb") as f:
        f.write(bmp_bytes(render(network_bitmap(), 47, 47, background=WHITE)))


if __name__ == "__main__":
    main()
