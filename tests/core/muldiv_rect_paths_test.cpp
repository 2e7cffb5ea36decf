#include <gtest/gtest.h>

#include <limits>

#include "core/muldiv.h"
#include "core/paths.h"
#include "core/rect.h"

namespace pellavo {
namespace {

TEST(MulDiv, RoundsHalvesAwayFromZeroAndFlagsFailures) {
  struct Case {
    int32_t a, b, c, expected;
  };
  const Case cases[] = {
      {800, 1200, 1600, 600},     {5, 1, 2, 3},           {-5, 1, 2, -3},    {5, -1, 2, -3},
      {-5, -1, 2, 3},             {7, 1, 3, 2},           {8, 1, 3, 3},      {1, 1, 0, -1},
      {800, 9, 16, 450},          {10, 100, 10000, 0},    {1, 1, 2, 1},      {-1, 1, 2, -1},
      // 64-bit intermediate: the product overflows 32 bits, the quotient does not.
      {100000, 100000, 100000, 100000},
      // A quotient outside 32 bits.
      {std::numeric_limits<int32_t>::max(), 2, 1, -1},
      {std::numeric_limits<int32_t>::min(), 1, -1, -1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MulDiv(c.a, c.b, c.c), c.expected) << c.a << " * " << c.b << " / " << c.c;
}

TEST(Rect, HelpersFollowExclusiveEdges) {
  TRect r{0, 0, 10, 5};
  InflateRect(r, -2, -1);
  EXPECT_EQ(r, (TRect{2, 1, 8, 4}));
  OffsetRect(r, 3, -1);
  EXPECT_EQ(r, (TRect{5, 0, 11, 3}));
  EXPECT_TRUE(IsRectEmpty(TRect{0, 0, 0, 5}));
  EXPECT_TRUE(IsRectEmpty(TRect{0, 0, 5, -1}));
  EXPECT_FALSE(IsRectEmpty(TRect{0, 0, 1, 1}));
  EXPECT_TRUE(EqualRect(TRect{1, 2, 3, 4}, TRect{1, 2, 3, 4}));

  TRect d;
  // A zero-width intersection counts and is kept as computed.
  EXPECT_TRUE(IntersectRect(d, TRect{0, 0, 5, 5}, TRect{5, 0, 10, 5}));
  EXPECT_EQ(d, (TRect{5, 0, 5, 5}));
  EXPECT_FALSE(IntersectRect(d, TRect{0, 0, 5, 5}, TRect{6, 0, 10, 5}));
  EXPECT_EQ(d, (TRect{}));
  // The output may alias an input.
  TRect a{0, 0, 10, 10};
  EXPECT_TRUE(IntersectRect(a, a, TRect{-5, 2, 4, 20}));
  EXPECT_EQ(a, (TRect{0, 2, 4, 10}));
}

TEST(Paths, PartsUseTheLastSeparatorAndDot) {
  struct Case {
    const char* path;
    const char* name;
    const char* folder;
    const char* ext;
    const char* to_png;
  };
  const Case cases[] = {
      {"/pics/a.jpg", "a.jpg", "/pics/", ".jpg", "/pics/a.png"},
      {"a.tar.gz", "a.tar.gz", "", ".gz", "a.tar.png"},
      {"/pics.d/readme", "readme", "/pics.d/", "", "/pics.d/readme.png"},
      {"/x/name.", "name.", "/x/", ".", "/x/name.png"},
      {"/x/.hidden", ".hidden", "/x/", ".hidden", "/x/.png"},
      {"", "", "", "", ".png"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExtractFileName(c.path), c.name) << c.path;
    EXPECT_EQ(ExtractFilePath(c.path), c.folder) << c.path;
    EXPECT_EQ(ExtractFileExt(c.path), c.ext) << c.path;
    EXPECT_EQ(ChangeFileExt(c.path, ".png"), c.to_png) << c.path;
  }
  EXPECT_EQ(IncludeTrailingSeparator("/out"), "/out/");
  EXPECT_EQ(IncludeTrailingSeparator("/out/"), "/out/");
  EXPECT_EQ(LowerAscii("PHOTO.JpG\xC3\x84"), "photo.jpg\xC3\x84");
}

}  // namespace
}  // namespace pellavo
