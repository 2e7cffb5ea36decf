#include <gtest/gtest.h>

#include "core/errors.h"
#include "formats/metafile/metafile.h"
#include "formats/metafile/play.h"
#include "formats/metafile/records.h"
#include "support/images.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

using namespace metafile;
using test::EmfOf;
using test::LoadMetafile;
using test::MakeBitmap32;
using test::Opaque;
using test::PatternPixel;
using test::Play;

constexpr TColor32 kWhite = 0xFFFFFFFF;

std::vector<uint8_t> Fixture(const std::string& name) { return test::ReadBytes("tests/data/metafile/" + name); }

std::vector<uint8_t> WrittenAs(TMetafile& mf, const std::string& name) {
  test::TTempDir dir;
  mf.WriteToFile(dir.File(name));
  return test::ReadBytes(dir.File(name));
}

TEST(WmfOutput, OurMetafileWrittenToAWmfPathReadsBackAsPlaceableWmf) {
  const struct {
    int32_t w, h;
  } sizes[] = {{1, 1}, {7, 3}, {301, 157}, {32767, 1}};
  for (const auto& size : sizes) {
    SCOPED_TRACE(std::to_string(size.w) + "x" + std::to_string(size.h));
    const TBitmap b = MakeBitmap32(size.w, size.h, PatternPixel);
    TMetafile mf = LoadMetafile(EmfOf(b));
    const std::vector<uint8_t> wmf = WrittenAs(mf, "out.WMF");
    EXPECT_TRUE(mf.Enhanced());
    ASSERT_GE(wmf.size(), 22u + 18u);
    EXPECT_EQ(Get32(&wmf[0]), kPlaceableKey);

    TMetafile back = LoadMetafile(wmf);
    EXPECT_FALSE(back.HoldsEmf());
    EXPECT_FALSE(back.Enhanced());
    ASSERT_EQ(back.Width(), size.w);
    ASSERT_EQ(back.Height(), size.h);
    EXPECT_EQ(Opaque(Play(back, 0)), test::Pixels(b));
  }
}

TEST(WmfOutput, PictureBeyondSixteenBitCoordinatesIsRefusedAndNothingIsLeft) {
  TMetafile mf = LoadMetafile(EmfOf(MakeBitmap32(32768, 1, PatternPixel)));
  test::TTempDir dir;
  try {
    mf.WriteToFile(dir.File("wide.wmf"));
    ADD_FAILURE() << "written";
  } catch (const EInvalidGraphic& e) {
    EXPECT_STREQ(e.what(), "Image is too large for a Windows metafile");
  }
  EXPECT_TRUE(dir.List().empty());
}

TEST(WmfOutput, PlaceableHeaderAndWindowsMetafileHeader) {
  TMetafile mf = LoadMetafile(EmfOf(MakeBitmap32(5, 4, PatternPixel)));
  const std::vector<uint8_t> f = WrittenAs(mf, "a.wmf");
  EXPECT_EQ(Get16(&f[4]), 0);      // handle
  EXPECT_EQ(GetS16(&f[6]), 0);     // bounding box
  EXPECT_EQ(GetS16(&f[8]), 0);
  EXPECT_EQ(GetS16(&f[10]), 5);
  EXPECT_EQ(GetS16(&f[12]), 4);
  EXPECT_EQ(Get16(&f[14]), 96);    // units per inch
  EXPECT_EQ(Get32(&f[16]), 0u);    // reserved
  uint16_t sum = 0;
  for (int i = 0; i < 10; ++i) sum ^= Get16(&f[2 * i]);
  EXPECT_EQ(Get16(&f[20]), sum);
  const uint8_t* h = &f[22];
  EXPECT_EQ(Get16(h + 2), 9);
  EXPECT_EQ(Get16(h + 4), 0x0300);
  EXPECT_EQ(Get32(h + 6), (f.size() - 22) / 2);  // whole size in words
  // The last record is the three-word end record.
  EXPECT_EQ(Get32(&f[f.size() - 6]), 3u);
  EXPECT_EQ(Get16(&f[f.size() - 2]), META_EOF);
}

// A placeable header over an empty Windows metafile, with the checksum made right unless told.
std::vector<uint8_t> Placeable(int16_t l, int16_t t, int16_t r, int16_t b, uint16_t inch, uint32_t key = kPlaceableKey,
                               bool bad_sum = false) {
  std::vector<uint8_t> f;
  TByteWriter w(f);
  w.U32(key);
  w.U16(0);
  w.S16(l), w.S16(t), w.S16(r), w.S16(b);
  w.U16(inch);
  w.U32(0);
  uint16_t sum = 0;
  for (int i = 0; i < 10; ++i) sum ^= Get16(&f[2 * i]);
  w.U16(bad_sum ? uint16_t(sum ^ 1) : sum);
  for (uint16_t v : {1, 9, 0x0300}) w.U16(v);
  w.U32(12);
  w.U16(0);
  w.U32(3);
  w.U16(0);
  w.U32(3);
  w.U16(META_EOF);
  return f;
}

TEST(WmfReading, SizeComesFromTheBoundingBoxAndItsUnitsPerInch) {
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    int32_t w, h, mm_w, mm_h;
  } cases[] = {
      {"96 per inch", Placeable(0, 0, 200, 100, 96), 200, 100, 5292, 2646},
      {"none given is 96", Placeable(0, 0, 200, 100, 0), 200, 100, 5292, 2646},
      {"twips, offset box", Placeable(100, 50, 2980, 1490, 1440), 192, 96, 5080, 2540},
      {"0.01 mm", Placeable(0, 0, 2540, 1270, 2540), 96, 48, 2540, 1270},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TMetafile mf = LoadMetafile(c.bytes);
    EXPECT_EQ(mf.Width(), c.w);
    EXPECT_EQ(mf.Height(), c.h);
    EXPECT_EQ(mf.MMWidth(), c.mm_w);
    EXPECT_EQ(mf.MMHeight(), c.mm_h);
  }
}

TEST(WmfReading, RejectsAWrongKeyOrChecksumOrHeader) {
  std::vector<uint8_t> bad_header = Placeable(0, 0, 10, 10, 96);
  bad_header[22 + 2] = 8;  // header length
  std::vector<uint8_t> cut = Placeable(0, 0, 10, 10, 96);
  cut.resize(30);
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"key", Placeable(0, 0, 10, 10, 96, 0x9AC6CDD6)},
      {"checksum", Placeable(0, 0, 10, 10, 96, kPlaceableKey, true)},
      {"metafile header", bad_header},
      {"header cut short", cut},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      LoadMetafile(c.bytes);
      ADD_FAILURE() << "accepted";
    } catch (const EInvalidGraphic& e) {
      EXPECT_STREQ(e.what(), "Metafile is not valid");
    }
  }
}

TEST(WmfReading, ResavingAWmfWritesItsBytesBack) {
  const std::vector<uint8_t> f = Fixture("libreoffice-shapes.wmf");
  TMetafile mf = LoadMetafile(f);
  TMemoryStream out;
  mf.SaveToStream(out);
  EXPECT_EQ(out.Bytes(), f);
}

struct TProbe {
  int32_t x, y;
  TColor32 color;
};

// Files written by LibreOffice from the SVGs beside them (see make-fixtures.sh). The probes
// sit two pixels inside and outside each shape's edges, where the shapes must land.
TEST(IndependentMetafiles, PlayBackWhereTheDrawingPutTheShapes) {
  constexpr TColor32 red = 0xFFFF0000, blue = 0xFF0000FF, green = 0xFF00AA00;
  const std::vector<TProbe> shapes = {
      // Rectangle: pixels 14.4 to 74.3 across, 4.4 to 44.4 down.
      {17, 7, red}, {71, 41, red}, {44, 24, red}, {11, 24, kWhite}, {77, 24, kWhite}, {44, 2, kWhite}, {44, 47, kWhite},
      // Ellipse: centre (144.3, 54.3), 114.4 to 174.3 across, 29.4 to 79.3 down.
      {144, 54, blue}, {144, 32, blue}, {117, 54, blue}, {144, 26, kWhite}, {112, 54, kWhite}, {177, 54, kWhite},
      // Line: 4.4 to 184.3 across, 82.3 to 86.4 down.
      {90, 84, green}, {7, 84, green}, {90, 80, kWhite}, {2, 84, kWhite}, {187, 84, kWhite}};
  constexpr TColor32 yellow = 0xFFFFFF00, lime = 0xFF00FF00;
  // The 4 x 2 bitmap stretched to pixels 5.2 to 85.2 across, 5.2 to 45.2 down.
  const std::vector<TProbe> bitmap = {{8, 8, red},     {42, 22, red},    {48, 8, lime},    {82, 22, lime},
                                      {8, 28, blue},   {42, 42, blue},   {48, 28, yellow}, {82, 42, yellow},
                                      {3, 25, kWhite}, {88, 25, kWhite}, {45, 3, kWhite},  {45, 48, kWhite}};
  const struct {
    const char* file;
    bool emf;
    int32_t w, h;
    const std::vector<TProbe>& probes;
  } cases[] = {
      {"libreoffice-shapes.emf", true, 189, 89, shapes},
      {"libreoffice-shapes.wmf", false, 189, 89, shapes},
      {"libreoffice-bitmap-text.emf", true, 150, 90, bitmap},
      {"libreoffice-bitmap-text.wmf", false, 150, 90, bitmap},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    TMetafile mf = LoadMetafile(Fixture(c.file));
    EXPECT_EQ(mf.HoldsEmf(), c.emf);
    ASSERT_EQ(mf.Width(), c.w);
    ASSERT_EQ(mf.Height(), c.h);
    const std::vector<TColor32> px = Play(mf, kWhite);
    for (const TProbe& p : c.probes)
      EXPECT_EQ(px[size_t(p.y) * size_t(c.w) + size_t(p.x)], p.color) << p.x << "," << p.y;
  }
}

TEST(IndependentMetafiles, TextLandsBelowTheBitmap) {
  for (const char* file : {"libreoffice-bitmap-text.emf", "libreoffice-bitmap-text.wmf"}) {
    SCOPED_TRACE(file);
    TMetafile mf = LoadMetafile(Fixture(file));
    const std::vector<TColor32> px = Play(mf, kWhite);
    int text = 0, stray = 0;
    for (int y = 0; y < mf.Height(); ++y)
      for (int x = 0; x < mf.Width(); ++x) {
        const TColor32 c = px[size_t(y) * size_t(mf.Width()) + size_t(x)];
        const bool dark = RedOf(c) < 96 && GreenOf(c) < 96 && BlueOf(c) < 96;
        if (!dark) continue;
        if (y >= 55 && y < 88 && x >= 4 && x < 100)
          ++text;
        else
          ++stray;
      }
    EXPECT_GT(text, 150);  // "Pellavo" at 24 pixels
    EXPECT_EQ(stray, 0);
  }
}

TEST(MetafileConversion, WhatCannotBeCarriedOverIsKeptAsItLooks) {
  // LibreOffice's EMF holds shapes, which our WMF output plays into a bitmap; its WMF becomes
  // an EMF the same way. Either way the result looks as the source does on white.
  for (const auto& [file, ext] : {std::pair{"libreoffice-shapes.emf", "x.wmf"}, std::pair{"libreoffice-shapes.wmf", "x.emf"}}) {
    SCOPED_TRACE(file);
    TMetafile mf = LoadMetafile(Fixture(file));
    TMetafile back = LoadMetafile(WrittenAs(mf, ext));
    EXPECT_EQ(back.HoldsEmf(), std::string(ext) == "x.emf");
    ASSERT_EQ(back.Width(), mf.Width());
    ASSERT_EQ(back.Height(), mf.Height());
    EXPECT_EQ(Play(back, 0xFF123456), Play(mf, kWhite));
  }
}

TEST(MetafileConversion, EnhancedFlagChoosesWhatSaveToStreamWrites) {
  TMetafile mf = LoadMetafile(EmfOf(MakeBitmap32(3, 3, PatternPixel)));
  mf.SetEnhanced(false);
  TMemoryStream s;
  mf.SaveToStream(s);
  EXPECT_EQ(Get32(s.Bytes().data()), kPlaceableKey);
}

}  // namespace
}  // namespace pellavo
