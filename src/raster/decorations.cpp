#include <algorithm>
#include <utility>

#include "raster/bitmap32.h"
#include "raster/simd/routines.h"

namespace pellavo {
namespace {

// Puts the end points of a line in order and clips them to lo..hi (inclusive); false when
// nothing is left.
bool ClipSpan(int32_t& a, int32_t& b, int32_t lo, int32_t hi) {
  if (a > b) std::swap(a, b);
  a = std::max(a, lo);
  b = std::min(b, hi);
  return a <= b;
}

bool Outside(const TRect& r, const TRect& clip) {
  return r.Left >= r.Right || r.Top >= r.Bottom || r.Left >= clip.Right || r.Top >= clip.Bottom ||
         r.Right <= clip.Left || r.Bottom <= clip.Top;
}

int32_t ContrastAlpha(int64_t contrast, int64_t scale) {
  return static_cast<int32_t>(std::clamp<int64_t>(contrast * scale / 100, 0, 255));
}

}  // namespace

void TBitmap32::HorzLineClipped(int32_t x1, int32_t y, int32_t x2, TColor32 c) {
  const TRect clip = clip_rect_;
  if (y < clip.Top || y >= clip.Bottom || !ClipSpan(x1, x2, clip.Left, clip.Right - 1)) return;
  simd::Routines().Fill(ScanLine(y) + x1, size_t(x2 - x1) + 1, c);
  AreaChanged(TRect{x1, y, x2 + 1, y + 1}, AREAINFO_RECT);
}

void TBitmap32::VertLineClipped(int32_t x, int32_t y1, int32_t y2, TColor32 c) {
  const TRect clip = clip_rect_;
  if (x < clip.Left || x >= clip.Right || !ClipSpan(y1, y2, clip.Top, clip.Bottom - 1)) return;
  for (int32_t y = y1; y <= y2; ++y) ScanLine(y)[x] = c;
  AreaChanged(TRect{x, y1, x + 1, y2 + 1}, AREAINFO_RECT);
}

void TBitmap32::HorzLineBlended(int32_t x1, int32_t y, int32_t x2, TColor32 c) {
  const TRect clip = clip_rect_;
  if (y < clip.Top || y >= clip.Bottom || !ClipSpan(x1, x2, clip.Left, clip.Right - 1)) return;
  const uint32_t a = c >> 24;
  if (a == 255)
    simd::Routines().Fill(ScanLine(y) + x1, size_t(x2 - x1) + 1, c);
  else if (a != 0)
    simd::Routines().BlendRun(c, ScanLine(y) + x1, size_t(x2 - x1) + 1);
  AreaChanged(TRect{x1, y, x2 + 1, y + 1}, AREAINFO_RECT);
}

void TBitmap32::VertLineBlended(int32_t x, int32_t y1, int32_t y2, TColor32 c) {
  const TRect clip = clip_rect_;
  if (x < clip.Left || x >= clip.Right || !ClipSpan(y1, y2, clip.Top, clip.Bottom - 1)) return;
  const uint32_t a = c >> 24;
  for (int32_t y = y1; y <= y2 && a != 0; ++y) {
    if (a == 255)
      ScanLine(y)[x] = c;
    else
      simd::Routines().BlendRun(c, ScanLine(y) + x, 1);
  }
  AreaChanged(TRect{x, y1, x + 1, y2 + 1}, AREAINFO_RECT);
}

void TBitmap32::FillRectClipped(int32_t x1, int32_t y1, int32_t x2, int32_t y2, TColor32 c) {
  const TRect clip = clip_rect_;
  if (Outside(TRect{x1, y1, x2, y2}, clip)) return;
  x1 = std::max(x1, clip.Left);
  y1 = std::max(y1, clip.Top);
  x2 = std::min(x2, clip.Right);
  y2 = std::min(y2, clip.Bottom);
  for (int32_t y = y1; y < y2; ++y) simd::Routines().Fill(ScanLine(y) + x1, size_t(x2 - x1), c);
  AreaChanged(TRect{x1, y1, x2, y2}, AREAINFO_RECT);
}

void TBitmap32::FrameRectClipped(const TRect& r, TColor32 c) {
  if (Outside(r, clip_rect_)) return;
  const int32_t right = r.Right - 1, bottom = r.Bottom - 1;
  HorzLineClipped(r.Left, r.Top, right, c);
  if (r.Top < bottom) HorzLineClipped(r.Left, bottom, right, c);
  if (bottom > r.Top + 1) {
    VertLineClipped(r.Left, r.Top + 1, bottom - 1, c);
    if (right > r.Left) VertLineClipped(right, r.Top + 1, bottom - 1, c);
  }
}

void TBitmap32::RaiseRectBlended(const TRect& r, int32_t contrast) {
  if (Outside(r, clip_rect_) || contrast == 0) return;
  const int64_t c = contrast > 0 ? int64_t{contrast} : -int64_t{contrast};
  const TColor32 light = SetAlpha(0xFFFFFFFFu, ContrastAlpha(c, 512));
  const TColor32 dark = SetAlpha(0xFF000000u, ContrastAlpha(c, 255));
  const TColor32 top_left = contrast > 0 ? light : dark;
  const TColor32 bottom_right = contrast > 0 ? dark : light;
  const int32_t right = r.Right - 1, bottom = r.Bottom - 1;
  HorzLineBlended(r.Left, r.Top, right, top_left);
  HorzLineBlended(r.Left, bottom, right, bottom_right);
  if (r.Top + 1 <= bottom - 1) {
    VertLineBlended(r.Left, r.Top + 1, bottom - 1, top_left);
    VertLineBlended(right, r.Top + 1, bottom - 1, bottom_right);
  }
}

}  // namespace pellavo
