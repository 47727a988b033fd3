#!/usr/bin/env python3
"""Writes the two check glyphs of the order grids, CHECKED_DATA.bmp and
UNCHECKED_DATA.bmp: 19 x 14 pixels, 4 bits per pixel (the 16-colour system
palette), uncompressed. The committed .bmp files are the output of this
script; run it from this folder after changing the drawing below.

Both glyphs: an olive field (the transparent colour, read back from the
bottom-left pixel) with a raised 13 x 12 box in the top-left corner (white top
and left edges, grey bottom and right edges, silver face). The checked glyph
adds a blue tick with a navy shadow whose long arm runs over the box's top
edge and out past its right edge.
"""
import struct

WIDTH, HEIGHT = 19, 14

# The 16-colour system palette as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
OLIVE, NAVY, SILVER, GREY, BLUE, WHITE = 3, 4, 7, 8, 12, 15


def box():
    px = [[OLIVE] * WIDTH for _ in range(HEIGHT)]
    for y in range(12):
        for x in range(13):
            px[y][x] = SILVER
    for x in range(12):
        px[0][x] = WHITE           # top edge
    for y in range(11):
        px[y][0] = WHITE           # left edge
    for x in range(13):
        px[11][x] = GREY           # bottom edge
    for y in range(12):
        px[y][12] = GREY           # right edge
    return px


def tick(px):
    # Lowest row of the tick in each column; the stroke is three pixels high,
    # blue on top of a navy bottom pixel.
    bottom = {3: 6, 4: 7, 5: 8, 6: 9, 7: 8, 8: 7, 9: 6, 10: 4, 11: 3, 12: 2,
              13: 1}
    for x, b in bottom.items():
        for y in range(b - 2, b + 1):
            if 0 <= y < HEIGHT:
                px[y][x] = NAVY if y == b else BLUE
    return px


def write_bmp(path, px):
    stride = ((WIDTH * 4 + 31) // 32) * 4
    pixels = bytearray()
    for row in reversed(px):       # bitmaps are stored bottom row first
        line = bytearray()
        for x in range(0, WIDTH, 2):
            hi = row[x]
            lo = row[x + 1] if x + 1 < WIDTH else 0
            line.append((hi << 4) | lo)
        line.extend(b"\0" * (stride - len(line)))
        pixels += line
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    offset = 14 + 40 + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 4, 0, len(pixels),
                       2835, 2835, 16, 16)
    with open(path, "wb") as f:
        f.write(header + info + palette + pixels)


if __name__ == "__main__":
    write_bmp("UNCHECKED_DATA.bmp", box())
    write_bmp("CHECKED_DATA.bmp", tick(box()))
