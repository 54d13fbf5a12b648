#!/usr/bin/env python3
"""Whether screenshots show the same palette indices in a box.

  pngsame.py X0 Y0 X1 Y1 FILE FILE...   exit 0 when every file equals the first there
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pngindex import read_indices  # noqa: E402


def main():
    x0, y0, x1, y1 = (int(v) for v in sys.argv[1:5])
    boxes = []
    for path in sys.argv[5:]:
        width, height, rows = read_indices(path)
        boxes.append([bytes(rows[y][x0:x1]) for y in range(y0, y1)])
    for path, box in zip(sys.argv[6:], boxes[1:]):
        if box != boxes[0]:
            print(f"{path} differs from {sys.argv[5]} in ({x0},{y0})-({x1},{y1})", file=sys.stderr)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
