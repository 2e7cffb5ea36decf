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

// The mean difference of the red, green and blue values of two images of the same size, 0 to
// 255; alpha is left out. Images of different sizes differ by 255.
double MeanRgbDifference(const std::vector<TColor32>& a, const std::vector<TColor32>& b);

// Gradients that run differently in each channel, opaque: a lossy codec keeps them closely,
// while a swapped channel, a flipped row order or a lost row shows at once.
TColor32 SmoothPixel(int32_t x, int32_t y);

}  // namespace pellavo::test
