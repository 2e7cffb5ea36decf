#include <gtest/gtest.h>

#include <functional>

#include "formats/metafile/emf_builder.h"
#include "formats/metafile/metafile.h"
#include "formats/metafile/play.h"
#include "formats/metafile/records.h"

namespace pellavo {
namespace {

using namespace metafile;

constexpr TColor32 kWhite = 0xFFFFFFFF, kRed = 0xFFFF0000;

// A red brush and no outline, so that rectangles paint exactly what they cover.
test::TEmfBuilder RedFill(int32_t w, int32_t h) {
  test::TEmfBuilder e(w, h);
  e.Rec(EMR_CREATEBRUSHINDIRECT, {1, int32_t(kBsSolid), 0x0000FF, 0});
  e.Rec(EMR_SELECTOBJECT, {1});
  e.Rec(EMR_SELECTOBJECT, {int32_t(kStockObject | kNullPen)});
  return e;
}

// Which pixels a full-picture fill reaches after a path became the clip, for each way of
// combining it with a clip of the left 8 columns: the path covers columns 4 to 11, rows 2 to 5.
TEST(EmfClipping, APathCombinesWithTheClipAsItsModeSays) {
  const auto in_rect = [](int x, int) { return x < 8; };
  const auto in_path = [](int x, int y) { return x >= 4 && x < 12 && y >= 2 && y < 6; };
  const struct {
    const char* name;
    uint32_t mode;
    std::function<bool(int, int)> painted;
  } cases[] = {
      {"and", kRgnAnd, [&](int x, int y) { return in_rect(x, y) && in_path(x, y); }},
      {"or", kRgnOr, [&](int x, int y) { return in_rect(x, y) || in_path(x, y); }},
      {"xor", kRgnXor, [&](int x, int y) { return in_rect(x, y) != in_path(x, y); }},
      {"diff", kRgnDiff, [&](int x, int y) { return in_rect(x, y) && !in_path(x, y); }},
      {"copy", kRgnCopy, in_path},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TEmfBuilder e = RedFill(14, 10);
    e.Rec(EMR_INTERSECTCLIPRECT, {0, 0, 8, 10});
    e.Rec(EMR_BEGINPATH, {});
    e.Rec(EMR_RECTANGLE, {4, 2, 12, 6});
    e.Rec(EMR_ENDPATH, {});
    e.Rec(EMR_SELECTCLIPPATH, {int32_t(c.mode)});
    e.Rec(EMR_RECTANGLE, {0, 0, 14, 10});
    TMetafile mf = test::LoadMetafile(e.Bytes());
    const std::vector<TColor32> px = test::Play(mf, kWhite);
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 14; ++x) EXPECT_EQ(px[y * 14 + x], c.painted(x, y) ? kRed : kWhite) << x << "," << y;
  }
}

// EMR_ALPHABLEND of one opaque black pixel stretched over (x, y, w, h).
std::vector<uint8_t> BlendOnePixel(int32_t x, int32_t y, int32_t w, int32_t h, uint8_t constant_alpha) {
  std::vector<uint8_t> r;
  TByteWriter b(r);
  b.U32(EMR_ALPHABLEND), b.U32(uint32_t(kEmrStretchBltSize + 44));
  for (int i = 0; i < 4; ++i) b.S32(0);
  b.S32(x), b.S32(y), b.S32(w), b.S32(h), b.U32(uint32_t(constant_alpha) << 16), b.S32(0), b.S32(0);
  for (float f : {1.f, 0.f, 0.f, 1.f, 0.f, 0.f}) b.F32(f);
  b.U32(0), b.U32(kDibRgbColors);
  b.U32(kEmrStretchBltSize), b.U32(kBitmapInfoHeaderSize), b.U32(kEmrStretchBltSize + kBitmapInfoHeaderSize), b.U32(4);
  b.S32(1), b.S32(1);
  b.U32(kBitmapInfoHeaderSize), b.S32(1), b.S32(1), b.U16(1), b.U16(32);
  for (int i = 0; i < 6; ++i) b.U32(0);
  b.U32(0xFF000000u);
  return r;
}

// A record that narrows the drawing for itself alone (text clipped to its rectangle, a bitmap
// blended through a rotated page, a clip inside a saved state) must leave the next fill whole.
TEST(EmfClipping, ANarrowingForOneRecordEndsWithIt) {
  const struct {
    const char* name;
    std::function<void(test::TEmfBuilder&)> narrow;
  } cases[] = {
      {"text clipped to its rectangle",
       [](test::TEmfBuilder& e) { e.Text(1, 1, u"Hi", kEtoClipped, {0, 0, 2, 2}); }},
      {"bitmap blended through a rotated page",
       [](test::TEmfBuilder& e) {
         e.Floats(EMR_SETWORLDTRANSFORM, {0.8f, 0.6f, -0.6f, 0.8f, 6, 0});
         e.Raw(BlendOnePixel(0, 0, 3, 3, 128));
         e.Floats(EMR_MODIFYWORLDTRANSFORM, {1, 0, 0, 1, 0, 0}, {int32_t(kMwtIdentity)});
       }},
      {"clip inside a saved state",
       [](test::TEmfBuilder& e) {
         e.Rec(EMR_SAVEDC, {});
         e.Rec(EMR_INTERSECTCLIPRECT, {0, 0, 2, 2});
         e.Rec(EMR_RECTANGLE, {0, 0, 12, 10});
         e.Rec(EMR_RESTOREDC, {-1});
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TEmfBuilder e = RedFill(12, 10);
    c.narrow(e);
    e.Rec(EMR_RECTANGLE, {0, 0, 12, 10});
    TMetafile mf = test::LoadMetafile(e.Bytes());
    const std::vector<TColor32> px = test::Play(mf, kWhite);
    for (size_t i = 0; i < px.size(); ++i) EXPECT_EQ(px[i], kRed) << i;
  }
}

}  // namespace
}  // namespace pellavo
