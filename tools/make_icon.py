#!/usr/bin/env python3
"""Writes Tolvane's icons: a shield in the product colours, 16x16 and 32x32, 32-bit.

usage: make_icon.py OUTPUT.ico [engine|app]
"""
import struct
import sys


def shield_pixels(size, fill, rim):
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            cx = (x + 0.5) / size - 0.5
            cy = (y + 0.5) / size
            # Straight top half, rounded point at the bottom.
            half_width = 0.42 if cy < 0.55 else 0.42 * max(0.0, (1.0 - cy) / 0.45) ** 0.6
            inside = 0.06 <= cy <= 0.96 and abs(cx) <= half_width
            edge = inside and (abs(cx) > half_width - 1.6 / size or cy < 0.06 + 1.6 / size)
            if not inside:
                row.append((0, 0, 0, 0))
            elif edge:
                row.append(rim + (255,))
            else:
                row.append(fill + (255,))
        rows.append(row)
    return rows


def icon_image(size, fill, rim):
    pixels = shield_pixels(size, fill, rim)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = b"".join(struct.pack("BBBB", b, g, r, a)
                   for row in reversed(pixels) for (r, g, b, a) in row)
    mask_row_bytes = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(pixels):
        bits = bytearray(mask_row_bytes)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + xor + bytes(mask)


def main():
    out = sys.argv[1]
    kind = sys.argv[2] if len(sys.argv) > 2 else "engine"
    fill, rim = ((32, 96, 168), (12, 36, 80)) if kind == "engine" else ((176, 32, 40), (72, 8, 12))
    images = [icon_image(s, fill, rim) for s in (32, 16)]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip((32, 16), images):
        data += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(out, "wb") as f:
        f.write(data + b"".join(images))


if __name__ == "__main__":
    main()
