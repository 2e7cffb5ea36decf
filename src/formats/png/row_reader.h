#pragma once
// Stored rows to displayed 32-bit pixels, shared by drawing, copying and the row-by-row reader.
#include <array>
#include <cstdint>

#include "core/bytes.h"
#include "core/color.h"
#include "formats/png/chunks.h"
#include "formats/png/png_object.h"

namespace pellavo::png_detail {

// Turns stored rows into displayed 32-bit pixels. Built once per image, used for every row.
class TRowReader {
 public:
  explicit TRowReader(const TPNGObject& png) : h_(png.Header()), gamma_(png.GammaTable()) {
    const TChunktRNS* trns = png.Find<TChunktRNS>();
    const uint8_t type = h_.ColorType(), depth = h_.BitDepth();
    if (trns && type == COLOR_GRAYSCALE) has_key_ = trns->KeySample(0, key_[0]);
    if (trns && type == COLOR_RGB)
      has_key_ = trns->KeySample(0, key_[0]) && trns->KeySample(1, key_[1]) && trns->KeySample(2, key_[2]);

    lut_.fill(kOpaque);
    if (type == COLOR_GRAYSCALE && depth <= 8) {
      const unsigned max = (1u << depth) - 1;
      for (unsigned s = 0; s <= max; ++s) {
        const uint8_t v = gamma_[s * 255 / max];
        lut_[s] = ArgbColor(has_key_ && s == key_[0] ? 0 : 255, v, v, v);
      }
    } else if (type == COLOR_PALETTE) {
      // Entries past the palette are black; transparency is by index, so an opaque entry of
      // the same colour as a transparent one stays visible.
      if (const TChunkPLTE* plte = png.Find<TChunkPLTE>()) {
        for (size_t i = 0; i < plte->Count(); ++i) {
          const TChunkPLTE::TEntry e = plte->Item(i);
          lut_[i] = ArgbColor(trns ? trns->PaletteAlpha(i) : 255, gamma_[e.Red], gamma_[e.Green], gamma_[e.Blue]);
        }
      }
    }
  }

  // The colour of palette index or low-depth gray sample s.
  TColor32 Lookup(unsigned s) const { return lut_[s & 0xFF]; }

  void Read(const uint8_t* row, TColor32* out) const {
    const uint32_t w = h_.Width();
    const uint8_t depth = h_.BitDepth();
    const size_t bytes = depth / 8;  // per sample, for depths 8 and 16
    switch (h_.ColorType()) {
      case COLOR_GRAYSCALE:
        if (depth == 16) {
          for (uint32_t x = 0; x < w; ++x) {
            const uint8_t v = gamma_[row[2 * x]];
            const bool key = has_key_ && GetBE16(row + 2 * x) == key_[0];
            out[x] = ArgbColor(key ? 0 : 255, v, v, v);
          }
          break;
        }
        [[fallthrough]];
      case COLOR_PALETTE:
        if (depth == 8) {
          for (uint32_t x = 0; x < w; ++x) out[x] = lut_[row[x]];
        } else {
          const unsigned per_byte = 8u / depth, mask = (1u << depth) - 1;
          for (uint32_t x = 0; x < w; ++x)
            out[x] = lut_[(row[x / per_byte] >> (8u - depth * (x % per_byte + 1))) & mask];
        }
        break;
      case COLOR_RGB:
        for (uint32_t x = 0; x < w; ++x) {
          const uint8_t* p = row + 3 * bytes * x;
          bool key = has_key_;
          for (int c = 0; c < 3 && key; ++c)
            key = (bytes == 2 ? GetBE16(p + 2 * c) : p[c]) == key_[c];
          out[x] = ArgbColor(key ? 0 : 255, gamma_[p[0]], gamma_[p[bytes]], gamma_[p[2 * bytes]]);
        }
        break;
      case COLOR_GRAYSCALEALPHA:
        for (uint32_t x = 0; x < w; ++x) {
          const uint8_t* p = row + 2 * bytes * x;
          const uint8_t v = gamma_[p[0]];
          out[x] = ArgbColor(p[bytes], v, v, v);
        }
        break;
      case COLOR_RGBALPHA:
        for (uint32_t x = 0; x < w; ++x) {
          const uint8_t* p = row + 4 * bytes * x;
          out[x] = ArgbColor(p[3 * bytes], gamma_[p[0]], gamma_[p[bytes]], gamma_[p[2 * bytes]]);
        }
        break;
      default:
        break;
    }
  }

 private:
  const TChunkIHDR& h_;
  const std::array<uint8_t, 256>& gamma_;
  std::array<TColor32, 256> lut_{};
  bool has_key_ = false;
  uint16_t key_[3] = {0, 0, 0};
};

// (source x alpha + target x (255 - alpha) + 255) >> 8 on every channel; the image's own alpha
// channel counts as 255.
inline TColor32 Blend(TColor32 src, TColor32 dst) {
  const uint32_t a = AlphaOf(src);
  const auto mix = [a](uint32_t s, uint32_t d) { return uint8_t((s * a + d * (255 - a) + 255) >> 8); };
  return ArgbColor(mix(255, AlphaOf(dst)), mix(RedOf(src), RedOf(dst)), mix(GreenOf(src), GreenOf(dst)),
                   mix(BlueOf(src), BlueOf(dst)));
}


// A displayed pixel as it lands on a fresh surface and is then made opaque: drawn onto
// transparent black (opaque pixels replace it, clear ones leave it, the rest blend onto it),
// then alpha 255.
inline TColor32 OnSurface(TColor32 c) {
  const uint8_t a = AlphaOf(c);
  return (a == 255 ? c : a == 0 ? 0 : Blend(c, 0)) | kOpaque;
}

}  // namespace pellavo::png_detail
