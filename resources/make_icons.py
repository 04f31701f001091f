#!/usr/bin/env python3
"""Draws the program's icons and writes them as .ico files.

    make_icons.py [OUTPUT_DIR]      (default: the icons/ folder beside this script)

tray.ico (resource 111) is the program file's own 32x32 icon: a feed symbol, a dot and two
quarter rings, white on an orange rounded square. frame1.ico to frame4.ico (resources 112 to
115) are the 16x16 tray pictures: frame 1 is the same symbol and doubles as the idle picture;
frames 2 to 4 light the dot, the inner ring and the outer ring in turn while the rest is dimmed,
so that during an update a pulse runs outwards from the dot.

The drawing uses only arithmetic on floats (no square roots, no library drawing), so every run
on every machine writes the same bytes. Each file holds one 32-bit image as a BMP payload: a
BITMAPINFOHEADER of double height, the BGRA colour rows bottom-up, then the 1-bit AND mask.
"""

import os
import struct
import sys

SUPERSAMPLING = 4  # samples per pixel along each axis, for smooth edges

BACKGROUND_TOP = (0xF8, 0xA2, 0x3F)  # RGB
BACKGROUND_BOTTOM = (0xE3, 0x6C, 0x0A)
SYMBOL = (0xFF, 0xFF, 0xFF)
DIMMED_SYMBOL_OPACITY = 0.35

# Geometry in units of the icon's side, y pointing down.
MARGIN = 0.03
CORNER_RADIUS = 0.2
SYMBOL_CENTRE = (0.27, 0.73)
DOT_RADIUS = 0.09
INNER_RING = (0.27, 0.39)  # inner and outer radius
OUTER_RING = (0.48, 0.60)

# Which parts of the symbol are lit in each picture: dot, inner ring, outer ring.
ALL_LIT = (True, True, True)
FRAMES = [
    ALL_LIT,
    (True, False, False),
    (False, True, False),
    (False, False, True),
]

# (file name, side in pixels, lit parts), in resource order 111 to 115.
ICONS = [("tray.ico", 32, ALL_LIT)] + [
    ("frame%d.ico" % (number + 1), 16, lit) for number, lit in enumerate(FRAMES)
]


def inside_rounded_square(x, y):
    low, high = MARGIN, 1.0 - MARGIN
    if not (low <= x <= high and low <= y <= high):
        return False
    # Outside the corner squares everything in the bounds is inside.
    corner_x = min(max(x, low + CORNER_RADIUS), high - CORNER_RADIUS)
    corner_y = min(max(y, low + CORNER_RADIUS), high - CORNER_RADIUS)
    dx, dy = x - corner_x, y - corner_y
    return dx * dx + dy * dy <= CORNER_RADIUS * CORNER_RADIUS


def symbol_part(x, y):
    """Which part of the feed symbol covers (x, y): 0 dot, 1 inner ring, 2 outer ring, or None."""
    dx, dy = x - SYMBOL_CENTRE[0], SYMBOL_CENTRE[1] - y
    distance_squared = dx * dx + dy * dy
    if distance_squared <= DOT_RADIUS * DOT_RADIUS:
        return 0
    # The rings are the quarter up and to the right of the centre.
    if dx < 0 or dy < 0:
        return None
    for part, (inner, outer) in ((1, INNER_RING), (2, OUTER_RING)):
        if inner * inner <= distance_squared <= outer * outer:
            return part
    return None


def blend(low, high, weight):
    return tuple(a + (b - a) * weight for a, b in zip(low, high))


def to_byte(value):
    return max(0, min(255, int(value + 0.5)))


def draw(side, lit):
    """Returns the picture as rows, top row first, of (r, g, b, a) byte tuples."""
    samples = SUPERSAMPLING * SUPERSAMPLING
    rows = []
    for row in range(side):
        pixels = []
        for column in range(side):
            covered = 0
            colour_sum = [0.0, 0.0, 0.0]
            for sub_row in range(SUPERSAMPLING):
                for sub_column in range(SUPERSAMPLING):
                    x = (column + (sub_column + 0.5) / SUPERSAMPLING) / side
                    y = (row + (sub_row + 0.5) / SUPERSAMPLING) / side
                    if not inside_rounded_square(x, y):
                        continue
                    colour = blend(BACKGROUND_TOP, BACKGROUND_BOTTOM, y)
                    part = symbol_part(x, y)
                    if part is not None:
                        opacity = 1.0 if lit[part] else DIMMED_SYMBOL_OPACITY
                        colour = blend(colour, SYMBOL, opacity)
                    covered += 1
                    for channel in range(3):
                        colour_sum[channel] += colour[channel]
            if covered == 0:
                pixels.append((0, 0, 0, 0))
            else:
                # Colour averaged over the covered samples only: the alpha carries the coverage.
                colour = [to_byte(total / covered) for total in colour_sum]
                pixels.append((colour[0], colour[1], colour[2], to_byte(255.0 * covered / samples)))
        rows.append(pixels)
    return rows


def bmp_payload(rows):
    side = len(rows)
    colour_bytes = bytearray()
    for pixels in reversed(rows):  # bottom-up
        for r, g, b, a in pixels:
            colour_bytes += bytes((b, g, r, a))
    mask_row_bytes = ((side + 31) // 32) * 4
    mask_bytes = bytearray()
    for pixels in reversed(rows):
        mask_row = bytearray(mask_row_bytes)
        for column, pixel in enumerate(pixels):
            if pixel[3] == 0:  # 1 = transparent, for readers that ignore the alpha
                mask_row[column // 8] |= 0x80 >> (column % 8)
        mask_bytes += mask_row
    header = struct.pack(
        "<IiiHHIIiiII",
        40,  # biSize
        side,  # biWidth
        side * 2,  # biHeight: colour rows and mask rows together
        1,  # biPlanes
        32,  # biBitCount
        0,  # biCompression: BI_RGB
        len(colour_bytes) + len(mask_bytes),  # biSizeImage
        0,
        0,
        0,
        0,
    )
    return header + bytes(colour_bytes) + bytes(mask_bytes)


def ico_file(rows):
    side = len(rows)
    payload = bmp_payload(rows)
    icon_dir = struct.pack("<HHH", 0, 1, 1)  # reserved, type 1 = icon, one image
    entry = struct.pack(
        "<BBBBHHII",
        side % 256,  # width; 0 would mean 256
        side % 256,
        0,  # no palette
        0,
        1,  # planes
        32,  # bits per pixel
        len(payload),
        len(icon_dir) + 16,  # the image follows the one directory entry
    )
    return icon_dir + entry + payload


def main(arguments):
    if len(arguments) > 1:
        sys.stderr.write("usage: make_icons.py [OUTPUT_DIR]\n")
        return 2
    default_dir = os.path.join(os.path.dirname(os.path.abspath(__file__)), "icons")
    output_dir = arguments[0] if arguments else default_dir
    os.makedirs(output_dir, exist_ok=True)
    for name, side, lit in ICONS:
        with open(os.path.join(output_dir, name), "wb") as output:
            output.write(ico_file(draw(side, lit)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
