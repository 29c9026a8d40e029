#!/usr/bin/env python3
"""Writes the Detect/Remove page's logo: a 16-colour bitmap in the four shades that the
system maps to the user's button colours (black, grey, light grey, white).

usage: make_logo.py OUTPUT.bmp
"""
import struct
import sys

WIDTH, HEIGHT = 96, 96
# Palette indices of the four mapped shades.
BLACK, GREY, LIGHT, WHITE = 0, 1, 2, 3
PALETTE = [(0, 0, 0), (128, 128, 128), (192, 192, 192), (255, 255, 255)] + [(0, 0, 0)] * 12


def shade(x, y):
    cx = (x + 0.5) / WIDTH - 0.5
    cy = (y + 0.5) / HEIGHT
    half = 0.40 if cy < 0.55 else 0.40 * max(0.0, (1.0 - cy) / 0.45) ** 0.6
    if not (0.05 <= cy <= 0.97 and abs(cx) <= half):
        return LIGHT
    if abs(cx) > half - 0.04 or cy < 0.09:
        return BLACK
    return WHITE if cx < 0 else GREY


def main():
    row_bytes = ((WIDTH * 4 + 31) // 32) * 4
    pixels = bytearray()
    for y in reversed(range(HEIGHT)):
        row = bytearray(row_bytes)
        for x in range(WIDTH):
            row[x // 2] |= shade(x, y) << (0 if x % 2 else 4)
        pixels += row
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 4, 0, len(pixels), 2835, 2835, 16, 0)
    offset = 14 + len(info) + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    with open(sys.argv[1], "wb") as f:
        f.write(header + info + palette + bytes(pixels))


if __name__ == "__main__":
    main()
