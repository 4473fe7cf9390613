#!/usr/bin/env python3
"""Draws the launcher's icon: a blue shield with a red cross. Writes res/shield.ico with two
images, 32x32 at 256 colours (8-bit palette) and 64x64 at 32-bit colour with alpha.

Run from the repository root: python3 tools/icongen/make_shield_icon.py
"""
import struct
import sys

SHIELD = (0x1E, 0x5A, 0xB4)     # blue
RIM = (0x0E, 0x2E, 0x66)        # dark blue outline
CROSS = (0xD8, 0x1E, 0x1E)      # red
WHITE = (0xFF, 0xFF, 0xFF)


def shade(size, x, y):
    """Colour of pixel (x, y) of a size x size shield, or None for transparent."""
    u = (x + 0.5) / size          # 0..1 across
    v = (y + 0.5) / size          # 0..1 down
    half = abs(u - 0.5)
    # Shield outline: straight top with a slight dip, sides down to 55 %, then a curve to the tip.
    top = 0.08 + 0.04 * (1 - (half / 0.42) ** 2)
    if v < top or half > 0.42:
        return None
    if v > 0.55:
        width = 0.42 * (1 - ((v - 0.55) / 0.40) ** 1.6) if v < 0.95 else 0
        if half > width:
            return None
        edge = width - half
    else:
        edge = 0.42 - half
    edge = min(edge, v - top)
    if edge < 0.06:
        return RIM
    # The cross on a white disc in the middle.
    cu, cv = u - 0.5, v - 0.47
    if abs(cu) < 0.07 and abs(cv) < 0.22 or abs(cv) < 0.07 and abs(cu) < 0.22:
        return CROSS
    if cu * cu + cv * cv < 0.29 ** 2:
        return WHITE
    return SHIELD


def and_mask(size, transparent):
    row_bytes = ((size + 31) // 32) * 4
    out = bytearray()
    for y in reversed(range(size)):
        row = bytearray(row_bytes)
        for x in range(size):
            if transparent(x, y):
                row[x // 8] |= 0x80 >> (x % 8)
        out += row
    return bytes(out)


def image_8bit(size):
    palette = [(0, 0, 0), SHIELD, RIM, CROSS, WHITE] + [(0, 0, 0)] * 251
    index = {SHIELD: 1, RIM: 2, CROSS: 3, WHITE: 4}
    pixels = bytearray()
    for y in reversed(range(size)):
        for x in range(size):
            c = shade(size, x, y)
            pixels.append(index[c] if c else 0)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    pal = b''.join(struct.pack('BBBB', b, g, r, 0) for (r, g, b) in palette)
    return header + pal + bytes(pixels) + and_mask(size, lambda x, y: shade(size, x, y) is None)


def image_32bit(size):
    pixels = bytearray()
    for y in reversed(range(size)):
        for x in range(size):
            c = shade(size, x, y)
            pixels += struct.pack('BBBB', c[2], c[1], c[0], 255) if c else b'\0\0\0\0'
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + bytes(pixels) + and_mask(size, lambda x, y: shade(size, x, y) is None)


def main(path):
    images = [(32, 256, 8, image_8bit(32)), (64, 0, 32, image_32bit(64))]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, colours, bits, data in images:
        out += struct.pack('<BBBBHHII', size, size, colours % 256, 0, 1, bits, len(data), offset)
        offset += len(data)
    out += b''.join(data for *_, data in images)
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'res/shield.ico')
