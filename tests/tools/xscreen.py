#!/usr/bin/env python3
"""Takes a picture of a whole X screen and says where its non-black pixels lie.

    xscreen.py OUT.png     saves the screen of $DISPLAY as OUT.png and prints
                           "x0 y0 x1 y1 width height": the smallest rectangle
                           (x1, y1 exclusive) holding every non-black pixel,
                           then the screen's size; "none" when all is black.
    xscreen.py OUT.png X Y W H
                           the same, looking only inside that rectangle of
                           the screen (a window's inside, without its frame).

Reads the root window through libX11 (ctypes), so it needs nothing beyond
the X library that SDL already brings.
"""
import ctypes
import ctypes.util
import struct
import sys
import zlib


class XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_char)),
                ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int),
                ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int), ("depth", ctypes.c_int),
                ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int),
                ("red_mask", ctypes.c_ulong), ("green_mask", ctypes.c_ulong), ("blue_mask", ctypes.c_ulong)]


def grab():
    x = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    x.XOpenDisplay.restype = ctypes.c_void_p
    x.XDefaultRootWindow.restype = ctypes.c_ulong
    x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x.XDisplayWidth.argtypes = x.XDisplayHeight.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x.XGetImage.restype = ctypes.POINTER(XImage)
    x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                            ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
    display = x.XOpenDisplay(None)
    if not display:
        sys.exit("no X display")
    width, height = x.XDisplayWidth(display, 0), x.XDisplayHeight(display, 0)
    image = x.XGetImage(display, x.XDefaultRootWindow(display), 0, 0, width, height, 0xFFFFFFFF, 2).contents
    if image.bits_per_pixel != 32:
        sys.exit(f"{image.bits_per_pixel} bits per pixel: only 32 are read")
    raw = ctypes.string_at(image.data, image.bytes_per_line * height)
    rows = []
    for y in range(height):
        line = raw[y * image.bytes_per_line:y * image.bytes_per_line + 4 * width]
        rgb = bytearray(3 * width)  # little-endian B G R X -> R G B
        rgb[0::3], rgb[1::3], rgb[2::3] = line[2::4], line[1::4], line[0::4]
        rows.append(bytes(rgb))
    return width, height, rows


def save_png(path, width, height, rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    body = zlib.compress(b"".join(b"\0" + row for row in rows), 6)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
                chunk(b"IDAT", body) + chunk(b"IEND", b""))


def main():
    width, height, rows = grab()
    save_png(sys.argv[1], width, height, rows)
    rx, ry, rw, rh = (int(v) for v in sys.argv[2:6]) if len(sys.argv) >= 6 else (0, 0, width, height)
    rx0, ry0 = max(rx, 0), max(ry, 0)
    rx1, ry1 = min(rx + rw, width), min(ry + rh, height)
    x0, y0, x1, y1 = width, height, -1, -1
    for y in range(ry0, ry1):
        row = rows[y][3 * rx0:3 * rx1]
        left = len(row) - len(row.lstrip(b"\0"))
        if left == len(row):
            continue
        right = len(row.rstrip(b"\0"))
        x0, x1 = min(x0, rx0 + left // 3), max(x1, rx0 + (right + 2) // 3)
        y0, y1 = min(y0, y), y + 1
    print("none" if x1 < 0 else f"{x0} {y0} {x1} {y1} {width} {height}")


if __name__ == "__main__":
    main()
