#include "app/viewer_geometry.h"

#include <algorithm>
#include <cstdint>

namespace pellavo {

QSize FitPicture(QSize picture, QSize area) {
  const int64_t pw = picture.width(), ph = picture.height(), aw = area.width(), ah = area.height();
  if (pw <= 0 || ph <= 0 || aw <= 0 || ah <= 0) return QSize(0, 0);
  if (pw <= aw && ph <= ah) return picture;
  // pw / ph >= aw / ah, without rounding: the width is the side that meets the area's edge.
  if (pw * ah >= ph * aw) return QSize(int(aw), int(std::max<int64_t>(aw * ph / pw, 1)));
  return QSize(int(std::max<int64_t>(ah * pw / ph, 1)), int(ah));
}

TJPEGScale JpegScaleFor(QSize full, QSize shown) {
  constexpr struct {
    int divisor;
    TJPEGScale scale;
  } kReductions[] = {{8, TJPEGScale::jsEighth}, {4, TJPEGScale::jsQuarter}, {2, TJPEGScale::jsHalf}};
  for (const auto& r : kReductions)
    if ((full.width() + r.divisor - 1) / r.divisor >= shown.width() &&
        (full.height() + r.divisor - 1) / r.divisor >= shown.height())
      return r.scale;
  return TJPEGScale::jsFullSize;
}

}  // namespace pellavo
