#!/usr/bin/env python3
"""Draws the program's printer icon and writes it as a .ico with a 32x32 and a 16x16 image,
16 colours each. Deterministic: the same script always writes the same bytes.

    make-icon.py OUT.ico          write the icon
    make-icon.py --check IN.ico   exit 1 when IN.ico differs from what the script draws
"""
import struct
import sys

# The 16-colour Windows palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
    (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
    (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, SILVER, GRAY, LIME, WHITE = 0, 4, 7, 8, 10, 15

# The pictogram on a 32-unit grid, painted in order: (x0, y0, x1, y1, fill, outline or None).
SHAPES = [
    (9, 1, 23, 14, WHITE, BLACK),     # sheet going in at the top
    (11, 4, 21, 5, NAVY, None),       # printed lines on it
    (11, 7, 19, 8, NAVY, None),
    (11, 10, 21, 11, NAVY, None),
    (2, 12, 30, 25, SILVER, BLACK),   # the printer's body
    (4, 14, 28, 16, WHITE, None),     # highlight along its top
    (24, 17, 28, 19, LIME, None),     # power light
    (6, 20, 26, 23, GRAY, BLACK),     # output slot
    (9, 22, 23, 31, WHITE, BLACK),    # sheet coming out
    (11, 25, 21, 26, NAVY, None),
    (11, 28, 17, 29, NAVY, None),
]


def draw(size):
    """Rows top-down of palette indices, None where the icon is transparent."""
    unit = 32.0 / size
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            ux, uy = (px + 0.5) * unit, (py + 0.5) * unit
            colour = None
            for x0, y0, x1, y1, fill, outline in SHAPES:
                if x0 <= ux < x1 and y0 <= uy < y1:
                    edge = ux < x0 + unit or ux >= x1 - unit or uy < y0 + unit or uy >= y1 - unit
                    colour = outline if (edge and outline is not None) else fill
            row.append(colour)
        rows.append(row)
    return rows


def padded(data):
    return data + b"\0" * (-len(data) % 4)


def image_bytes(size):
    """A DIB as icons hold it: header with doubled height, palette, 4-bit colours, 1-bit mask."""
    rows = draw(size)
    xor, mask = b"", b""
    for row in reversed(rows):  # DIB rows run bottom-up
        colours = [0 if c is None else c for c in row]
        xor += padded(bytes((colours[i] << 4) | colours[i + 1] for i in range(0, size, 2)))
        bits = bytearray(size // 8)
        for i, c in enumerate(row):
            if c is None:
                bits[i // 8] |= 0x80 >> (i % 8)
        mask += padded(bytes(bits))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 0, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + xor + mask


def icon_file():
    images = [(32, image_bytes(32)), (16, image_bytes(16))]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in images)


def main(argv):
    if len(argv) == 3 and argv[1] == "--check":
        with open(argv[2], "rb") as f:
            same = f.read() == icon_file()
        if not same:
            print(argv[2] + " differs from what make-icon.py draws", file=sys.stderr)
        return 0 if same else 1
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    with open(argv[1], "wb") as f:
        f.write(icon_file())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
