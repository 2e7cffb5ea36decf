#!/usr/bin/env python3
"""Writes a seed corpus for ico_fuzz: icons at every depth the reader takes, with and without
AND masks, 32-bit alpha, several images in one file, PNG-stored images and thin shapes.
Usage: make_seeds.py OUT_DIR"""
import os
import struct
import sys
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bmp"))
from make_seeds import info_header, pack_rows, palette, row_bytes  # noqa: E402


def mask_bit(x, y, bpp):
    return 1 if (x + y) % 3 == 0 else 0


def alpha_pixel(x, y, bpp):
    a = (x * 255 // 7 + y * 16) & 255
    return a << 24 | (x * 30 & 255) << 16 | (y * 40 & 255) << 8 | 0x80


def dib(width, height, bpp, mask=True, value=None):
    """An icon image: a 40-byte header of twice the height, table, XOR rows, AND rows."""
    table = palette(1 << bpp) if bpp <= 8 else b""
    xor = pack_rows(width, height, bpp, value) if value else pack_rows(width, height, bpp)
    and_rows = pack_rows(width, height, 1, mask_bit) if mask else b""
    return info_header(40, width, 2 * height, bpp) + table + xor + and_rows


def png(width, height):
    """A small RGBA PNG."""
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    raw = b"".join(b"\x00" + bytes((x * 9 & 255, y * 11 & 255, (x ^ y) & 255, 255 if (x + y) % 4 else 64)[c]
                                   for x in range(width) for c in range(4)) for y in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def ico(images, kind=1):
    """images: (width, height, bpp, bytes); a directory width or height of 256 is written as 0."""
    head = struct.pack("<HHH", 0, kind, len(images))
    offset = 6 + 16 * len(images)
    body = b""
    for w, h, bpp, data in images:
        head += struct.pack("<BBBBHHII", w & 255, h & 255, 0, 0, 1, bpp, len(data), offset + len(body))
        body += data
    return head + body


def seeds():
    for bpp in (1, 4, 8, 24):
        yield f"{bpp}bit-masked", ico([(16, 16, bpp, dib(16, 16, bpp))])
    yield "32bit-alpha-masked", ico([(16, 16, 32, dib(16, 16, 32, value=alpha_pixel))])
    yield "32bit-alpha-no-mask", ico([(16, 16, 32, dib(16, 16, 32, mask=False, value=alpha_pixel))])
    yield "32bit-zero-alpha", ico([(16, 16, 32, dib(16, 16, 32, value=lambda x, y, b: x * 0x10101))])
    yield "odd-width-4bit", ico([(13, 7, 4, dib(13, 7, 4))])
    yield "several", ico([(16, 16, 8, dib(16, 16, 8)), (32, 32, 32, dib(32, 32, 32, value=alpha_pixel)),
                          (24, 24, 24, dib(24, 24, 24)), (32, 32, 4, dib(32, 32, 4))])
    yield "cursor", ico([(16, 16, 1, dib(16, 16, 1))], kind=2)
    yield "png", ico([(20, 12, 32, png(20, 12))])
    yield "png-256", ico([(256, 256, 32, png(9, 9))])
    yield "png-and-dib", ico([(16, 16, 8, dib(16, 16, 8)), (48, 48, 32, png(48, 48))])
    # Thin shapes up to the reader's limits.
    for n in (1024, 4096):
        yield f"thin-{n}x1-1bit", ico([(n, 1, 1, dib(n, 1, 1))])
        yield f"thin-1x{n}-1bit", ico([(1, n, 1, dib(1, n, 1))])


def main(out):
    os.makedirs(out, exist_ok=True)
    for name, data in seeds():
        with open(os.path.join(out, name + ".ico"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
