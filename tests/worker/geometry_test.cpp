#include <gtest/gtest.h>

#include "worker/geometry.h"

namespace pellavo {
namespace {

TEST(Geometry, TargetAndCropFollowTheSizeRules) {
  struct Case {
    int32_t w, h;
    int mode, n, wide;
    TRect dst;
    TRect src;  // empty: the whole image
  };
  const Case cases[] = {
      {1600, 1200, 0, 800, 0, {0, 0, 800, 600}, {}},
      {1200, 1600, 2, 800, 0, {0, 0, 600, 800}, {}},
      {1600, 1200, 2, 800, 1, {0, 0, 800, 450}, {0, 150, 1600, 1050}},
      {1200, 1600, 2, 800, 1, {0, 0, 600, 800}, {}},
      {1200, 1600, 2, 800, 2, {0, 0, 800, 450}, {0, 462, 1200, 1137}},
      {1600, 1200, 1, 450, 1, {0, 0, 800, 450}, {0, 150, 1600, 1050}},
      {1200, 1600, 1, 800, 2, {0, 0, 1422, 800}, {0, 462, 1200, 1137}},
      {1000, 1000, 2, 800, 1, {0, 0, 800, 450}, {0, 218, 1000, 781}},
      {10000, 100, 0, 10, 0, {-1, -1, 11, 1}, {}},
      // Percent mode arrives in pixels of the longer side and sizes like "Largest".
      {1000, 600, 3, 500, 0, {0, 0, 500, 300}, {}},
      // Wider than 16:9: a centred full-height band instead of one reaching outside the image.
      {2560, 1080, 2, 800, 1, {0, 0, 800, 450}, {320, 0, 2240, 1080}},
      // A zero-sized picture: MulDiv gives -1 and the fix-up grows the rectangle.
      {0, 0, 2, 800, 0, {-1, -1, 801, 0}, {}},
  };
  for (const Case& c : cases) {
    const TTargetRule rule{c.mode, c.n, c.wide};
    const TRect dst = ComputeTarget(rule, c.w, c.h);
    EXPECT_EQ(dst, c.dst) << c.w << "x" << c.h << " mode " << c.mode << " wide " << c.wide;
    const TRect src = UseWide(rule, c.w, c.h) ? WideCrop(c.w, c.h, dst.Right, dst.Bottom) : TRect{0, 0, c.w, c.h};
    const TRect expected = c.src == TRect{} ? TRect{0, 0, c.w, c.h} : c.src;
    EXPECT_EQ(src, expected) << c.w << "x" << c.h;
  }
}

TEST(Geometry, WideAppliesToLandscapeOrToAll) {
  EXPECT_TRUE(UseWide({2, 800, 1}, 100, 100)) << "a square counts as landscape";
  EXPECT_FALSE(UseWide({2, 800, 1}, 99, 100));
  EXPECT_TRUE(UseWide({2, 800, 2}, 99, 100));
  EXPECT_FALSE(UseWide({2, 800, 0}, 100, 99));
}

}  // namespace
}  // namespace pellavo
