// Conversions that read their source row by row against the same images read whole: an
// interlaced PNG always goes the whole-image way, its non-interlaced twin the row-by-row way.
#include <gtest/gtest.h>

#include "core/errors.h"
#include "formats/all/standard_formats.h"
#include "formats/png/png_object.h"
#include "support/images.h"
#include "support/temp_dir.h"
#include "worker/convert_thread.h"

namespace pellavo {
namespace {

void WritePng(const std::string& path, const TBitmap& bitmap, bool interlaced) {
  TPNGObject png;
  png.Assign(bitmap);
  png.SetInterlacing(interlaced ? 1 : 0);
  png.WriteToFile(path);
}

struct TOptions {
  const char* name;
  TSizeMode mode;
  int value;
  uint8_t filter;
  bool border, frame;
  TWideMode wide;
};

TConversion Convert(const std::string& source, const std::string& output, const TOptions& o) {
  TWorkerOrder order;
  order.Source = source;
  order.Output = output;
  order.Settings.SizeMode = o.mode;
  order.Settings.FilterIndex = o.filter;
  order.Settings.Overwrite = true;
  order.Settings.BorderOn = o.border;
  order.Settings.BorderWidth = 3;
  order.Settings.BorderColor = 0x00336699;
  order.Settings.FrameOn = o.frame;
  order.Settings.WideMode = o.wide;
  order.SizeValue = o.value;
  return ConvertFile(order);
}

TEST(StreamedConversion, SameOutputAsTheWholeImage) {
  RegisterStandardFormats();
  test::TTempDir dir;
  const TBitmap picture = test::MakeBitmap32(301, 203, test::PatternPixel);
  WritePng(dir.File("rows.png"), picture, false);
  WritePng(dir.File("whole.png"), picture, true);
  const TOptions options[] = {
      {"lanczos", TSizeMode::Largest, 64, 5, false, false, TWideMode::None},
      {"box, border and frame", TSizeMode::Width, 90, 255, true, true, TWideMode::None},
      {"nearest, 16:9", TSizeMode::Largest, 80, 0, false, false, TWideMode::All},
      {"draft, percent", TSizeMode::Percent, 30, 1, false, true, TWideMode::Land},
      {"linear, enlarged", TSizeMode::Height, 400, 2, true, false, TWideMode::None},
      {"same size", TSizeMode::Width, 301, 5, false, false, TWideMode::None},
  };
  for (const TOptions& o : options) {
    SCOPED_TRACE(o.name);
    const TConversion rows = Convert(dir.File("rows.png"), dir.File("rows.bmp"), o);
    const TConversion whole = Convert(dir.File("whole.png"), dir.File("whole.bmp"), o);
    ASSERT_TRUE(rows.Report.Outcome.Written) << rows.Report.Outcome.Error;
    ASSERT_TRUE(whole.Report.Outcome.Written) << whole.Report.Outcome.Error;
    EXPECT_EQ(rows.DecodedWidth, whole.DecodedWidth);
    EXPECT_EQ(rows.DecodedHeight, whole.DecodedHeight);
    EXPECT_EQ(test::ReadBytes(dir.File("rows.bmp")), test::ReadBytes(dir.File("whole.bmp")));
  }
}

// A gamma after the image data is found only at the end of the rows: the conversion starts
// again on the whole image and comes out as with the gamma in front.
TEST(StreamedConversion, AGammaAfterTheImageDataStillApplies) {
  RegisterStandardFormats();
  test::TTempDir dir;
  TPNGObject png;
  png.Assign(test::MakeBitmap32(40, 30, test::PatternPixel));
  TMemoryStream s;
  png.SaveToStream(s);
  std::vector<uint8_t> bytes = s.Take();
  // gAMA 1.0 as a chunk of its own, put right after the header or right before IEND.
  const uint8_t gama[] = {0, 0, 0, 4, 'g', 'A', 'M', 'A', 0, 1, 0x86, 0xA0, 0x31, 0xE8, 0x96, 0x5F};
  std::vector<uint8_t> front = bytes, back = bytes;
  front.insert(front.begin() + 8 + 25, std::begin(gama), std::end(gama));
  back.insert(back.end() - 12, std::begin(gama), std::end(gama));
  test::WriteBytes(dir.File("front.png"), front);
  test::WriteBytes(dir.File("back.png"), back);
  const TOptions o{"lanczos", TSizeMode::Largest, 20, 5, false, false, TWideMode::None};
  const TConversion f = Convert(dir.File("front.png"), dir.File("front.bmp"), o);
  const TConversion b = Convert(dir.File("back.png"), dir.File("back.bmp"), o);
  ASSERT_TRUE(f.Report.Outcome.Written) << f.Report.Outcome.Error;
  ASSERT_TRUE(b.Report.Outcome.Written) << b.Report.Outcome.Error;
  EXPECT_EQ(test::ReadBytes(dir.File("front.bmp")), test::ReadBytes(dir.File("back.bmp")));
  // The gamma did change the picture.
  test::WriteBytes(dir.File("plain.png"), bytes);
  ASSERT_TRUE(Convert(dir.File("plain.png"), dir.File("plain.bmp"), o).Report.Outcome.Written);
  EXPECT_NE(test::ReadBytes(dir.File("plain.bmp")), test::ReadBytes(dir.File("front.bmp")));
}

// Damage met part way through the rows fails the file with the reader's error, and nothing is
// written.
TEST(StreamedConversion, DamageFoundInTheRowsFailsAsTheReaderSays) {
  RegisterStandardFormats();
  test::TTempDir dir;
  TPNGObject png;
  png.Assign(test::MakeBitmap32(40, 30, test::PatternPixel));
  TMemoryStream s;
  png.SaveToStream(s);
  std::vector<uint8_t> bytes = s.Take();
  bytes[bytes.size() - 1] ^= 1;  // the CRC of IEND
  test::WriteBytes(dir.File("bad.png"), bytes);
  const TOptions o{"lanczos", TSizeMode::Largest, 20, 5, false, false, TWideMode::None};
  const TConversion c = Convert(dir.File("bad.png"), dir.File("bad.bmp"), o);
  EXPECT_FALSE(c.Report.Outcome.Written);
  EXPECT_EQ(c.Report.Outcome.Error,
            "This \"Portable Network Graphics\" image is not valid because it contains invalid pieces of data (crc "
            "error)");
  EXPECT_TRUE(test::TTempDir::ListOf(dir.Path()) == std::vector<std::string>{"bad.png"});
}

}  // namespace
}  // namespace pellavo
