#!/usr/bin/env python3
"""Draws the program's icons, an envelope, into resources/ (or the folder
given): app.ico, and the two tray states beside it, new_mail.ico (a red
badge on the envelope: new mail is waiting) and check_failed.ico (the
envelope in greys: the last check failed).

Images of 16 colours each (4 bits a pixel, the standard VGA palette):
app.ico holds 32 x 32 and 16 x 16; the tray states only 16 x 16, the one
size the notification area shows. Each is drawn from a small character map
so that the 16 x 16 one stays crisp instead of being scaled. Run it again
after changing a map; the .ico files are committed beside it.
"""
import struct
import sys
from pathlib import Path

# Standard 16-colour palette, as (blue, green, red, 0) quads.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
# Map characters: '.' transparent, 'k' black outline, 'w' white paper,
# 'g' grey shade, 'y' yellow flap, 'r' red seal.
INK = {'k': 0, 'w': 15, 'g': 7, 'y': 11, 'r': 9, 'd': 8}

ICON16 = [
    "................",
    "................",
    "................",
    "kkkkkkkkkkkkkkkk",
    "kykwwwwwwwwwwkyk",
    "kwykwwwwwwwwkywk",
    "kwwykwwwwwwkywwk",
    "kwwwykwwwwkywwwk",
    "kwwwwykrrkywwwwk",
    "kwwwwkyrrykwwwwk",
    "kwwwkwwkkwwkwwwk",
    "kwwkwwwwwwwwkwwk",
    "kwkwwwwwwwwwwkwk",
    "kkgggggggggggkkk",
    "kkkkkkkkkkkkkkkk",
    "................",
]

# The badge of new_mail.ico, laid over the top right corner ('.' keeps
# what is under it): a red disc with a white mark.
BADGE = [
    ".rrrrr.",
    "rrrwrrr",
    "rrrwrrr",
    "rrrwrrr",
    "rrrrrrr",
    "rrrwrrr",
    ".rrrrr.",
]

def with_badge(rows):
    out = [list(r) for r in rows]
    left = len(rows[0]) - len(BADGE[0])
    for y, line in enumerate(BADGE):
        for x, ch in enumerate(line):
            if ch != '.':
                out[y][left + x] = ch
    return [''.join(r) for r in out]

# check_failed.ico: the same envelope with its colours taken out.
MUTED = {'k': 'd', 'w': 'g', 'y': 'g', 'r': 'd', 'g': 'g', 'd': 'd', '.': '.'}

def muted(rows):
    return [''.join(MUTED[ch] for ch in r) for r in rows]

def icon32():
    rows = []
    for y in range(32):
        row = []
        for x in range(32):
            row.append('.')
        rows.append(row)
    top, bottom, left, right = 6, 26, 1, 30
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            edge = y in (top, bottom) or x in (left, right)
            rows[y][x] = 'k' if edge else 'w'
    # The flap: two diagonals from the top corners to the middle.
    mid = (left + right) // 2
    for i in range(0, 12):
        for x, d in ((left + 1 + i, 1), (right - 1 - i, -1)):
            y = top + 1 + i
            if left < x < right and top < y < bottom:
                rows[y][x] = 'k'
                nx = x + d
                if left < nx < right:
                    rows[y][nx] = 'y' if rows[y][nx] == 'w' else rows[y][nx]
    # The lower folds: from the bottom corners towards the centre.
    for i in range(0, 9):
        for x in (left + 1 + i, right - 1 - i):
            y = bottom - 1 - i
            if rows[y][x] == 'w':
                rows[y][x] = 'g'
    # A red seal where the flap meets.
    for y in range(top + 10, top + 14):
        for x in range(mid - 1, mid + 3):
            rows[y][x] = 'r'
    # A shadow line along the bottom.
    for x in range(left + 1, right):
        if rows[bottom - 1][x] == 'w':
            rows[bottom - 1][x] = 'd'
    return [''.join(r) for r in rows]

def image(rows):
    size = len(rows)
    assert all(len(r) == size for r in rows)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    pal = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    xor = bytearray()
    and_ = bytearray()
    and_stride = ((size + 31) // 32) * 4
    for row in reversed(rows):  # bottom-up
        line = bytearray()
        for x in range(0, size, 2):
            hi = INK.get(row[x], 0)
            lo = INK.get(row[x + 1], 0)
            line.append((hi << 4) | lo)
        while len(line) % 4:
            line.append(0)
        xor += line
        bits = bytearray(and_stride)
        for x, ch in enumerate(row):
            if ch == '.':
                bits[x // 8] |= 0x80 >> (x % 8)
        and_ += bits
    return header + pal + bytes(xor) + bytes(and_)

def ico(images):
    data = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, blob in images:
        data += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
    for _, blob in images:
        data += blob
    return data

def main():
    folder = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / 'resources'
    (folder / 'app.ico').write_bytes(ico([(32, image(icon32())), (16, image(ICON16))]))
    (folder / 'new_mail.ico').write_bytes(ico([(16, image(with_badge(ICON16)))]))
    (folder / 'check_failed.ico').write_bytes(ico([(16, image(muted(ICON16)))]))

if __name__ == '__main__':
    main()
