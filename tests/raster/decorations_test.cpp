#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "raster/bitmap32.h"
#include "raster_fixtures.h"

namespace pellavo {
namespace {

using test::SurfacePixels;

constexpr TColor32 kMark = 0xFF112233;

// Which pixels of a w x h surface cleared to 0 an operation set to kMark, as rows of '#' and '.'.
template <class F>
std::vector<std::string> Marked(int32_t w, int32_t h, F&& op) {
  TBitmap32 s;
  s.SetSize(w, h);
  op(s);
  std::vector<std::string> rows;
  for (int32_t y = 0; y < h; ++y) {
    std::string r;
    for (int32_t x = 0; x < w; ++x) r += s.ScanLine(y)[x] == kMark ? '#' : s.ScanLine(y)[x] == 0 ? '.' : '?';
    rows.push_back(r);
  }
  return rows;
}

using Rows = std::vector<std::string>;

TEST(Decorations, FillsFramesAndLinesClipToTheSurface) {
  struct Case {
    const char* what;
    int32_t w, h;
    std::function<void(TBitmap32&)> op;
    Rows expected;
  };
  const Case cases[] = {
      {"fill reaching outside", 4, 4, [](TBitmap32& s) { s.FillRectClipped(-5, -5, 10, 10, kMark); },
       {"####", "####", "####", "####"}},
      {"fill beside the surface", 4, 4, [](TBitmap32& s) { s.FillRectClipped(4, 0, 8, 4, kMark); },
       {"....", "....", "....", "...."}},
      {"fill inverted", 4, 4, [](TBitmap32& s) { s.FillRectClipped(3, 3, 1, 1, kMark); }, {"....", "....", "....", "...."}},
      {"fill inside", 4, 3, [](TBitmap32& s) { s.FillRectClipped(1, 1, 3, 2, kMark); }, {"....", ".##.", "...."}},
      {"frame of the whole surface", 4, 3, [](TBitmap32& s) { s.FrameRectClipped(Rect(0, 0, 4, 3), kMark); },
       {"####", "#..#", "####"}},
      {"frame 1 x 1", 3, 3, [](TBitmap32& s) { s.FrameRectClipped(Rect(1, 1, 2, 2), kMark); }, {"...", ".#.", "..."}},
      {"frame 2 x 2", 3, 3, [](TBitmap32& s) { s.FrameRectClipped(Rect(1, 1, 3, 3), kMark); }, {"...", ".##", ".##"}},
      {"frame one row high", 4, 2, [](TBitmap32& s) { s.FrameRectClipped(Rect(0, 1, 3, 2), kMark); }, {"....", "###."}},
      {"frame one column wide", 2, 3, [](TBitmap32& s) { s.FrameRectClipped(Rect(1, 0, 2, 3), kMark); },
       {".#", ".#", ".#"}},
      {"frame partly outside", 4, 3, [](TBitmap32& s) { s.FrameRectClipped(Rect(-1, 1, 3, 5), kMark); },
       {"....", "###.", "..#."}},
      {"lines with reversed and clipped ends", 4, 3,
       [](TBitmap32& s) {
         s.HorzLineClipped(9, 0, 2, kMark);
         s.VertLineClipped(0, 5, -3, kMark);
         s.HorzLineClipped(0, 3, 3, kMark);  // below the surface
         s.VertLineClipped(-1, 0, 2, kMark);
       },
       {"#.##", "#...", "#..."}},
  };
  for (const Case& c : cases) EXPECT_EQ(Marked(c.w, c.h, c.op), c.expected) << c.what;
}

TEST(Decorations, BlendOverRoundsAndBlendsAlphaToo) {
  struct Case {
    TColor32 f, b, expected;
  };
  const Case cases[] = {
      {0x00FFFFFF, 0x12345678, 0x12345678},  // alpha 0 keeps the background
      {0xFF102030, 0x12345678, 0xFF102030},  // alpha 255 copies
      {0x99000000, 0xFFFFFFFF, 0xC2676767},  // (103 × 255 + 128) >> 8 = 103; alpha 194
      {0x80FFFFFF, 0x00000000, 0x40808080},  // the alpha byte is blended too
  };
  for (const Case& c : cases) EXPECT_EQ(BlendOver(c.f, c.b), c.expected) << std::hex << c.f << " over " << c.b;
}

std::vector<TColor32> Raised(int32_t w, int32_t h, TColor32 fill, int32_t contrast) {
  TBitmap32 s;
  s.SetSize(w, h);
  s.Clear(fill);
  s.RaiseRectBlended(s.BoundsRect(), contrast);
  return SurfacePixels(s);
}

TEST(Decorations, RaisedBevel) {
  constexpr TColor32 W = 0xFFFFFFFF, D = 0xC2676767;
  struct Case {
    int32_t w, h, contrast;
    TColor32 fill;
    std::vector<TColor32> expected;
  };
  const Case cases[] = {
      {4, 3, 60, W, {W, W, W, W, W, W, W, D, D, D, D, D}},
      {3, 4, 60, W, {W, W, W, W, W, D, W, W, D, D, D, D}},
      {4, 3, -60, W, {D, D, D, D, D, W, W, W, W, W, W, W}},
      {3, 1, 60, W, {D, D, D}},             // light copied first, then dark blended over it
      {2, 2, 60, W, {W, W, D, D}},          // no side columns
      {1, 3, 60, W, {W, D, D}},             // both side columns on the one column: light, then dark
      {3, 3, 0, W, std::vector<TColor32>(9, W)},
      // Contrast 20: light at alpha 102 and dark at alpha 51, both blended over grey 128.
      {3, 3, 20, 0xFF808080, {0xC2B3B3B3, 0xC2B3B3B3, 0xC2B3B3B3, 0xC2B3B3B3, 0xFF808080, 0xD6676767, 0xD6676767,
                              0xD6676767, 0xD6676767}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Raised(c.w, c.h, c.fill, c.contrast), c.expected) << c.w << "x" << c.h << " contrast " << c.contrast;

  TBitmap32 s;
  s.SetSize(3, 3);
  s.Clear(W);
  s.RaiseRectBlended(Rect(3, 0, 6, 3), 60);
  s.RaiseRectBlended(Rect(0, 0, 0, 3), 60);
  EXPECT_EQ(SurfacePixels(s), std::vector<TColor32>(9, W));
}

TEST(Decorations, ReportTheAreaTheyTouch) {
  TBitmap32 s;
  s.SetSize(6, 5);
  std::vector<TRect> areas;
  s.OnAreaChanged = [&](TBitmap32&, const TRect& r, uint32_t info) {
    EXPECT_EQ(info, 0x80000000u);
    areas.push_back(r);
  };
  s.FillRectClipped(-2, 1, 3, 9, kMark);
  s.HorzLineBlended(7, 0, 2, 0x80FFFFFF);
  s.FillRectClipped(6, 0, 8, 2, kMark);  // outside: no report
  EXPECT_EQ(areas, (std::vector<TRect>{Rect(0, 1, 3, 5), Rect(2, 0, 6, 1)}));
}

}  // namespace
}  // namespace pellavo
