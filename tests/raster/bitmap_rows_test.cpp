// A bitmap's rows as the stretch reads them are the pixels a surface takes from it.
#include <gtest/gtest.h>

#include "raster/bitmap32.h"
#include "raster/bitmap_rows.h"
#include "raster_fixtures.h"
#include "support/images.h"

namespace pellavo {
namespace {

TEST(BitmapRows, RowsAreWhatASurfaceTakesFromTheBitmap) {
  const TBitmap pattern = test::MakeBitmap32(23, 9, [](int32_t x, int32_t y) {
    // Some pixels of the key colour (white) in every format, and alpha in the fourth byte.
    return (x + y) % 5 == 0 ? 0x80FFFFFFu : test::PatternPixel(x, y);
  });
  for (TPixelFormat format : {TPixelFormat::pf1bit, TPixelFormat::pf4bit, TPixelFormat::pf8bit,
                              TPixelFormat::pf15bit, TPixelFormat::pf16bit, TPixelFormat::pf24bit,
                              TPixelFormat::pf32bit})
    for (bool keyed : {false, true}) {
      SCOPED_TRACE(std::to_string(int(format)) + (keyed ? ", keyed" : ""));
      TBitmap b(pattern);
      b.SetPixelFormat(format);
      b.SetTransparent(keyed);
      b.SetTransparentColor(0x00FFFFFF);
      TBitmap32 surface;
      surface.Assign(b);
      TBitmapRows rows(b);
      std::vector<TColor32> pixels(size_t(b.Width()) * size_t(b.Height()));
      rows.ReadRows(pixels.data(), 4);
      rows.ReadRows(pixels.data() + 4 * size_t(b.Width()), b.Height() - 4);
      EXPECT_EQ(pixels, test::SurfacePixels(surface));
    }
}

}  // namespace
}  // namespace pellavo
