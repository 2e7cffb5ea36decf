#include "raster/orientation.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "raster/bitmap32.h"

namespace pellavo {
namespace {

// Square tiles keep both the rows read and the rows written in cache while a quarter turn walks
// the stored image by columns.
constexpr int32_t kTile = 64;

}  // namespace

void OrientSurface(TBitmap32& surface, int orientation) {
  orientation = NormalOrientation(orientation);
  if (orientation == 1 || surface.Empty()) return;
  const int32_t w = surface.Width(), h = surface.Height();

  if (!OrientationSwapsSides(orientation)) {
    // Mirrors and the half turn keep the sides: swap pixel pairs in place.
    if (orientation != 4) {
      for (int32_t y = 0; y < h; ++y) std::reverse(surface.ScanLine(y), surface.ScanLine(y) + w);
    }
    if (orientation != 2) {
      for (int32_t y = 0; y < h / 2; ++y)
        std::swap_ranges(surface.ScanLine(y), surface.ScanLine(y) + w, surface.ScanLine(h - 1 - y));
    }
    surface.Changed();
    return;
  }

  TBitmap32 upright;
  upright.SetSize(h, w);
  const TColor32* src = surface.Bits();
  for (int32_t ty = 0; ty < w; ty += kTile) {
    for (int32_t tx = 0; tx < h; tx += kTile) {
      const int32_t y_end = std::min(ty + kTile, w), x_end = std::min(tx + kTile, h);
      for (int32_t y = ty; y < y_end; ++y) {
        TColor32* row = upright.ScanLine(y);
        for (int32_t x = tx; x < x_end; ++x) {
          const TStoredPixel p = StoredPixelOf(orientation, x, y, w, h);
          row[x] = src[size_t(p.Y) * size_t(w) + size_t(p.X)];
        }
      }
    }
  }
  // The stored block goes before the surface takes the new size, so two blocks are held only
  // while the turn runs.
  surface.SetSize(0, 0);
  surface.SetSize(h, w);
  std::memcpy(surface.Bits(), upright.Bits(), size_t(w) * size_t(h) * sizeof(TColor32));
}

}  // namespace pellavo
