#!/usr/bin/env python3
"""Draws the converter's application icon and writes res/vm-fits.ico.

The picture: a dish antenna on its stand, turned towards the sun. The icon
holds 16-colour images (for old displays) and 32-bit images with an alpha
channel, each in 32 x 32 and 16 x 16 pixels. Run it again after changing the
drawing; the build only uses the committed .ico.

Usage: python3 res/make_icon.py [output.ico] [--preview preview.png]
"""
import math
import struct
import sys
import zlib

# The 16 colours of the standard VGA palette, used by the 4-bit images.
VGA = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]

SUN = (255, 220, 0)
SUN_EDGE = (255, 128, 0)
DISH = (235, 235, 235)
DISH_EDGE = (64, 64, 64)
STEEL = (128, 128, 128)
FEED = (0, 0, 160)


def shade(x, y):
    """Colour (r, g, b) of the point (x, y) of a 32 x 32 canvas, or None."""
    # The sun, top right, with eight short rays.
    sx, sy = 24.0, 7.5
    d = math.hypot(x - sx, y - sy)
    if d <= 4.2:
        return SUN
    if d <= 5.2:
        return SUN_EDGE
    if 6.2 <= d <= 8.0:
        angle = math.degrees(math.atan2(y - sy, x - sx)) % 45.0
        if angle < 9.0 or angle > 36.0:
            return SUN_EDGE
    # The dish: half an elliptic shell, opening towards the sun.
    cx, cy = 11.0, 17.0
    nx, ny = 1 / math.sqrt(2), -1 / math.sqrt(2)  # axis, towards the sun
    tx, ty = -ny, nx
    u = (x - cx) * nx + (y - cy) * ny
    v = (x - cx) * tx + (y - cy) * ty
    # The feed: a rod along the axis with the receiver at its end.
    if 0.0 <= u <= 8.0 and abs(v) <= 0.7:
        return FEED
    if math.hypot(u - 8.5, v) <= 1.6:
        return FEED
    if u <= 0.6:
        e = (u / 5.0) ** 2 + (v / 11.5) ** 2
        if e <= 1.0:
            inner = ((u - 0.6) / 4.4) ** 2 + (v / 10.6) ** 2
            return DISH if inner <= 1.0 and u <= 0.0 else DISH_EDGE
    # The stand and its foot.
    if 9.0 <= x <= 12.5 and 19.0 <= y <= 28.0:
        return STEEL
    if 3.0 <= x <= 19.0 and 27.0 <= y <= 30.0:
        return DISH_EDGE
    return None


def render(size, samples=4):
    """Rows of (r, g, b, a) pixels, top row first, the canvas scaled to size."""
    scale = 32.0 / size
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0]
            hits = 0
            for sy in range(samples):
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) * scale
                    y = (py + (sy + 0.5) / samples) * scale
                    colour = shade(x, y)
                    if colour is not None:
                        hits += 1
                        for i in range(3):
                            acc[i] += colour[i]
            if hits == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(round(c / hits) for c in acc) +
                           (round(255 * hits / samples ** 2),))
        rows.append(row)
    return rows


def nearest_vga(colour):
    return min(range(16), key=lambda i: sum((a - b) ** 2 for a, b in zip(VGA[i], colour)))


def and_mask(rows, size):
    """The 1-bit transparency mask, bottom row first, rows padded to 4 bytes."""
    stride = ((size + 31) // 32) * 4
    out = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:
                line[x // 8] |= 0x80 >> (x % 8)
        out += line
    return bytes(out)


def bitmap_header(size, bits, image_bytes, colours):
    return struct.pack('<IiiHHIIiiII', 40, size, 2 * size, 1, bits, 0, image_bytes,
                       0, 0, colours, 0)


def image_4bit(size):
    rows = render(size)
    stride = ((size * 4 + 31) // 32) * 4
    xor = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, (r, g, b, a) in enumerate(row):
            index = nearest_vga((r, g, b)) if a >= 128 else 0
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
        xor += line
    mask = and_mask(rows, size)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in VGA)
    return (bitmap_header(size, 4, len(xor) + len(mask), 16) + palette + bytes(xor) + mask,
            16, 4)


def image_32bit(size):
    rows = render(size)
    xor = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            xor += struct.pack('<BBBB', b, g, r, a)
    mask = and_mask(rows, size)
    return bitmap_header(size, 32, len(xor) + len(mask), 0) + bytes(xor) + mask, 0, 32


def write_ico(path, images):
    """images: (size, (data, colour count, bits per pixel)) in directory order."""
    out = bytearray(struct.pack('<HHH', 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, (data, colours, bits) in images:
        out += struct.pack('<BBBBHHII', size % 256, size % 256, colours, 0, 1, bits,
                           len(data), offset)
        offset += len(data)
    for _, (data, _, _) in images:
        out += data
    with open(path, 'wb') as f:
        f.write(out)


def write_png(path, rows, zoom):
    """An enlarged preview on a light grey ground, to look at the drawing."""
    size = len(rows)
    raw = bytearray()
    for row in rows:
        line = bytearray(b'\0')
        for r, g, b, a in row:
            mix = [round((c * a + 200 * (255 - a)) / 255) for c in (r, g, b)]
            line += bytes(mix) * zoom
        raw += bytes(line) * zoom

    def chunk(kind, data):
        return (struct.pack('>I', len(data)) + kind + data +
                struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff))
    with open(path, 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n')
        f.write(chunk(b'IHDR', struct.pack('>IIBBBBB', size * zoom, size * zoom, 8, 2, 0, 0, 0)))
        f.write(chunk(b'IDAT', zlib.compress(bytes(raw))))
        f.write(chunk(b'IEND', b''))


def main(argv):
    output = 'vm-fits.ico'
    preview = None
    args = list(argv)
    while args:
        arg = args.pop(0)
        if arg == '--preview':
            preview = args.pop(0)
        else:
            output = arg
    write_ico(output, [(32, image_4bit(32)), (16, image_4bit(16)),
                       (32, image_32bit(32)), (16, image_32bit(16))])
    if preview:
        write_png(preview, render(32), 8)


if __name__ == '__main__':
    main(sys.argv[1:])
