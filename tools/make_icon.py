#!/usr/bin/env python3
"""Draws the application icon: an upward arrow (a version going up) on a blue
disc, as a 16-colour icon with a 32x32 and a 16x16 image.

Usage: make_icon.py OUTPUT.ico
"""
import struct
import sys

# The standard 16-colour palette, as (blue, green, red, 0) quads.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLUE, DARK_BLUE, WHITE = 12, 4, 15


def picture(size):
    """Rows of palette indices (None is transparent), top row first."""
    c = (size - 1) / 2.0
    r = size / 2.0 - 0.5
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            d2 = (x - c) ** 2 + (y - c) ** 2
            if d2 > r * r:
                row.append(None)
                continue
            colour = DARK_BLUE if d2 > (r - max(1, size // 16)) ** 2 else BLUE
            u, v = (x - c) / size, (y - c) / size  # -0.5 .. 0.5
            head = -0.34 <= v <= 0.0 and abs(u) <= (v + 0.34) * 0.95
            shaft = 0.0 <= v <= 0.32 and abs(u) <= 0.11
            row.append(WHITE if head or shaft else colour)
        rows.append(row)
    return rows


def image(size):
    rows = picture(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    xor = bytearray()
    mask = bytearray()
    mask_row_bytes = ((size + 31) // 32) * 4
    for row in reversed(rows):  # bottom-up
        for x in range(0, size, 2):
            hi, lo = row[x] or 0, row[x + 1] or 0
            xor.append((hi << 4) | lo)
        bits = bytearray(mask_row_bytes)
        for x, p in enumerate(row):
            if p is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + palette + bytes(xor) + bytes(mask)


def main():
    images = [image(32), image(16)]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((32, 16), images):
        out += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    out += b''.join(images)
    with open(sys.argv[1], 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()
