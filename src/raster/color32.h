#pragma once
#include <cstdint>
#include <vector>

#include "core/color.h"

namespace pellavo {

using TArrayOfColor32 = std::vector<TColor32>;

// A window-system colour (system colours resolved) as an opaque TColor32.
TColor32 Color32(TColor c);

// c with its alpha replaced by a, clamped to 0..255.
TColor32 SetAlpha(TColor32 c, int a);

// The cmBlend combine of one pixel: f over b by f's alpha, every byte (alpha too) blended
// alike with a rounding offset of 128. Alpha 0 keeps b, alpha 255 gives f.
TColor32 BlendOver(TColor32 f, TColor32 b);

}  // namespace pellavo
