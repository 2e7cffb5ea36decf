#include "raster/color32.h"

#include <algorithm>

namespace pellavo {

TColor32 Color32(TColor c) {
  if (c < 0) c = SystemColor(c & 0xFF);
  const auto u = static_cast<uint32_t>(c);
  return kOpaque | (u & 0xFF) << 16 | (u & 0xFF00) | ((u >> 16) & 0xFF);
}

TColor32 SetAlpha(TColor32 c, int a) {
  a = std::clamp(a, 0, 255);
  return (c & 0x00FFFFFFu) | static_cast<TColor32>(a) << 24;
}

TColor32 BlendOver(TColor32 f, TColor32 b) {
  const uint32_t a = f >> 24;
  if (a == 0) return b;
  if (a == 255) return f;
  TColor32 r = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const uint32_t fc = (f >> shift) & 0xFF, bc = (b >> shift) & 0xFF;
    r |= ((a * fc + (256 - a) * bc + 128) >> 8) << shift;
  }
  return r;
}

}  // namespace pellavo
