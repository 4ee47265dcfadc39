#!/usr/bin/env python3
"""Draws the applet's icon, Kestrin.ico: the 3D mouse seen from above and a
little to the front (a dark base, the blue ball with its highlight, the scroll
hat beside it) at 16, 32 and 48 pixels, 8 bits per pixel with a 256-colour
palette and a transparency mask.

    python3 applet/draw_icon.py applet/Kestrin.ico

Needs nothing but Python 3; the output is the same on every run."""

import math
import struct
import sys

SIZES = (16, 32, 48)
SAMPLES = 4  # per axis and pixel: edges are averaged, then quantized

# The palette: a 6x6x6 colour cube (216 entries), then 40 greys.
PALETTE = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
PALETTE += [(round(i * 255 / 39),) * 3 for i in range(40)]


def nearest(rgb):
    return min(range(256), key=lambda i: sum((a - b) ** 2 for a, b in zip(PALETTE[i], rgb)))


def shade(x, y):
    """Colour (r, g, b) and coverage (0 or 1) of the point (x, y) of the unit
    square, y downwards."""
    # The base: a rounded slab across the lower part.
    bx, by, bw, bh, br = 0.06, 0.50, 0.88, 0.40, 0.14
    in_base = False
    if bx <= x <= bx + bw and by <= y <= by + bh:
        cx = min(max(x, bx + br), bx + bw - br)
        cy = min(max(y, by + br), by + bh - br)
        in_base = (x - cx) ** 2 + (y - cy) ** 2 <= br * br
    # The ball: a sphere resting on the base, lit from the upper left.
    ball_x, ball_y, ball_r = 0.44, 0.42, 0.34
    dx, dy = (x - ball_x) / ball_r, (y - ball_y) / ball_r
    if dx * dx + dy * dy <= 1.0:
        dz = math.sqrt(1.0 - dx * dx - dy * dy)
        light = (-0.45, -0.55, 0.70)
        norm = math.sqrt(sum(c * c for c in light))
        diffuse = max(0.0, (dx * light[0] + dy * light[1] + dz * light[2]) / norm)
        spec = max(0.0, diffuse) ** 24
        base = (30, 90, 200)
        c = tuple(min(255, int(v * (0.25 + 0.75 * diffuse) + 255 * spec)) for v in base)
        return c, 1
    # The scroll hat: a small orange disc at the right of the base.
    if (x - 0.83) ** 2 + (y - 0.64) ** 2 <= 0.075 ** 2:
        return (240, 140, 30), 1
    if in_base:
        t = (y - by) / bh
        g = int(80 - 40 * t)
        return (g, g, g + 10), 1
    return (0, 0, 0), 0


def draw(size):
    """Palette indices (rows top-down) and the mask (1 = transparent)."""
    pixels, mask = [], []
    for py in range(size):
        prow, mrow = [], []
        for px in range(size):
            acc, cover = [0, 0, 0], 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) / size
                    y = (py + (sy + 0.5) / SAMPLES) / size
                    c, a = shade(x, y)
                    if a:
                        cover += 1
                        acc = [s + v for s, v in zip(acc, c)]
            if cover * 2 >= SAMPLES * SAMPLES:
                prow.append(nearest(tuple(v // cover for v in acc)))
                mrow.append(0)
            else:
                prow.append(0)
                mrow.append(1)
        pixels.append(prow)
        mask.append(mrow)
    return pixels, mask


def image(size):
    """One icon image: BITMAPINFOHEADER (height doubled for the mask), the
    palette, the colour rows and the mask rows, both bottom-up and padded to
    four bytes."""
    pixels, mask = draw(size)
    colour_stride = (size + 3) & ~3
    mask_stride = ((size + 31) // 32) * 4
    colour = b"".join(bytes(row) + b"\0" * (colour_stride - size) for row in reversed(pixels))
    bits = b""
    for row in reversed(mask):
        packed = bytearray(mask_stride)
        for i, m in enumerate(row):
            if m:
                packed[i // 8] |= 0x80 >> (i % 8)
        bits += bytes(packed)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 8, 0,
                         len(colour) + len(bits), 0, 0, 256, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + colour + bits


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    images = [image(s) for s in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(SIZES, images):
        # width, height, colour count (0: 256 or more), reserved, planes, bits
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 8, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main()
