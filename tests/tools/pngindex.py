#!/usr/bin/env python3
"""Reads an 8-bit palette PNG (the game's screenshots) and answers questions
about its palette indices, so the end-to-end tests can check what the game
drew without any imaging library.

  pngindex.py FILE count INDEX [x0 y0 x1 y1]   pixels of INDEX in the box (exclusive ends)
  pngindex.py FILE inrange LO HI x0 y0 x1 y1   pixels with an index in LO..HI in the box
  pngindex.py FILE at X Y                      the index at (X, Y)
"""
import struct
import sys
import zlib


def read_indices(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise SystemExit(f"{path}: not a PNG")
    pos, idat, width, height = 8, b"", 0, 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            if depth != 8 or colour != 3:
                raise SystemExit(f"{path}: not an 8-bit palette picture")
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    rows, prev = [], bytearray(width)
    for y in range(height):
        line = raw[y * (width + 1):(y + 1) * (width + 1)]
        kind, row = line[0], bytearray(line[1:])
        for x in range(width):
            a = row[x - 1] if x else 0
            b = prev[x]
            c = prev[x - 1] if x else 0
            if kind == 1:
                row[x] = (row[x] + a) & 255
            elif kind == 2:
                row[x] = (row[x] + b) & 255
            elif kind == 3:
                row[x] = (row[x] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                row[x] = (row[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(row)
        prev = row
    return width, height, rows


def main():
    path, question = sys.argv[1], sys.argv[2]
    width, height, rows = read_indices(path)
    if question == "at":
        x, y = int(sys.argv[3]), int(sys.argv[4])
        print(rows[y][x])
    elif question == "count":
        index = int(sys.argv[3])
        x0, y0, x1, y1 = (int(v) for v in sys.argv[4:8]) if len(sys.argv) >= 8 else (0, 0, width, height)
        print(sum(row[x0:x1].count(index) for row in rows[y0:y1]))
    elif question == "inrange":
        lo, hi = int(sys.argv[3]), int(sys.argv[4])
        x0, y0, x1, y1 = (int(v) for v in sys.argv[5:9])
        print(sum(1 for row in rows[y0:y1] for v in row[x0:x1] if lo <= v <= hi))
    else:
        raise SystemExit("unknown question")


if __name__ == "__main__":
    main()
