#pragma once
#include <cstdint>

namespace pellavo {

class TBitmap32;

// The EXIF orientation values: how the stored rows must be turned for the picture to stand
// upright. 1 upright; 2 mirrored left to right; 3 turned half round; 4 mirrored top to bottom;
// 5 mirrored about the main diagonal; 6 shown turned a quarter clockwise; 7 mirrored about the
// other diagonal; 8 shown turned a quarter anticlockwise. Any other value counts as 1.
constexpr int NormalOrientation(int orientation) { return orientation >= 1 && orientation <= 8 ? orientation : 1; }

// Whether the upright picture has the stored height as its width.
constexpr bool OrientationSwapsSides(int orientation) { return NormalOrientation(orientation) >= 5; }

// Where upright pixel (x, y) of a picture stored as w x h pixels lies in the stored rows.
struct TStoredPixel {
  int32_t X, Y;
};
constexpr TStoredPixel StoredPixelOf(int orientation, int32_t x, int32_t y, int32_t w, int32_t h) {
  switch (NormalOrientation(orientation)) {
    case 2: return {w - 1 - x, y};
    case 3: return {w - 1 - x, h - 1 - y};
    case 4: return {x, h - 1 - y};
    case 5: return {y, x};
    case 6: return {y, h - 1 - x};
    case 7: return {w - 1 - y, h - 1 - x};
    case 8: return {w - 1 - y, x};
    default: return {x, y};
  }
}

// Turns the surface's pixels upright: an exact permutation, nothing resampled. Orientations 5 to
// 8 swap the surface's sides and need a second block of its size while they run.
void OrientSurface(TBitmap32& surface, int orientation);

}  // namespace pellavo
