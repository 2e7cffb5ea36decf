// Conversions that read their source row by row against the same images read whole: an
// interlaced PNG always goes the whole-image way, its non-interlaced twin the row-by-row way.
#include <gtest/gtest.h>

#include "core/errors.h"
#include "formats/all/standard_formats.h"
#include "formats/png/png_object.h"
#include "support/images.h"
#include "support/temp_dir.h"
#include "worker/convert_thread.h"
#include "support/profiles.h"

namespace pellavo {
namespace {

void WritePng(const std::string& path, const TBitmap& bitmap, bool interlaced, const TImageMetadata& metadata = {}) {
  TPNGObject png;
  png.SetKeepAlpha(true);
  png.Assign(bitmap);
  png.AddMetadata(metadata);
  png.SetInterlacing(interlaced ? 1 : 0);
  png.WriteToFile(path);
}

// The file's chunk called name moved to just before IEND, after the image data.
std::vector<uint8_t> ChunkMovedToTheEnd(std::vector<uint8_t> bytes, const std::string& name) {
  for (size_t at = 8; at + 12 <= bytes.size();) {
    const size_t length = size_t{bytes[at]} << 24 | size_t{bytes[at + 1]} << 16 | size_t{bytes[at + 2]} << 8 | bytes[at + 3];
    if (std::string(bytes.begin() + long(at) + 4, bytes.begin() + long(at) + 8) == name) {
      const std::vector<uint8_t> chunk(bytes.begin() + long(at), bytes.begin() + long(at + 12 + length));
      bytes.erase(bytes.begin() + long(at), bytes.begin() + long(at + 12 + length));
      bytes.insert(bytes.end() - 12, chunk.begin(), chunk.end());
      return bytes;
    }
    at += 12 + length;
  }
  ADD_FAILURE() << "no " << name << " chunk";
  return bytes;
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

// What the source carries besides its pixels: a profile converted for BMP and JPEG and carried
// into PNG, a turn that needs the whole image, transparency that must first be looked for. The
// row-by-row reader takes what it can and hands the rest to the whole image; either way the
// bytes are those of the interlaced twin, which is always read whole.
TEST(StreamedConversion, ProfilesTurnsAndTransparencyGiveTheBytesOfTheWholeImage) {
  RegisterStandardFormats();
  test::TTempDir dir;
  const TBitmap pattern = test::MakeBitmap32(97, 61, test::PatternPixel);
  TImageMetadata tagged;
  tagged.IccProfile = test::AdobeRgbProfile();
  TImageMetadata turned;
  turned.Exif = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0};
  const TBitmap half_clear = test::MakeBitmap32(97, 61, [](int32_t x, int32_t y) {
    return x < 40 ? test::PatternPixel(x, y) | 0xFF000000u : test::PatternPixel(x, y) & 0x7FFFFFFFu;
  });
  struct TCase {
    const char* name;
    const TBitmap& picture;
    TImageMetadata metadata;
  };
  const TCase cases[] = {
      {"Adobe RGB profile", pattern, tagged},
      {"orientation 6", pattern, turned},
      {"translucent", half_clear, {}},
  };
  const TOptions o{"lanczos", TSizeMode::Largest, 40, 5, true, false, TWideMode::None};
  for (const TCase& c : cases) {
    WritePng(dir.File("rows.png"), c.picture, false, c.metadata);
    WritePng(dir.File("whole.png"), c.picture, true, c.metadata);
    for (const char* ext : {".bmp", ".png", ".jpg"}) {
      SCOPED_TRACE(std::string(c.name) + " to " + ext);
      const TConversion rows = Convert(dir.File("rows.png"), dir.File(std::string("rows") + ext), o);
      const TConversion whole = Convert(dir.File("whole.png"), dir.File(std::string("whole") + ext), o);
      ASSERT_TRUE(rows.Report.Outcome.Written) << rows.Report.Outcome.Error;
      ASSERT_TRUE(whole.Report.Outcome.Written) << whole.Report.Outcome.Error;
      EXPECT_EQ(rows.Report.Outcome.Warnings, whole.Report.Outcome.Warnings);
      EXPECT_EQ(test::ReadBytes(dir.File(std::string("rows") + ext)), test::ReadBytes(dir.File(std::string("whole") + ext)));
    }
  }

  // A profile found only after the image data: the rows were resampled without it, so the
  // conversion starts again on the whole image.
  WritePng(dir.File("front.png"), pattern, false, tagged);
  test::WriteBytes(dir.File("back.png"), ChunkMovedToTheEnd(test::ReadBytes(dir.File("front.png")), "iCCP"));
  ASSERT_TRUE(Convert(dir.File("front.png"), dir.File("front.bmp"), o).Report.Outcome.Written);
  ASSERT_TRUE(Convert(dir.File("back.png"), dir.File("back.bmp"), o).Report.Outcome.Written);
  WritePng(dir.File("plain.png"), pattern, false);
  ASSERT_TRUE(Convert(dir.File("plain.png"), dir.File("plain.bmp"), o).Report.Outcome.Written);
  EXPECT_EQ(test::ReadBytes(dir.File("back.bmp")), test::ReadBytes(dir.File("front.bmp")));
  EXPECT_NE(test::ReadBytes(dir.File("plain.bmp")), test::ReadBytes(dir.File("front.bmp")));
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
