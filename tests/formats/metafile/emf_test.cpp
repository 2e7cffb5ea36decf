#include <gtest/gtest.h>

#include <cstring>

#include "core/errors.h"
#include "formats/all/standard_formats.h"
#include "formats/metafile/metafile.h"
#include "formats/metafile/records.h"
#include "formats/picture.h"
#include "formats/registry.h"
#include "support/images.h"
#include "support/temp_dir.h"
#include "formats/metafile/emf_builder.h"
#include "formats/metafile/play.h"

namespace pellavo {
namespace {

using namespace metafile;
using test::MakeBitmap32;
using test::PatternPixel;
using test::TEmfBuilder;
using test::EmfOf;
using test::Opaque;
using test::Play;

constexpr TColor32 kWhite = 0xFFFFFFFF, kBlue = 0xFF0000FF, kRed = 0xFFFF0000, kBlack = 0xFF000000;

TMetafile Load(const std::vector<uint8_t>& bytes) { return test::LoadMetafile(bytes); }

TEST(EmfOutput, PlaysBackToTheBitmapsPixelsExactly) {
  // Large sizes catch a frame that drifts from the pixel grid; 1 x 1 the rounding of tiny frames.
  const struct {
    int32_t w, h;
  } sizes[] = {{1, 1}, {3, 2}, {37, 5}, {301, 157}, {1999, 2}, {2, 1777}, {20000, 3}};
  for (const auto& size : sizes) {
    SCOPED_TRACE(std::to_string(size.w) + "x" + std::to_string(size.h));
    const TBitmap b = MakeBitmap32(size.w, size.h, PatternPixel);
    TMetafile mf = Load(EmfOf(b));
    ASSERT_EQ(mf.Width(), size.w);
    ASSERT_EQ(mf.Height(), size.h);
    EXPECT_TRUE(mf.Enhanced());
    EXPECT_EQ(Opaque(Play(mf, 0)), test::Pixels(b));
  }
}

uint32_t U32(const std::vector<uint8_t>& f, size_t at) { return Get32(&f[at]); }

TEST(EmfOutput, IsHeaderOneStretchBlitWithSourceCopyAndEnd) {
  const TBitmap b = MakeBitmap32(10, 4, PatternPixel);
  const std::vector<uint8_t> f = EmfOf(b);
  // Header: frame from the 96-dpi reference device, bounds inclusive, the whole size.
  EXPECT_EQ(U32(f, 0), EMR_HEADER);
  EXPECT_EQ(U32(f, 40), kEmfSignature);
  EXPECT_EQ(U32(f, 48), f.size());
  EXPECT_EQ(U32(f, 52), 3u);
  const int32_t bounds_frame[8] = {0, 0, 9, 3, 0, 0, 265, 106};  // 10 * 2540 / 96 = 264.58
  for (int i = 0; i < 8; ++i) EXPECT_EQ(int32_t(U32(f, 8 + 4 * i)), bounds_frame[i]) << i;
  const size_t blt = U32(f, 4);
  EXPECT_EQ(U32(f, blt), EMR_STRETCHBLT);
  EXPECT_EQ(U32(f, blt + 24), 0u);
  EXPECT_EQ(U32(f, blt + 28), 0u);
  EXPECT_EQ(U32(f, blt + 32), 10u);
  EXPECT_EQ(U32(f, blt + 36), 4u);
  EXPECT_EQ(U32(f, blt + 40), kSrcCopy);
  EXPECT_EQ(U32(f, blt + 100), 10u);
  EXPECT_EQ(U32(f, blt + 104), 4u);
  const size_t eof = blt + U32(f, blt + 4);
  EXPECT_EQ(U32(f, eof), EMR_EOF);
  EXPECT_EQ(eof + U32(f, eof + 4), f.size());
}

TEST(EmfOutput, WorkerSequenceThroughCanvasMatchesSaveBitmapAsEmf) {
  const TBitmap b = MakeBitmap32(6, 3, PatternPixel);
  TMetafile mf;
  mf.SetWidth(6);
  mf.SetHeight(3);
  EXPECT_TRUE(mf.Empty());
  {
    TMetafileCanvas canvas(mf);
    canvas.Draw(0, 0, b);
  }  // released: the recording is installed
  ASSERT_FALSE(mf.Empty());
  EXPECT_EQ(mf.MMWidth(), 159);  // 6 * 2540 / 96 = 158.75
  EXPECT_EQ(mf.MMHeight(), 79);
  TMemoryStream s;
  mf.SaveToStream(s);
  EXPECT_EQ(s.Bytes(), EmfOf(b));
}

TEST(EmfPlayback, StretchesIntoALargerRectAndClipsToTheTarget) {
  const TBitmap b = MakeBitmap32(3, 2, PatternPixel);
  TMetafile mf = Load(EmfOf(b));
  // Twice the size, shifted so that the first column and row fall outside the target.
  std::vector<TColor32> px(5 * 3, 0);
  mf.Draw(TPixels32{px.data(), 5, 3}, Rect(-1, -1, 5, 3));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(px[y * 5 + x] | kOpaque, PatternPixel((x + 1) / 2, (y + 1) / 2)) << x << "," << y;
}

TEST(EmfReading, RejectsWhatIsNotAMetafile) {
  std::vector<uint8_t> good = EmfOf(MakeBitmap32(4, 4, PatternPixel));
  std::vector<uint8_t> truncated(good.begin(), good.end() - 1);
  std::vector<uint8_t> size_too_small = good;
  size_too_small[48] = 40, size_too_small[49] = size_too_small[50] = size_too_small[51] = 0;
  std::vector<uint8_t> no_signature = good;
  no_signature[40] = 'X';
  // A Windows metafile without the placeable header: the plain 18-byte header and an end record.
  const std::vector<uint8_t> plain_wmf = {1, 0, 9, 0, 0, 3, 12, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0,
                                          3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"empty", {}},
      {"garbage", std::vector<uint8_t>(300, 0x5A)},
      {"whole size beyond the data", truncated},
      {"whole size smaller than a header", size_too_small},
      {"no signature", no_signature},
      {"wmf without placeable header", plain_wmf},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryStream s(c.bytes);
    TMetafile mf;
    try {
      mf.LoadFromStream(s);
      ADD_FAILURE() << "accepted";
    } catch (const EInvalidGraphic& e) {
      EXPECT_STREQ(e.what(), "Metafile is not valid");
    }
  }
}

TEST(EmfReading, ReadsOnlyTheBytesTheHeaderCounts) {
  std::vector<uint8_t> f = EmfOf(MakeBitmap32(2, 2, PatternPixel));
  const size_t size = f.size();
  f.insert(f.end(), {1, 2, 3, 4, 5});
  TMemoryStream s(f);
  TMetafile mf;
  mf.LoadFromStream(s);
  EXPECT_EQ(s.Position(), int64_t(size));
  ASSERT_NE(mf.Records(), nullptr);
  EXPECT_EQ(mf.Records()->size(), size);
}

// First of the first formats, so their entries close that part of the filter string.
TEST(MetafileRegistry, BothExtensionsComeFirstOfTheClassicFormats) {
  RegisterStandardFormats();
  EXPECT_EQ(FindByExtension("WMF"), &TMetafile::StaticClass());
  EXPECT_EQ(FindByExtension("emf"), &TMetafile::StaticClass());
  const std::string filter = FileFormatFilter(TGraphic::StaticClass());
  EXPECT_NE(filter.find("|Enhanced Metafiles (*.emf)|*.emf|Metafiles (*.wmf)|*.wmf|WebP Image (*.webp)"),
            std::string::npos)
      << filter;
}

TEST(EmfReading, EmfNamedWmfIsReadByContent) {
  RegisterStandardFormats();
  test::TTempDir dir;
  const TBitmap b = MakeBitmap32(5, 4, PatternPixel);
  test::WriteBytes(dir.File("chart.wmf"), EmfOf(b));
  TPicture picture;
  picture.ReadFromFile(dir.File("chart.wmf"));
  ASSERT_TRUE(picture.Graphic()->Is(TMetafile::StaticClass()));
  auto& mf = static_cast<TMetafile&>(*picture.Graphic());
  EXPECT_TRUE(mf.HoldsEmf());
  EXPECT_EQ(Opaque(Play(mf, 0)), test::Pixels(b));
}

// Red rectangles under the mappings a drawing program uses; each must land on the same 4..8 x
// 2..6 pixels of a 12 x 10 picture.
TEST(EmfPlayback, MappingsPutTheShapeWhereItBelongs) {
  const uint32_t red = 0x0000FF;  // COLORREF: red in the low byte
  const auto base = [&] {
    TEmfBuilder e(12, 10);
    e.Rec(EMR_CREATEBRUSHINDIRECT, {1, 0, int32_t(red), 0});
    e.Rec(EMR_SELECTOBJECT, {1});
    e.Rec(EMR_SELECTOBJECT, {int32_t(0x80000008)});  // no outline
    return e;
  };
  const struct {
    const char* name;
    TEmfBuilder emf;
  } cases[] = {
      {"device units", base().Rec(EMR_RECTANGLE, {4, 2, 8, 6})},
      {"anisotropic window and viewport",
       base()
           .Rec(EMR_SETMAPMODE, {8})
           .Rec(EMR_SETWINDOWORGEX, {100, 100})
           .Rec(EMR_SETWINDOWEXTEX, {1200, 1000})
           .Rec(EMR_SETVIEWPORTEXTEX, {12, 10})
           .Rec(EMR_RECTANGLE, {500, 300, 900, 700})},
      {"flipped y axis",
       base()
           .Rec(EMR_SETMAPMODE, {8})
           .Rec(EMR_SETWINDOWEXTEX, {12, -10})
           .Rec(EMR_SETVIEWPORTEXTEX, {12, 10})
           .Rec(EMR_SETVIEWPORTORGEX, {0, 10})
           .Rec(EMR_RECTANGLE, {4, 8, 8, 4})},
      {"world transform",
       base()
           .Floats(EMR_SETWORLDTRANSFORM, {0.5f, 0, 0, 0.5f, 2, 1})
           .Rec(EMR_RECTANGLE, {4, 2, 12, 10})},
      {"state restored after a save",
       base()
           .Rec(EMR_SAVEDC, {})
           .Floats(EMR_SETWORLDTRANSFORM, {3, 0, 0, 3, 0, 0})
           .Rec(EMR_SETMAPMODE, {8})
           .Rec(EMR_SETWINDOWEXTEX, {1, 1})
           .Rec(EMR_SETVIEWPORTEXTEX, {5, 5})
           .Rec(EMR_RESTOREDC, {-1})
           .Rec(EMR_RECTANGLE, {4, 2, 8, 6})},
      {"filled path",
       base()
           .Rec(EMR_BEGINPATH, {})
           .Rec(EMR_MOVETOEX, {4, 2})
           .Rec(EMR_LINETO, {8, 2})
           .Rec(EMR_LINETO, {8, 6})
           .Rec(EMR_LINETO, {4, 6})
           .Rec(EMR_CLOSEFIGURE, {})
           .Rec(EMR_ENDPATH, {})
           .Rec(EMR_FILLPATH, {0, 0, 0, 0})},
      {"clipped to a rectangle",
       base().Rec(EMR_INTERSECTCLIPRECT, {4, 2, 8, 6}).Rec(EMR_RECTANGLE, {0, 0, 12, 10})},
      {"clip region replaced by a device region",
       base()
           .Rec(EMR_INTERSECTCLIPRECT, {0, 0, 1, 1})
           .Rec(EMR_EXTSELECTCLIPRGN, {48, 5, 32, 1, 1, 16, 4, 2, 8, 6, 4, 2, 8, 6})
           .Rec(EMR_RECTANGLE, {0, 0, 12, 10})},
      {"polygon of 16-bit points",
       base().Rec(EMR_POLYGON16, {0, 0, 0, 0, 4, 4 | 2 << 16, 8 | 2 << 16, 8 | 6 << 16, 4 | 6 << 16})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TMetafile mf = Load(c.emf.Bytes());
    ASSERT_EQ(mf.Width(), 12);
    ASSERT_EQ(mf.Height(), 10);
    const std::vector<TColor32> px = Play(mf, kWhite);
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 12; ++x) {
        const bool inside = x >= 4 && x < 8 && y >= 2 && y < 6;
        EXPECT_EQ(px[y * 12 + x], inside ? kRed : kWhite) << x << "," << y;
      }
  }
}

// Arcs of a circle 5,000,000 pixels across, larger than any surface: the piece that passes
// through the picture is drawn as the near-straight line it is there, also when it is recorded
// in a path bracket; an arc or ellipse that leaves the reach of any surface draws nothing.
TEST(EmfPlayback, ArcsOfHugeEllipsesDrawOnlyTheirVisiblePiece) {
  const uint32_t red = 0x0000FF;
  const auto base = [&] {
    TEmfBuilder e(32, 32);
    e.Rec(EMR_CREATEPEN, {1, 0, 0, 0, int32_t(red)});  // solid, one pixel wide
    e.Rec(EMR_SELECTOBJECT, {1});
    e.Rec(EMR_SELECTOBJECT, {int32_t(0x80000005)});  // no fill
    // The unit circle becomes one of radius 5e6 whose rightmost point is at (16.5, 16).
    e.Floats(EMR_SETWORLDTRANSFORM, {5e6f, 0, 0, 5e6f, 16.5f - 5e6f, 16});
    return e;
  };
  // From 4e-6 below the axis up to 4e-6 above it: y from 36 to -4, the short way round.
  const std::initializer_list<int32_t> short_arc = {-1, -1, 1, 1, 1000000, 4, 1000000, -4};
  const std::initializer_list<int32_t> long_arc = {-1, -1, 1, 1, 1000000, -4, 1000000, 4};
  const struct {
    const char* name;
    TEmfBuilder emf;
    bool line;  // a line down column 16, else nothing at all
  } cases[] = {
      {"arc", base().Rec(EMR_ARC, short_arc), true},
      {"arc in a path bracket", base().Rec(EMR_BEGINPATH, {}).Rec(EMR_ARC, short_arc).Rec(EMR_ENDPATH, {}).Rec(EMR_STROKEPATH, {0, 0, 0, 0}), true},
      {"arc the long way round", base().Rec(EMR_ARC, long_arc), false},
      {"whole ellipse", base().Rec(EMR_ELLIPSE, {-1, -1, 1, 1}), false},
      {"long arc in a path bracket", base().Rec(EMR_BEGINPATH, {}).Rec(EMR_ARC, long_arc).Rec(EMR_ENDPATH, {}).Rec(EMR_STROKEPATH, {0, 0, 0, 0}), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TMetafile mf = Load(c.emf.Bytes());
    const std::vector<TColor32> px = Play(mf, kWhite);
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x) EXPECT_EQ(px[y * 32 + x], c.line && x == 16 ? kRed : kWhite) << x << "," << y;
  }
}

TEST(EmfPlayback, PaintsOnlyWhatItCovers) {
  // Drawn once on white and once on blue, as a surface does to find a metafile's alpha: the
  // pixels that differ are exactly the ones the records left alone.
  TEmfBuilder e(8, 8);
  e.Rec(EMR_CREATEBRUSHINDIRECT, {1, 0, 0x00FF00, 0});
  e.Rec(EMR_SELECTOBJECT, {1});
  e.Rec(EMR_SELECTOBJECT, {int32_t(0x80000008)});
  e.Rec(EMR_ELLIPSE, {1, 1, 7, 7});
  TMetafile mf = Load(e.Bytes());
  EXPECT_TRUE(mf.UsesCoverageAlpha());
  const std::vector<TColor32> white = Play(mf, kWhite), blue = Play(mf, kBlue);
  int painted = 0;
  for (size_t i = 0; i < white.size(); ++i) {
    if (white[i] == blue[i]) {
      EXPECT_EQ(white[i], 0xFF00FF00u) << i;
      ++painted;
    } else {
      EXPECT_EQ(white[i], kWhite);
      EXPECT_EQ(blue[i], kBlue);
    }
  }
  EXPECT_GT(painted, 16);
  EXPECT_LT(painted, 36);
  EXPECT_EQ(white[0], kWhite);
  EXPECT_EQ(white[4 * 8 + 4], 0xFF00FF00u);
}

TEST(EmfPlayback, RecordsThatLieAboutTheirCountsAreSkipped) {
  // A polygon claiming far more points than its record holds, then a rectangle that must still
  // be drawn; a record size beyond the data ends playback quietly.
  TEmfBuilder e(6, 6);
  e.Rec(EMR_CREATEBRUSHINDIRECT, {1, 0, 0x0000FF, 0});
  e.Rec(EMR_SELECTOBJECT, {1});
  e.Rec(EMR_POLYGON, {0, 0, 5, 5, 0x7FFFFFFF, 0, 0, 5, 0});
  e.Rec(EMR_POLYPOLYGON, {0, 0, 5, 5, 2, 4, 3, 0x7FFFFFFF, 0, 0});
  e.Rec(EMR_EXTSELECTCLIPRGN, {0x7FFFFFF0, 5, 32});
  e.Rec(EMR_STRETCHDIBITS, {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 80, 40, 120, 0x7FFFFFFF, 0, int32_t(kSrcCopy), 6, 6});
  e.Rec(EMR_RECTANGLE, {0, 0, 6, 6});
  std::vector<uint8_t> bytes = e.Bytes();
  std::vector<uint8_t> record = {0x2B, 0, 0, 0, 0xF0, 0xFF, 0xFF, 0x0F};  // a rectangle too long to be true
  bytes.insert(bytes.end() - kEmfEofSize, record.begin(), record.end());
  TByteWriter(bytes).Patch32(48, uint32_t(bytes.size()));
  TMetafile mf = Load(bytes);
  const std::vector<TColor32> px = Play(mf, kWhite);
  EXPECT_EQ(px[3 * 6 + 3], kRed);
}

TEST(EmfPlayback, DrawsTextWithAnInstalledFont) {
  TEmfBuilder e(60, 20);
  std::vector<uint8_t> font;
  TByteWriter w(font);
  w.U32(EMR_EXTCREATEFONTINDIRECTW);
  w.U32(12 + 92);
  w.U32(1);
  w.S32(-14);  // 14-pixel characters
  for (int i = 0; i < 3; ++i) w.S32(0);
  w.S32(700);
  w.U32(0);
  w.U32(0);
  for (char16_t c : std::u16string(u"DejaVu Sans")) w.U16(c);
  while (font.size() < 12 + 92) font.push_back(0);
  e.Raw(font);
  e.Rec(EMR_SELECTOBJECT, {1});
  e.Rec(EMR_SETBKMODE, {1});
  e.Rec(EMR_SETTEXTCOLOR, {0});
  e.Rec(EMR_SETTEXTALIGN, {24});  // baseline
  e.Text(2, 15, u"Hi!");
  TMetafile mf = Load(e.Bytes());
  const std::vector<TColor32> px = Play(mf, kWhite);
  int dark_inside = 0, dark_outside = 0;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 60; ++x) {
      const TColor32 c = px[y * 60 + x];
      if (GreenOf(c) >= 128) continue;
      (x >= 2 && x < 30 && y >= 3 && y < 16 ? dark_inside : dark_outside)++;
    }
  EXPECT_GT(dark_inside, 20);
  EXPECT_EQ(dark_outside, 0);
}

}  // namespace
}  // namespace pellavo

namespace pellavo {
namespace {

using namespace metafile;

// A 2 x 2 picture: top row A B, bottom row C D; as DIB bits the bottom row comes first.
constexpr TColor32 kA = 0xFF102030, kB = 0xFF405060, kC = 0xFF708090, kD = 0xFFA0B0C0;

std::vector<uint8_t> Dib2x2() {
  std::vector<uint8_t> d;
  TByteWriter w(d);
  w.U32(40), w.S32(2), w.S32(2), w.U16(1), w.U16(32);
  for (int i = 0; i < 6; ++i) w.U32(0);
  for (TColor32 c : {kC, kD, kA, kB}) w.U32(c);
  return d;
}

// EMR_STRETCHDIBITS of the 2 x 2 picture.
std::vector<uint8_t> StretchDiBits(int32_t x, int32_t y, int32_t w, int32_t h, int32_t sx, int32_t sy, int32_t sw,
                                   int32_t sh, uint32_t rop = kSrcCopy) {
  const std::vector<uint8_t> dib = Dib2x2();
  std::vector<uint8_t> r;
  TByteWriter b(r);
  b.U32(EMR_STRETCHDIBITS), b.U32(uint32_t(80 + dib.size()));
  for (int i = 0; i < 4; ++i) b.S32(0);
  b.S32(x), b.S32(y), b.S32(sx), b.S32(sy), b.S32(sw), b.S32(sh);
  b.U32(80), b.U32(40), b.U32(120), b.U32(16), b.U32(0), b.U32(rop), b.S32(w), b.S32(h);
  b.Bytes(dib.data(), dib.size());
  return r;
}

// EMR_SETDIBITSTODEVICE of the 2 x 2 picture: no stretching.
std::vector<uint8_t> SetDiBitsToDevice(int32_t x, int32_t y, int32_t sx, int32_t sy, int32_t sw, int32_t sh) {
  const std::vector<uint8_t> dib = Dib2x2();
  std::vector<uint8_t> r;
  TByteWriter b(r);
  b.U32(EMR_SETDIBITSTODEVICE), b.U32(uint32_t(76 + dib.size()));
  for (int i = 0; i < 4; ++i) b.S32(0);
  b.S32(x), b.S32(y), b.S32(sx), b.S32(sy), b.S32(sw), b.S32(sh);
  b.U32(76), b.U32(40), b.U32(116), b.U32(16), b.U32(0), b.U32(0), b.U32(2);
  b.Bytes(dib.data(), dib.size());
  return r;
}

// EMR_STRETCHBLT, EMR_ALPHABLEND or EMR_TRANSPARENTBLT of the 2 x 2 picture (op is the raster
// operation, the blend function or the transparent colour); EMR_BITBLT without a bitmap when
// with_bitmap is false.
std::vector<uint8_t> Blt(uint32_t type, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t op, int32_t sx, int32_t sy,
                         int32_t sw, int32_t sh, bool with_bitmap = true) {
  const std::vector<uint8_t> dib = with_bitmap ? Dib2x2() : std::vector<uint8_t>{};
  const uint32_t fixed = type == EMR_BITBLT ? 100 : 108;
  std::vector<uint8_t> r;
  TByteWriter b(r);
  b.U32(type), b.U32(uint32_t(fixed + dib.size()));
  for (int i = 0; i < 4; ++i) b.S32(0);
  b.S32(x), b.S32(y), b.S32(w), b.S32(h), b.U32(op), b.S32(sx), b.S32(sy);
  for (float f : {1.f, 0.f, 0.f, 1.f, 0.f, 0.f}) b.F32(f);
  b.U32(0), b.U32(0);
  b.U32(with_bitmap ? fixed : 0), b.U32(with_bitmap ? 40 : 0), b.U32(with_bitmap ? fixed + 40 : 0),
      b.U32(with_bitmap ? 16 : 0);
  if (type != EMR_BITBLT) b.S32(sw), b.S32(sh);
  b.Bytes(dib.data(), dib.size());
  return r;
}

TEST(EmfPlayback, BitmapRecordsCopyBlendAndCombineAsTheirOperationsSay) {
  constexpr TColor32 W = 0xFFFFFFFF, R = 0xFFFF0000;
  const auto grid = [](std::initializer_list<TColor32> v) { return std::vector<TColor32>(v); };
  const struct {
    const char* name;
    std::vector<uint8_t> record;
    std::vector<TColor32> expected;  // 4 x 2 picture, row by row
    int tolerance = 0;               // per channel: blending rounds
  } cases[] = {
      {"stretched twice across", StretchDiBits(0, 0, 4, 2, 0, 0, 2, 2), grid({kA, kA, kB, kB, kC, kC, kD, kD})},
      {"DIB source rows count from the bottom", StretchDiBits(0, 0, 2, 2, 1, 0, 1, 1), grid({kD, kD, W, W, kD, kD, W, W})},
      {"blit source rows count from the top", Blt(EMR_STRETCHBLT, 0, 0, 2, 2, kSrcCopy, 1, 0, 1, 1),
       grid({kB, kB, W, W, kB, kB, W, W})},
      {"set to the device at its own size", SetDiBitsToDevice(1, 0, 0, 0, 2, 2), grid({W, kA, kB, W, W, kC, kD, W})},
      {"negative width mirrors", StretchDiBits(2, 0, -2, 2, 0, 0, 2, 2), grid({kB, kA, W, W, kD, kC, W, W})},
      {"pattern copy without a bitmap", Blt(EMR_BITBLT, 1, 0, 2, 2, 0x00F00021, 0, 0, 0, 0, false),
       grid({W, R, R, W, W, R, R, W})},
      {"blackness", Blt(EMR_BITBLT, 0, 1, 4, 1, 0x00000042, 0, 0, 0, 0, false), grid({W, W, W, W, kBlack, kBlack, kBlack, kBlack})},
      {"source xor white inverts", StretchDiBits(0, 0, 2, 1, 0, 1, 2, 1, 0x00660046),
       grid({~kA | kOpaque, ~kB | kOpaque, W, W, W, W, W, W})},
      {"transparent colour left out", Blt(EMR_TRANSPARENTBLT, 0, 0, 2, 2, 0x00302010, 0, 0, 2, 2),
       grid({W, kB, W, W, kC, kD, W, W})},
      // C and D (the second row) at 128/255 over white: c * 128 / 255 + 127.
      {"constant alpha of a half", Blt(EMR_ALPHABLEND, 0, 0, 2, 1, 0x00800000, 0, 1, 2, 1),
       grid({0xFFB7BFC7, 0xFFCFD7DF, W, W, W, W, W, W}), 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TEmfBuilder e(4, 2);
    e.Rec(EMR_CREATEBRUSHINDIRECT, {1, 0, 0x0000FF, 0});
    e.Rec(EMR_SELECTOBJECT, {1});
    e.Raw(c.record);
    TMetafile mf = test::LoadMetafile(e.Bytes());
    ASSERT_EQ(mf.Width(), 4);
    const std::vector<TColor32> px = test::Play(mf, 0xFFFFFFFF);
    for (size_t i = 0; i < px.size(); ++i)
      for (int shift : {0, 8, 16, 24})
        EXPECT_NEAR(int(px[i] >> shift & 0xFF), int(c.expected[i] >> shift & 0xFF), c.tolerance) << i;
  }
}

}  // namespace
}  // namespace pellavo

namespace pellavo {
namespace {

using namespace metafile;

TEST(EmfPlayback, HatchesStayOnTheDeviceGridWhenThePageRotates) {
  // The same hatched fill over the whole picture, once upright and once through a rotated
  // world transform: the hatch lines must not turn with it.
  const auto picture = [](bool rotated) {
    test::TEmfBuilder e(16, 16);
    e.Rec(EMR_CREATEBRUSHINDIRECT, {1, 2, 0x000000, 5});  // black diagonal cross
    e.Rec(EMR_SELECTOBJECT, {1});
    e.Rec(EMR_SELECTOBJECT, {int32_t(0x80000008)});
    e.Rec(EMR_SETBKMODE, {1});
    if (rotated) e.Floats(EMR_SETWORLDTRANSFORM, {0.866f, 0.5f, -0.5f, 0.866f, 8, -6});
    e.Rec(EMR_RECTANGLE, {-40, -40, 40, 40});
    TMetafile mf = test::LoadMetafile(e.Bytes());
    return test::Play(mf, 0xFFFFFFFF);
  };
  const std::vector<TColor32> upright = picture(false), rotated = picture(true);
  EXPECT_EQ(rotated, upright);
  EXPECT_EQ(upright[0], kBlack);          // on the line x = y
  EXPECT_EQ(upright[1], 0xFFFFFFFFu);     // between the lines
  EXPECT_EQ(upright[7 * 16 + 0], kBlack);  // on the line x = 7 - y
}

}  // namespace
}  // namespace pellavo
