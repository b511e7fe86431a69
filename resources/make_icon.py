#!/usr/bin/env python3
"""Draws the window icon (a breathing trace on a rounded blue tile) and writes it
as a Windows ICO file holding 16, 32 and 48 pixel images in 32-bit BGRA."""
import math
import struct
import sys


def pixel(size, x, y):
    """Colour of one pixel as (r, g, b, a), with a little supersampling."""
    acc = [0.0, 0.0, 0.0, 0.0]
    n = 4
    for sy in range(n):
        for sx in range(n):
            u = (x + (sx + 0.5) / n) / size
            v = (y + (sy + 0.5) / n) / size
            r, g, b, a = sample(u, v, size)
            acc[0] += r * a
            acc[1] += g * a
            acc[2] += b * a
            acc[3] += a
    a = acc[3] / (n * n)
    if a == 0:
        return (0, 0, 0, 0)
    return tuple(int(round(c / acc[3])) for c in acc[:3]) + (int(round(a * 255)),)


def sample(u, v, size):
    # Rounded tile.
    radius = 0.2
    cx = min(max(u, radius), 1 - radius)
    cy = min(max(v, radius), 1 - radius)
    if (u - cx) ** 2 + (v - cy) ** 2 > radius ** 2:
        return (0, 0, 0, 0.0)
    # Breathing trace: a slow wave with a sharp inspiration.
    t = u * 2 * math.pi * 1.5
    trace = 0.5 - 0.22 * math.sin(t) - 0.08 * math.sin(2 * t)
    thickness = max(0.06, 1.6 / size)
    if abs(v - trace) < thickness:
        return (255, 255, 255, 1.0)
    # Grid lines, faint.
    if abs((u * 4) % 1 - 0.5) > 0.47 or abs((v * 4) % 1 - 0.5) > 0.47:
        return (70, 120, 190, 1.0)
    shade = 1.0 - 0.35 * v
    return (int(20 * shade), int(70 * shade), int(150 * shade), 1.0)


def image(size):
    rows = []
    for y in reversed(range(size)):  # BMP rows go bottom-up
        row = b""
        for x in range(size):
            r, g, b, a = pixel(size, x, y)
            row += struct.pack("BBBB", b, g, r, a)
        rows.append(row)
    xor = b"".join(rows)
    mask_row = ((size + 31) // 32) * 4
    and_mask = b"\0" * (mask_row * size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(xor) + len(and_mask), 0, 0, 0, 0)
    return header + xor + and_mask


def main(path):
    sizes = [16, 32, 48]
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "icone.ico")
