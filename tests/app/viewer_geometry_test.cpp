#include <gtest/gtest.h>

#include "app/viewer_geometry.h"

namespace pellavo {
namespace {

TEST(ViewerGeometry, PicturesFitTheAreaWithTheirAspectKeptAndAreNeverEnlarged) {
  const struct {
    QSize picture, area, shown;
  } cases[] = {
      {{1024, 768}, {300, 225}, {300, 225}},  // the same ratio fills the area exactly
      {{40, 30}, {300, 225}, {40, 30}},       // smaller: its own size, not enlarged
      {{300, 225}, {300, 225}, {300, 225}},
      {{600, 100}, {300, 225}, {300, 50}},    // wider than the area: the width meets the edge
      {{100, 600}, {300, 225}, {37, 225}},    // 225 x 100 / 600 = 37.5, cut to 37
      {{301, 10}, {300, 225}, {300, 9}},      // 300 x 10 / 301 = 9.97, cut, never rounded up
      {{10, 400}, {300, 225}, {5, 225}},      // only one side too large
      {{1000, 749}, {4, 3}, {4, 2}},          // 4 x 749 / 1000 = 2.996
      {{100000, 1}, {300, 225}, {300, 1}},    // a thin picture keeps one row
      {{0, 10}, {300, 225}, {0, 0}},
      {{10, 10}, {0, 225}, {0, 0}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FitPicture(c.picture, c.area), c.shown) << c.picture.width() << " x " << c.picture.height() << " in "
                                                      << c.area.width() << " x " << c.area.height();
}

TEST(ViewerGeometry, JpegReductionStillCoversTheShownSize) {
  const struct {
    QSize full, shown;
    TJPEGScale scale;
  } cases[] = {
      {{6000, 4000}, {300, 200}, TJPEGScale::jsEighth},    // 750 x 500
      {{2400, 1800}, {300, 225}, TJPEGScale::jsEighth},    // exactly 300 x 225
      {{2393, 1795}, {300, 225}, TJPEGScale::jsEighth},    // 299.1 x 224.4, rounded up by the decoder
      {{2392, 1800}, {300, 225}, TJPEGScale::jsQuarter},   // an eighth is 299 wide
      {{1024, 768}, {300, 225}, TJPEGScale::jsHalf},       // a quarter would be 256 x 192
      {{400, 300}, {300, 225}, TJPEGScale::jsFullSize},
      {{40, 30}, {40, 30}, TJPEGScale::jsFullSize},
  };
  for (const auto& c : cases)
    EXPECT_EQ(JpegScaleFor(c.full, c.shown), c.scale) << c.full.width() << " x " << c.full.height();
}

}  // namespace
}  // namespace pellavo
