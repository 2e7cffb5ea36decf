#include "support/bombs.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>

#include "support/temp_dir.h"

namespace pellavo::test {
namespace {

using TBytes = std::vector<uint8_t>;

void Put(TBytes& out, std::initializer_list<uint8_t> bytes) { out.insert(out.end(), bytes); }
void PutLE16(TBytes& out, uint32_t v) { Put(out, {uint8_t(v), uint8_t(v >> 8)}); }
void PutLE32(TBytes& out, uint32_t v) { Put(out, {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}); }
void PutBE16(TBytes& out, uint32_t v) { Put(out, {uint8_t(v >> 8), uint8_t(v)}); }
void PutBE32(TBytes& out, uint32_t v) { Put(out, {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}); }

void PngChunk(TBytes& out, const char* name, const TBytes& data) {
  PutBE32(out, uint32_t(data.size()));
  const size_t start = out.size();
  out.insert(out.end(), name, name + 4);
  out.insert(out.end(), data.begin(), data.end());
  PutBE32(out, uint32_t(crc32(0, out.data() + start, uInt(out.size() - start))));
}

TBytes Png(uint32_t w, uint32_t h, const TBytes& rows) {
  TBytes out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  TBytes ihdr;
  PutBE32(ihdr, w);
  PutBE32(ihdr, h);
  Put(ihdr, {8, 0, 0, 0, 0});  // 8-bit grey, not interlaced
  PngChunk(out, "IHDR", ihdr);
  uLongf size = compressBound(uLong(rows.size()));
  TBytes idat(size);
  compress2(idat.data(), &size, rows.data(), uLong(rows.size()), 9);
  idat.resize(size);
  PngChunk(out, "IDAT", idat);
  PngChunk(out, "IEND", {});
  return out;
}

TBytes GifBomb() {
  TBytes out = {'G', 'I', 'F', '8', '9', 'a'};
  PutLE16(out, 30000);
  PutLE16(out, 30000);
  Put(out, {0x80, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF});  // a global table of two colours
  Put(out, {','});
  PutLE32(out, 0);
  PutLE16(out, 30000);
  PutLE16(out, 30000);
  Put(out, {0, 2, 2, 0x4C, 0x01, 0, ';'});
  return out;
}

TBytes EmfBomb() {
  // A header record whose frame, in 0.01 mm, is 65500 pixels at 96 per inch, and the end record.
  const uint32_t hmm = (65500u * 2540u * 2 + 96) / (96 * 2);
  TBytes out;
  PutLE32(out, 1);  // EMR_HEADER
  PutLE32(out, 108);
  for (uint32_t v : {0u, 0u, 65499u, 65499u, 0u, 0u, hmm, hmm}) PutLE32(out, v);
  PutLE32(out, 0x464D4520);  // " EMF"
  PutLE32(out, 0x10000);
  PutLE32(out, 128);  // bytes
  PutLE32(out, 2);    // records
  PutLE16(out, 1);    // handles
  PutLE16(out, 0);
  for (uint32_t v : {0u, 0u, 0u, 1024u, 768u, 271u, 203u, 0u, 0u, 0u, 270933u, 203200u}) PutLE32(out, v);
  PutLE32(out, 14);  // EMR_EOF
  PutLE32(out, 20);
  for (uint32_t v : {0u, 16u, 20u}) PutLE32(out, v);
  return out;
}

TBytes JpegBomb() {
  TBytes out = {0xFF, 0xD8};
  Put(out, {0xFF, 0xDB, 0, 67, 0});  // one quantisation table of ones
  out.insert(out.end(), 64, 1);
  Put(out, {0xFF, 0xC0, 0, 11, 8});  // baseline, 65500 x 65500, one component
  PutBE16(out, 65500);
  PutBE16(out, 65500);
  Put(out, {1, 1, 0x11, 0});
  for (uint8_t table : {0x00, 0x10}) {  // DC and AC tables: one code, for 0 (no change, end of block)
    Put(out, {0xFF, 0xC4, 0, 20, table, 1});
    out.insert(out.end(), 15, 0);
    Put(out, {0});
  }
  Put(out, {0xFF, 0xDA, 0, 8, 1, 1, 0x00, 0, 63, 0});
  Put(out, {0, 0, 0, 0, 0xFF, 0xD9});
  return out;
}

TBytes BmpBomb() {
  TBytes out = {'B', 'M'};
  PutLE32(out, 54);
  PutLE32(out, 0);
  PutLE32(out, 54);
  PutLE32(out, 40);
  PutLE32(out, 30000);
  PutLE32(out, 30000);
  PutLE16(out, 1);
  PutLE16(out, 32);
  for (int i = 0; i < 6; ++i) PutLE32(out, 0);
  return out;
}

TBytes IcoOf(const TBytes& png) {
  TBytes out;
  PutLE16(out, 0);
  PutLE16(out, 1);
  PutLE16(out, 1);
  Put(out, {0, 0, 0, 0});  // 256 x 256 in the directory; the PNG says otherwise
  PutLE16(out, 1);
  PutLE16(out, 32);
  PutLE32(out, uint32_t(png.size()));
  PutLE32(out, 22);
  out.insert(out.end(), png.begin(), png.end());
  return out;
}

TBytes Jp2Bomb() {
  // The fixture's codestream with its image and tile sizes set to 60000.
  TBytes bytes = ReadBytes("tests/data/jpeg2000/codestream-named.jp2");
  for (size_t at : {8, 12, 24, 28}) {
    const uint8_t big[4] = {0x00, 0x00, 0xEA, 0x60};
    std::memcpy(&bytes[at], big, 4);
  }
  return bytes;
}

// A fixture with every 'ispe' (image spatial extents) box set to 30000 x 30000.
TBytes IspeBomb(const char* fixture) {
  TBytes bytes = ReadBytes(fixture);
  const uint8_t ispe[4] = {'i', 's', 'p', 'e'}, big[4] = {0x00, 0x00, 0x75, 0x30};
  for (auto at = bytes.begin(); (at = std::search(at, bytes.end(), ispe, ispe + 4)) != bytes.end(); at += 4) {
    if (bytes.end() - at < 16) break;
    std::copy(big, big + 4, at + 8);
    std::copy(big, big + 4, at + 12);
  }
  return bytes;
}

// A TIFF of one uncompressed grey strip whose directory says 30000 x 30000, in 110 bytes.
TBytes TiffBomb() {
  TBytes out = {'I', 'I', 42, 0};
  PutLE32(out, 8);
  const struct {
    uint16_t tag, type;
    uint32_t value;
  } tags[] = {{256, 4, 30000}, {257, 4, 30000}, {258, 3, 8}, {259, 3, 1}, {262, 3, 1}, {273, 4, 8 + 2 + 8 * 12 + 4},
              {278, 4, 30000}, {279, 4, 900000000}};
  PutLE16(out, 8);
  for (const auto& t : tags) {
    PutLE16(out, t.tag);
    PutLE16(out, t.type);
    PutLE32(out, 1);
    PutLE32(out, t.value);  // a SHORT sits in the first two bytes, little-endian
  }
  PutLE32(out, 0);
  return out;
}

// A JPEG XL codestream's signature and size header for 30000 x 30000, then default metadata:
// all a decoder reads before it reports the image's size.
TBytes JxlBomb() {
  TBytes out = {0xFF, 0x0A};
  int count = 0;
  // Fields are written from the lowest bit of each byte up.
  const auto put = [&](uint32_t value, int n) {
    for (int i = 0; i < n; ++i, ++count) {
      if (count % 8 == 0) out.push_back(0);
      out.back() |= uint8_t(((value >> i) & 1) << (count % 8));
    }
  };
  put(0, 1);          // sides not in multiples of 8
  put(3, 2);          // height - 1 in 30 bits
  put(29999, 30);
  put(0, 3);          // no fixed aspect ratio: the width follows
  put(3, 2);          // width - 1 in 30 bits
  put(29999, 30);
  put(1, 1);          // all image metadata default
  return out;
}

}  // namespace

std::vector<TBomb> Bombs() {
  const TBytes png = Png(20000, 20000, TBytes(20001, 0));
  return {
      {".gif", GifBomb(), 30000, 30000},       {".png", png, 20000, 20000},
      {".emf", EmfBomb(), 65500, 65500},       {".jpg", JpegBomb(), 65500, 65500, true},
      {".jp2", Jp2Bomb(), 60000, 60000},       {".bmp", BmpBomb(), 30000, 30000},
      {".ico", IcoOf(png), 20000, 20000},
      // The extended header of a WebP canvas of 65536 x 32768, and nothing else.
      {".webp", {'R', 'I', 'F', 'F', 22, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8', 'X',
                 10, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0x00, 0xFF, 0x7F, 0x00}, 65536, 32768},
      {".avif", IspeBomb("tests/data/avif/grey-8x8.avif"), 30000, 30000},
      {".heic", IspeBomb("tests/data/heif/gradient-64x48.heic"), 30000, 30000},
      {".tif", TiffBomb(), 30000, 30000},
      {".jxl", JxlBomb(), 30000, 30000},
  };
}

std::vector<uint8_t> GradientPng(uint32_t w, uint32_t h) {
  TBytes rows;
  rows.reserve(size_t(w + 1) * h);
  for (uint32_t y = 0; y < h; ++y) {
    rows.push_back(0);
    for (uint32_t x = 0; x < w; ++x) rows.push_back(uint8_t(y + x));
  }
  return Png(w, h, rows);
}

}  // namespace pellavo::test
