#pragma once
#include <algorithm>
#include <vector>

namespace pellavo {

template <class Emit>
void ForEachStretchedRow(const TPixels32& target, const TRect& rect, int32_t sw, int32_t sh, Emit&& emit) {
  // 64-bit throughout: a position times a source side passes 2^31 from 46341 rows on.
  const int64_t rw = int64_t{rect.Right} - rect.Left, rh = int64_t{rect.Bottom} - rect.Top;
  if (rw <= 0 || rh <= 0 || sw <= 0 || sh <= 0 || !target.Bits) return;
  const int32_t x0 = std::max(rect.Left, 0), x1 = std::min(rect.Right, target.Width);
  const int32_t y0 = std::max(rect.Top, 0), y1 = std::min(rect.Bottom, target.Height);
  if (x0 >= x1 || y0 >= y1) return;
  std::vector<int32_t> xs(static_cast<size_t>(x1 - x0));
  for (int32_t x = x0; x < x1; ++x)
    xs[static_cast<size_t>(x - x0)] = static_cast<int32_t>((int64_t{x} - rect.Left) * sw / rw);
  for (int32_t y = y0; y < y1; ++y) {
    const int32_t sy = static_cast<int32_t>((int64_t{y} - rect.Top) * sh / rh);
    emit(target.Row(y), x0, x1 - x0, sy, xs.data());
  }
}

}  // namespace pellavo
