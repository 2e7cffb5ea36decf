#include "worker/geometry.h"

#include "core/muldiv.h"

namespace pellavo {

bool UseWide(const TTargetRule& rule, int32_t w, int32_t h) {
  return IsLandscape(w, h) ? rule.WideMode != TWideMode::None : rule.WideMode == TWideMode::All;
}

TRect ComputeTarget(const TTargetRule& rule, int32_t w, int32_t h) {
  const bool wide = UseWide(rule, w, h);
  const int32_t n = rule.SizeValue;
  const auto width_rule = [&] { return TRect{0, 0, n, wide ? MulDiv(n, 9, 16) : MulDiv(n, h, w)}; };
  const auto height_rule = [&] {
    if (!wide) return TRect{0, 0, MulDiv(n, w, h), n};
    if (rule.SizeMode == TSizeMode::Height) return TRect{0, 0, MulDiv(n, 16, 9), n};
    return width_rule();
  };

  TRect dst;
  switch (rule.SizeMode) {
    case TSizeMode::Width: dst = width_rule(); break;
    case TSizeMode::Height: dst = height_rule(); break;
    case TSizeMode::Largest:
    case TSizeMode::Percent: dst = IsLandscape(w, h) ? width_rule() : height_rule(); break;
  }
  if (rule.NoEnlarge && !IsRectEmpty(dst)) {
    // The band of the source a 16:9 output shows has the target's shape, so its size is the
    // target at one source pixel per output pixel.
    const TRect shown = wide ? WideCrop(w, h, dst.Right, dst.Bottom) : TRect{0, 0, w, h};
    const int32_t sw = shown.Right - shown.Left, sh = shown.Bottom - shown.Top;
    if (dst.Right > sw || dst.Bottom > sh) dst = TRect{0, 0, sw, sh};
  }
  if (IsRectEmpty(dst)) InflateRect(dst, 1, 1);
  return dst;
}

TRect WideCrop(int32_t sw, int32_t sh, int32_t W, int32_t H) {
  const int32_t band_height = MulDiv(H, sw, W);
  if (band_height >= 0 && band_height <= sh) {
    const int32_t top = (sh - band_height) / 2;
    return TRect{0, top, sw, top + band_height};
  }
  // Wider than the target's aspect: the full height, and the middle of the width.
  const int32_t band_width = MulDiv(W, sh, H);
  if (band_width < 0 || band_width > sw) return TRect{0, 0, sw, sh};
  const int32_t left = (sw - band_width) / 2;
  return TRect{left, 0, left + band_width, sh};
}

}  // namespace pellavo
