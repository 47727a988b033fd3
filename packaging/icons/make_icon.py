#!/usr/bin/env python3
"""Writes the program's desktop icon: kdssv.svg and kdssv-<N>.png for the
sizes below, from one 16 x 16 pixel drawing in the style of the order grids'
check glyph (the 16-colour system palette; a raised silver box with white top
and left edges, grey bottom and right edges and a black outer shadow; a blue tick with a navy
shadow whose long arm runs over the box's top edge and out past its right
edge). The background is transparent. Each PNG is the drawing enlarged by a
whole factor, pixel for pixel, so the glyph's hard edges stay.

The committed files are the output of this script: run it from this folder
after changing the drawing. Python's standard library only.
"""
import struct
import zlib

SIZE = 16
PNG_SIZES = (16, 32, 48, 64, 128, 256)

# The colours of the glyphs, from the 16-colour system palette.
NAVY = (0, 0, 128)
SILVER = (192, 192, 192)
GREY = (128, 128, 128)
BLACK = (0, 0, 0)
BLUE = (0, 0, 255)
WHITE = (255, 255, 255)

# Where the box's top-left corner sits on the 16 x 16 field.
BOX_X, BOX_Y = 1, 2
BOX_W, BOX_H = 13, 12


def drawing():
    px = [[None] * SIZE for _ in range(SIZE)]

    def put(x, y, colour):
        px[BOX_Y + y][BOX_X + x] = colour

    for y in range(BOX_H):
        for x in range(BOX_W):
            put(x, y, SILVER)
    for x in range(BOX_W - 1):
        put(x, 0, WHITE)              # top edge
    for y in range(BOX_H - 1):
        put(0, y, WHITE)              # left edge
    for x in range(BOX_W):
        put(x, BOX_H - 1, GREY)       # bottom edge
    for y in range(BOX_H):
        put(BOX_W - 1, y, GREY)       # right edge
    # A black outer shadow below and to the right, as raised controls of the
    # same palette have, so the box stands out on a white background too.
    for x in range(BOX_W + 1):
        put(x, BOX_H, BLACK)
    for y in range(BOX_H + 1):
        put(BOX_W, y, BLACK)

    # The tick of the checked glyph: lowest row of the stroke in each column
    # (box coordinates); three pixels high, blue over a navy bottom pixel.
    bottom = {3: 6, 4: 7, 5: 8, 6: 9, 7: 8, 8: 7, 9: 6, 10: 4, 11: 3, 12: 2,
              13: 1}
    for x, b in bottom.items():
        for y in range(b - 2, b + 1):
            if BOX_Y + y >= 0:
                put(x, y, NAVY if y == b else BLUE)
    return px


def write_png(path, px, scale):
    n = SIZE * scale
    raw = bytearray()
    for row in px:
        line = bytearray([0])         # filter type 0 for each scanline
        for colour in row:
            rgba = (0, 0, 0, 0) if colour is None else colour + (255,)
            line += bytes(rgba) * scale
        raw += bytes(line) * scale

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(
            ">I", zlib.crc32(body) & 0xFFFFFFFF)

    ihdr = struct.pack(">IIBBBBB", n, n, 8, 6, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) +
                chunk(b"IDAT", zlib.compress(bytes(raw), 9)) +
                chunk(b"IEND", b""))


def write_svg(path, px):
    rects = []
    for y, row in enumerate(px):
        x = 0
        while x < SIZE:               # one rectangle per run of one colour
            colour = row[x]
            end = x
            while end < SIZE and row[end] == colour:
                end += 1
            if colour is not None:
                rects.append('  <rect x="%d" y="%d" width="%d" height="1" '
                             'fill="#%02x%02x%02x"/>' % ((x, y, end - x) + colour))
            x = end
    with open(path, "w") as f:
        f.write('<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" '
                'viewBox="0 0 %d %d" shape-rendering="crispEdges">\n'
                % (SIZE * 16, SIZE * 16, SIZE, SIZE))
        f.write("\n".join(rects) + "\n</svg>\n")


if __name__ == "__main__":
    px = drawing()
    write_svg("kdssv.svg", px)
    for n in PNG_SIZES:
        write_png("kdssv-%d.png" % n, px, n // SIZE)
