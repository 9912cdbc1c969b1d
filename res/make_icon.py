#!/usr/bin/env python3
"""Draws the launcher icon (a blue tile with a white prompt chevron) as res/tovik.ico.

One 32 x 32 image at 32 bits per pixel, anti-aliased by 4x4 supersampling. Deterministic:
running it again gives the same bytes.
"""
import struct
import sys

SIZE = 32
SUB = 4


def inside_rounded_square(x, y):
    margin, radius = 1.0, 6.0
    lo, hi = margin + radius, SIZE - margin - radius
    cx = min(max(x, lo), hi)
    cy = min(max(y, lo), hi)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def distance_to_segment(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    qx, qy = ax + t * dx, ay + t * dy
    return ((px - qx) ** 2 + (py - qy) ** 2) ** 0.5


def on_glyph(x, y):
    # A chevron ">" and an underscore: the prompt of a command field.
    half = 1.9
    strokes = [(8, 9, 15, 16), (15, 16, 8, 23), (18, 23, 25, 23)]
    return any(distance_to_segment(x, y, *s) <= half for s in strokes)


def pixel(px, py):
    tile = glyph = 0
    for sy in range(SUB):
        for sx in range(SUB):
            x, y = px + (sx + 0.5) / SUB, py + (sy + 0.5) / SUB
            if inside_rounded_square(x, y):
                tile += 1
                glyph += on_glyph(x, y)
    n = SUB * SUB
    alpha = tile / n
    if tile == 0:
        return (0, 0, 0, 0)
    white = glyph / tile
    # Blue tile, slightly lighter at the top.
    shade = 1.0 - 0.25 * (py / SIZE)
    base = (int(40 * shade), int(110 * shade), int(215 * shade))
    r, g, b = (round(c + (255 - c) * white) for c in base)
    return (b, g, r, round(255 * alpha))


def main(path):
    rows = [[pixel(x, y) for x in range(SIZE)] for y in range(SIZE)]
    xor = b"".join(bytes(c for px in row for c in px) for row in reversed(rows))
    mask = bytes(SIZE * SIZE // 8)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = header + xor + mask
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    with open(path, "wb") as out:
        out.write(icondir + entry + image)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "res/tovik.ico")
