#!/usr/bin/env bash
# Makes the JPEG 2000 test files with OpenJPEG's own command-line encoder (Debian's
# libopenjp2-tools), so that the reader is tested on files it did not write. Every image is
# coded losslessly from the sample values written below, which the tests know.
# A few files get JP2 boxes that the encoder does not write (channel definitions, a palette,
# the YCbCr colour space); those are wrapped here around a codestream the encoder made.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work" <<'PY'
import struct, sys
w = sys.argv[1]
W, H = 5, 3
def rgb(x, y): return (40 * x + 10, 100 * y + 20, 250 - 45 * x - 10 * y)
def alpha(x, y): return 30 * x + 60 * y + 5
px = [(x, y) for y in range(H) for x in range(W)]
open(f"{w}/rgb.ppm", "wb").write(b"P6\n5 3\n255\n" + bytes(v for x, y in px for v in rgb(x, y)))
open(f"{w}/bgr.ppm", "wb").write(b"P6\n5 3\n255\n" + bytes(v for x, y in px for v in rgb(x, y)[::-1]))
open(f"{w}/rgba.pam", "wb").write(b"P7\nWIDTH 5\nHEIGHT 3\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n" +
                                  bytes(v for x, y in px for v in rgb(x, y) + (alpha(x, y),)))
open(f"{w}/gray-alpha.pam", "wb").write(b"P7\nWIDTH 5\nHEIGHT 3\nDEPTH 2\nMAXVAL 255\nTUPLTYPE GRAYSCALE_ALPHA\nENDHDR\n" +
                                        bytes(v for x, y in px for v in (50 * x + 20 * y, 255 - 50 * x)))
# Palette indexes 0..3 as a gray image.
open(f"{w}/index.pgm", "wb").write(b"P5\n5 3\n255\n" + bytes((x + y) % 4 for x, y in px))
# 12-bit samples, big-endian 16-bit words. (The encoder's PGX reader gets signed depths wrong.)
open(f"{w}/u12.raw", "wb").write(b"".join(struct.pack(">H", v) for v in [4095, 2048, 4094, 16, 0]))
open(f"{w}/s12.raw", "wb").write(b"".join(struct.pack(">h", v) for v in [-2048, 0, 2047, -1, 1000]))
# 4 x 4 YCbCr with 2 x 2 subsampled chroma: Y plane, then the Cb and Cr planes of 2 x 2.
y = [60 + 10 * x + 40 * r for r in range(4) for x in range(4)]
open(f"{w}/ycc.raw", "wb").write(bytes(y + [128, 200, 16, 128] + [128, 60, 240, 128]))
PY

# Few resolution levels: the encoder refuses more than the smallest side can give.
enc() { opj_compress -i "$work/$1" -o "$work/$2" -n 2 "${@:3}" >/dev/null; }
enc rgb.ppm rgb.j2k
enc rgb.ppm rgb.jp2
enc bgr.ppm bgr.j2k -mct 0
enc rgba.pam rgba.j2k
enc gray-alpha.pam gray-alpha.jp2
enc index.pgm index.j2k
enc u12.raw u12.jp2 -n 1 -F 5,1,1,12,u
enc s12.raw s12.j2k -n 1 -F 5,1,1,12,s
enc ycc.raw ycc.j2k -F 4,4,3,8,u@1x1:2x2:2x2 -mct 0

python3 - "$work" <<'PY'
import struct, sys
w = sys.argv[1]
def box(t, b): return struct.pack(">I", len(b) + 8) + t + b
def jp2(codestream, width, height, comps, enumcs, extra=b""):
    ihdr = struct.pack(">IIHBBBB", height, width, comps, 7, 7, 0, 0)
    colr = bytes([1, 0, 0]) + struct.pack(">I", enumcs)
    return (box(b"jP  ", b"\r\n\x87\n") + box(b"ftyp", b"jp2 " + bytes(4) + b"jp2 ") +
            box(b"jp2h", box(b"ihdr", ihdr) + box(b"colr", colr) + extra) + box(b"jp2c", codestream))
def cdef(entries): return box(b"cdef", struct.pack(">H", len(entries)) + b"".join(struct.pack(">HHH", *e) for e in entries))
read = lambda n: open(f"{w}/{n}", "rb").read()
# Blue, green, red stored in that order; the channel definitions put them right.
open(f"{w}/bgr.jp2", "wb").write(jp2(read("bgr.j2k"), 5, 3, 3, 16, cdef([(0, 0, 3), (1, 0, 2), (2, 0, 1)])))
# Red, green, blue and opacity, named so.
open(f"{w}/rgba.jp2", "wb").write(jp2(read("rgba.j2k"), 5, 3, 4, 16, cdef([(0, 0, 1), (1, 0, 2), (2, 0, 3), (3, 1, 0)])))
# A third channel that claims to be opacity, which a three-byte pixel has no room for.
open(f"{w}/rgo.jp2", "wb").write(jp2(read("rgb.j2k"), 5, 3, 3, 16, cdef([(0, 0, 1), (1, 0, 2), (2, 1, 0)])))
# Four palette entries of red, green, blue.
pal = [(255, 0, 0), (0, 255, 0), (0, 0, 255), (250, 200, 100)]
pclr = box(b"pclr", struct.pack(">HB", len(pal), 3) + bytes([7, 7, 7]) + bytes(v for e in pal for v in e))
cmap = box(b"cmap", b"".join(struct.pack(">HBB", 0, 1, c) for c in range(3)))
open(f"{w}/palette.jp2", "wb").write(jp2(read("index.j2k"), 5, 3, 1, 16, pclr + cmap))
open(f"{w}/ycc.jp2", "wb").write(jp2(read("ycc.j2k"), 4, 4, 3, 18))
PY

cp "$work/rgb.j2k" codestream-named.jp2
cp "$work/rgb.jp2" jp2-named.j2k
cp "$work/bgr.jp2" bgr-with-channel-defs.jp2
cp "$work/rgba.jp2" rgba-with-opacity.jp2
cp "$work/rgba.j2k" rgba-without-roles.j2k
cp "$work/rgo.jp2" opacity-in-three-channels.jp2
cp "$work/gray-alpha.jp2" gray-alpha.jp2
cp "$work/palette.jp2" palette.jp2
cp "$work/u12.jp2" gray-12bit.jp2
cp "$work/s12.j2k" signed-12bit.j2k
cp "$work/ycc.jp2" ycc-subsampled.jp2
