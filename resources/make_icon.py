#!/usr/bin/env python3
"""Draws the application icon: a breathing trace on a rounded blue tile.

    make_icon.py [icone.ico]      the window icon, an ICO file holding 16, 32 and
                                  48 pixel images in 32-bit BGRA
    make_icon.py --png SIZE FILE  one PNG image of SIZE pixels, for the desktop
    make_icon.py --svg FILE       the same drawing as a scalable SVG
"""
import math
import struct
import sys
import zlib


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


def trace_at(u):
    """Breathing trace: a slow wave with a sharp inspiration."""
    t = u * 2 * math.pi * 1.5
    return 0.5 - 0.22 * math.sin(t) - 0.08 * math.sin(2 * t)


def sample(u, v, size):
    # Rounded tile.
    radius = 0.2
    cx = min(max(u, radius), 1 - radius)
    cy = min(max(v, radius), 1 - radius)
    if (u - cx) ** 2 + (v - cy) ** 2 > radius ** 2:
        return (0, 0, 0, 0.0)
    trace = trace_at(u)
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


def png(size, path):
    raw = b""
    for y in range(size):
        raw += b"\0" + b"".join(struct.pack("BBBB", *pixel(size, x, y)) for x in range(size))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
                chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def svg(path):
    points = " ".join("%.2f,%.2f" % (100 * i / 200, 100 * trace_at(i / 200)) for i in range(201))
    grid = "".join('<line x1="%d" y1="0" x2="%d" y2="100"/><line x1="0" y1="%d" x2="100" y2="%d"/>'
                   % (k, k, k, k) for k in (25, 50, 75))
    text = f"""<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 100 100">
  <defs>
    <linearGradient id="fond" x1="0" y1="0" x2="0" y2="1">
      <stop offset="0" stop-color="#144696"/>
      <stop offset="1" stop-color="#0d2d62"/>
    </linearGradient>
    <clipPath id="tuile"><rect width="100" height="100" rx="20" ry="20"/></clipPath>
  </defs>
  <g clip-path="url(#tuile)">
    <rect width="100" height="100" fill="url(#fond)"/>
    <g stroke="#4678be" stroke-width="1.2">{grid}</g>
    <polyline points="{points}" fill="none" stroke="#ffffff" stroke-width="10"
              stroke-linejoin="round" stroke-linecap="round"/>
  </g>
</svg>
"""
    with open(path, "w") as f:
        f.write(text)


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "--png":
        png(int(sys.argv[2]), sys.argv[3])
    elif len(sys.argv) == 3 and sys.argv[1] == "--svg":
        svg(sys.argv[2])
    else:
        main(sys.argv[1] if len(sys.argv) > 1 else "icone.ico")
