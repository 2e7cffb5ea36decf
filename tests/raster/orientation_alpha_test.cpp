#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formats/bmp/bitmap.h"
#include "formats/picture.h"
#include "raster/alpha.h"
#include "raster/bitmap32.h"
#include "raster/orientation.h"
#include "raster_fixtures.h"
#include "support/images.h"

namespace pellavo {
namespace {

using test::FillSurface;
using test::SurfacePixels;

// Pixel (x, y) of the 3 x 2 stored image holds 10 x + y + 1, so every position is told apart and
// no turn of it equals another.
TColor32 Marked(int32_t x, int32_t y) { return kOpaque | TColor32(10 * x + y + 1); }

// The stored image as a viewer shows it for each orientation, row by row, as the marks of the
// stored pixels: worked out by hand from the EXIF definitions (where the stored first row and
// first column end up).
TEST(Orientation, EveryValueTurnsTheStoredPixelsUpright) {
  // Stored (3 x 2):  1 11 21
  //                  2 12 22
  struct TCase {
    int orientation;
    int32_t w, h;
    std::vector<TColor32> marks;
  };
  const TCase cases[] = {
      {1, 3, 2, {1, 11, 21, 2, 12, 22}},
      {2, 3, 2, {21, 11, 1, 22, 12, 2}},
      {3, 3, 2, {22, 12, 2, 21, 11, 1}},
      {4, 3, 2, {2, 12, 22, 1, 11, 21}},
      // The first stored row becomes the left column (5, 8) or the right one (6, 7); the first
      // stored column becomes the top row (5, 6) or the bottom one (7, 8).
      {5, 2, 3, {1, 2, 11, 12, 21, 22}},
      {6, 2, 3, {2, 1, 12, 11, 22, 21}},
      {7, 2, 3, {22, 21, 12, 11, 2, 1}},
      {8, 2, 3, {21, 22, 11, 12, 1, 2}},
      {0, 3, 2, {1, 11, 21, 2, 12, 22}},  // not an orientation: taken as upright
      {9, 3, 2, {1, 11, 21, 2, 12, 22}},
  };
  for (const TCase& c : cases) {
    TBitmap32 s;
    FillSurface(s, 3, 2, Marked);
    OrientSurface(s, c.orientation);
    ASSERT_EQ(s.Width(), c.w) << c.orientation;
    ASSERT_EQ(s.Height(), c.h) << c.orientation;
    std::vector<TColor32> expected;
    for (TColor32 m : c.marks) expected.push_back(kOpaque | m);
    EXPECT_EQ(SurfacePixels(s), expected) << "orientation " << c.orientation;
    EXPECT_EQ(OrientationSwapsSides(c.orientation), c.w == 2) << c.orientation;
  }
}

// Quarter turns run tile by tile: a surface larger than a tile and of sides that are no multiple
// of it must still be an exact permutation, each turn undone by its inverse.
TEST(Orientation, LargeSurfacesTurnExactly) {
  const std::pair<int, int> inverse[] = {{6, 8}, {8, 6}, {5, 5}, {7, 7}, {3, 3}, {2, 2}, {4, 4}};
  TBitmap32 original;
  test::RandomSurface(original, 131, 70, 7);
  for (const auto& [turn, back] : inverse) {
    TBitmap32 s;
    s.Assign(original);
    OrientSurface(s, turn);
    OrientSurface(s, back);
    EXPECT_EQ(s.Width(), 131);
    EXPECT_EQ(SurfacePixels(s), SurfacePixels(original)) << turn << " then " << back;
  }
}

TEST(Alpha, PremultiplyUnpremultiplyAndCompose) {
  struct TCase {
    TColor32 straight, premultiplied, unpremultiplied, on_white;
  };
  const TCase cases[] = {
      {0xFFC08040u, 0xFFC08040u, 0xFFC08040u, 0xFFC08040u},  // opaque: untouched by every pass
      {0x00FF0000u, 0x00000000u, 0x00000000u, 0xFFFFFFFFu},  // clear: its colour is gone
      {0x80FF0000u, 0x80800000u, 0x80FF0000u, 0xFFFF7F7Fu},
      {0x40FFFFFFu, 0x40404040u, 0x40FFFFFFu, 0xFFFFFFFFu},
      {0x01FF8040u, 0x01010100u, 0x01FFFF00u, 0xFFFFFFFEu},  // alpha 1 leaves each colour 0 or 255
  };
  for (const TCase& c : cases) {
    TBitmap32 s;
    FillSurface(s, 1, 1, [&](int32_t, int32_t) { return c.straight; });
    PremultiplyAlpha(s);
    EXPECT_EQ(s.Bits()[0], c.premultiplied) << std::hex << c.straight;
    UnpremultiplyAlpha(s, s.BoundsRect());
    EXPECT_EQ(s.Bits()[0], c.unpremultiplied) << std::hex << c.straight;
    FillSurface(s, 1, 1, [&](int32_t, int32_t) { return c.straight; });
    ComposeOnto(s, s.BoundsRect(), 0xFFFFFFFFu);
    EXPECT_EQ(s.Bits()[0], c.on_white) << std::hex << c.straight;
  }
  // A filter with negative lobes can leave colour above alpha; dividing keeps it in range.
  TBitmap32 over;
  FillSurface(over, 1, 1, [](int32_t, int32_t) { return 0x40FF0000u; });
  UnpremultiplyAlpha(over, over.BoundsRect());
  EXPECT_EQ(over.Bits()[0], 0x40FF0000u);
}

// Halfway between an opaque red pixel and a clear one whose colour is black, resampled straight
// gives dark red; premultiplied, the clear pixel adds no colour and the edge stays red.
TEST(Alpha, PremultipliedResamplingLeavesNoDarkFringe) {
  TBitmap32 source, target;
  FillSurface(source, 2, 1, [](int32_t x, int32_t) { return x == 0 ? 0xFFFF0000u : 0x00000000u; });
  PremultiplyAlpha(source);
  source.SetStretchFilter(sfLinear);
  target.SetSize(1, 1);
  source.DrawTo(target, target.BoundsRect(), source.BoundsRect());
  UnpremultiplyAlpha(target, target.BoundsRect());
  EXPECT_EQ(RedOf(target.Bits()[0]), 255);
  EXPECT_EQ(GreenOf(target.Bits()[0]), 0);
  EXPECT_NEAR(AlphaOf(target.Bits()[0]), 128, 1);
}

TEST(Alpha, AssignWithAlphaKeepsTransparencyAndTellsUnusedAlphaBytes) {
  // A 32-bit bitmap with real alpha keeps it.
  TPicture picture;
  picture.SetGraphic(std::make_unique<TBitmap>(
      test::MakeBitmap32(2, 1, [](int32_t x, int32_t) { return x == 0 ? 0x80102030u : 0xFF405060u; })));
  TBitmap32 s;
  AssignWithAlpha(s, picture);
  EXPECT_EQ(SurfacePixels(s), (std::vector<TColor32>{0x80102030u, 0xFF405060u}));
  EXPECT_TRUE(HasTransparency(s));

  // One whose fourth bytes are all 0 was written by a program that did not use them: opaque.
  picture.SetGraphic(std::make_unique<TBitmap>(
      test::MakeBitmap32(2, 1, [](int32_t x, int32_t) { return x == 0 ? 0x00102030u : 0x00405060u; })));
  AssignWithAlpha(s, picture);
  EXPECT_EQ(SurfacePixels(s), (std::vector<TColor32>{0xFF102030u, 0xFF405060u}));
  EXPECT_FALSE(HasTransparency(s));
}

}  // namespace
}  // namespace pellavo
