#!/usr/bin/env python3
"""Draws the sample background pictures shipped in data/Backgrounds.

The pictures are the project's own: smooth procedural images written as
Windows bitmap files in the formats a user's pictures come in (24-bit,
8-bit with a palette, 32-bit, top-down). Run it from the repository root:

    python3 data/tools/make_backgrounds.py
"""

import math
import struct
from pathlib import Path

OUT = Path(__file__).resolve().parent.parent / "Backgrounds"


def clamp(v):
    return 0 if v < 0 else 255 if v > 255 else int(v)


def bmp_bytes(width, height, rows, bits, palette=None, top_down=False):
    """rows: list of bytes objects, top row first, already in BGR(A) or index form."""
    row_size = (width * bits + 31) // 32 * 4
    pixels = bytearray()
    order = rows if top_down else list(reversed(rows))
    for row in order:
        pixels += row + b"\0" * (row_size - len(row))
    colors = len(palette) if palette else 0
    offset = 14 + 40 + 4 * colors
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, -height if top_down else height, 1, bits, 0,
                       len(pixels), 2835, 2835, colors, 0)
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in (palette or []))
    return header + info + pal + bytes(pixels)


def rgb_rows(width, height, shade, bits=24):
    rows = []
    for y in range(height):
        row = bytearray()
        for x in range(width):
            r, g, b = shade(x, y)
            row += bytes((clamp(b), clamp(g), clamp(r))) + (b"\xff" if bits == 32 else b"")
        rows.append(bytes(row))
    return rows


def aurora(x, y, w=1280, h=720):
    t = y / h
    base = (8 + 20 * t, 18 + 40 * t, 46 + 50 * t)
    curtain = math.sin(x / 97.0 + 2.0 * math.sin(x / 310.0)) * 0.5 + 0.5
    band = math.exp(-((t - 0.35 - 0.08 * math.sin(x / 180.0)) ** 2) / 0.012)
    glow = band * (0.55 + 0.45 * curtain)
    return (base[0] + 90 * glow * (1 - curtain), base[1] + 170 * glow, base[2] + 110 * glow * curtain)


def dunes(x, y, w=1024, h=768):
    t = y / h
    sky = (250 - 60 * t, 170 - 40 * t, 110 + 40 * t)
    sun = math.hypot(x - 700, y - 260)
    if sun < 70:
        sky = (255, 232, 170)
    elif sun < 160:
        k = (160 - sun) / 90
        sky = tuple(s + (255 - s) * 0.35 * k for s in sky)
    ridge1 = 470 + 40 * math.sin(x / 150.0) + 15 * math.sin(x / 41.0)
    ridge2 = 560 + 55 * math.sin(x / 210.0 + 1.3)
    if y > ridge2:
        d = (y - ridge2) / h
        return (196 - 90 * d, 118 - 60 * d, 62 - 30 * d)
    if y > ridge1:
        d = (y - ridge1) / h
        return (226 - 60 * d, 150 - 40 * d, 84 - 20 * d)
    return sky


def harbour(width=800, height=600):
    # 8-bit picture: a palette of night blues and lamp golds.
    palette = []
    for i in range(192):
        k = i / 191
        palette.append((clamp(6 + 30 * k), clamp(12 + 50 * k), clamp(30 + 90 * k)))
    for i in range(64):
        k = i / 63
        palette.append((clamp(120 + 135 * k), clamp(80 + 140 * k), clamp(20 + 60 * k)))
    lights = [((97 * i * 7) % width, 330 + (53 * i) % 120, 8 + (i * 13) % 22) for i in range(40)]
    rows = []
    for y in range(height):
        row = bytearray()
        for x in range(width):
            index = int(191 * (1 - y / height) * 0.8)
            if y > 420:
                index = int(40 + 30 * math.sin(x / 23.0 + y / 7.0) * 0.5 + (y - 420) / 10)
            for (lx, ly, lr) in lights:
                d = math.hypot(x - lx, y - ly)
                if d < lr:
                    index = 192 + int(63 * (1 - d / lr))
                    break
            row.append(max(0, min(255, index)))
        rows.append(bytes(row))
    return bmp_bytes(width, height, rows, 8, palette)


def weave(x, y):
    # A seamless 100 x 100 tile: two crossing bands over a linen ground.
    u, v = x % 50, y % 50
    over = ((x // 50) + (y // 50)) % 2 == 0
    band_h = 10 < v < 40
    band_v = 10 < u < 40
    if band_h and (over or not band_v):
        return (70 + 0.6 * u, 110 + 0.4 * u, 150)
    if band_v:
        return (150, 96 + 0.5 * v, 70)
    return (232, 224, 206)


def moss(x, y, w=512, h=512):
    n = math.sin(x / 19.0) * math.cos(y / 23.0) + 0.5 * math.sin((x + y) / 11.0)
    return (40 + 25 * n, 90 + 45 * n + 40 * y / h, 45 + 15 * n)


def slate(x, y, w=640, h=400):
    stripe = 12 * math.sin(x / 5.0 + 3 * math.sin(y / 40.0))
    return (70 + stripe + 30 * y / h, 78 + stripe + 30 * y / h, 88 + stripe + 40 * y / h)


def main():
    OUT.mkdir(parents=True, exist_ok=True)
    pictures = {
        "Aurora.bmp": bmp_bytes(1280, 720, rgb_rows(1280, 720, aurora), 24),
        "Dune Evening.bmp": bmp_bytes(1024, 768, rgb_rows(1024, 768, dunes), 24),
        "Harbour Lights.bmp": harbour(),
        "Weave.bmp": bmp_bytes(100, 100, rgb_rows(100, 100, weave), 24),
        "Moss.bmp": bmp_bytes(512, 512, rgb_rows(512, 512, moss), 24, top_down=True),
        "Slate.bmp": bmp_bytes(640, 400, rgb_rows(640, 400, slate, 32), 32),
    }
    for name, data in pictures.items():
        (OUT / name).write_bytes(data)
        print(f"{OUT / name}: {len(data)} bytes")


if __name__ == "__main__":
    main()
