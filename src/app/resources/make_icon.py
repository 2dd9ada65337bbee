#!/usr/bin/env python3
"""Draws the program icon of setup.exe and writes it as a Windows .ico file.

Two images, 32x32 and 16x16, 16 colours each (4 bits per pixel, the standard
Windows palette), so that every system from Windows 95 on shows it: a printer
with a page in front of it that carries a red band.

    python3 make_icon.py [setup.ico]
"""
import struct
import sys

# The 16-colour palette of Windows, in its usual order, as (R, G, B).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0x80, 0x80, 0x80),
    (0xC0, 0xC0, 0xC0), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, GREY, SILVER, RED, LIME, WHITE = 0, 7, 8, 9, 10, 15
CLEAR = None  # transparent: AND-mask bit set, colour 0


class Canvas:
    def __init__(self, size):
        self.size = size
        self.px = [[CLEAR] * size for _ in range(size)]

    def fill(self, x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.px[y][x] = colour

    def box(self, x0, y0, x1, y1, inside, edge=BLACK):
        self.fill(x0, y0, x1, y1, edge)
        if x1 - x0 > 1 and y1 - y0 > 1:
            self.fill(x0 + 1, y0 + 1, x1 - 1, y1 - 1, inside)


def draw_32():
    c = Canvas(32)
    c.box(9, 2, 22, 13, WHITE)                 # paper in the feeder
    for y in (5, 7, 9, 11):
        c.fill(11, y, 20, y, GREY)
    c.box(2, 12, 29, 24, SILVER)               # printer body
    c.fill(3, 13, 28, 14, WHITE)               # light top edge
    c.fill(3, 22, 28, 23, GREY)                # shaded bottom
    c.fill(5, 18, 26, 18, BLACK)               # paper slot
    c.fill(24, 15, 26, 16, LIME)               # power light
    c.box(8, 19, 23, 30, WHITE)                # page that came out
    c.fill(10, 21, 21, 21, GREY)
    c.fill(10, 23, 21, 23, GREY)
    c.fill(10, 25, 21, 28, RED)                # the red band of the document
    return c


def draw_16():
    c = Canvas(16)
    c.box(4, 0, 11, 6, WHITE)
    c.fill(6, 2, 9, 2, GREY)
    c.fill(6, 4, 9, 4, GREY)
    c.box(0, 5, 15, 12, SILVER)
    c.fill(1, 6, 14, 6, WHITE)
    c.fill(12, 7, 13, 7, LIME)
    c.fill(2, 9, 13, 9, BLACK)
    c.box(4, 9, 11, 15, WHITE)
    c.fill(5, 12, 10, 13, RED)
    return c


def dib(canvas):
    """The icon image: BITMAPINFOHEADER, palette, XOR bitmap, AND mask (bottom-up rows)."""
    n = canvas.size
    xor_stride = ((n * 4 + 31) // 32) * 4
    and_stride = ((n + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(canvas.px):
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x, colour in enumerate(row):
            index = 0 if colour is CLEAR else colour
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if colour is CLEAR:
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += line
        mask += bits
    header = struct.pack('<IiiHHIIiiII', 40, n, 2 * n, 1, 4, 0, len(xor) + len(mask), 0, 0, 0, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + bytes(xor) + bytes(mask)


def ico(canvases):
    images = [dib(c) for c in canvases]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for c, image in zip(canvases, images):
        out += struct.pack('<BBBBHHII', c.size, c.size, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    return out + b''.join(images)


if __name__ == '__main__':
    path = sys.argv[1] if len(sys.argv) > 1 else 'setup.ico'
    with open(path, 'wb') as f:
        f.write(ico([draw_32(), draw_16()]))
