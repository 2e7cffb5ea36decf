#!/usr/bin/env python3
"""Writes the small GIF files the decoder tests read. Run from this folder: python3 make_fixtures.py

The image data is written with a deliberately plain LZW coder: literal codes only, with a clear code
before the table would widen the codes, so every byte here can be checked by hand."""

import struct

SCREEN = (5, 11)  # odd sizes, so that every interlace pass is short of a full step
COLORS = [(255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 255)]


def plain_lzw(indices, min_size=2):
    """LZW data of literal codes: min code size byte, sub-blocks, terminator."""
    clear = 1 << min_size
    width = min_size + 1
    codes = [clear]
    run = 0
    for i in indices:
        if run == clear - 2:  # the next literal would make the reader widen its codes
            codes.append(clear)
            run = 0
        codes.append(i)
        run += 1
    codes.append(clear + 1)
    bits, count, data = 0, 0, bytearray()
    for c in codes:
        bits |= c << count
        count += width
        while count >= 8:
            data.append(bits & 0xFF)
            bits >>= 8
            count -= 8
    if count:
        data.append(bits & 0xFF)
    return bytes([min_size]) + sub_blocks(bytes(data))


def raw_codes(codes, min_size=2):
    """Exactly the given codes at the initial width, in one block with its terminator."""
    width = min_size + 1
    bits, count, data = 0, 0, bytearray()
    for c in codes:
        bits |= c << count
        count += width
    while count > 0:
        data.append(bits & 0xFF)
        bits >>= 8
        count -= 8
    return bytes([min_size]) + sub_blocks(bytes(data))


def sub_blocks(data):
    out = bytearray()
    for at in range(0, len(data), 255):
        chunk = data[at:at + 255]
        out += bytes([len(chunk)]) + chunk
    return bytes(out) + b"\0"


def table(colors):
    return b"".join(bytes(c) for c in colors)


def screen(w, h, colors=COLORS, version=b"89a"):
    packed = 0
    if colors:
        packed = 0x80 | 0x70 | ((len(colors).bit_length() - 2) & 7)
    return b"GIF" + version + struct.pack("<HHBBB", w, h, packed, 0, 0) + (table(colors) if colors else b"")


def descriptor(left, top, w, h, interlaced=False, local=None):
    packed = (0x40 if interlaced else 0)
    if local:
        packed |= 0x80 | ((len(local).bit_length() - 2) & 7)
    return b"," + struct.pack("<HHHHB", left, top, w, h, packed) + (table(local) if local else b"")


def gce(transparent_index=None, delay=0, disposal=0):
    packed = (disposal << 2) | (1 if transparent_index is not None else 0)
    return b"!\xF9\x04" + struct.pack("<BHB", packed, delay, transparent_index or 0) + b"\0"


def netscape_loop(loops, buffer_size=None):
    data = b"\x03\x01" + struct.pack("<H", loops)
    if buffer_size is not None:
        data += b"\x05\x02" + struct.pack("<I", buffer_size)
    return b"!\xFF\x0BNETSCAPE2.0" + data + b"\0"


def pattern(w, h):
    return [(x + 2 * y + (x * y) // 3) % 4 for y in range(h) for x in range(w)]


def interlace(rows):
    order = list(range(0, len(rows), 8)) + list(range(4, len(rows), 8)) + \
        list(range(2, len(rows), 4)) + list(range(1, len(rows), 2))
    return [rows[r] for r in order]


def write(name, data):
    with open(name, "wb") as f:
        f.write(data)


def main():
    w, h = SCREEN
    pix = pattern(w, h)
    rows = [pix[y * w:(y + 1) * w] for y in range(h)]
    plain = screen(w, h) + descriptor(0, 0, w, h) + plain_lzw(pix) + b";"
    write("plain.gif", plain)
    write("interlaced.gif", screen(w, h) + descriptor(0, 0, w, h, interlaced=True) +
          plain_lzw([i for r in interlace(rows) for i in r]) + b";")
    write("prefixed-4-bytes.gif", b"\x00\x01\x02\x03" + plain)

    # Data cut after 20 of the 55 pixels: the file ends inside the first data sub-block.
    data = plain_lzw(pix)
    cut = 1 + 1 + (3 * 30) // 8  # min code size, block length, about 30 codes (20 pixels + clears)
    write("truncated.gif", screen(w, h) + descriptor(0, 0, w, h) + data[:cut])
    write("truncated-transparent.gif", screen(w, h) + gce(transparent_index=3) + descriptor(0, 0, w, h) + data[:cut])

    write("unknown-block-after-first-frame.gif",
          plain[:-1] + b"\x99" + descriptor(0, 0, w, h) + plain_lzw([1] * (w * h)) + b";")
    write("unknown-extension-label.gif", screen(w, h) + b"!\x42\x02ab\0" + descriptor(0, 0, w, h) + plain_lzw(pix) + b";")
    write("no-color-table.gif", screen(w, h, colors=None) + descriptor(0, 0, w, h) + plain_lzw(pix) + b";")

    # A 3 x 2 frame at (2, 1) on a 6 x 5 screen; index 1 is transparent.
    write("transparent-offset.gif", screen(6, 5) + gce(transparent_index=1) + descriptor(2, 1, 3, 2) +
          plain_lzw([0, 1, 2, 1, 3, 1]) + b";")

    # Three 2 x 2 frames, the second one at (2, 2), with their own delays and disposal methods.
    write("animated.gif", screen(4, 4) + netscape_loop(3) +
          gce(delay=10, disposal=1) + descriptor(0, 0, 4, 4) + plain_lzw([0] * 16) +
          gce(delay=20, disposal=2, transparent_index=3) + descriptor(2, 2, 2, 2) + plain_lzw([1, 3, 3, 1]) +
          gce(delay=30, disposal=3) + descriptor(0, 0, 2, 2, local=[(10, 20, 30), (40, 50, 60)]) +
          plain_lzw([1, 0, 0, 1]) + b";")

    # Right after the clear code, the code the table would define next: a string made of itself.
    write("circular-code.gif", screen(w, h) + descriptor(0, 0, w, h) + raw_codes([4, 6, 5]) + b";")

    write("zero-size-descriptor.gif", screen(3, 2) + descriptor(0, 0, 0, 0) + plain_lzw([0, 1, 2, 3, 2, 1]) + b";")

    # 65535 x 65535 pixels announced, a handful of codes present.
    write("bomb-65535x65535.gif", screen(65535, 65535) + descriptor(0, 0, 65535, 65535) + raw_codes([4, 1, 2, 3, 0]))

    write("all-extensions.gif", screen(2, 1) + netscape_loop(0, buffer_size=70000) +
          b"!\xFE" + sub_blocks(b"made for the tests") +
          b"!\x01" + bytes([12]) + struct.pack("<HHHHBBBB", 0, 0, 16, 8, 8, 8, 1, 0) + sub_blocks(b"hello") +
          b"!\xFF\x0BPELLAVOTEST" + b"\x02xy\x01z\0" +
          b"!\xFF\x0APELLAVO10A" + b"\x01q\0" +
          gce(transparent_index=0, delay=7, disposal=2) +
          descriptor(0, 0, 2, 1) + plain_lzw([0, 1]) + b";")

    write("bad-app-extension-size.gif", screen(w, h) + b"!\xFF\x09NETSCAPE2" + b"\x03\x01\x00\x00\0" +
          descriptor(0, 0, w, h) + plain_lzw(pix) + b";")
    write("short-loop-block.gif", screen(w, h) + b"!\xFF\x0BNETSCAPE2.0" + b"\x02\x01\x05\0" +
          descriptor(0, 0, w, h) + plain_lzw(pix) + b";")
    write("cut-descriptor.gif", screen(w, h) + descriptor(0, 0, w, h)[:6])


if __name__ == "__main__":
    main()
