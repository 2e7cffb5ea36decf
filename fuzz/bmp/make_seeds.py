#!/usr/bin/env python3
"""Writes a seed corpus for bmp_fuzz: small BMP files of every header kind and depth, bit-field
masks, run-length data and the long thin shapes whose row count times stride is near a 32-bit
boundary. Usage: make_seeds.py OUT_DIR

The functions are shared with fuzz/ico/make_seeds.py, which builds icons from the same rows."""
import os
import struct
import sys

# Compression values of the information header.
RGB, RLE8, RLE4, BITFIELDS, ALPHABITFIELDS = 0, 1, 2, 3, 6

# The long side of the thin shapes: around 2^15, 2^16, and 46341 (whose square passes 2^31).
THIN = (32767, 32768, 46341, 65535, 65536)


def row_bytes(width, bpp):
    return (width * bpp + 31) // 32 * 4


def pixel(x, y, bpp):
    """A deterministic value of bpp bits for (x, y)."""
    return (x * 7 + y * 13 + (x ^ y)) & ((1 << bpp) - 1)


def pack_rows(width, height, bpp, value=pixel):
    """Rows bottom-up, each padded to 4 bytes, of value(x, y, bpp) packed most significant first."""
    out = bytearray()
    for y in reversed(range(height)):
        row = bytearray()
        if bpp < 8:
            acc, n = 0, 0
            for x in range(width):
                acc = acc << bpp | value(x, y, bpp)
                n += bpp
                if n == 8:
                    row.append(acc)
                    acc, n = 0, 0
            if n:
                row.append(acc << (8 - n))
        else:
            for x in range(width):
                row += value(x, y, bpp).to_bytes(bpp // 8, "little")
        row += bytes(row_bytes(width, bpp) - len(row))
        out += row
    return bytes(out)


def palette(count, entry=4):
    out = bytearray()
    for i in range(count):
        quad = bytes([(i * 37) & 255, (i * 91) & 255, (i * 151) & 255, 0])
        out += quad[:entry]
    return bytes(out)


def info_header(size, width, height, bpp, compression=RGB, image_size=0, colors=0, masks=None):
    """A Windows information header of 40, 52, 56, 108 or 124 bytes (or an OS/2 2.x one of 16
    or 64); masks go inside from 52 bytes on."""
    h = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bpp, compression, image_size, 2835, 2835, colors, 0)
    if size == 16:
        return struct.pack("<IIIHH", 16, width, height & 0xFFFFFFFF, 1, bpp)
    if size > 40:
        m = list(masks or (0, 0, 0, 0)) + [0] * 4
        h += struct.pack("<IIII", *m[:4])
        if size >= 108:
            h += b"BGRs" + bytes(36) + bytes(12)  # colour space, endpoints, gamma
        if size >= 124:
            h += struct.pack("<IIII", 4, 0, 0, 0)  # intent, profile data and size, reserved
    h = h[:size] + bytes(max(0, size - len(h)))
    return struct.pack("<I", size) + h[4:]


def core_header(width, height, bpp):
    return struct.pack("<IHHHH", 12, width, height, 1, bpp)


def bmp(header, table, pixels, extra=b""):
    """The file: 14-byte file header, information header, masks or table, then the pixels."""
    offset = 14 + len(header) + len(extra) + len(table)
    return b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset) + header + extra + table + pixels


def rle8_sample(width, height):
    """Runs, an absolute run, a delta, end of line and end of bitmap."""
    out = bytearray()
    for y in range(height):
        if y == 1:
            out += bytes([0, 2, 1, 1])  # delta: skip a pixel and a line
            continue
        out += bytes([3, y & 255, 0, 5, 1, 2, 3, 4, 5, 0])  # run of 3, absolute 5 (padded)
        out += bytes([0, 0])
    out += bytes([0, 1])
    return bytes(out)


def rle4_sample(width, height):
    out = bytearray()
    for y in range(height):
        out += bytes([5, 0x12, 0, 3, 0x34, 0x50, 0, 0])  # run of 5 alternating, absolute 3
    out += bytes([0, 1])
    return bytes(out)


def seeds():
    w, h = 7, 5
    # OS/2 1.x: 12-byte header, 3-byte palette entries.
    for bpp in (1, 4, 8, 24):
        table = palette(1 << bpp, 3) if bpp <= 8 else b""
        yield f"os2v1-{bpp}bit", bmp(core_header(w, h, bpp), table, pack_rows(w, h, bpp))
    # OS/2 2.x: 16- and 64-byte headers.
    for size in (16, 64):
        yield f"os2v2-{size}-8bit", bmp(info_header(size, w, h, 8), palette(256), pack_rows(w, h, 8))
    # Windows 3.x at every depth, with short and full colour tables.
    for bpp in (1, 4, 8, 16, 24, 32):
        table = palette(1 << bpp) if bpp <= 8 else b""
        yield f"v3-{bpp}bit", bmp(info_header(40, w, h, bpp), table, pack_rows(w, h, bpp))
    yield "v3-8bit-short-table", bmp(info_header(40, w, h, 8, colors=3), palette(3), pack_rows(w, h, 8))
    yield "v3-24bit-with-table", bmp(info_header(40, w, h, 24, colors=2), palette(2), pack_rows(w, h, 24))
    # Top-down.
    for bpp in (8, 24, 32):
        table = palette(256) if bpp == 8 else b""
        yield f"v3-{bpp}bit-top-down", bmp(info_header(40, w, -h, bpp), table, pack_rows(w, h, bpp))
    # Bit fields after a 40-byte header, and inside longer ones.
    masks = {
        "555": (16, (0x7C00, 0x03E0, 0x001F, 0)),
        "565": (16, (0xF800, 0x07E0, 0x001F, 0)),
        "4444": (16, (0x0F00, 0x00F0, 0x000F, 0xF000)),
        "888": (32, (0xFF0000, 0xFF00, 0xFF, 0)),
        "8888": (32, (0xFF0000, 0xFF00, 0xFF, 0xFF000000)),
        "101010": (32, (0x3FF00000, 0x000FFC00, 0x000003FF, 0)),
        "bgr-swapped": (32, (0xFF, 0xFF00, 0xFF0000, 0)),
    }
    for name, (bpp, m) in masks.items():
        rows = pack_rows(w, h, bpp)
        extra = struct.pack("<III", *m[:3])
        yield f"v3-bitfields-{name}", bmp(info_header(40, w, h, bpp, BITFIELDS), b"", rows, extra)
        yield f"v3-alphabitfields-{name}", bmp(info_header(40, w, h, bpp, ALPHABITFIELDS), b"", rows,
                                               struct.pack("<IIII", *m))
        for size in (52, 56, 108, 124):
            yield f"v{size}-bitfields-{name}", bmp(info_header(size, w, h, bpp, BITFIELDS, masks=m), b"", rows)
    for size in (108, 124):
        yield f"v{size}-24bit", bmp(info_header(size, w, h, 24), b"", pack_rows(w, h, 24))
    # Run-length data.
    yield "rle8", bmp(info_header(40, 12, 4, 8, RLE8), palette(256), rle8_sample(12, 4))
    yield "rle4", bmp(info_header(40, 12, 4, 4, RLE4), palette(16), rle4_sample(12, 4))
    yield "rle8-v5", bmp(info_header(124, 12, 4, 8, RLE8), palette(256), rle8_sample(12, 4))
    # Thin shapes: N x 1 as plain rows, 1 x N as run-length data that ends early.
    for n in THIN:
        for bpp in (1, 4):
            yield f"thin-{n}x1-{bpp}bit", bmp(info_header(40, n, 1, bpp), palette(1 << bpp), pack_rows(n, 1, bpp))
        # 4 bytes a row: up to 256 KiB, hence the larger -max_len in bmp_fuzz.cpp.
        yield f"thin-1x{n}-1bit", bmp(info_header(40, 1, n, 1), palette(2), pack_rows(1, n, 1))
        if n <= 0xFFFF:  # OS/2 1.x sizes are 16 bits, unsigned
            yield f"thin-1x{n}-os2v1-1bit", bmp(core_header(1, n, 1), palette(2, 3), pack_rows(1, n, 1))
        yield f"thin-1x{n}-rle8", bmp(info_header(40, 1, n, 8, RLE8), palette(2), bytes([1, 1, 0, 0, 1, 0, 0, 1]))
        yield f"thin-1x{n}-rle4", bmp(info_header(40, 1, n, 4, RLE4), palette(2), bytes([1, 0x10, 0, 1]))


def main(out):
    os.makedirs(out, exist_ok=True)
    for name, data in seeds():
        with open(os.path.join(out, name + ".bmp"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
