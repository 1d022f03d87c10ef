#!/usr/bin/env python3
"""Draws the two tray icons and writes them as .ico files.

found.ico is a coloured compact disc with a pair of beamed eighth notes over it; idle.ico is
the same picture in grey. Each file holds a 32x32 and a 16x16 image with a 16-colour palette
and an AND mask for transparency. The grey icon shares the colour icon's pixel indices and
mask; only its palette differs, each entry replaced by its luminance, so the two pictures
always match.

    tools/make_icons.py                 write res/icons/found.ico and res/icons/idle.ico
    tools/make_icons.py --out DIR       write them into DIR instead
    tools/make_icons.py --preview X.png also write an enlarged preview of all four images

Standard library only.
"""

import argparse
import math
import os
import struct
import sys
import zlib

# Index 0 must stay black: transparent pixels carry it in the XOR image, and black XORed
# onto the screen leaves the screen as it was.
PALETTE = [
    (0, 0, 0),          # 0 black, behind transparent pixels
    (26, 30, 64),       # 1 note
    (72, 80, 108),      # 2 outer edge
    (128, 136, 160),    # 3 steel
    (180, 188, 208),    # 4 silver
    (222, 228, 240),    # 5 pale silver
    (255, 255, 255),    # 6 shine
    (90, 140, 230),     # 7 blue
    (150, 190, 250),    # 8 sky
    (100, 215, 235),    # 9 cyan
    (130, 215, 120),    # 10 green
    (255, 225, 90),     # 11 yellow
    (255, 160, 80),     # 12 orange
    (240, 120, 190),    # 13 pink
    (160, 120, 235),    # 14 violet
    (150, 158, 196),    # 15 shaded silver
]

# The rainbow that the disc's tracks show where they catch the light, as palette indices.
RAINBOW = (14, 7, 8, 9, 10, 11, 12, 13)
RAINBOW_HALF_WIDTH = math.radians(40)
LIGHT = math.radians(135)                         # direction of the light, up and to the left

# Geometry per size, in pixels: pixel (x, y) covers [x, x+1] x [y, y+1]. Sizes get their own
# numbers rather than a scaled copy so that at 16x16 stems fall on whole columns.
GEOMETRY = {
    32: dict(centre=(16.0, 16.0), radius=15.9, edge=1.1, rim=1.3, hole=2.4, hub=6.2,
             hub_edge=0.9,
             heads=[(8.9, 24.0), (21.3, 22.0)], head_axes=(3.1, 2.2), head_tilt=-0.45,
             stems=[(10.5, 12.1), (22.9, 24.5)], beam_top=(7.4, 5.6), beam_thick=3.0),
    16: dict(centre=(8.0, 8.0), radius=7.95, edge=0.8, rim=0.7, hole=1.25, hub=3.0,
             hub_edge=0.5,
             heads=[(4.3, 12.3), (10.3, 11.3)], head_axes=(1.75, 1.2), head_tilt=-0.45,
             stems=[(5.0, 6.0), (11.0, 12.0)], beam_top=(3.0, 2.0), beam_thick=2.0),
}

SUPERSAMPLE = 8


def luminance(rgb):
    r, g, b = rgb
    return int(round(0.299 * r + 0.587 * g + 0.114 * b))


def grey_palette(palette):
    return [(luminance(c),) * 3 for c in palette]


def in_note(g, x, y):
    """True where the beamed pair of notes covers the point."""
    a, b = g["head_axes"]
    ct, st = math.cos(g["head_tilt"]), math.sin(g["head_tilt"])
    for hx, hy in g["heads"]:
        dx, dy = x - hx, y - hy
        u, v = dx * ct + dy * st, -dx * st + dy * ct
        if (u / a) ** 2 + (v / b) ** 2 <= 1.0:
            return True
    left, right = g["stems"][0][0], g["stems"][1][1]
    t0, t1 = g["beam_top"]
    # The beam slopes from the top of the first stem to the top of the second.
    if left <= x <= right:
        top = t0 + (t1 - t0) * (x - left) / (right - left)
        if top <= y <= top + g["beam_thick"]:
            return True
    for (left, right), (hx, hy), top in zip(g["stems"], g["heads"], (t0, t1)):
        if left <= x <= right and top <= y <= hy:
            return True
    return False


def disc_index(g, x, y):
    """The disc's palette index at a point, or None outside it and in its centre hole."""
    cx, cy = g["centre"]
    dx, dy = x - cx, y - cy
    r = math.hypot(dx, dy)
    radius = g["radius"]
    if r > radius or r < g["hole"]:
        return None
    angle = math.atan2(-dy, dx)                  # counter-clockwise, y up
    # 1 facing the light at the upper left, 0 facing away.
    light = 0.5 + 0.5 * math.cos(angle - LIGHT)

    if r > radius - g["edge"]:
        return 2
    if r > radius - g["edge"] - g["rim"]:
        return 6 if light > 0.55 else 5
    if r < g["hole"] + g["hub_edge"]:
        return 3
    if r < g["hub"]:
        return 6 if light > 0.8 else 5
    if r < g["hub"] + g["hub_edge"]:
        return 4

    # Two opposite wedges of rainbow, towards the light and away from it, the colours
    # running across each wedge.
    for centre in (LIGHT, LIGHT + math.pi):
        offset = (angle - centre + math.pi) % (2 * math.pi) - math.pi
        if abs(offset) < RAINBOW_HALF_WIDTH:
            t = (offset / RAINBOW_HALF_WIDTH + 1) / 2
            return RAINBOW[min(int(t * len(RAINBOW)), len(RAINBOW) - 1)]
    return 5 if light > 0.5 else 4 if light > 0.2 else 15


def sample(g, x, y):
    """The palette index at a point, or None where the icon is transparent."""
    if in_note(g, x, y):
        return 1
    return disc_index(g, x, y)


def render(size):
    """Palette indices, top row first, with None for transparent pixels. Each pixel takes
    the index that most of its samples show: with only 16 colours, blending edges would
    only muddy them."""
    g = GEOMETRY[size]
    n = SUPERSAMPLE
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            votes = {}
            for sy in range(n):
                for sx in range(n):
                    index = sample(g, px + (sx + 0.5) / n, py + (sy + 0.5) / n)
                    votes[index] = votes.get(index, 0) + 1
            transparent = votes.pop(None, 0)
            if transparent * 2 > n * n or not votes:
                row.append(None)
            else:
                row.append(max(sorted(votes), key=lambda i: votes[i]))
        rows.append(row)
    return rows


def icon_image(pixels, palette):
    """One icon image: header, palette, 4-bit XOR image and AND mask, rows bottom-up."""
    size = len(pixels)
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    xor_bits = bytearray()
    and_bits = bytearray()
    for row in reversed(pixels):
        line = bytearray(xor_stride)
        mask = bytearray(and_stride)
        for x, index in enumerate(row):
            if index is None:
                mask[x // 8] |= 0x80 >> (x % 8)
                index = 0
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
        xor_bits += line
        and_bits += mask
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         len(xor_bits) + len(and_bits), 0, 0, 16, 0)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    return header + colours + bytes(xor_bits) + bytes(and_bits)


def ico_file(images):
    """An .ico file from (size, image bytes) pairs."""
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries = b""
    for size, data in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return directory + entries + b"".join(data for _, data in images)


def png_file(width, height, rgb_rows):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    raw = b"".join(b"\0" + bytes(v for px in row for v in px) for row in rgb_rows)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def preview(pictures, path):
    """Every image enlarged to 256 pixels on a checkerboard, then at its true size on a light
    and on a dark background, one row per icon."""
    big, gap = 256, 16
    small_width = 32 + 16 + 8
    width = gap + 2 * (big + gap) + 2 * (small_width + gap)
    height = gap + len(pictures) * (big + gap)
    canvas = [[(96, 96, 96)] * width for _ in range(height)]

    def put(x0, y0, pixels, palette, scale, background):
        size = len(pixels)
        for y in range(size * scale):
            for x in range(size * scale):
                index = pixels[y // scale][x // scale]
                canvas[y0 + y][x0 + x] = (palette[index] if index is not None
                                          else background(x, y))

    def checker(x, y):
        return (204, 204, 204) if (x // 16 + y // 16) % 2 else (255, 255, 255)

    for row, (palette, images) in enumerate(pictures):
        y0 = gap + row * (big + gap)
        x = gap
        for size in (32, 16):
            put(x, y0, images[size], palette, big // size, checker)
            x += big + gap
        for shade in ((240, 240, 240), (32, 36, 44)):
            for y in range(40):
                for dx in range(small_width):
                    canvas[y0 + y][x + dx] = shade
            put(x + 2, y0 + 4, images[32], palette, 1, lambda *_: shade)
            put(x + 2 + 32 + 4, y0 + 4, images[16], palette, 1, lambda *_: shade)
            x += small_width + gap
    with open(path, "wb") as f:
        f.write(png_file(width, height, canvas))


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=os.path.join(root, "res", "icons"),
                        help="directory for found.ico and idle.ico")
    parser.add_argument("--preview", metavar="PNG", help="also write an enlarged preview")
    args = parser.parse_args()

    images = {size: render(size) for size in (32, 16)}
    greys = grey_palette(PALETTE)
    os.makedirs(args.out, exist_ok=True)
    for name, palette in (("found.ico", PALETTE), ("idle.ico", greys)):
        data = ico_file([(size, icon_image(images[size], palette)) for size in (32, 16)])
        with open(os.path.join(args.out, name), "wb") as f:
            f.write(data)
    if args.preview:
        preview([(PALETTE, images), (greys, images)], args.preview)
    return 0


if __name__ == "__main__":
    sys.exit(main())
