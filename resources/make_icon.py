#!/usr/bin/env python3
"""Writes keldraagent's icon: a white K on a blue disc, as seven images
(16, 32 and 48 pixels at 8 and 24 bits per pixel, and 32 pixels at 4 bits)."""
import struct
import sys

TRANSPARENT, BLUE, DARK_BLUE, WHITE = 0, 1, 2, 3
RGB = {BLUE: (0x2B, 0x6C, 0xD9), DARK_BLUE: (0x17, 0x3E, 0x8C), WHITE: (0xFF, 0xFF, 0xFF)}


def near_segment(px, py, ax, ay, bx, by, width):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    cx, cy = ax + t * dx, ay + t * dy
    return (px - cx) ** 2 + (py - cy) ** 2 <= width * width


def colour_at(x, y, size):
    # Coordinates on a unit square, y downwards.
    u, v = (x + 0.5) / size, (y + 0.5) / size
    r2 = (u - 0.5) ** 2 + (v - 0.5) ** 2
    if r2 > 0.25:
        return TRANSPARENT
    stroke = 0.07
    if (near_segment(u, v, 0.36, 0.24, 0.36, 0.76, stroke)
            or near_segment(u, v, 0.38, 0.52, 0.66, 0.24, stroke)
            or near_segment(u, v, 0.44, 0.46, 0.68, 0.76, stroke)):
        return WHITE
    return DARK_BLUE if r2 > 0.19 else BLUE


def padded(row):
    return row + b"\0" * (-len(row) % 4)


def dib(size, bits):
    pixels = [[colour_at(x, size - 1 - y, size) for x in range(size)] for y in range(size)]
    palette_entries = {4: 16, 8: 256}.get(bits, 0)
    palette = b""
    for index in range(palette_entries):
        b, g, r = RGB.get(index, (0, 0, 0))[::-1]
        palette += bytes((b, g, r, 0))
    xor = b""
    for row in pixels:
        if bits == 24:
            data = b"".join(bytes(RGB.get(c, (0, 0, 0))[::-1]) for c in row)
        elif bits == 8:
            data = bytes(row)
        else:
            data = bytes((row[i] << 4) | row[i + 1] for i in range(0, size, 2))
        xor += padded(data)
    mask = b""
    for row in pixels:
        data = bytearray((size + 7) // 8)
        for x, c in enumerate(row):
            if c == TRANSPARENT:
                data[x // 8] |= 0x80 >> (x % 8)
        mask += padded(bytes(data))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    return header + palette + xor + mask


def main(path):
    images = [(16, 8), (32, 8), (48, 8), (16, 24), (32, 24), (48, 24), (32, 4)]
    blobs = [dib(size, bits) for size, bits in images]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (size, bits), blob in zip(images, blobs):
        colours = 16 if bits == 4 else 0
        out += struct.pack("<BBBBHHII", size, size, colours, 0, 1, bits, len(blob), offset)
        offset += len(blob)
    with open(path, "wb") as f:
        f.write(out + b"".join(blobs))


if __name__ == "__main__":
    main(sys.argv[1])
