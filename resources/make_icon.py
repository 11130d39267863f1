#!/usr/bin/env python3
"""Draws the player's icon: a white play triangle on a rounded teal tile.

Writes one 32 x 32, 256-colour image as VelmoraPlayer.ico (the Windows resource and the
Linux window icon use the same file). Run it again only to change the artwork.
"""
import struct
import sys

SIZE = 32
TRANSPARENT, TILE, EDGE, PLAY, SHADOW = 0, 1, 2, 3, 4
PALETTE = {
    TRANSPARENT: (0, 0, 0),
    TILE: (0x1F, 0x8A, 0x8C),
    EDGE: (0x14, 0x5C, 0x5E),
    PLAY: (0xFF, 0xFF, 0xFF),
    SHADOW: (0x0E, 0x45, 0x47),
}


def inside_rounded_square(x, y, inset, radius):
    lo, hi = inset, SIZE - 1 - inset
    if x < lo or x > hi or y < lo or y > hi:
        return False
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius


def inside_triangle(x, y, dx=0, dy=0):
    # Right-pointing triangle, corners (11,8), (11,23), (24,15.5).
    px, py = x - dx + 0.5, y - dy + 0.5
    if px < 11 or px > 24:
        return False
    half = 7.5 * (24 - px) / 13
    return abs(py - 15.5) <= half


def pixel(x, y):
    if not inside_rounded_square(x, y, 1, 6):
        return TRANSPARENT
    if inside_triangle(x, y):
        return PLAY
    if inside_triangle(x, y, 1, 1):
        return SHADOW
    if not inside_rounded_square(x, y, 2, 5):
        return EDGE
    return TILE


def build():
    rows = [[pixel(x, y) for x in range(SIZE)] for y in range(SIZE)]
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    palette = b"".join(
        struct.pack("<BBBB", *reversed(PALETTE.get(i, (0, 0, 0))), 0) for i in range(256)
    )
    xor = b"".join(bytes(rows[y]) for y in reversed(range(SIZE)))
    mask_rows = []
    for y in reversed(range(SIZE)):
        bits = 0
        for x in range(SIZE):
            bits = (bits << 1) | (1 if rows[y][x] == TRANSPARENT else 0)
        mask_rows.append(struct.pack(">I", bits))  # 32 bits = one DWORD-aligned row
    image = header + palette + xor + b"".join(mask_rows)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 8, len(image), 6 + 16)
    return directory + entry + image


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "VelmoraPlayer.ico"
    with open(out, "wb") as f:
        f.write(build())
