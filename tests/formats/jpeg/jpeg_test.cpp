#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/errors.h"
#include "formats/all/standard_formats.h"
#include "formats/jpeg/jpeg.h"
#include "formats/jpeg/jpeg_encode.h"
#include "formats/jpeg/jpeg_lib.h"
#include "formats/picture.h"
#include "formats/registry.h"
#include "support/images.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

using test::MakeBitmap32;
using test::Pixels;
using Bytes = std::vector<uint8_t>;

const char kProgressiveFixture[] = "tests/data/jpeg/progressive-with-comment.jpg";
const char kYcckFixture[] = "tests/data/jpeg/adobe-ycck-bars.jpg";

// A smooth picture: what JPEG is made for, so errors stay small and stable.
TColor32 SmoothPixel(int32_t x, int32_t y) {
  return ArgbColor(0xFF, uint8_t(40 + x * 3), uint8_t(30 + y * 4), uint8_t(200 - x - y));
}

Bytes Encode(const TBitmap& bitmap, int quality = 90, bool progressive = false, bool gray = false) {
  return test::EncodeJpeg(bitmap, quality, progressive, gray);
}

std::unique_ptr<TJPEGImage> Load(const Bytes& bytes) {
  auto jpeg = std::make_unique<TJPEGImage>();
  TMemoryStream s(bytes);
  jpeg->LoadFromStream(s);
  return jpeg;
}

TBitmap Decode(const TJPEGImage& jpeg) {
  TBitmap b;
  b.Assign(jpeg);
  return b;
}

// Draws the image the way the worker does: whole, unscaled, onto transparent black.
std::vector<TColor32> DrawWhole(TJPEGImage& jpeg) {
  std::vector<TColor32> pixels(size_t(jpeg.Width()) * size_t(jpeg.Height()), 0);
  jpeg.Draw(TPixels32{pixels.data(), jpeg.Width(), jpeg.Height()}, TRect{0, 0, jpeg.Width(), jpeg.Height()});
  return pixels;
}

int MaxChannelError(TColor32 a, TColor32 b) {
  return std::max({std::abs(RedOf(a) - RedOf(b)), std::abs(GreenOf(a) - GreenOf(b)), std::abs(BlueOf(a) - BlueOf(b))});
}

// Offset of the first frame header (baseline or progressive).
size_t FindFrameHeader(const Bytes& f) {
  for (size_t i = 2; i + 9 < f.size(); ++i)
    if (f[i] == 0xFF && (f[i + 1] == 0xC0 || f[i + 1] == 0xC2)) return i;
  ADD_FAILURE() << "no frame header";
  return 0;
}

// The same file with its header claiming another size.
Bytes WithSize(Bytes f, int w, int h) {
  const size_t sof = FindFrameHeader(f);
  f[sof + 5] = uint8_t(h >> 8);
  f[sof + 6] = uint8_t(h);
  f[sof + 7] = uint8_t(w >> 8);
  f[sof + 8] = uint8_t(w);
  return f;
}

// A four-channel file of the given samples, 4 bytes a pixel, written as they are. adobe adds the
// marker by which a reader knows the samples are stored inverted (255 = no ink).
Bytes EncodeFourChannels(int w, int h, const Bytes& samples, J_COLOR_SPACE stored_as, bool adobe) {
  Bytes out;
  jpeg_detail::TCompressor comp(out);
  jpeg_compress_struct& c = comp.Info();
  c.image_width = JDIMENSION(w);
  c.image_height = JDIMENSION(h);
  c.input_components = 4;
  c.in_color_space = JCS_CMYK;
  std::vector<JSAMPROW> rows;
  for (int y = 0; y < h; ++y) rows.push_back(const_cast<JSAMPROW>(samples.data() + size_t(y) * size_t(w) * 4));
  comp.Run([&] {
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 100, TRUE);
    jpeg_set_colorspace(&c, stored_as);
    c.write_Adobe_marker = adobe ? TRUE : FALSE;
    jpeg_start_compress(&c, TRUE);
    jpeg_write_scanlines(&c, rows.data(), JDIMENSION(h));
    jpeg_finish_compress(&c);
  });
  return out;
}

struct TInk {
  const char* name;
  uint8_t c, m, y, k;  // 255 = full ink
  TColor32 rgb;
};

// Bars 8 pixels wide, one block each, so that every bar is flat inside its blocks.
const TInk kInks[] = {
    {"cyan", 255, 0, 0, 0, 0xFF00FFFF},    {"magenta", 0, 255, 0, 0, 0xFFFF00FF}, {"yellow", 0, 0, 255, 0, 0xFFFFFF00},
    {"black", 0, 0, 0, 255, 0xFF000000},   {"blue", 255, 255, 0, 0, 0xFF0000FF},  {"half black", 0, 0, 0, 128, 0xFF7F7F7F},
    {"white", 0, 0, 0, 0, 0xFFFFFFFF},     {"red", 0, 255, 255, 0, 0xFFFF0000},
};
constexpr int kInkCount = int(std::size(kInks));

Bytes InkSamples(bool inverted) {
  Bytes s;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8 * kInkCount; ++x) {
      const TInk& ink = kInks[x / 8];
      for (uint8_t v : {ink.c, ink.m, ink.y, ink.k}) s.push_back(inverted ? uint8_t(255 - v) : v);
    }
  return s;
}

TEST(JpegFormat, RegisteredUnderBothExtensions) {
  RegisterStandardFormats();
  EXPECT_EQ(FindByExtension("jpeg"), &TJPEGImage::StaticClass());
  EXPECT_EQ(FindByExtension("JPG"), &TJPEGImage::StaticClass());
  EXPECT_NE(FileFormatFilter(TGraphic::StaticClass())
                .find("JPEG Image File (*.jpg)|*.jpg|JPEG Image File (*.jpeg)|*.jpeg|Bitmaps (*.bmp)|*.bmp"),
            std::string::npos);

  test::TTempDir dir;
  test::WriteBytes(dir.File("photo.JPG"), Encode(MakeBitmap32(5, 3, SmoothPixel)));
  TPicture picture;
  picture.ReadFromFile(dir.File("photo.JPG"));
  ASSERT_TRUE(picture.Graphic()->Is(TJPEGImage::StaticClass()));
  EXPECT_EQ(picture.Width(), 5);
  EXPECT_EQ(picture.Height(), 3);
}

TEST(JpegDecode, ScaledSizesRoundUp) {
  struct Case {
    int w, h;
    TJPEGScale scale;
    int sw, sh;
  };
  const Case cases[] = {
      {13, 7, TJPEGScale::jsFullSize, 13, 7}, {13, 7, TJPEGScale::jsHalf, 7, 4},
      {13, 7, TJPEGScale::jsQuarter, 4, 2},   {13, 7, TJPEGScale::jsEighth, 2, 1},
      {17, 9, TJPEGScale::jsEighth, 3, 2},    {1, 1, TJPEGScale::jsEighth, 1, 1},
      {33, 1, TJPEGScale::jsQuarter, 9, 1},   {16, 16, TJPEGScale::jsHalf, 8, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " scale " + std::to_string(int(c.scale)));
    const Bytes file = Encode(MakeBitmap32(c.w, c.h, SmoothPixel));
    auto jpeg = Load(file);
    jpeg->SetDecodeScale(c.scale);
    // Before anything is decoded the size comes from the header alone ...
    EXPECT_EQ(jpeg->Width(), c.sw);
    EXPECT_EQ(jpeg->Height(), c.sh);
    EXPECT_FALSE(jpeg->HasBitmap());
    // ... and it is the size the decoded bitmap gets.
    const TBitmap b = Decode(*jpeg);
    EXPECT_EQ(b.Width(), c.sw);
    EXPECT_EQ(b.Height(), c.sh);
    EXPECT_EQ(jpeg->Width(), c.sw);
  }

  // Large photos, known from their headers only.
  const Bytes small = Encode(MakeBitmap32(16, 16, SmoothPixel));
  struct Header {
    int w, h, sw, sh;
  };
  for (const Header& c : {Header{4000, 3000, 500, 375}, Header{4001, 3001, 501, 376}}) {
    auto jpeg = Load(WithSize(small, c.w, c.h));
    EXPECT_EQ(jpeg->Width(), c.w);
    EXPECT_EQ(jpeg->Height(), c.h);
    jpeg->SetDecodeScale(TJPEGScale::jsEighth);
    EXPECT_EQ(jpeg->Width(), c.sw) << c.w;
    EXPECT_EQ(jpeg->Height(), c.sh) << c.h;
  }
}

TEST(JpegDecode, NewScaleDiscardsTheDecodedBitmap) {
  auto jpeg = Load(Encode(MakeBitmap32(32, 16, SmoothPixel)));
  EXPECT_EQ(Decode(*jpeg).Width(), 32);
  ASSERT_TRUE(jpeg->HasBitmap());
  jpeg->SetDecodeScale(TJPEGScale::jsHalf);
  EXPECT_FALSE(jpeg->HasBitmap());
  EXPECT_EQ(Decode(*jpeg).Width(), 16);
}

TEST(JpegDecode, EightBitOutputsUseAPaletteOfAtMost236Colours) {
  // Every grey level once, and a colour ramp.
  const TBitmap greys = MakeBitmap32(256, 8, [](int x, int) { return ArgbColor(0xFF, uint8_t(x), uint8_t(x), uint8_t(x)); });
  const TBitmap colours = MakeBitmap32(64, 32, SmoothPixel);
  struct Case {
    const char* name;
    const TBitmap* source;
    bool gray_file, gray_output, eight_bit;
    bool gray_palette;
    int tolerance;  // dithering to fewer levels moves single pixels (measured: 1, 2 and 18)
  };
  const Case cases[] = {
      {"greyscale file", &greys, true, false, false, true, 4},
      {"colour file, grey output", &colours, false, true, false, true, 6},
      {"colour file, 8-bit depth", &colours, false, false, true, false, 32},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes file = Encode(*c.source, 95, false, c.gray_file);
    auto jpeg = Load(file);
    EXPECT_EQ(jpeg->Data()->Grayscale, c.gray_file);
    jpeg->SetGrayOutput(c.gray_output);
    jpeg->SetDecodeDepth(c.eight_bit ? TJPEGPixelFormat::jf8Bit : TJPEGPixelFormat::jf24Bit);
    const TBitmap b = Decode(*jpeg);
    ASSERT_EQ(b.PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_LE(b.Palette().size(), 236u);
    EXPECT_GE(b.Palette().size(), 2u);
    if (c.gray_palette) {
      for (const TRGBQuad& q : b.Palette()) {
        EXPECT_EQ(q.Red, q.Green);
        EXPECT_EQ(q.Red, q.Blue);
      }
    }
    const std::vector<TColor32> got = Pixels(b), want = Pixels(*c.source);
    ASSERT_EQ(got.size(), want.size());
    int worst = 0;
    for (size_t i = 0; i < got.size(); ++i) {
      TColor32 expected = want[i];
      if (c.gray_output) {
        const uint8_t v = uint8_t((RedOf(expected) * 299 + GreenOf(expected) * 587 + BlueOf(expected) * 114 + 500) / 1000);
        expected = ArgbColor(0xFF, v, v, v);
      }
      worst = std::max(worst, MaxChannelError(got[i], expected));
    }
    EXPECT_LE(worst, c.tolerance);
    // Drawing goes through the same palette bitmap.
    EXPECT_EQ(DrawWhole(*jpeg), got);
  }
}

TEST(JpegDecode, FourChannelFilesGiveTheirColours) {
  constexpr int kTolerance = 3;
  struct Case {
    const char* name;
    J_COLOR_SPACE stored_as;
    bool adobe;
  };
  const Case cases[] = {
      {"plain CMYK", JCS_CMYK, false},
      {"Adobe CMYK, inverted", JCS_CMYK, true},
      {"Adobe YCCK, inverted", JCS_YCCK, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes file = EncodeFourChannels(8 * kInkCount, 8, InkSamples(c.adobe), c.stored_as, c.adobe);
    for (bool through_bitmap : {false, true}) {
      SCOPED_TRACE(through_bitmap ? "bitmap" : "direct");
      auto jpeg = Load(file);
      std::vector<TColor32> pixels;
      if (through_bitmap) {
        pixels = Pixels(Decode(*jpeg));
      } else {
        pixels = DrawWhole(*jpeg);
        EXPECT_FALSE(jpeg->HasBitmap());
      }
      ASSERT_EQ(pixels.size(), size_t(8 * kInkCount * 8));
      for (int i = 0; i < kInkCount; ++i) {
        const TColor32 got = pixels[size_t(4 * 8 * kInkCount + 8 * i + 4)];
        EXPECT_LE(MaxChannelError(got, kInks[i].rgb), kTolerance) << kInks[i].name << std::hex << " got " << got;
        EXPECT_EQ(AlphaOf(got), 0xFF);
      }
    }
    // Grey output turns the colours into their grey values.
    auto jpeg = Load(file);
    jpeg->SetGrayOutput(true);
    for (TColor32 p : DrawWhole(*jpeg)) EXPECT_TRUE(RedOf(p) == GreenOf(p) && GreenOf(p) == BlueOf(p));
  }

  // An independent encoder's Adobe YCCK file: cyan, magenta, yellow and black bars.
  auto jpeg = Load(test::ReadBytes(kYcckFixture));
  const std::vector<TColor32> pixels = Pixels(Decode(*jpeg));
  const TColor32 bars[] = {0xFF00FFFF, 0xFFFF00FF, 0xFFFFFF00, 0xFF000000};
  for (int i = 0; i < 4; ++i)
    EXPECT_LE(MaxChannelError(pixels[size_t(8 * 32 + 8 * i + 4)], bars[i]), kTolerance) << i;
}

TEST(JpegDecode, DirectDrawMatchesTheBitmapPath) {
  const Bytes baseline = Encode(MakeBitmap32(61, 37, test::PatternPixel));
  const Bytes progressive = Encode(MakeBitmap32(61, 37, test::PatternPixel), 90, true);
  const Bytes cmyk = EncodeFourChannels(8 * kInkCount, 8, InkSamples(true), JCS_YCCK, true);
  const Bytes fixture = test::ReadBytes(kProgressiveFixture);
  struct Case {
    const char* name;
    const Bytes* file;
  };
  for (const Case& c : {Case{"baseline", &baseline}, Case{"progressive", &progressive}, Case{"YCCK", &cmyk},
                        Case{"other encoder", &fixture}}) {
    for (TJPEGScale scale : {TJPEGScale::jsFullSize, TJPEGScale::jsHalf, TJPEGScale::jsQuarter, TJPEGScale::jsEighth}) {
      SCOPED_TRACE(std::string(c.name) + " scale " + std::to_string(int(scale)));
      auto direct = Load(*c.file);
      direct->SetDecodeScale(scale);
      const std::vector<TColor32> fast = DrawWhole(*direct);
      EXPECT_FALSE(direct->HasBitmap()) << "drawn without a bitmap";

      auto through = Load(*c.file);
      through->SetDecodeScale(scale);
      const TBitmap b = Decode(*through);
      ASSERT_TRUE(through->HasBitmap());
      EXPECT_EQ(b.PixelFormat(), TPixelFormat::pf24bit);
      EXPECT_EQ(DrawWhole(*through), fast);
      EXPECT_EQ(Pixels(b), fast);
      for (TColor32 p : fast) ASSERT_EQ(AlphaOf(p), 0xFF);
    }
  }

  // Placed inside a larger target, the image lands at its place and leaves the rest alone.
  auto jpeg = Load(baseline);
  const std::vector<TColor32> whole = DrawWhole(*jpeg);
  const int tw = 70, th = 40;
  std::vector<TColor32> target(size_t(tw * th), 0x12345678);
  jpeg->Draw(TPixels32{target.data(), tw, th}, TRect{5, 2, 66, 39});
  EXPECT_FALSE(jpeg->HasBitmap());
  for (int y = 0; y < th; ++y)
    for (int x = 0; x < tw; ++x) {
      const bool inside = x >= 5 && x < 66 && y >= 2 && y < 39;
      ASSERT_EQ(target[size_t(y * tw + x)], inside ? whole[size_t((y - 2) * 61 + x - 5)] : 0x12345678u) << x << "," << y;
    }

  // A stretched or clipped draw needs the bitmap.
  std::vector<TColor32> small(20 * 10);
  jpeg->Draw(TPixels32{small.data(), 20, 10}, TRect{0, 0, 61, 37});
  EXPECT_TRUE(jpeg->HasBitmap());
  EXPECT_EQ(small[size_t(9 * 20 + 19)], whole[size_t(9 * 61 + 19)]);
}

TEST(JpegDecode, StagedAndFastSettingsStillGiveThePicture) {
  const TBitmap source = MakeBitmap32(48, 40, SmoothPixel);
  const Bytes colour = Encode(source, 90, true);
  const Bytes gray = Encode(source, 90, true, true);
  struct Case {
    const char* name;
    const Bytes* file;
    TJPEGPixelFormat depth;
    // How far the quick settings may stray (measured: 3, and 55 where the colour cube with
    // ordered dithering stands in for a palette chosen for the picture).
    int quick_tolerance;
  };
  const Case cases[] = {
      {"colour", &colour, TJPEGPixelFormat::jf24Bit, 8},
      {"grey", &gray, TJPEGPixelFormat::jf24Bit, 8},
      {"colour to a palette", &colour, TJPEGPixelFormat::jf8Bit, 64},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto load = [&](bool staged, TJPEGPerformance speed) {
      auto jpeg = Load(*c.file);
      jpeg->SetDecodeDepth(c.depth);
      jpeg->SetStagedDisplay(staged);
      jpeg->SetDecodeSpeed(speed);
      return jpeg;
    };
    auto plain = load(false, TJPEGPerformance::jpBestQuality);
    EXPECT_TRUE(plain->ProgressiveOutput()) << "taken from the file";
    const std::vector<TColor32> reference = Pixels(Decode(*plain));

    // Scan by scan: early stages are rough, the last is the picture a single pass gives.
    auto staged = load(true, TJPEGPerformance::jpBestQuality);
    std::vector<std::vector<TColor32>> stages;
    staged->SetStageHandler([&](const TBitmap& stage) { stages.push_back(Pixels(stage)); });
    EXPECT_EQ(Pixels(Decode(*staged)), reference);
    ASSERT_GE(stages.size(), 3u);
    EXPECT_NE(stages.front(), reference);
    EXPECT_EQ(stages.back(), reference);
    EXPECT_EQ(Pixels(Decode(*load(true, TJPEGPerformance::jpBestSpeed))),
              Pixels(Decode(*load(false, TJPEGPerformance::jpBestSpeed))));

    // The quick settings stay close to the accurate ones.
    for (bool smoothing : {true, false}) {
      auto other = load(false, TJPEGPerformance::jpBestSpeed);
      other->SetBlockSmoothing(smoothing);
      const std::vector<TColor32> got = Pixels(Decode(*other));
      ASSERT_EQ(got.size(), reference.size());
      int worst = 0;
      for (size_t i = 0; i < got.size(); ++i) worst = std::max(worst, MaxChannelError(got[i], reference[i]));
      EXPECT_LE(worst, c.quick_tolerance);
    }
  }
}

TEST(JpegDecode, DamagedFilesRaiseEJPEG) {
  const Bytes good = Encode(MakeBitmap32(40, 24, test::PatternPixel));
  const Bytes progressive = Encode(MakeBitmap32(40, 24, test::PatternPixel), 90, true);
  const auto find = [](const Bytes& f, uint8_t marker) {
    for (size_t i = 0; i + 1 < f.size(); ++i)
      if (f[i] == 0xFF && f[i + 1] == marker) return i;
    return f.size();
  };
  const size_t sos = find(good, 0xDA);
  ASSERT_LT(sos + 40, good.size());
  const auto cut = [](const Bytes& f, size_t n) { return Bytes(f.begin(), f.begin() + long(n)); };
  const auto patch = [](Bytes f, size_t at, uint8_t v) {
    f[at] = v;
    return f;
  };
  const size_t sof = FindFrameHeader(good);

  struct Case {
    const char* name;
    Bytes file;
  };
  const Case cases[] = {
      {"not a JPEG", Bytes{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13}},
      {"cut inside the tables", cut(good, 30)},
      {"cut before the scan", cut(good, sos)},
      {"cut halfway through the scan", cut(good, sos + (good.size() - sos) / 2)},
      {"cut shortly before the end", cut(good, good.size() - 12)},
      {"progressive, cut inside a scan", cut(progressive, progressive.size() * 2 / 3)},
      {"12-bit samples", patch(good, sof + 4, 12)},
      {"zero width", WithSize(good, 0, 24)},
      {"no such Huffman table", patch(good, sos + 6, 0x33)},
  };
  const auto is_library_error = [](const std::string& text) {
    const std::string prefix = "JPEG error #";
    return text.size() > prefix.size() && text.compare(0, prefix.size(), prefix) == 0 &&
           text.find_first_not_of("0123456789", prefix.size()) == std::string::npos;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool through_bitmap : {false, true}) {
      std::string error;
      try {
        auto jpeg = Load(c.file);
        if (through_bitmap)
          Decode(*jpeg);
        else
          DrawWhole(*jpeg);
      } catch (const EInvalidGraphic& e) {
        EXPECT_NE(dynamic_cast<const EJPEG*>(&e), nullptr);
        error = e.what();
      }
      EXPECT_TRUE(is_library_error(error)) << "got \"" << error << "\"";
    }
  }

  // A file that lacks only its end marker is whole.
  auto reference = Load(good);
  auto no_end = Load(cut(good, good.size() - 2));
  EXPECT_EQ(DrawWhole(*no_end), DrawWhole(*reference));
  EXPECT_EQ(Pixels(Decode(*no_end)), DrawWhole(*reference));
}

TEST(JpegDecode, HugeClaimedSizeFailsWithoutExhaustingMemory) {
  // A few hundred bytes claiming 30000 x 30000 progressive pixels: the coefficients alone would
  // need 2.7 GB, refused before any is allocated.
  auto jpeg = Load(WithSize(Encode(MakeBitmap32(16, 16, SmoothPixel), 90, true), 30000, 30000));
  jpeg->SetDecodeScale(TJPEGScale::jsEighth);
  EXPECT_EQ(jpeg->Width(), 3750);
  try {
    Decode(*jpeg);
    ADD_FAILURE() << "decoded";
  } catch (const EImageTooLarge& e) {
    EXPECT_STREQ(e.what(), "progressive JPEG needs 2575 MB of coefficient memory; the limit is 1024 MB");
  }
}

TEST(JpegDecode, EmptyFileGivesAnEmptyImage) {
  auto jpeg = Load({});
  EXPECT_TRUE(jpeg->Empty());
  EXPECT_EQ(jpeg->Width(), 0);
  EXPECT_EQ(Decode(*jpeg).Width(), 0);
  TMemoryStream s;
  jpeg->SaveToStream(s);
  EXPECT_EQ(s.Size(), 0);
}

TEST(JpegEncode, QualityNinetyIsABaselineFileCloseToTheInput) {
  // Measured: worst channel error 5, mean 0.8, on this picture.
  constexpr int kWorstError = 8;
  constexpr double kMeanError = 1.5;
  const TBitmap source = MakeBitmap32(64, 48, SmoothPixel);
  const Bytes file = Encode(source);
  ASSERT_GT(file.size(), 20u);
  EXPECT_EQ(file[0], 0xFF);
  EXPECT_EQ(file[1], 0xD8);
  EXPECT_EQ(std::string(file.begin() + 6, file.begin() + 11), std::string("JFIF\0", 5));
  const size_t sof = FindFrameHeader(file);
  EXPECT_EQ(file[sof + 1], 0xC0) << "baseline";
  ASSERT_EQ(file[sof + 9], 3) << "three components";
  EXPECT_EQ(file[sof + 11], 0x22) << "luminance sampled at twice the chrominance";
  EXPECT_EQ(file[sof + 14], 0x11);
  EXPECT_EQ(file[sof + 17], 0x11);

  auto jpeg = Load(file);
  EXPECT_FALSE(jpeg->ProgressiveOutput());
  const std::vector<TColor32> got = DrawWhole(*jpeg), want = Pixels(source);
  int worst = 0;
  double total = 0;
  for (size_t i = 0; i < got.size(); ++i) {
    worst = std::max(worst, MaxChannelError(got[i], want[i]));
    total += std::abs(RedOf(got[i]) - RedOf(want[i])) + std::abs(GreenOf(got[i]) - GreenOf(want[i])) +
             std::abs(BlueOf(got[i]) - BlueOf(want[i]));
  }
  EXPECT_LE(worst, kWorstError);
  EXPECT_LE(total / double(got.size() * 3), kMeanError);

  // Lower quality, smaller file; progressive output holds the same picture.
  EXPECT_LT(Encode(source, 50).size(), file.size());
  const Bytes progressive = Encode(source, 90, true);
  EXPECT_EQ(progressive[FindFrameHeader(progressive) + 1], 0xC2);
  EXPECT_EQ(DrawWhole(*Load(progressive)), got);
}

TEST(JpegEncode, ImageMagickReadsOurOutput) {
  if (std::system("convert -version > /dev/null 2>&1") != 0) GTEST_SKIP() << "ImageMagick is not installed";
  test::TTempDir dir;
  const TBitmap source = MakeBitmap32(64, 48, SmoothPixel);
  test::WriteBytes(dir.File("out.jpg"), Encode(source));
  const std::string command = "convert " + dir.File("out.jpg") + " -depth 8 rgb:" + dir.File("out.rgb");
  ASSERT_EQ(std::system(command.c_str()), 0);
  const Bytes rgb = test::ReadBytes(dir.File("out.rgb"));
  const std::vector<TColor32> want = Pixels(source);
  ASSERT_EQ(rgb.size(), want.size() * 3);
  for (size_t i = 0; i < want.size(); ++i)
    ASSERT_LE(MaxChannelError(ArgbColor(0xFF, rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]), want[i]), 8) << i;
}

TEST(JpegEncode, BitmapRowsOfAnyDepthGiveTheBytesOfTheir24BitForm) {
  // The fourth byte varies and must not matter.
  const TBitmap wide = MakeBitmap32(45, 29, [](int x, int y) { return test::PatternPixel(x, y) ^ (uint32_t(x * y) << 24); });
  TBitmap eight = wide;
  eight.SetPixelFormat(TPixelFormat::pf8bit);
  TBitmap sixteen = wide;
  sixteen.SetPixelFormat(TPixelFormat::pf16bit);
  for (const TBitmap* b : {&wide, static_cast<const TBitmap*>(&eight), static_cast<const TBitmap*>(&sixteen)}) {
    TBitmap rgb = *b;
    rgb.SetPixelFormat(TPixelFormat::pf24bit);
    for (bool progressive : {false, true})
      for (bool gray : {false, true})
        EXPECT_EQ(Encode(*b, 90, progressive, gray), Encode(rgb, 90, progressive, gray))
            << b->BitsPerPixel() << " bits, progressive " << progressive << ", grey " << gray;
  }
}

TEST(JpegEncode, EmptyBitmapWritesAZeroByteFile) {
  test::TTempDir dir;
  TJPEGImage jpeg;
  jpeg.Assign(TBitmap(0, 0, TPixelFormat::pf32bit));
  jpeg.WriteToFile(dir.File("empty.jpg"));
  EXPECT_TRUE(test::ReadBytes(dir.File("empty.jpg")).empty());
  TJPEGImage wide_only;
  wide_only.Assign(TBitmap(10, 0, TPixelFormat::pf24bit));
  TMemoryStream s;
  wide_only.SaveToStream(s);
  EXPECT_EQ(s.Size(), 0);
  TJPEGImage nothing;
  nothing.SaveToStream(s);
  EXPECT_EQ(s.Size(), 0);
}

TEST(JpegImage, UnchangedImageIsWrittenBackByteForByte) {
  const Bytes file = test::ReadBytes(kProgressiveFixture);
  auto jpeg = Load(file);
  EXPECT_TRUE(jpeg->ProgressiveOutput());
  EXPECT_EQ(jpeg->Width(), 48);
  DrawWhole(*jpeg);
  Decode(*jpeg);
  jpeg->SetJpegQuality(50);  // loaded bytes are not recompressed
  TMemoryStream out;
  jpeg->SaveToStream(out);
  EXPECT_EQ(out.Bytes(), file);

  // A copy shares the bytes.
  TJPEGImage copy;
  copy.Assign(*jpeg);
  EXPECT_EQ(copy.Data(), jpeg->Data());
  EXPECT_TRUE(copy.HasBitmap());
  TMemoryStream copied;
  copy.SaveToStream(copied);
  EXPECT_EQ(copied.Bytes(), file);
}

TEST(JpegImage, SizeCannotBeSet) {
  auto jpeg = Load(Encode(MakeBitmap32(4, 4, SmoothPixel)));
  for (bool width : {true, false}) {
    try {
      if (width)
        jpeg->SetWidth(10);
      else
        jpeg->SetHeight(10);
      ADD_FAILURE() << "no error";
    } catch (const EInvalidGraphicOperation& e) {
      EXPECT_STREQ(e.what(), "Cannot change the size of a JPEG image");
    }
  }
  EXPECT_EQ(jpeg->Width(), 4);
}

TEST(JpegImage, BitmapToCompressSurvivesSettingChanges) {
  const TBitmap source = MakeBitmap32(40, 30, SmoothPixel);
  TJPEGImage jpeg;
  jpeg.Assign(source);
  // A scale means nothing to a bitmap that has not been compressed: the image stays.
  jpeg.SetDecodeScale(TJPEGScale::jsHalf);
  EXPECT_EQ(jpeg.Width(), 40);
  TMemoryStream first;
  jpeg.SaveToStream(first);
  EXPECT_EQ(first.Bytes(), Encode(source));

  // Bytes made from the bitmap are remade when a compression setting changes.
  jpeg.SetJpegQuality(40);
  TMemoryStream second;
  jpeg.SaveToStream(second);
  EXPECT_EQ(second.Bytes(), Encode(source, 40));
  jpeg.SetProgressiveOutput(true);
  TMemoryStream third;
  jpeg.SaveToStream(third);
  EXPECT_EQ(third.Bytes(), Encode(source, 40, true));
}

}  // namespace
}  // namespace pellavo
