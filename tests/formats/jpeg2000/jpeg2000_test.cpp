#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/errors.h"
#include "formats/all/standard_formats.h"
#include "formats/jpeg2000/jpeg2000_bitmap.h"
#include "formats/picture.h"
#include "support/commands.h"
#include "support/images.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

using test::HaveTool;
using test::RunAndCapture;

using test::MakeBitmap32;
using test::Pixels;
using test::ReadBytes;
using test::TTempDir;
using test::WriteBytes;

const std::string kData = "tests/data/jpeg2000/";

// The sample values make_fixtures.sh coded.
uint8_t FixtureRed(int x, int) { return uint8_t(40 * x + 10); }
uint8_t FixtureGreen(int, int y) { return uint8_t(100 * y + 20); }
uint8_t FixtureBlue(int x, int y) { return uint8_t(250 - 45 * x - 10 * y); }
uint8_t FixtureAlpha(int x, int y) { return uint8_t(30 * x + 60 * y + 5); }

TColor32 Rgb(int x, int y) { return ArgbColor(0xFF, FixtureRed(x, y), FixtureGreen(x, y), FixtureBlue(x, y)); }

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EInvalidGraphic& e) {
    return e.what();
  }
  return "no error";
}

TJpeg2000Bitmap Decode(const std::vector<uint8_t>& bytes) {
  TMemoryStream in(bytes);
  TJpeg2000Bitmap b;
  b.LoadFromStream(in);
  return b;
}

std::vector<uint8_t> Encode(const TBitmap& source, bool lossless, uint8_t quality = 90) {
  TJpeg2000Bitmap encoder;
  encoder.Jp2Lossless = lossless;
  encoder.Jp2Quality = quality;
  encoder.Assign(source);
  TMemoryStream out;
  encoder.SaveToStream(out);
  return out.Take();
}

class Jpeg2000 : public ::testing::Test {
 protected:
  void SetUp() override { RegisterStandardFormats(); }
};

TEST_F(Jpeg2000, FixturesDecodeByContentWithTheirChannelRoles) {
  TTempDir dir;
  // A codestream under the third extension.
  WriteBytes(dir.File("codestream.jpc"), ReadBytes(kData + "codestream-named.jp2"));
  struct Case {
    std::string path;
    TPixelFormat format;
    std::function<TColor32(int, int)> pixel;
  };
  const Case cases[] = {
      {kData + "codestream-named.jp2", TPixelFormat::pf24bit, Rgb},
      {kData + "jp2-named.j2k", TPixelFormat::pf24bit, Rgb},
      {dir.File("codestream.jpc"), TPixelFormat::pf24bit, Rgb},
      // Stored blue, green, red; the channel definitions put them right.
      {kData + "bgr-with-channel-defs.jp2", TPixelFormat::pf24bit, Rgb},
      {kData + "rgba-with-opacity.jp2", TPixelFormat::pf32bit,
       [](int x, int y) { return (Rgb(x, y) & 0xFFFFFF) | TColor32{FixtureAlpha(x, y)} << 24; }},
      // No roles at all: the four channels still come out as red, green, blue, fourth byte.
      {kData + "rgba-without-roles.j2k", TPixelFormat::pf32bit,
       [](int x, int y) { return (Rgb(x, y) & 0xFFFFFF) | TColor32{FixtureAlpha(x, y)} << 24; }},
      // Opacity has no byte in a 24-bit pixel; it must not spill into the next pixel's blue.
      {kData + "opacity-in-three-channels.jp2", TPixelFormat::pf24bit,
       [](int x, int y) { return ArgbColor(0xFF, FixtureRed(x, y), FixtureGreen(x, y), 0); }},
      // Gray with opacity: the first component only.
      {kData + "gray-alpha.jp2", TPixelFormat::pf8bit,
       [](int x, int y) {
         const auto v = uint8_t(50 * x + 20 * y);
         return ArgbColor(0xFF, v, v, v);
       }},
      {kData + "palette.jp2", TPixelFormat::pf24bit,
       [](int x, int y) {
         const TColor32 palette[4] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFAC864};
         return palette[(x + y) % 4];
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    TPicture picture;
    ASSERT_NO_THROW(picture.ReadFromFile(c.path));
    ASSERT_TRUE(picture.Graphic()->Is(TJpeg2000Bitmap::StaticClass()));
    const TBitmap& b = picture.Bitmap();
    ASSERT_EQ(b.Width(), 5);
    ASSERT_EQ(b.Height(), 3);
    EXPECT_EQ(b.PixelFormat(), c.format);
    const std::vector<TColor32> got = Pixels(b);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x)
        EXPECT_EQ(got[size_t(y * 5 + x)], c.pixel(x, y)) << "pixel " << x << "," << y << std::hex;
  }
}

TEST_F(Jpeg2000, DeepAndSignedSamplesScaleToBytes) {
  struct Case {
    std::string file;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      // 4095, 2048, 4094, 16, 0 of 12 bits: scaled by 255 / 4095 and truncated.
      {"gray-12bit.jp2", {255, 127, 254, 0, 0}},
      // -2048, 0, 2047, -1, 1000 of signed 12 bits: offset by 2048 first.
      {"signed-12bit.j2k", {0, 127, 255, 127, 189}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const TJpeg2000Bitmap b = Decode(ReadBytes(kData + c.file));
    ASSERT_EQ(b.PixelFormat(), TPixelFormat::pf8bit);
    ASSERT_EQ(b.Width(), 5);
    ASSERT_EQ(b.Height(), 1);
    EXPECT_EQ(std::vector<uint8_t>(b.ScanLine(0), b.ScanLine(0) + 5), c.bytes);
    EXPECT_EQ(b.Palette()[200], (TRGBQuad{200, 200, 200, 0})) << "a gray palette";
  }
}

TEST_F(Jpeg2000, SubsampledYCbCrIsSpreadOverItsBlocksAndConverted) {
  // Y = 60 + 10x + 40y; Cb, Cr per 2 x 2 block: (128, 128), (200, 60) / (16, 240), (128, 128).
  const TJpeg2000Bitmap b = Decode(ReadBytes(kData + "ycc-subsampled.jp2"));
  ASSERT_EQ(b.PixelFormat(), TPixelFormat::pf24bit);
  const std::vector<TColor32> got = Pixels(b);
  struct Expect {
    int x, y;
    uint8_t r, g, b;
  };
  const Expect expects[] = {
      {0, 0, 60, 60, 60},   {1, 1, 110, 110, 110}, {2, 0, 0, 104, 208}, {3, 1, 35, 154, 255},
      {0, 2, 255, 99, 0},   {1, 3, 255, 149, 0},   {3, 3, 210, 210, 210},
  };
  for (const Expect& e : expects)
    EXPECT_EQ(got[size_t(e.y * 4 + e.x)], ArgbColor(0xFF, e.r, e.g, e.b)) << "pixel " << e.x << "," << e.y;
}

TEST_F(Jpeg2000, RefusesWhatItCannotDecodeAndKeepsThePreviousImage) {
  const std::vector<uint8_t> codestream = ReadBytes(kData + "codestream-named.jp2");
  // The same codestream claiming 60000 x 60000 pixels in one tile: refused before decoding.
  std::vector<uint8_t> bomb = codestream;
  for (size_t at : {8, 12, 24, 28}) {
    const uint8_t big[4] = {0x00, 0x00, 0xEA, 0x60};
    std::memcpy(&bomb[at], big, 4);
  }
  const std::vector<uint8_t> jp2 = ReadBytes(kData + "jp2-named.j2k");
  std::vector<uint8_t> jp2_garbage(jp2.begin(), jp2.begin() + 12);
  jp2_garbage.resize(200, 0x5A);

  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    const char* error;
  };
  const Case cases[] = {
      {"empty", {}, "Unknown JPEG 2000 file type"},
      {"shorter than 8 bytes", {0xFF, 0x4F, 0xFF, 0x51, 0x00, 0x2F}, "Unknown JPEG 2000 file type"},
      {"PNG", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0}, "Unknown JPEG 2000 file type"},
      {"JP2 signature, then nothing usable", jp2_garbage, "JPEG 2000 image decoding failed"},
      {"codestream cut in its main header", std::vector<uint8_t>(codestream.begin(), codestream.begin() + 30),
       "JPEG 2000 image decoding failed"},
      {"size bomb", bomb, "image too large: 60000 \u00D7 60000 exceeds the limit of 1024 MB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TJpeg2000Bitmap b = Decode(codestream);
    TMemoryStream in(c.bytes);
    EXPECT_EQ(ErrorOf([&] { b.LoadFromStream(in); }), c.error);
    EXPECT_EQ(b.Width(), 5);
    EXPECT_EQ(Pixels(b)[7], Rgb(2, 1));
  }
}

// The coded budget is 100 / (115 - quality)² bytes per sample, plus 550 bytes for the file's
// boxes and markers and 142 for each component after the first; the ratio asked of the encoder
// is the samples over that budget.
TEST_F(Jpeg2000, RatioFollowsQuality) {
  struct Case {
    int components;
    bool lossless;
    uint8_t quality;
    double budget;  // bytes, derived by hand for 640 × 480
  };
  const Case cases[] = {
      // 1,228,800 samples × 100 / 25² = 196,608; + 550 + 3 × 142.
      {4, false, 90, 196608.0 + 550 + 426},
      // 921,600 samples × 0.16 = 147,456; + 550 + 2 × 142.
      {3, false, 90, 147456.0 + 550 + 284},
      // 1,228,800 × 100 / 15² = 546,133.3; the best quality still has a budget.
      {4, false, 100, 1228800.0 * 100 / 225 + 550 + 426},
      // Past 100 counts as 100.
      {4, false, 255, 1228800.0 * 100 / 225 + 550 + 426},
      // 921,600 × 100 / 114².
      {3, false, 1, 921600.0 * 100 / 12996 + 550 + 284},
      {4, true, 90, 0},
      {3, true, 10, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.components) + " components, lossless " + std::to_string(c.lossless) + ", quality " +
                 std::to_string(c.quality));
    const double want = c.lossless ? 0.0 : 640.0 * 480 * c.components / c.budget;
    EXPECT_NEAR(TJpeg2000Bitmap::CompressionRatio(640, 480, c.components, c.lossless, c.quality), want, want * 1e-5);
  }
  // A lower quality never asks for a larger file.
  for (int q = 2; q <= 100; ++q)
    EXPECT_GT(TJpeg2000Bitmap::CompressionRatio(640, 480, 3, false, uint8_t(q - 1)),
              TJpeg2000Bitmap::CompressionRatio(640, 480, 3, false, uint8_t(q)))
        << q;
}

TEST_F(Jpeg2000, LossyFileKeepsToTheRateBudget) {
  // Noise leaves the encoder nothing to spare, so the budget decides the size.
  std::mt19937 random(7);
  const TBitmap noise = MakeBitmap32(640, 480, [&](int, int) { return TColor32(random()); });
  const std::vector<uint8_t> file = Encode(noise, false, 90);
  const double budget = 197584;
  EXPECT_LE(double(file.size()), budget * 1.01);
  EXPECT_GE(double(file.size()), budget * 0.9);
  const std::vector<uint8_t> lossless = Encode(noise, true);
  EXPECT_GT(double(lossless.size()), 640.0 * 480 * 4 * 0.95) << "noise does not compress";

  const TJpeg2000Bitmap back = Decode(file);
  EXPECT_EQ(back.Width(), 640);
  EXPECT_EQ(back.PixelFormat(), TPixelFormat::pf32bit);
}

TEST_F(Jpeg2000, LosslessRoundTripKeepsEveryByte) {
  struct Case {
    const char* what;
    TBitmap source;
    TPixelFormat decoded;
  };
  TBitmap rgb = MakeBitmap32(37, 33, test::PatternPixel);
  rgb.SetPixelFormat(TPixelFormat::pf24bit);
  TBitmap indexed = MakeBitmap32(40, 32, test::PatternPixel);
  indexed.SetPixelFormat(TPixelFormat::pf8bit);
  const Case cases[] = {
      {"32-bit with a fourth byte of its own", MakeBitmap32(64, 40, [](int x, int y) {
         return ArgbColor(uint8_t(x * 5 + y), uint8_t(x * 3), uint8_t(y * 7), uint8_t(x ^ y));
       }), TPixelFormat::pf32bit},
      {"24-bit", rgb, TPixelFormat::pf24bit},
      {"8-bit palette, written as its colours", indexed, TPixelFormat::pf24bit},
      // Smaller than the six resolution levels allow.
      {"2 x 1", MakeBitmap32(2, 1, [](int x, int) { return x ? 0x80FF0001u : 0x7F00FE02u; }), TPixelFormat::pf32bit},
      {"1 x 40", MakeBitmap32(1, 40, test::PatternPixel), TPixelFormat::pf32bit},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TMemoryStream stream;
    stream.Write("junk", 4);
    {
      TJpeg2000Bitmap encoder;
      encoder.Jp2Lossless = true;
      encoder.Assign(c.source);
      ASSERT_NO_THROW(encoder.SaveToStream(stream));
    }
    stream.Write("tail", 4);
    stream.Seek(4);
    TJpeg2000Bitmap back;
    back.LoadFromStream(stream);
    EXPECT_EQ(back.PixelFormat(), c.decoded);
    EXPECT_EQ(Pixels(back), Pixels(c.source));
  }
}

// The boxes of a JP2 file: type, then contents, recursing into the header box.
struct TBox {
  std::string type;
  std::vector<uint8_t> contents;
};
std::vector<TBox> Boxes(const uint8_t* p, size_t size) {
  std::vector<TBox> boxes;
  size_t at = 0;
  while (at + 8 <= size) {
    const size_t length = size_t(p[at]) << 24 | size_t(p[at + 1]) << 16 | size_t(p[at + 2]) << 8 | p[at + 3];
    if (length < 8 || at + length > size) break;
    boxes.push_back({std::string(reinterpret_cast<const char*>(p + at + 4), 4),
                     std::vector<uint8_t>(p + at + 8, p + at + length)});
    at += length;
  }
  return boxes;
}

TEST_F(Jpeg2000, FileNamesItsChannels) {
  struct Case {
    TPixelFormat format;
    std::vector<uint8_t> cdef;
  };
  const Case cases[] = {
      {TPixelFormat::pf24bit, {0, 3, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 2, 0, 2, 0, 0, 0, 3}},
      {TPixelFormat::pf32bit, {0, 4, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 2, 0, 2, 0, 0, 0, 3, 0, 3, 0, 1, 0, 0}},
  };
  for (const Case& c : cases) {
    TBitmap source = MakeBitmap32(40, 36, test::PatternPixel);
    source.SetPixelFormat(c.format);
    const std::vector<uint8_t> file = Encode(source, false);
    const std::vector<TBox> top = Boxes(file.data(), file.size());
    ASSERT_EQ(top.size(), 4u);
    EXPECT_EQ(top[0].type, "jP  ");
    EXPECT_EQ(top[1].type, "ftyp");
    EXPECT_EQ(top[2].type, "jp2h");
    EXPECT_EQ(top[3].type, "jp2c");
    const std::vector<TBox> header = Boxes(top[2].contents.data(), top[2].contents.size());
    ASSERT_EQ(header.size(), 3u);
    EXPECT_EQ(header[0].type, "ihdr");
    EXPECT_EQ(header[1].type, "colr");
    EXPECT_EQ(header[1].contents, (std::vector<uint8_t>{1, 0, 0, 0, 0, 0, 16})) << "enumerated sRGB";
    EXPECT_EQ(header[2].type, "cdef");
    EXPECT_EQ(header[2].contents, c.cdef);
  }
}


TEST_F(Jpeg2000, OpenJpegToolsReadOurFiles) {
  if (!HaveTool("opj_decompress") || !HaveTool("opj_dump")) GTEST_SKIP() << "libopenjp2-tools not installed";
  TTempDir dir;
  const int w = 45, h = 38;
  const TBitmap source = MakeBitmap32(w, h, [](int x, int y) {
    return ArgbColor(uint8_t(x * 5 + y), uint8_t(x * 3), uint8_t(y * 7), uint8_t(x ^ y));
  });
  WriteBytes(dir.File("lossless.jp2"), Encode(source, true));

  // Planar output, one byte per sample: red, green, blue, then the opacity channel.
  ASSERT_EQ(std::system(("opj_decompress -i '" + dir.File("lossless.jp2") + "' -o '" + dir.File("out.raw") +
                         "' >/dev/null 2>&1").c_str()),
            0);
  const std::vector<uint8_t> planes = ReadBytes(dir.File("out.raw"));
  ASSERT_EQ(planes.size(), size_t(w * h * 4));
  const std::vector<TColor32> pixels = Pixels(source);
  for (int i = 0; i < w * h; ++i) {
    const TColor32 c = pixels[size_t(i)];
    const TColor32 got = ArgbColor(planes[size_t(3 * w * h + i)], planes[size_t(i)], planes[size_t(w * h + i)],
                                   planes[size_t(2 * w * h + i)]);
    ASSERT_EQ(got, c) << "pixel " << i % w << "," << i / w;
  }

  // The coding parameters as the reference sees them.
  const std::string dump = RunAndCapture("opj_dump -i '" + dir.File("lossless.jp2") + "' 2>/dev/null");
  for (const char* expected : {"numlayers=1", "mct=0", "numresolutions=6", "qmfbid=1", "prg=0", "tw=1, th=1",
                               "cblkw=2^6", "cblkh=2^6"})
    EXPECT_NE(dump.find(expected), std::string::npos) << expected << "\n" << dump;
}

TEST_F(Jpeg2000, EmptyBitmapCannotBeSaved) {
  TJpeg2000Bitmap empty;
  TMemoryStream out;
  EXPECT_EQ(ErrorOf([&] { empty.SaveToStream(out); }), "Failed to create JPEG 2000 image struct for saving");
  EXPECT_EQ(out.Size(), 0);
}

}  // namespace
}  // namespace pellavo
