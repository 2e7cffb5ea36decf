#include "formats/avif/orientation.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace pellavo {

void ReverseRowOrder(TBitmap& bitmap) {
  const size_t bytes = bitmap.RowBytes();
  for (int32_t top = 0, bottom = bitmap.Height() - 1; top < bottom; ++top, --bottom)
    std::swap_ranges(bitmap.ScanLine(top), bitmap.ScanLine(top) + bytes, bitmap.ScanLine(bottom));
}

TBitmap Oriented(TBitmap image, const TOrientation& orientation) {
  const int turns = orientation.QuarterTurns & 3;
  if (turns == 0 && orientation.Mirror == TMirror::None) return image;
  const int32_t w = image.Width(), h = image.Height();
  const size_t pixel = size_t(image.BitsPerPixel() / 8);
  const int32_t W = turns % 2 ? h : w, H = turns % 2 ? w : h;
  TBitmap shown(W, H, image.PixelFormat());
  for (int32_t Y = 0; Y < H; ++Y) {
    uint8_t* out = shown.ScanLine(Y);
    for (int32_t X = 0; X < W; ++X) {
      // Undo the mirror, then the turn, to find the stored pixel shown at (X, Y).
      int32_t x = X, y = Y;
      if (orientation.Mirror == TMirror::LeftRight) x = W - 1 - x;
      if (orientation.Mirror == TMirror::TopBottom) y = H - 1 - y;
      int32_t sx = x, sy = y;
      switch (turns) {
        case 1: sx = w - 1 - y, sy = x; break;   // anticlockwise: the right edge comes to the top
        case 2: sx = w - 1 - x, sy = h - 1 - y; break;
        case 3: sx = y, sy = h - 1 - x; break;
      }
      std::memcpy(out + size_t(X) * pixel, image.ScanLine(sy) + size_t(sx) * pixel, pixel);
    }
  }
  return shown;
}

}  // namespace pellavo
