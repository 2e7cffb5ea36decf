#include <gtest/gtest.h>

#include "worker/geometry.h"

namespace pellavo {
namespace {

TEST(Geometry, TargetAndCropFollowTheSizeRules) {
  using enum TSizeMode;
  using enum TWideMode;
  struct Case {
    int32_t w, h;
    TSizeMode mode;
    int n;
    TWideMode wide;
    TRect dst;
    TRect src;  // empty: the whole image
  };
  const Case cases[] = {
      {1600, 1200, Width, 800, None, {0, 0, 800, 600}, {}},
      {1200, 1600, Largest, 800, None, {0, 0, 600, 800}, {}},
      {1600, 1200, Largest, 800, Land, {0, 0, 800, 450}, {0, 150, 1600, 1050}},
      {1200, 1600, Largest, 800, Land, {0, 0, 600, 800}, {}},
      {1200, 1600, Largest, 800, All, {0, 0, 800, 450}, {0, 462, 1200, 1137}},
      {1600, 1200, Height, 450, Land, {0, 0, 800, 450}, {0, 150, 1600, 1050}},
      {1200, 1600, Height, 800, All, {0, 0, 1422, 800}, {0, 462, 1200, 1137}},
      {1000, 1000, Largest, 800, Land, {0, 0, 800, 450}, {0, 218, 1000, 781}},
      {10000, 100, Width, 10, None, {-1, -1, 11, 1}, {}},
      // Percent mode arrives in pixels of the longer side and sizes like "Largest".
      {1000, 600, Percent, 500, None, {0, 0, 500, 300}, {}},
      // Wider than 16:9: a centred full-height band instead of one reaching outside the image.
      {2560, 1080, Largest, 800, Land, {0, 0, 800, 450}, {320, 0, 2240, 1080}},
      // A zero-sized picture: MulDiv gives -1 and the fix-up grows the rectangle.
      {0, 0, Largest, 800, None, {-1, -1, 801, 0}, {}},
  };
  for (const Case& c : cases) {
    const TTargetRule rule{c.mode, c.n, c.wide};
    const TRect dst = ComputeTarget(rule, c.w, c.h);
    EXPECT_EQ(dst, c.dst) << c.w << "x" << c.h << " mode " << int(c.mode) << " wide " << int(c.wide);
    const TRect src = UseWide(rule, c.w, c.h) ? WideCrop(c.w, c.h, dst.Right, dst.Bottom) : TRect{0, 0, c.w, c.h};
    const TRect expected = c.src == TRect{} ? TRect{0, 0, c.w, c.h} : c.src;
    EXPECT_EQ(src, expected) << c.w << "x" << c.h;
  }
}

// Only shrink: a target larger than what it shows of the source becomes that part's own size;
// a target within it is left as it is.
TEST(Geometry, NoEnlargeKeepsSourcesWithinTheTargetAtTheirSize) {
  using enum TSizeMode;
  using enum TWideMode;
  struct Case {
    int32_t w, h;
    TSizeMode mode;
    int n;
    TWideMode wide;
    TRect dst;
  };
  const Case cases[] = {
      {600, 400, Largest, 800, None, {0, 0, 600, 400}},
      {600, 400, Width, 800, None, {0, 0, 600, 400}},
      {600, 400, Height, 300, None, {0, 0, 450, 300}},
      {1600, 1200, Largest, 800, None, {0, 0, 800, 600}},
      {800, 800, Largest, 800, None, {0, 0, 800, 800}},
      {300, 1000, Largest, 800, Land, {0, 0, 240, 800}},
      // "Percent" above 100, in pixels of the longer side by now: never enlarged either.
      {1000, 600, Percent, 1500, None, {0, 0, 1000, 600}},
      {1000, 600, Percent, 500, None, {0, 0, 500, 300}},
      // 16:9: the band of the source the output shows, at one source pixel per output pixel.
      {1200, 900, Largest, 1600, Land, {0, 0, 1200, 675}},
      {3000, 1000, Largest, 4000, Land, {0, 0, 1778, 1000}},
      {1600, 1200, Largest, 800, Land, {0, 0, 800, 450}},
      // The fix-up of an empty target still applies.
      {10000, 100, Width, 10, None, {-1, -1, 11, 1}},
  };
  for (const Case& c : cases) {
    const TRect dst = ComputeTarget(TTargetRule{c.mode, c.n, c.wide, true}, c.w, c.h);
    EXPECT_EQ(dst, c.dst) << c.w << "x" << c.h << " mode " << int(c.mode) << " n " << c.n << " wide " << int(c.wide);
  }
}

TEST(Geometry, WideAppliesToLandscapeOrToAll) {
  using enum TWideMode;
  const auto largest = [](TWideMode wide) { return TTargetRule{TSizeMode::Largest, 800, wide}; };
  EXPECT_TRUE(UseWide(largest(Land), 100, 100)) << "a square counts as landscape";
  EXPECT_FALSE(UseWide(largest(Land), 99, 100));
  EXPECT_TRUE(UseWide(largest(All), 99, 100));
  EXPECT_FALSE(UseWide(largest(None), 100, 99));
}

}  // namespace
}  // namespace pellavo
