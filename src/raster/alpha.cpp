#include "raster/alpha.h"

#include <algorithm>
#include <array>

#include "raster/bitmap32.h"

namespace pellavo {
namespace {

// x / 255 rounded, for x up to 255 x 255 (exact over that range).
constexpr uint32_t Div255(uint32_t x) { return (x + 128 + ((x + 128) >> 8)) >> 8; }

// The part of r inside the surface.
TRect Clipped(const TBitmap32& s, const TRect& r) {
  return TRect{std::max(r.Left, 0), std::max(r.Top, 0), std::min(r.Right, s.Width()), std::min(r.Bottom, s.Height())};
}

template <class F>
void ForEachPixel(TBitmap32& surface, const TRect& r, F&& f) {
  const TRect c = Clipped(surface, r);
  if (surface.Empty()) return;
  for (int32_t y = c.Top; y < c.Bottom; ++y) {
    TColor32* row = surface.ScanLine(y);
    for (int32_t x = c.Left; x < c.Right; ++x) row[x] = f(row[x]);
  }
  surface.Changed();
}

// 255 x 65536 / a, rounded, for each alpha: division by a multiply and a shift.
const std::array<uint32_t, 256>& Reciprocals() {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t a = 1; a < 256; ++a) t[a] = (255u * 65536u + a / 2) / a;
    return t;
  }();
  return table;
}

}  // namespace

void AssignWithAlpha(TBitmap32& surface, const TPicture& picture) {
  TGraphic* g = picture.Graphic();
  if (!g || g->UsesCoverageAlpha()) {
    surface.Assign(picture);
    return;
  }
  if (g->Is(TBitmap::StaticClass())) {
    const auto& b = static_cast<const TBitmap&>(*g);
    surface.Assign(b);
    if (b.PixelFormat() == TPixelFormat::pf32bit && !surface.Empty()) {
      const TColor32* p = surface.Bits();
      const size_t n = size_t(surface.Width()) * size_t(surface.Height());
      if (std::all_of(p, p + n, [](TColor32 c) { return AlphaOf(c) == 0; })) surface.ResetAlpha();
    }
    return;
  }
  surface.SetSize(0, 0);  // a fresh block is all transparent black
  surface.SetSize(picture.Width(), picture.Height());
  if (surface.Empty()) return;
  g->DrawUncomposed(surface.Pixels());
  surface.Changed();
}

bool HasTransparency(const TBitmap32& surface) {
  if (surface.Empty()) return false;
  const TColor32* p = surface.Bits();
  return std::any_of(p, p + size_t(surface.Width()) * size_t(surface.Height()),
                     [](TColor32 c) { return AlphaOf(c) != 255; });
}

void PremultiplyAlpha(TBitmap32& surface) {
  ForEachPixel(surface, surface.BoundsRect(), [](TColor32 c) {
    const uint32_t a = AlphaOf(c);
    if (a == 255) return c;
    return ArgbColor(uint8_t(a), uint8_t(Div255(RedOf(c) * a)), uint8_t(Div255(GreenOf(c) * a)),
                     uint8_t(Div255(BlueOf(c) * a)));
  });
}

void UnpremultiplyAlpha(TBitmap32& surface, const TRect& r) {
  const std::array<uint32_t, 256>& k = Reciprocals();
  ForEachPixel(surface, r, [&k](TColor32 c) {
    const uint32_t a = AlphaOf(c);
    if (a == 255) return c;
    if (a == 0) return TColor32{0};
    const auto div = [&](uint32_t v) { return uint8_t(std::min<uint32_t>(255, (v * k[a] + 32768) >> 16)); };
    return ArgbColor(uint8_t(a), div(RedOf(c)), div(GreenOf(c)), div(BlueOf(c)));
  });
}

void ComposeOnto(TBitmap32& surface, const TRect& r, TColor32 background) {
  ForEachPixel(surface, r, [background](TColor32 c) {
    const uint32_t a = AlphaOf(c);
    if (a == 255) return c;
    const auto mix = [a](uint32_t f, uint32_t b) { return uint8_t(Div255(f * a + b * (255 - a))); };
    return ArgbColor(255, mix(RedOf(c), RedOf(background)), mix(GreenOf(c), GreenOf(background)),
                     mix(BlueOf(c), BlueOf(background)));
  });
}

}  // namespace pellavo
