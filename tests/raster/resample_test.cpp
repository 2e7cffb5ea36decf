#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/errors.h"
#include "raster/bitmap32.h"
#include "raster/mapping_table.h"
#include "raster/raster_errors.h"
#include "raster_fixtures.h"

namespace pellavo {
namespace {

using test::FillSurface;
using test::RandomSurface;
using test::SurfacePixels;

uint32_t Ch(TColor32 p, int c) { return (p >> (8 * c)) & 0xFF; }

// The two passes written as one double sum per pixel and channel, in wrapping 32-bit
// arithmetic, the way the formulas read.
std::vector<TColor32> ReferenceResample(const TBitmap32& src, const TMappingTable& mx, const TMappingTable& my,
                                        bool clamp) {
  std::vector<TColor32> out;
  for (const TCluster& cy : my)
    for (const TCluster& cx : mx) {
      TColor32 pixel = 0;
      for (int c = 0; c < 4; ++c) {
        uint32_t t = 0;
        for (const TClusterEntry& ex : cx) {
          uint32_t s = 0;
          for (const TClusterEntry& ey : cy) s += uint32_t(ey.Weight) * Ch(src.ScanLine(ey.Pos)[ex.Pos], c);
          t += uint32_t(ex.Weight) * s;
        }
        int32_t v = int32_t(t);
        if (clamp) v = std::clamp(v, 0, 0xFF0000);
        pixel |= ((uint32_t(v) >> 16) & 0xFF) << (8 * c);
      }
      out.push_back(pixel);
    }
  return out;
}

std::vector<TColor32> Region(const TBitmap32& s, const TRect& r) {
  std::vector<TColor32> out;
  for (int32_t y = r.Top; y < r.Bottom; ++y)
    for (int32_t x = r.Left; x < r.Right; ++x) out.push_back(s.ScanLine(y)[x]);
  return out;
}

TEST(KernelResample, MatchesTheFormulasForEveryKernel) {
  struct Geometry {
    TRect src_rect, dst_rect, clip;
  };
  const Geometry geometries[] = {
      {Rect(0, 0, 23, 17), Rect(0, 0, 7, 5), Rect(0, 0, 7, 5)},        // reduction
      {Rect(2, 3, 11, 9), Rect(1, 0, 30, 21), Rect(4, 2, 25, 19)},     // enlargement, clipped
      {Rect(0, 1, 23, 4), Rect(0, 0, 9, 13), Rect(0, 0, 9, 13)},       // reduce one way, enlarge the other
      {Rect(5, 0, 6, 17), Rect(0, 0, 4, 6), Rect(0, 0, 4, 6)},         // one-pixel-wide source span
  };
  TBitmap32 src;
  RandomSurface(src, 23, 17, 42);
  for (const auto& name : KernelClassNames()) {
    const auto kernel = CreateKernel(name);
    for (const Geometry& g : geometries) {
      TBitmap32 dst;
      dst.SetSize(g.dst_rect.Right + 1, g.dst_rect.Bottom + 1);
      Resample(dst, g.dst_rect, g.clip, src, g.src_rect, *kernel, dmOpaque, nullptr);
      const TMappingTable mx = BuildMappingTable(g.dst_rect.Left, g.dst_rect.Right, g.clip.Left, g.clip.Right,
                                                 g.src_rect.Left, g.src_rect.Right, *kernel);
      const TMappingTable my = BuildMappingTable(g.dst_rect.Top, g.dst_rect.Bottom, g.clip.Top, g.clip.Bottom,
                                                 g.src_rect.Top, g.src_rect.Bottom, *kernel);
      EXPECT_EQ(Region(dst, g.clip), ReferenceResample(src, mx, my, kernel->RangeCheck()))
          << std::string(name) << " " << g.dst_rect.Right << "x" << g.dst_rect.Bottom;
    }
  }
}

TEST(KernelResample, BoxReductionIsTheFloorOfTheMean) {
  TBitmap32 src, dst;
  RandomSurface(src, 4, 4, 77);
  src.SetStretchFilter(255);
  dst.SetSize(2, 2);
  src.DrawTo(dst, dst.BoundsRect(), src.BoundsRect());
  for (int by = 0; by < 2; ++by)
    for (int bx = 0; bx < 2; ++bx)
      for (int c = 0; c < 4; ++c) {
        uint32_t s = 0;
        for (int y = 0; y < 2; ++y)
          for (int x = 0; x < 2; ++x) s += Ch(src.ScanLine(2 * by + y)[2 * bx + x], c);
        EXPECT_EQ(Ch(dst.ScanLine(by)[bx], c), s / 4);
      }
}

// Sizes for which every resampler reproduces a constant exactly: the draft's block average
// only does so for blocks of a power-of-two pixel count.
TEST(KernelResample, ConstantImagesStayConstant) {
  struct Size {
    int32_t sw, sh, dw, dh;
  };
  const Size sizes[] = {{16, 8, 4, 2}, {8, 8, 8, 2}, {5, 3, 13, 11}, {7, 9, 7, 20}, {64, 32, 16, 8}, {1, 1, 5, 4},
                        {3, 1, 9, 2}};
  const TColor32 colour = 0x80C0FFEE;
  for (const Size& z : sizes) {
    TBitmap32 src;
    src.SetSize(z.sw, z.sh);
    src.Clear(colour);
    const auto check = [&](const std::string& what, auto&& draw) {
      TBitmap32 dst;
      dst.SetSize(z.dw, z.dh);
      draw(dst);
      EXPECT_EQ(SurfacePixels(dst), std::vector<TColor32>(size_t(z.dw * z.dh), colour))
          << what << " " << z.sw << "x" << z.sh << "->" << z.dw << "x" << z.dh;
    };
    for (TStretchFilter f : {sfNearest, sfDraft, sfLinear, sfCosine, sfSpline, sfLanczos, sfMitchell, TStretchFilter(255)}) {
      src.SetStretchFilter(f);
      check("filter " + std::to_string(f), [&](TBitmap32& dst) { src.DrawTo(dst, dst.BoundsRect(), src.BoundsRect()); });
    }
    for (const auto& name : KernelClassNames()) {
      const auto kernel = CreateKernel(name);
      check(std::string(name), [&](TBitmap32& dst) {
        Resample(dst, dst.BoundsRect(), dst.BoundsRect(), src, src.BoundsRect(), *kernel, dmOpaque, nullptr);
      });
    }
  }
}

TEST(KernelResample, OnePixelSourceSpanRepeatsThatRow) {
  TBitmap32 src, row, a, b;
  RandomSurface(src, 9, 10, 3);
  FillSurface(row, 9, 1, [&](int x, int) { return src.ScanLine(7)[x]; });
  a.SetSize(5, 6);
  b.SetSize(5, 1);
  src.SetStretchFilter(sfLanczos);
  row.SetStretchFilter(sfLanczos);
  src.DrawTo(a, a.BoundsRect(), Rect(0, 7, 9, 8));
  row.DrawTo(b, b.BoundsRect(), row.BoundsRect());
  for (int y = 0; y < 6; ++y) EXPECT_EQ(Region(a, Rect(0, y, 5, y + 1)), SurfacePixels(b)) << y;
}

TEST(KernelResample, NegativeLobesAreClampedOnlyWhereTheKernelAsks) {
  // A black-to-white edge, enlarged: the lobes overshoot on both sides of the edge.
  TBitmap32 src;
  FillSurface(src, 8, 1, [](int x, int) { return x < 4 ? 0x00000000u : 0xFFFFFFFFu; });
  for (TStretchFilter f : {sfLanczos, sfMitchell, sfCosine, TStretchFilter(255)}) {
    src.SetStretchFilter(f);
    TBitmap32 dst;
    dst.SetSize(29, 1);
    src.DrawTo(dst, dst.BoundsRect(), src.BoundsRect());
    // Overshoot that wrapped instead of clamping would put a bright pixel on the dark side
    // or a dark one on the bright side.
    for (int x = 0; x < 29; ++x)
      for (int c = 0; c < 4; ++c) {
        if (x < 10) {
          EXPECT_LT(Ch(dst.ScanLine(0)[x], c), 64u) << int(f) << " at " << x;
        }
        if (x > 18) {
          EXPECT_GT(Ch(dst.ScanLine(0)[x], c), 191u) << int(f) << " at " << x;
        }
      }
    EXPECT_EQ(dst.ScanLine(0)[0], 0u);
    EXPECT_EQ(dst.ScanLine(0)[28], 0xFFFFFFFFu);
  }
  // The clamp itself: a cluster whose sum overshoots 255 gives 255 when clamped and the low
  // bits of the overshoot when not.
  TBitmap32 one, out;
  FillSurface(one, 2, 1, [](int x, int) { return x ? 0u : 0xFFFFFFFFu; });
  out.SetSize(1, 1);
  const TMappingTable mx{{{0, 300}, {1, -44}}}, my{{{0, 256}}};
  ResampleTables(out, Rect(0, 0, 1, 1), one, mx, my, true, dmOpaque, nullptr);
  EXPECT_EQ(out.ScanLine(0)[0], 0xFFFFFFFFu);
  ResampleTables(out, Rect(0, 0, 1, 1), one, mx, my, false, dmOpaque, nullptr);
  EXPECT_EQ(out.ScanLine(0)[0], 0x2A2A2A2Au);  // 255 × 256 × 300 = 0x12AD400: bits 16..23 are 0x2A
  const TMappingTable under{{{0, -44}, {1, 300}}};
  ResampleTables(out, Rect(0, 0, 1, 1), one, under, my, true, dmOpaque, nullptr);
  EXPECT_EQ(out.ScanLine(0)[0], 0u);
}

TEST(KernelResample, TablesOutsideTheSourceAreRefused) {
  TBitmap32 src, dst;
  src.SetSize(2, 2);
  dst.SetSize(1, 1);
  const TMappingTable inside{{{1, 256}}}, outside{{{2, 256}}}, negative{{{-1, 256}}};
  EXPECT_NO_THROW(ResampleTables(dst, Rect(0, 0, 1, 1), src, inside, inside, false, dmOpaque, nullptr));
  EXPECT_THROW(ResampleTables(dst, Rect(0, 0, 1, 1), src, outside, inside, false, dmOpaque, nullptr),
               ESrcInvalidException);
  EXPECT_THROW(ResampleTables(dst, Rect(0, 0, 1, 1), src, inside, negative, false, dmOpaque, nullptr),
               ESrcInvalidException);
  // A clip wider than the tables: the tables do not fit the destination.
  EXPECT_THROW(ResampleTables(dst, Rect(0, 0, 2, 1), src, inside, inside, false, dmOpaque, nullptr),
               EInvalidGraphicOperation);
}

TEST(KernelResample, HugeReductionWithTheBoxTakesTheCentrePixel) {
  TBitmap32 src, dst;
  RandomSurface(src, 1024, 2, 13);
  src.SetStretchFilter(255);
  dst.SetSize(2, 1);
  src.DrawTo(dst, dst.BoundsRect(), Rect(0, 0, 1024, 1));
  // Columns 255 and 767 (the floor of each centre), row 0, weight 256 on both axes.
  EXPECT_EQ(SurfacePixels(dst), (std::vector<TColor32>{src.ScanLine(0)[255], src.ScanLine(0)[767]}));
}

}  // namespace
}  // namespace pellavo
