#pragma once
#include <cstdint>
#include <random>
#include <vector>

#include "raster/bitmap32.h"

namespace pellavo::test {

// A w x h surface whose pixel (x, y) is f(x, y).
template <class F>
void FillSurface(TBitmap32& s, int32_t w, int32_t h, F&& f) {
  s.SetSize(w, h);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) s.ScanLine(y)[x] = f(x, y);
}

// Random pixels, alpha included, reproducible from the seed.
inline void RandomSurface(TBitmap32& s, int32_t w, int32_t h, uint32_t seed) {
  std::mt19937 rng(seed);
  FillSurface(s, w, h, [&](int32_t, int32_t) { return static_cast<TColor32>(rng()); });
}

inline std::vector<TColor32> SurfacePixels(const TBitmap32& s) {
  if (s.Empty()) return {};
  return std::vector<TColor32>(s.Bits(), s.Bits() + size_t(s.Width()) * size_t(s.Height()));
}

}  // namespace pellavo::test
