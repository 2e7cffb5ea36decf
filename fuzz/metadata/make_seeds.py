#!/usr/bin/env python3
"""Writes a seed corpus for metadata_fuzz: JPEG marker runs and PNG files carrying EXIF (with
orientation, a GPS directory and a preview directory), XMP and colour profiles (sRGB, grey and a
CMYK-tagged copy, made by the system's LittleCMS), and each block on its own.
Usage: make_seeds.py OUT_DIR"""
import ctypes
import os
import struct
import sys
import zlib


def profiles():
    lcms = ctypes.CDLL("liblcms2.so.2")
    lcms.cmsCreate_sRGBProfile.restype = ctypes.c_void_p
    lcms.cmsBuildGamma.restype = ctypes.c_void_p
    lcms.cmsD50_xyY.restype = ctypes.c_void_p
    lcms.cmsCreateGrayProfile.restype = ctypes.c_void_p
    lcms.cmsCreateGrayProfile.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
    lcms.cmsBuildGamma.argtypes = [ctypes.c_void_p, ctypes.c_double]
    lcms.cmsSaveProfileToMem.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.POINTER(ctypes.c_uint32)]

    def save(handle):
        size = ctypes.c_uint32(0)
        lcms.cmsSaveProfileToMem(ctypes.c_void_p(handle), None, ctypes.byref(size))
        buf = ctypes.create_string_buffer(size.value)
        lcms.cmsSaveProfileToMem(ctypes.c_void_p(handle), buf, ctypes.byref(size))
        return buf.raw[:size.value]

    srgb = save(lcms.cmsCreate_sRGBProfile())
    gray = save(lcms.cmsCreateGrayProfile(lcms.cmsD50_xyY(), lcms.cmsBuildGamma(None, 2.2)))
    # The colour space field of the header says CMYK: a profile that describes other pixels.
    cmyk = srgb[:16] + b"CMYK" + srgb[20:]
    return [srgb, gray, cmyk]


def ifd(entries, next_offset, base):
    """A little-endian directory at offset base: (tag, type, count, value bytes) entries."""
    out = struct.pack("<H", len(entries))
    extra = b""
    data_at = base + 2 + 12 * len(entries) + 4
    for tag, typ, count, value in entries:
        if len(value) <= 4:
            out += struct.pack("<HHI", tag, typ, count) + value.ljust(4, b"\0")
        else:
            out += struct.pack("<HHII", tag, typ, count, data_at + len(extra))
            extra += value + (b"\0" if len(value) % 2 else b"")
    return out + struct.pack("<I", next_offset) + extra


def exif(orientation):
    # IFD0 at 8: orientation, a pointer to the GPS directory; then GPS; then IFD1 with a preview.
    gps_at = 8 + 2 + 12 * 2 + 4
    gps = ifd([(0x0000, 1, 4, b"\2\3\0\0"), (0x0001, 2, 2, b"N\0"),
               (0x0002, 5, 3, struct.pack("<6I", 60, 1, 10, 1, 12, 1))], 0, gps_at)
    ifd1_at = gps_at + len(gps)
    thumb = b"\xff\xd8\xff\xd9"
    ifd1 = ifd([(0x0201, 4, 1, struct.pack("<I", ifd1_at + 2 + 24 + 4)), (0x0202, 4, 1, struct.pack("<I", len(thumb)))],
               0, ifd1_at) + thumb
    ifd0 = ifd([(0x0112, 3, 1, struct.pack("<H", orientation)), (0x8825, 4, 1, struct.pack("<I", gps_at))], ifd1_at, 8)
    return b"II*\0" + struct.pack("<I", 8) + ifd0 + gps + ifd1


XMP = (b'<?xpacket begin="" id="W5M0MpCehiHzreSzNTczkc9d"?><x:xmpmeta xmlns:x="adobe:ns:meta/">'
       b'<rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#"><rdf:Description rdf:about="" '
       b'xmlns:tiff="http://ns.adobe.com/tiff/1.0/" xmlns:exif="http://ns.adobe.com/exif/1.0/" '
       b'tiff:Orientation="6" exif:PixelXDimension="4000"/></rdf:RDF></x:xmpmeta><?xpacket end="w"?>')


def segment(marker, payload):
    return b"\xff" + bytes([marker]) + struct.pack(">H", len(payload) + 2) + payload


def jpeg(exif_block, xmp, profile, pieces=1):
    out = b"\xff\xd8" + segment(0xE1, b"Exif\0\0" + exif_block) + segment(0xE1, b"http://ns.adobe.com/xap/1.0/\0" + xmp)
    step = (len(profile) + pieces - 1) // pieces
    for i in range(pieces):
        out += segment(0xE2, b"ICC_PROFILE\0" + bytes([i + 1, pieces]) + profile[i * step:(i + 1) * step])
    return out + b"\xff\xda\0\x02\xff\xd9"


def chunk(name, data):
    return struct.pack(">I", len(data)) + name + data + struct.pack(">I", zlib.crc32(name + data) & 0xFFFFFFFF)


def png(exif_block, xmp, profile):
    header = struct.pack(">IIBBBBB", 1, 1, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"iCCP", b"p\0\0" + zlib.compress(profile)) +
            chunk(b"eXIf", exif_block) + chunk(b"iTXt", b"XML:com.adobe.xmp\0\0\0\0\0" + xmp) +
            chunk(b"IDAT", zlib.compress(b"\0\0\0\0")) + chunk(b"IEND", b""))


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    seeds = {}
    for n, profile in enumerate(profiles()):
        seeds["profile-%d" % n] = b"\4" + profile
        seeds["jpeg-%d" % n] = b"\0" + jpeg(exif(6), XMP, profile, pieces=n + 1)
        seeds["png-%d" % n] = b"\1" + png(exif(8), XMP, profile)
    for o in (1, 3, 6, 8):
        seeds["exif-%d" % o] = b"\2" + exif(o)
    seeds["xmp"] = b"\3" + XMP
    for name, data in seeds.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
