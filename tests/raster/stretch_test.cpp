#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "raster/bitmap32.h"
#include "raster/mapping_table.h"
#include "raster/raster_errors.h"
#include "raster_fixtures.h"

namespace pellavo {
namespace {

using test::FillSurface;
using test::RandomSurface;
using test::SurfacePixels;

constexpr TStretchFilter kEveryFilter[] = {sfNearest, sfDraft, sfLinear, sfCosine, sfSpline, sfLanczos, sfMitchell, 255};

uint32_t Ch(TColor32 p, int c) { return (p >> (8 * c)) & 0xFF; }

TEST(StretchTransfer, RefusesMissingSurfacesAndSourceRectanglesOutside) {
  TBitmap32 src, dst;
  src.SetSize(4, 4);
  dst.SetSize(4, 4);
  dst.Clear(0xFF010203);
  const TCustomResampler* r = &src.Resampler();
  try {
    StretchTransfer(nullptr, Rect(0, 0, 4, 4), dst.ClipRect(), &src, Rect(0, 0, 4, 4), r, dmOpaque, nullptr);
    FAIL();
  } catch (const EBitmapException& e) {
    EXPECT_STREQ(e.what(), "Destination bitmap is nil");
  }
  try {
    StretchTransfer(&dst, Rect(0, 0, 4, 4), dst.ClipRect(), nullptr, Rect(0, 0, 4, 4), r, dmOpaque, nullptr);
    FAIL();
  } catch (const EBitmapException& e) {
    EXPECT_STREQ(e.what(), "Source bitmap is nil");
  }
  for (const TRect bad : {Rect(0, -1, 4, 3), Rect(-1, 0, 3, 4), Rect(1, 0, 5, 4), Rect(0, 1, 4, 5)}) {
    try {
      src.DrawTo(dst, Rect(0, 0, 2, 2), bad);
      FAIL();
    } catch (const ESrcInvalidException& e) {
      EXPECT_STREQ(e.what(), "Source rectangle is invalid");
    }
  }
  EXPECT_EQ(SurfacePixels(dst), std::vector<TColor32>(16, 0xFF010203));
}

TEST(StretchTransfer, NothingToDrawIsNoErrorAndNoChange) {
  TBitmap32 src, dst;
  RandomSurface(src, 4, 4, 1);
  dst.SetSize(4, 4);
  int changes = 0;
  dst.OnAreaChanged = [&](TBitmap32&, const TRect&, uint32_t) { ++changes; };
  src.DrawTo(dst, Rect(0, 0, 4, 4), Rect(2, 2, 2, 4));   // empty source rectangle
  src.DrawTo(dst, Rect(4, 0, 8, 4), Rect(0, 0, 4, 4));   // destination outside
  src.DrawTo(dst, Rect(0, 0, 0, 0), Rect(0, 0, 4, 4));   // empty destination
  TBitmap32 empty;
  empty.DrawTo(dst, Rect(0, 0, 4, 4), Rect(0, 0, 0, 0));
  src.DrawTo(empty, Rect(0, 0, 4, 4), Rect(0, 0, 4, 4));
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(SurfacePixels(dst), std::vector<TColor32>(16, 0));
  src.DrawTo(dst, Rect(0, 0, 2, 2), Rect(0, 0, 4, 4));
  EXPECT_EQ(changes, 1);
}

TEST(StretchTransfer, EqualSizesCopyExactlyWithEveryFilter) {
  TBitmap32 src;
  RandomSurface(src, 9, 7, 3);
  for (TStretchFilter f : kEveryFilter) {
    src.SetStretchFilter(f);
    TBitmap32 dst;
    dst.SetSize(8, 6);
    // Source (2,1)-(8,6) to destination (3,2)-(9,7): the destination clips the right column
    // and bottom row.
    src.DrawTo(dst, Rect(3, 2, 9, 7), Rect(2, 1, 8, 6));
    for (int32_t y = 0; y < 6; ++y)
      for (int32_t x = 0; x < 8; ++x) {
        const bool inside = x >= 3 && y >= 2;
        EXPECT_EQ(dst.ScanLine(y)[x], inside ? src.ScanLine(y - 1)[x - 1] : 0u) << int(f) << " " << x << "," << y;
      }
  }
}

TEST(Nearest, TopLeftAlignedColumnsAndTheMiddleForOnePixel) {
  TBitmap32 src;
  const TColor32 a = 0xFF0000AA, b = 0xFF0000BB, c = 0xFF0000CC, d = 0xFF0000DD;
  FillSurface(src, 4, 1, [&](int x, int) { return std::vector<TColor32>{a, b, c, d}[size_t(x)]; });
  struct Case {
    int32_t width;
    std::vector<TColor32> expected;
  };
  const Case cases[] = {{2, {a, c}}, {8, {a, a, b, b, c, c, d, d}}, {1, {b}}, {3, {a, b, c}}};
  for (const Case& k : cases) {
    TBitmap32 dst;
    dst.SetSize(k.width, 1);
    src.DrawTo(dst, dst.BoundsRect(), src.BoundsRect());
    EXPECT_EQ(SurfacePixels(dst), k.expected) << k.width;
  }
  // Rows repeat by copying; a 2 x 2 to 2 x 5 enlargement repeats each source row.
  TBitmap32 tall, dst;
  RandomSurface(tall, 2, 2, 5);
  dst.SetSize(2, 5);
  tall.DrawTo(dst, dst.BoundsRect(), tall.BoundsRect());
  const int rows[] = {0, 0, 0, 1, 1};
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 2; ++x) EXPECT_EQ(dst.ScanLine(y)[x], tall.ScanLine(rows[y])[x]);
}

TEST(Linear, TwoByTwoToFourByFour) {
  TBitmap32 src;
  const TColor32 a = 0xFF000000, b = 0x80FFC040, c = 0x40102030, d = 0xFFFFFFFF;
  FillSurface(src, 2, 2, [&](int x, int y) { return y ? (x ? d : c) : (x ? b : a); });
  src.SetStretchFilter(sfLinear);
  TBitmap32 dst;
  dst.SetSize(4, 4);
  src.DrawTo(dst, dst.BoundsRect(), src.BoundsRect());
  EXPECT_EQ(dst.ScanLine(0)[0], a);
  EXPECT_EQ(dst.ScanLine(0)[3], b);
  EXPECT_EQ(dst.ScanLine(3)[0], c);
  EXPECT_EQ(dst.ScanLine(3)[3], d);
  const auto mix = [](TColor32 p, TColor32 q, uint32_t w) {
    TColor32 r = 0;
    for (int ch = 0; ch < 4; ++ch) r |= ((w * Ch(p, ch) + (256 - w) * Ch(q, ch)) >> 8) << (8 * ch);
    return r;
  };
  EXPECT_EQ(dst.ScanLine(0)[1], mix(a, b, 192));
  EXPECT_EQ(dst.ScanLine(0)[2], mix(a, b, 64));
  EXPECT_EQ(dst.ScanLine(1)[0], mix(a, c, 192));
  // Each output is the vertical blend of two horizontally blended rows, each truncated.
  EXPECT_EQ(dst.ScanLine(2)[1], mix(mix(a, b, 192), mix(c, d, 192), 64));
}

TEST(Linear, ReductionAndOneWayEnlargementUseTheTriangleKernel) {
  struct Case {
    int32_t sw, sh, dw, dh;
  };
  for (const Case k : {Case{40, 30, 20, 15}, Case{10, 10, 25, 6}, Case{10, 10, 6, 25}, Case{1, 5, 7, 9}}) {
    TBitmap32 src, viaLinear, viaKernel;
    RandomSurface(src, k.sw, k.sh, 11);
    viaLinear.SetSize(k.dw, k.dh);
    viaKernel.SetSize(k.dw, k.dh);
    src.SetStretchFilter(sfLinear);
    src.DrawTo(viaLinear, viaLinear.BoundsRect(), src.BoundsRect());
    Resample(viaKernel, viaKernel.BoundsRect(), viaKernel.BoundsRect(), src, src.BoundsRect(), TLinearKernel(),
             dmOpaque, nullptr);
    EXPECT_EQ(SurfacePixels(viaLinear), SurfacePixels(viaKernel)) << k.sw << "x" << k.sh << "->" << k.dw << "x" << k.dh;
  }
}

TEST(Draft, BlockAveragesByTheReciprocal) {
  TBitmap32 src, dst;
  RandomSurface(src, 4, 4, 21);
  src.SetStretchFilter(sfDraft);
  dst.SetSize(2, 2);
  src.DrawTo(dst, dst.BoundsRect(), src.BoundsRect());
  for (int by = 0; by < 2; ++by)
    for (int bx = 0; bx < 2; ++bx) {
      TColor32 expected = 0;
      for (int c = 0; c < 4; ++c) {
        uint32_t s = 0;
        for (int y = 0; y < 2; ++y)
          for (int x = 0; x < 2; ++x) s += Ch(src.ScanLine(2 * by + y)[2 * bx + x], c);
        expected |= (s / 4) << (8 * c);
      }
      EXPECT_EQ(dst.ScanLine(by)[bx], expected);
    }

  // 5 -> 2: blocks are columns 0-1 and 2-4; three pixels average through 16777216 div 3.
  TBitmap32 row, out;
  const uint32_t v[5] = {10, 21, 255, 255, 255};
  FillSurface(row, 5, 1, [&](int x, int) { return 0xFF000000u | v[x] << 16 | v[x] << 8 | v[x]; });
  row.SetStretchFilter(sfDraft);
  out.SetSize(2, 1);
  row.DrawTo(out, out.BoundsRect(), row.BoundsRect());
  EXPECT_EQ(out.ScanLine(0)[0], 0xFF0F0F0Fu);  // (31 × 8388608) >> 24 = 15
  // (765 × 5592405) >> 24 = 254: the truncated reciprocal falls just short of 255.
  EXPECT_EQ(out.ScanLine(0)[1], 0xFEFEFEFEu);
}

TEST(Draft, HugeBlocksKeepTheirMean) {
  // 4097 × 4097 pixels in one block: the reciprocal 16777216 div n is 0 there, which would
  // turn any image black.
  TBitmap32 src, dst;
  src.SetSize(4097, 4097);
  src.Clear(0xFF8040C0);
  src.SetStretchFilter(sfDraft);
  dst.SetSize(1, 1);
  src.DrawTo(dst, dst.BoundsRect(), src.BoundsRect());
  EXPECT_EQ(dst.ScanLine(0)[0], 0xFF8040C0u);
}

TEST(Draft, EnlargingFallsBackToBilinearOrTheTriangle) {
  TBitmap32 src, draft, linear;
  RandomSurface(src, 5, 4, 8);
  for (const TRect r : {Rect(0, 0, 9, 7), Rect(0, 0, 9, 3)}) {
    draft.SetSize(r.Right, r.Bottom);
    linear.SetSize(r.Right, r.Bottom);
    src.SetStretchFilter(sfDraft);
    src.DrawTo(draft, r, src.BoundsRect());
    src.SetStretchFilter(sfLinear);
    src.DrawTo(linear, r, src.BoundsRect());
    if (r.Bottom > 4) {
      EXPECT_EQ(SurfacePixels(draft), SurfacePixels(linear));
    }
    EXPECT_NE(SurfacePixels(draft), std::vector<TColor32>(size_t(r.Right * r.Bottom), 0));
  }
  // A one-pixel-high source enlarged: the triangle kernel, not the bilinear stretch.
  TBitmap32 line, out, ref;
  RandomSurface(line, 3, 1, 9);
  line.SetStretchFilter(sfDraft);
  out.SetSize(6, 2);
  ref.SetSize(6, 2);
  line.DrawTo(out, out.BoundsRect(), line.BoundsRect());
  Resample(ref, ref.BoundsRect(), ref.BoundsRect(), line, line.BoundsRect(), TLinearKernel(), dmOpaque, nullptr);
  EXPECT_EQ(SurfacePixels(out), SurfacePixels(ref));
}

TEST(StretchTransfer, DrawingASurfaceOntoItselfReadsTheOriginal) {
  for (TStretchFilter f : kEveryFilter) {
    TBitmap32 s, copy, expected;
    RandomSurface(s, 12, 10, 4);
    s.SetStretchFilter(f);
    copy.Assign(s);
    expected.Assign(s);
    copy.DrawTo(expected, Rect(2, 1, 12, 10), Rect(0, 0, 7, 6));
    s.DrawTo(s, Rect(2, 1, 12, 10), Rect(0, 0, 7, 6));
    EXPECT_EQ(SurfacePixels(s), SurfacePixels(expected)) << int(f);
  }
  // Overlapping block copies, down-right and up-left.
  TBitmap32 t, u;
  RandomSurface(t, 6, 6, 5);
  u.Assign(t);
  t.DrawTo(t, Rect(1, 1, 6, 6), Rect(0, 0, 5, 5));
  for (int y = 1; y < 6; ++y)
    for (int x = 1; x < 6; ++x) EXPECT_EQ(t.ScanLine(y)[x], u.ScanLine(y - 1)[x - 1]);
  u.Assign(t);
  t.DrawTo(t, Rect(0, 0, 5, 5), Rect(1, 1, 6, 6));
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(t.ScanLine(y)[x], u.ScanLine(y + 1)[x + 1]);
}

TEST(StretchTransfer, OtherDrawModesCombineWithTheDestination) {
  TBitmap32 src, dst;
  FillSurface(src, 2, 1, [](int x, int) { return x ? 0x80FFFFFFu : 0x00000000u; });
  dst.SetSize(2, 1);
  dst.Clear(0xFF000000);
  src.SetDrawMode(dmTransparent);
  src.SetOuterColor(0x00000000);
  src.DrawTo(dst, dst.BoundsRect(), src.BoundsRect());
  EXPECT_EQ(SurfacePixels(dst), (std::vector<TColor32>{0xFF000000, 0x80FFFFFF}));
  dst.Clear(0xFF000000);
  src.SetDrawMode(dmBlend);
  src.DrawTo(dst, dst.BoundsRect(), src.BoundsRect());
  EXPECT_EQ(SurfacePixels(dst), (std::vector<TColor32>{0xFF000000, BlendOver(0x80FFFFFF, 0xFF000000)}));
  dst.Clear(0xFF000000);
  src.SetDrawMode(dmCustom);
  src.OnPixelCombine = [](TColor32 f, TColor32& b, uint32_t) { b ^= f; };
  src.SetStretchFilter(sfLanczos);
  src.DrawTo(dst, Rect(0, 0, 2, 1), Rect(0, 0, 2, 1));
  EXPECT_EQ(SurfacePixels(dst), (std::vector<TColor32>{0xFF000000, 0x7FFFFFFF}));
}

}  // namespace
}  // namespace pellavo
