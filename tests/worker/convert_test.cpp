#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>

#include "batch/batch_run.h"
#include "core/decode_limits.h"
#include "core/errors.h"
#include "formats/all/standard_formats.h"
#include "formats/bmp/bitmap.h"
#include "formats/jpeg/jpeg_encode.h"
#include "formats/picture.h"
#include "formats/webp/webp_image.h"
#include "support/fake_view.h"
#include "support/animated_webp.h"
#include "support/images.h"
#include "support/temp_dir.h"
#include "worker/convert_thread.h"
#include "worker/standard_workers.h"

namespace pellavo {
namespace {

using test::TTempDir;

TBitmap ReadBmp(const std::string& path) {
  TBitmap b;
  b.ReadFromFile(path);
  return b;
}

class Convert : public ::testing::Test {
 protected:
  void SetUp() override { RegisterStandardFormats(); }
  TTempDir dir;
  test::TFakeView view;
};

TEST_F(Convert, BorderAndFrameDecorateTheTarget) {
  const std::string source = dir.File("flat.bmp");
  test::MakeBitmap32(40, 30, [](int, int) { return 0xFF204080u; }).WriteToFile(source);
  view.entries = {source};
  view.settings.PixelSize = 40;
  view.settings.Overwrite = true;
  view.settings.OutputFormat = TOutputFormat::Bmp;
  view.settings.BorderOn = true;
  view.settings.BorderWidth = 5;
  view.settings.BorderColor = 0x0000FF;  // red as a window-system colour
  view.settings.FrameOn = false;
  view.Run(MakeStandardWorker);
  const std::vector<TColor32> px = test::Pixels(ReadBmp(dir.File("flat.bmp")));
  const auto at = [&](int x, int y) { return px[size_t(y) * 40 + size_t(x)]; };
  EXPECT_EQ(at(0, 0), 0xFFFF0000u);
  EXPECT_EQ(at(4, 4), 0xFFFF0000u);
  EXPECT_EQ(at(5, 5), 0xFFBFBFBFu) << "the frame around the image";
  EXPECT_EQ(at(34, 24), 0xFFBFBFBFu);
  EXPECT_EQ(at(20, 15), 0xFF204080u);

  // A border wider than the image leaves only the border colour, with the raised frame on top.
  view.settings.BorderWidth = 30;
  view.settings.FrameOn = true;
  test::MakeBitmap32(40, 30, [](int, int) { return 0xFF204080u; }).WriteToFile(source);
  view.Run(MakeStandardWorker);
  const std::vector<TColor32> all = test::Pixels(ReadBmp(source));
  EXPECT_EQ(all[size_t(15) * 40 + 20], 0xFFFF0000u);
  EXPECT_EQ(all[0], 0xFFFFFFFFu) << "light top-left edge";
  EXPECT_EQ(all[size_t(29) * 40 + 20], 0xC2670000u) << "dark bottom edge over red";
}

TEST_F(Convert, FailuresWriteNothingAndNameTheReason) {
  test::WriteBytes(dir.File("notes.txt"), {1, 2});
  test::WriteBytes(dir.File("broken.bmp"), {'B', 'M', 0, 0});
  TBitmap(0, 5, TPixelFormat::pf24bit).WriteToFile(dir.File("empty.bmp"));
  view.entries = {dir.File("notes.txt"), dir.File("broken.bmp"), dir.File("missing.bmp"), dir.File("empty.bmp")};
  view.settings.Overwrite = true;
  view.Run(MakeStandardWorker);
  EXPECT_TRUE(view.For(dir.File("notes.txt")).Skipped);
  EXPECT_EQ(view.For(dir.File("broken.bmp")).Error, "Bitmap image is not valid");
  EXPECT_NE(view.For(dir.File("missing.bmp")).Error.find("missing.bmp"), std::string::npos);
  EXPECT_NE(view.For(dir.File("empty.bmp")).Error.find("has no pixels"), std::string::npos);
  EXPECT_FALSE(view.For(dir.File("empty.bmp")).Written);
  EXPECT_EQ(test::ReadBytes(dir.File("broken.bmp")), (std::vector<uint8_t>{'B', 'M', 0, 0})) << "untouched";
}

TEST_F(Convert, OverwriteOffKeepsTheSourceAndNumbersTheOutput) {
  test::WritePatternBmp(dir.File("a.bmp"), 20, 10);
  const std::vector<uint8_t> original = test::ReadBytes(dir.File("a.bmp"));
  view.entries = {dir.File("a.bmp"), dir.File("a.bmp"), dir.File("a.bmp")};
  view.settings.PixelSize = 10;
  view.settings.MaxThreads = 0;  // all at once, racing for the same name
  view.Run(MakeStandardWorker);
  EXPECT_EQ(test::ReadBytes(dir.File("a.bmp")), original);
  std::set<std::string> outputs;
  for (const TFileOutcome& o : view.outcomes) {
    EXPECT_TRUE(o.Written) << o.Error;
    outputs.insert(o.Output);
  }
  EXPECT_EQ(outputs, (std::set<std::string>{dir.File("a[1].bmp"), dir.File("a[2].bmp"), dir.File("a[3].bmp")}));
}

// Under "Source" a name that ends in a written extension keeps its letter case; one that ends
// in an alias is written under the format's own extension, in lower case.
TEST_F(Convert, SourceFormatKeepsWrittenExtensionsAndMapsAliases) {
  ::mkdir(dir.File("out").c_str(), 0755);
  struct Case {
    const char* fixture;
    const char* name;
    const char* written;
  };
  const Case cases[] = {
      {"samples/landscape.jpg", "photo.JPEG", "photo.jpg"},
      {"samples/landscape.jpg", "IMG.JPG", "IMG.JPG"},
      {"samples/badge.png", "Pic.Png", "Pic.Png"},
      {"tests/data/jpeg2000/jp2-named.j2k", "scan.J2K", "scan.jp2"},
      {"tests/data/metafile/libreoffice-shapes.wmf", "chart.WMF", "chart.emf"},
      {"samples/icon.ico", "logo.Ico", "logo.bmp"},
      {"tests/data/heif/gradient-64x48.heic", "IMG_0001.HEIC", "IMG_0001.jpg"},
  };
  for (const Case& c : cases) {
    std::filesystem::copy_file(c.fixture, dir.File(c.name));
    view.entries.push_back(dir.File(c.name));
  }
  view.settings.DestFolder = dir.File("out");
  view.settings.PixelSize = 16;
  view.Run(MakeStandardWorker);
  for (const Case& c : cases) {
    const TFileOutcome& o = view.For(dir.File(c.name));
    EXPECT_TRUE(o.Written) << c.name << ": " << o.Error;
    EXPECT_EQ(o.Output, dir.File(std::string("out/") + c.written)) << c.name;
  }
  EXPECT_EQ(TTempDir::ListOf(dir.File("out")),
            (std::vector<std::string>{"IMG.JPG", "IMG_0001.jpg", "Pic.Png", "chart.emf", "logo.bmp", "photo.jpg",
                                      "scan.jp2"}));
}

// WebP and AVIF keep a source's transparency; an opaque source stays opaque, although the raised
// frame's blend leaves alpha below 255 on the output's bottom and right edges.
TEST_F(Convert, ModernOutputsCarryTheSourcesAlphaOnly) {
  test::MakeBitmap32(40, 30, test::SmoothPixel).WriteToFile(dir.File("opaque.bmp"));
  TWebPImage translucent;
  translucent.Assign(test::MakeBitmap32(40, 30, [](int x, int y) { return (test::SmoothPixel(x, y) & 0xFFFFFF) | TColor32(x * 6) << 24; }));
  translucent.WriteToFile(dir.File("translucent.webp"));
  view.entries = {dir.File("opaque.bmp"), dir.File("translucent.webp")};
  view.settings.PixelSize = 40;
  view.settings.FrameOn = true;
  ::mkdir(dir.File("out").c_str(), 0755);
  view.settings.DestFolder = dir.File("out");
  for (const TOutputFormat format : {TOutputFormat::Webp, TOutputFormat::Avif}) {
    view.settings.OutputFormat = format;
    view.Run(MakeStandardWorker);
    const std::string ext(OutputFormatInfo(format).Extension);
    for (const auto& [name, bits] : {std::pair{"opaque", 24}, std::pair{"translucent", 32}}) {
      const TFileOutcome& o = view.For(dir.File(std::string(name) + (name[0] == 'o' ? ".bmp" : ".webp")));
      ASSERT_TRUE(o.Written) << name << ext << ": " << o.Error;
      TPicture back;
      back.ReadFromFile(o.Output);
      EXPECT_EQ(back.Bitmap().BitsPerPixel(), bits) << name << " -> " << ext;
    }
  }
}

TEST_F(Convert, AnIconSourceIsWrittenAsABitmap) {
  ::mkdir(dir.File("out").c_str(), 0755);
  std::filesystem::copy_file("samples/icon.ico", dir.File("logo.ico"));
  view.entries = {dir.File("logo.ico")};
  view.settings.DestFolder = dir.File("out");
  view.settings.PixelSize = 24;
  view.Run(MakeStandardWorker);
  EXPECT_EQ(view.For(dir.File("logo.ico")).Output, dir.File("out/logo.bmp"));
  const TBitmap icon = ReadBmp(dir.File("out/logo.bmp"));
  EXPECT_EQ(icon.Width(), 24);
}

}  // namespace
}  // namespace pellavo

namespace pellavo {
namespace {

// The run's limits reach every worker: an image over the image limit fails by its size and
// writes nothing; a budget smaller than any image lets each run alone, and all of them finish.
TEST_F(Convert, TheImageLimitAndTheMemoryBudgetReachEveryWorker) {
  for (int i = 0; i < 4; ++i) {
    const std::string name = dir.File("small" + std::to_string(i) + ".bmp");
    test::MakeBitmap32(40, 30, test::PatternPixel).WriteToFile(name);
    view.entries.push_back(name);
  }
  const std::string large = dir.File("large.bmp");
  test::MakeBitmap32(41, 30, test::PatternPixel).WriteToFile(large);
  view.entries.push_back(large);
  ::mkdir(dir.File("out").c_str(), 0755);
  view.settings.DestFolder = dir.File("out");
  view.settings.OutputFormat = TOutputFormat::Png;
  view.settings.PixelSize = 20;
  view.settings.MaxThreads = 5;
  view.settings.MaxImageBytes = 40 * 30 * 4;
  view.settings.MemoryBudgetBytes = 1;
  view.Run(MakeStandardWorker);
  ASSERT_EQ(view.outcomes.size(), 5u);
  for (const TFileOutcome& o : view.outcomes) {
    SCOPED_TRACE(o.Source);
    if (o.Source == large) {
      EXPECT_FALSE(o.Written);
      EXPECT_EQ(o.Error, ImageTooLargeText(41, 30, 40 * 30 * 4));
    } else {
      EXPECT_TRUE(o.Written) << o.Error;
    }
  }
  EXPECT_EQ(TTempDir::ListOf(dir.File("out")).size(), 4u);
}

// An animation of w x h whose frames are 16 x 12: the canvas alone is the image's size.
std::vector<uint8_t> AnimatedCanvasWebP(int w, int h) {
  std::vector<test::TWebPFrame> frames;
  for (int frame = 0; frame < 2; ++frame) {
    std::vector<uint32_t> argb(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        argb[size_t(y) * size_t(w) + size_t(x)] = x < 16 && y < 12 ? 0xFF000000u | uint32_t(frame * 0x404040 + x * 9) : 0;
    frames.push_back({std::move(argb), frame * 100});
  }
  return test::AnimatedWebP(w, h, frames, 200);
}

// What a conversion holds at once is what it claims from the run's budget: a whole image is held
// as the decoded picture and the surface it is copied onto, and a BMP keeps its whole file besides.
// The real peak (a benchmark: bench/memory_peak) stays within 1.25 times these claims.
TEST_F(Convert, TheClaimCountsThePictureAndItsSurfaceTogether) {
  constexpr int kW = 400, kH = 300;
  constexpr uint64_t kImage = uint64_t{kW} * kH * 4;
  test::WriteBytes(dir.File("canvas.webp"), AnimatedCanvasWebP(kW, kH));
  test::MakeBitmap32(kW, kH, [](int x, int y) { return ArgbColor(uint8_t(x), 1, 2, uint8_t(y)); })
      .WriteToFile(dir.File("alpha.bmp"));
  const uint64_t bmp_file = std::filesystem::file_size(dir.File("alpha.bmp"));
  struct TCase {
    const char* file;
    uint64_t held;  // the picture, its surface and what the reader keeps besides
  };
  for (const TCase& c : {TCase{"canvas.webp", 2 * kImage}, TCase{"alpha.bmp", 2 * kImage + bmp_file}}) {
    TWorkerOrder order;
    order.Source = dir.File(c.file);
    order.Output = dir.File("out.png");
    order.Settings.Overwrite = true;
    order.SizeValue = 100;
    order.Budget = std::make_shared<TMemoryBudget>(uint64_t{1} << 30);
    const TConversion done = ConvertFile(order);
    ASSERT_TRUE(done.Report.Outcome.Written) << c.file << ": " << done.Report.Outcome.Error;
    EXPECT_GE(order.Budget->PeakHeld(), c.held) << c.file;
    EXPECT_LT(order.Budget->PeakHeld(), c.held + c.held / 4) << c.file;
    EXPECT_EQ(order.Budget->Held(), 0u) << c.file;
  }
}

// A progressive JPEG read at an eighth by its DC scans never holds the library's coefficients of
// the whole image, and the claim says so; one the library reads (too small to be worth the DC
// decoder, or with restart markers) claims those coefficients.
TEST_F(Convert, AProgressiveJpegClaimsWhatItsDecoderHolds) {
  // Noise at the highest quality: a large file from a modest image, and the grey keeps it quick.
  const auto noisy = [](int side, const test::TJpegEncoding& e) {
    std::vector<uint8_t> rgb(size_t(side) * size_t(side) * 3);
    uint32_t seed = 7;
    for (size_t i = 0; i < rgb.size(); i += 3) {
      seed = seed * 1103515245u + 12345u;
      rgb[i] = rgb[i + 1] = rgb[i + 2] = uint8_t(seed >> 24);
    }
    return test::EncodeJpegRgb(side, side, rgb, e);
  };
  // Two bytes for each of a block's 64 coefficients.
  const auto coefficients = [](int side) { return uint64_t(side / 8) * uint64_t(side / 8) * 128; };
  struct TCase {
    const char* name;
    int side;
    test::TJpegEncoding encoding;
    bool whole_coefficients;
  };
  const TCase cases[] = {
      {"large", 2048, {.quality = 100, .progressive = true, .gray = true}, false},
      {"small", 1024, {.quality = 100, .progressive = true, .gray = true}, true},
      {"restart markers", 2048, {.quality = 100, .restart_rows = 1, .progressive = true, .gray = true}, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> file = noisy(c.side, c.encoding);
    // The DC decoder takes progressive files from 4 MB.
    ASSERT_EQ(file.size() >= size_t{4} << 20, c.side == 2048);
    test::WriteBytes(dir.File("in.jpg"), file);
    TWorkerOrder order;
    order.Source = dir.File("in.jpg");
    order.Output = dir.File("out.png");
    order.Settings.Overwrite = true;
    order.SizeValue = 100;
    order.Budget = std::make_shared<TMemoryBudget>(uint64_t{1} << 30);
    const TConversion done = ConvertFile(order);
    ASSERT_TRUE(done.Report.Outcome.Written) << done.Report.Outcome.Error;
    if (c.whole_coefficients)
      EXPECT_GE(order.Budget->PeakHeld(), coefficients(c.side));
    else
      EXPECT_LT(order.Budget->PeakHeld(), coefficients(c.side) / 2);
  }
}

}  // namespace
}  // namespace pellavo
