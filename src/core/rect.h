#pragma once
#include <algorithm>
#include <cstdint>

namespace pellavo {

// Right and bottom are exclusive.
struct TRect {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;

  constexpr int32_t Width() const { return Right - Left; }
  constexpr int32_t Height() const { return Bottom - Top; }
  friend constexpr bool operator==(const TRect&, const TRect&) = default;
};

constexpr TRect Rect(int32_t l, int32_t t, int32_t r, int32_t b) { return TRect{l, t, r, b}; }

// Negative dx, dy shrink the rectangle.
constexpr void InflateRect(TRect& r, int32_t dx, int32_t dy) {
  r.Left -= dx;
  r.Top -= dy;
  r.Right += dx;
  r.Bottom += dy;
}

constexpr void OffsetRect(TRect& r, int32_t dx, int32_t dy) {
  r.Left += dx;
  r.Right += dx;
  r.Top += dy;
  r.Bottom += dy;
}

constexpr bool IsRectEmpty(const TRect& r) { return r.Right <= r.Left || r.Bottom <= r.Top; }

constexpr bool EqualRect(const TRect& a, const TRect& b) { return a == b; }

// A zero-width or zero-height intersection still counts as an intersection and is kept as
// computed; only a negative extent clears d. d may alias a or b.
constexpr bool IntersectRect(TRect& d, const TRect& a, const TRect& b) {
  const TRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
                std::min(a.Bottom, b.Bottom)};
  if (r.Right >= r.Left && r.Bottom >= r.Top) {
    d = r;
    return true;
  }
  d = TRect{};
  return false;
}

}  // namespace pellavo
