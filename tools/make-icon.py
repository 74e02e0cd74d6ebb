#!/usr/bin/env python3
"""make-icon.py: draws the program icon, res/tonflux.ico, from simple shapes.

A white eighth note on a blue tile, with two aqua waves for the stream it becomes. Two images,
32x32 and 16x16, each in the 16 standard colours (4 bits per pixel) with a transparency mask.
Each pixel takes the colour that covers most of its 4x4 sub-samples, so the small image stays
legible. Run it again after changing a shape:  python3 tools/make-icon.py res/tonflux.ico
"""
import math
import struct
import sys

PALETTE = [  # the 16 colours of the standard VGA palette, as (R, G, B)
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
NAVY, BLUE, AQUA, WHITE = 4, 12, 14, 15
TRANSPARENT = None


def in_rounded_square(x, y, lo, hi, radius):
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return lo <= x <= hi and lo <= y <= hi and (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def in_polygon(x, y, points):
    inside = False
    for (x1, y1), (x2, y2) in zip(points, points[1:] + points[:1]):
        if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
            inside = not inside
    return inside


def on_wave(x, y, base, x0, x1, half_width):
    if not x0 <= x <= x1:
        return False
    return abs(y - (base + 0.045 * math.sin(2 * math.pi * (x - x0) / 0.17))) <= half_width


def colour_at(x, y, size):
    """Topmost shape at (x, y) in the unit square, y downwards; size picks the detail."""
    if not in_rounded_square(x, y, 0.02, 0.98, 0.2):
        return TRANSPARENT
    if not in_rounded_square(x, y, 0.07, 0.93, 0.16):
        return NAVY  # the tile's rim
    if ((x - 0.32) / 0.15) ** 2 + ((y - 0.70) / 0.105) ** 2 <= 1:  # note head
        return WHITE
    if 0.405 <= x <= 0.47 and 0.16 <= y <= 0.70:  # stem
        return WHITE
    if in_polygon(x, y, [(0.44, 0.16), (0.70, 0.38), (0.66, 0.50), (0.44, 0.30)]):  # flag
        return WHITE
    if size >= 32:
        if on_wave(x, y, 0.60, 0.55, 0.89, 0.04) or on_wave(x, y, 0.78, 0.55, 0.89, 0.04):
            return AQUA
    elif on_wave(x, y, 0.70, 0.55, 0.89, 0.05):  # two waves would run together at 16 pixels
        return AQUA
    return BLUE


def render(size, samples=4):
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            votes = {}
            for sy in range(samples):
                for sx in range(samples):
                    c = colour_at((px + (sx + 0.5) / samples) / size,
                                  (py + (sy + 0.5) / samples) / size, size)
                    votes[c] = votes.get(c, 0) + 1
            row.append(max(votes, key=lambda c: (votes[c], c is not TRANSPARENT)))
        rows.append(row)
    return rows


def image_bytes(rows):
    size = len(rows)
    xor_stride = (size * 4 + 31) // 32 * 4
    and_stride = (size + 31) // 32 * 4
    xor, mask = bytearray(), bytearray()
    for row in reversed(rows):  # bitmaps are stored bottom-up
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x, c in enumerate(row):
            index = 0 if c is TRANSPARENT else c
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if c is TRANSPARENT:
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += line
        mask += bits
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, len(xor) + len(mask),
                         0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + bytes(xor) + bytes(mask)


def main():
    target = sys.argv[1] if len(sys.argv) > 1 else 'res/tonflux.ico'
    images = [image_bytes(render(size)) for size in (32, 16)]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((32, 16), images):
        out += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    with open(target, 'wb') as f:
        f.write(out + b''.join(images))


if __name__ == '__main__':
    main()
