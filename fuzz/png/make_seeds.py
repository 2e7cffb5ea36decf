#!/usr/bin/env python3
"""Writes a seed corpus for png_fuzz from the test suite: every file as mode 0 and mode 1, and
its header, palette, transparency and inflated rows as mode 2; then images one pixel wide or tall
around the sides where 32-bit products of a row and a side overflow (46341 squared passes 2^31)
or sides pass 15 and 16 bits. Usage: make_seeds.py OUT_DIR"""
import os
import struct
import sys
import zlib

SUITE = os.path.join(os.path.dirname(__file__), "..", "..", "tests", "data", "png", "pngsuite")


def chunks(data):
    at = 8
    while at + 12 <= len(data):
        n, = struct.unpack(">I", data[at:at + 4])
        yield data[at + 4:at + 8], data[at + 8:at + 8 + n]
        at += 12 + n


def main(out):
    os.makedirs(out, exist_ok=True)
    for name in sorted(os.listdir(SUITE)):
        if not name.endswith(".png"):
            continue
        data = open(os.path.join(SUITE, name), "rb").read()
        open(os.path.join(out, name + ".0"), "wb").write(b"\x00" + data)
        open(os.path.join(out, name + ".1"), "wb").write(b"\x01" + data)
        parts = dict()
        idat = b""
        for kind, body in chunks(data):
            if kind == b"IDAT":
                idat += body
            else:
                parts.setdefault(kind, body)
        plte = parts.get(b"PLTE", b"")[:255 * 3]
        trns = parts.get(b"tRNS", b"")
        rows = zlib.decompress(idat)
        seed = b"\x02" + parts[b"IHDR"][:13] + bytes([len(plte) // 3, len(trns)]) + plte + trns + rows
        open(os.path.join(out, name + ".2"), "wb").write(seed)


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)


def shapes(out):
    for n in (32767, 32768, 46341, 46342, 65535):
        for w, h in ((1, n), (n, 1)):
            header = struct.pack(">IIBBBBB", w, h, 8, 0, 0, 0, 0)
            rows = (b"\x00" + bytes(w)) * h
            data = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9)) +
                    chunk(b"IEND", b""))
            open(os.path.join(out, "shape-%dx%d.png.0" % (w, h)), "wb").write(b"\x00" + data)


if __name__ == "__main__":
    main(sys.argv[1])
    shapes(sys.argv[1])
