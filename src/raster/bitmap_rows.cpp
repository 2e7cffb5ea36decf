#include "raster/bitmap_rows.h"

#include "raster/color32.h"

namespace pellavo {

TBitmapRows::TBitmapRows(const TBitmap& bitmap)
    : bitmap_(bitmap),
      keyed_(bitmap.Transparent()),
      key_(bitmap.Transparent() ? Color32(bitmap.TransparentColor()) & 0x00FFFFFFu : 0) {}

void TBitmapRows::ReadRows(TColor32* out, int32_t count) {
  const size_t w = static_cast<size_t>(Width());
  for (int32_t i = 0; i < count; ++i, ++next_, out += w) {
    bitmap_.ReadRow32(next_, out);
    if (keyed_)
      for (size_t x = 0; x < w; ++x)
        if ((out[x] & 0x00FFFFFFu) == key_) out[x] &= 0x00FFFFFFu;
  }
}

}  // namespace pellavo
