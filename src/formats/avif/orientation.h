#pragma once
// Rotation and mirroring of a decoded image. Private to the AVIF codec, whose library leaves the
// file's transformations to its caller.
#include <cstdint>

#include "formats/bmp/bitmap.h"

namespace pellavo {

enum class TMirror : uint8_t { None, TopBottom, LeftRight };

// What is done to the stored image, in this order, to show it: turned anticlockwise by a
// number of quarter turns, then mirrored.
struct TOrientation {
  int QuarterTurns = 0;  // 0 to 3
  TMirror Mirror = TMirror::None;
};

// The bitmap's rows in the opposite order: for a block that a library filled top row first.
void ReverseRowOrder(TBitmap& bitmap);

// The image as shown: a 24- or 32-bit bitmap turned and mirrored; the same image when the
// orientation does nothing.
TBitmap Oriented(TBitmap image, const TOrientation& orientation);

}  // namespace pellavo
