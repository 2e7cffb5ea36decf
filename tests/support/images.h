#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/color.h"
#include "formats/bmp/bitmap.h"

namespace pellavo::test {

// A 32-bit bitmap whose pixel (x, y) is f(x, y).
template <class F>
TBitmap MakeBitmap32(int32_t w, int32_t h, F&& f) {
  TBitmap b(w, h, TPixelFormat::pf32bit);
  for (int32_t y = 0; y < h; ++y) {
    auto* row = reinterpret_cast<TColor32*>(b.ScanLine(y));
    for (int32_t x = 0; x < w; ++x) row[x] = f(x, y);
  }
  return b;
}

// A deterministic colourful test pattern, opaque.
TColor32 PatternPixel(int32_t x, int32_t y);

// Writes a 24-bit BMP of the pattern.
void WritePatternBmp(const std::string& path, int32_t w, int32_t h);

// The pixels of a bitmap as 32-bit values, top row first.
std::vector<TColor32> Pixels(const TBitmap& b);

}  // namespace pellavo::test
