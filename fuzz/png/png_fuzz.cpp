// Feeds arbitrary bytes to the PNG decoder, then draws, copies and re-saves whatever loaded.
// Only the PNG errors may come out; anything else (another exception, a crash, a sanitizer
// report) is a finding.
//
// The first byte chooses how the rest is used:
//   0: as a file, unchanged (exercises the CRC and structure checks);
//   1: as a file whose chunk CRCs are first made right, so mutations reach the chunk contents;
//   2: as 13 header bytes, a palette and transparency byte count, those bytes, and raw
//      filtered rows, put into a valid file here, so mutations reach the row filters,
//      interlacing and drawing rather than dying in deflate.
//
// Running it (from a fuzz build, see fuzz/CMakeLists.txt):
//   fuzz/png/make_seeds.py seeds
//   build-fuzz/fuzz/png/png_fuzz -dict=fuzz/png/png.dict -max_len=20000 corpus seeds
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "formats/bmp/bitmap.h"
#include "formats/png/png_object.h"

namespace {

using pellavo::TMemoryStream;
using pellavo::TPNGObject;
using Bytes = std::vector<uint8_t>;

void PutBE32(Bytes& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(v >> s));
}

uint32_t GetBE32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

void AddChunk(Bytes& out, const char* name, const uint8_t* data, size_t n) {
  PutBE32(out, uint32_t(n));
  out.insert(out.end(), name, name + 4);
  if (n) out.insert(out.end(), data, data + n);
  uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(name), 4);
  if (n) crc = crc32(crc, data, uInt(n));
  PutBE32(out, uint32_t(crc));
}

const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

Bytes RepairCrcs(const uint8_t* data, size_t size) {
  Bytes out(data, data + size);
  size_t at = 8;
  while (at + 12 <= out.size()) {
    const uint32_t n = GetBE32(&out[at]);
    if (n > out.size() - at - 12) break;
    uLong crc = crc32(0L, &out[at + 4], 4);
    if (n) crc = crc32(crc, &out[at + 8], n);
    const uint32_t c = uint32_t(crc);
    out[at + 8 + n] = uint8_t(c >> 24);
    out[at + 9 + n] = uint8_t(c >> 16);
    out[at + 10 + n] = uint8_t(c >> 8);
    out[at + 11 + n] = uint8_t(c);
    at += 12 + n;
  }
  return out;
}

Bytes Synthesize(const uint8_t* data, size_t size) {
  if (size < 15) return {};
  Bytes out(kSignature, kSignature + 8);
  AddChunk(out, "IHDR", data, 13);
  const size_t plte = std::min<size_t>(data[13], (size - 15) / 3) * 3;
  static const uint8_t kBlack[3] = {0, 0, 0};
  AddChunk(out, "PLTE", plte == 0 ? kBlack : data + 15, plte == 0 ? 3 : plte);
  const size_t trns = std::min<size_t>(data[14], size - 15 - plte);
  if (trns) AddChunk(out, "tRNS", data + 15 + plte, std::min<size_t>(trns, 256));
  const size_t at = 15 + plte + trns;
  uLongf packed = compressBound(uLong(size - at));
  Bytes idat(packed);
  compress2(idat.data(), &packed, data + at, uLong(size - at), 1);
  AddChunk(out, "IDAT", idat.data(), packed);
  AddChunk(out, "IEND", nullptr, 0);
  return out;
}

void Exercise(TPNGObject& png) {
  const int32_t w = png.Width(), h = png.Height();
  // A small target, stretched onto, and the image at its own size when that is small.
  std::vector<pellavo::TColor32> small(37 * 23, 0x80402010u);
  png.Draw({small.data(), 37, 23}, {-3, -2, 40, 21});
  if (w > 0 && h > 0 && int64_t{w} * h <= (1 << 20)) {
    std::vector<pellavo::TColor32> full(size_t(w) * size_t(h));
    png.Draw({full.data(), w, h}, {0, 0, w, h});
    pellavo::TBitmap bitmap;
    bitmap.Assign(png);
    TMemoryStream saved;
    png.SetRowFilters(0x1F);
    png.SaveToStream(saved);
    saved.Seek(0);
    TPNGObject again;
    again.LoadFromStream(saved);  // what we wrote must read back
    if (again.Width() != w || again.Height() != h) __builtin_trap();
  }
}

void Run(const Bytes& file) {
  TPNGObject png;
  TMemoryStream in(file);
  try {
    png.LoadFromStream(in);
  } catch (const pellavo::EPngError&) {
    // A failed load keeps the chunks read so far; drawing or saving them must still be safe.
    try {
      std::vector<pellavo::TColor32> small(16 * 16);
      png.Draw({small.data(), 16, 16}, {0, 0, 16, 16});
    } catch (const pellavo::EPngError&) {
    }
    return;
  }
  Exercise(png);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0] % 3;
  ++data;
  --size;
  switch (mode) {
    case 0: Run(Bytes(data, data + size)); break;
    case 1: Run(RepairCrcs(data, size)); break;
    default: {
      const Bytes file = Synthesize(data, size);
      if (!file.empty()) Run(file);
      break;
    }
  }
  return 0;
}
