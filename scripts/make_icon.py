#!/usr/bin/env python3
"""Draws the setup program's icon, a carton with a green arrow pointing into it, and writes it as
a Windows .ico file with two 8-bit, 256-colour images: 16 x 16 and 32 x 32.

Usage: make_icon.py OUTPUT.ico
"""
import struct
import sys

# Palette indexes. The palette always has 256 entries; only these are used, the rest stay black.
TRANSPARENT, OUTLINE, CARTON, CARTON_SHADE, FLAP, ARROW, ARROW_EDGE, TAPE = range(8)
PALETTE = {
    OUTLINE: (0x40, 0x28, 0x10),
    CARTON: (0xD8, 0xA8, 0x60),
    CARTON_SHADE: (0xB0, 0x80, 0x40),
    FLAP: (0xE8, 0xC8, 0x88),
    ARROW: (0x30, 0xB0, 0x30),
    ARROW_EDGE: (0x10, 0x60, 0x10),
    TAPE: (0xF0, 0xE8, 0xD0),
}


# At 16 pixels the shapes of the large image lose their outlines, so the small image is drawn by hand.
SMALL_PICTURE = [
    "......eeee......",
    "......eaae......",
    "......eaae......",
    "......eaae......",
    "ooeeeeaaaaeeeeoo",
    "offfeaaaaaaefffo",
    "offffeaaaaeffffo",
    "ooooooeaaeoooooo",
    "occcccceecccccso",
    "occcccccccccccso",
    "otttttttttttttto",
    "otttttttttttttto",
    "occcccccccccccso",
    "occcccccccccccso",
    "occcccccccccccso",
    "oooooooooooooooo",
]
SMALL_LEGEND = {'.': TRANSPARENT, 'o': OUTLINE, 'c': CARTON, 's': CARTON_SHADE, 'f': FLAP,
                'a': ARROW, 'e': ARROW_EDGE, 't': TAPE}


def draw(size):
    """Returns the picture as rows of palette indexes, top row first."""
    if size == 16:
        return [[SMALL_LEGEND[c] for c in row] for row in SMALL_PICTURE]
    s = size / 32.0
    pixels = [[TRANSPARENT] * size for _ in range(size)]

    def fill(x0, y0, x1, y1, colour):
        for y in range(int(round(y0 * s)), int(round(y1 * s))):
            for x in range(int(round(x0 * s)), int(round(x1 * s))):
                if 0 <= x < size and 0 <= y < size:
                    pixels[y][x] = colour

    def frame(x0, y0, x1, y1):
        left, top = int(round(x0 * s)), int(round(y0 * s))
        right, bottom = int(round(x1 * s)) - 1, int(round(y1 * s)) - 1
        for x in range(left, right + 1):
            pixels[top][x] = OUTLINE
            pixels[bottom][x] = OUTLINE
        for y in range(top, bottom + 1):
            pixels[y][left] = OUTLINE
            pixels[y][right] = OUTLINE

    # Open flaps leaning outwards above the carton.
    fill(3, 12, 15, 16, FLAP)
    frame(3, 12, 15, 16)
    fill(17, 12, 29, 16, FLAP)
    frame(17, 12, 29, 16)
    # The carton: front face with a darker side strip and a band of tape.
    fill(4, 16, 28, 30, CARTON)
    fill(22, 16, 28, 30, CARTON_SHADE)
    fill(4, 21, 28, 23, TAPE)
    frame(4, 16, 28, 30)
    # The arrow: shaft from the top edge, head reaching into the opening.
    fill(13, 1, 19, 11, ARROW)
    for row in range(8):
        half = 8 - row
        fill(16 - half, 10 + row, 16 + half, 11 + row, ARROW)
    for y in range(size):
        for x in range(size):
            if pixels[y][x] == ARROW:
                neighbours = [(x - 1, y), (x + 1, y), (x, y - 1), (x, y + 1)]
                if any(not (0 <= nx < size and 0 <= ny < size) or pixels[ny][nx] not in (ARROW, ARROW_EDGE)
                       for nx, ny in neighbours):
                    pixels[y][x] = ARROW_EDGE
    return pixels


def row_stride(bits_per_row):
    return (bits_per_row + 31) // 32 * 4


def icon_image(size):
    """One icon image: BITMAPINFOHEADER (height doubled), 256-entry palette, colour plane, AND mask."""
    pixels = draw(size)
    colour_stride = row_stride(size * 8)
    mask_stride = row_stride(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 8, 0,
                         colour_stride * size + mask_stride * size, 0, 0, 256, 0)
    palette = b''.join(struct.pack('<BBBB', *reversed(PALETTE.get(i, (0, 0, 0))), 0) for i in range(256))
    colour = bytearray()
    mask = bytearray()
    for row in reversed(pixels):  # device-independent bitmaps are stored bottom row first
        colour += bytes(row) + bytes(colour_stride - size)
        bits = bytearray(mask_stride)
        for x, index in enumerate(row):
            if index == TRANSPARENT:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + palette + bytes(colour) + bytes(mask)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__.strip())
    images = [(16, icon_image(16)), (32, icon_image(32))]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in images:
        out += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 8, len(image), offset)
        offset += len(image)
    out += b''.join(image for _, image in images)
    with open(sys.argv[1], 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()
