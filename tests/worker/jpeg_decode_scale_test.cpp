#include <gtest/gtest.h>

#include "formats/all/standard_formats.h"
#include "formats/jpeg/jpeg.h"
#include "formats/picture.h"
#include "support/images.h"
#include "support/temp_dir.h"
#include "worker/convert_thread.h"

namespace pellavo {
namespace {

// Runs one conversion body as a worker would, with filter 5 and overwriting on.
TConversion Convert(const std::string& source, const std::string& output, TSizeMode mode, int value) {
  TWorkerOrder order;
  order.Source = source;
  order.Output = output;
  order.Settings.SizeMode = mode;
  order.Settings.FilterIndex = 5;
  order.Settings.Overwrite = true;
  order.SizeValue = value;
  return ConvertFile(order);
}

TEST(ReducedJpegDecoding, ScaleFollowsTheOutputSize) {
  RegisterStandardFormats();
  test::TTempDir dir;
  const auto smooth = [](int x, int y) { return ArgbColor(0xFF, uint8_t(x / 16), uint8_t(y / 12), 128); };
  for (auto [w, h, name] : {std::tuple{4000, 3000, "big.jpg"}, std::tuple{1000, 600, "small.jpg"}}) {
    TJPEGImage jpeg;
    jpeg.Assign(test::MakeBitmap32(w, h, smooth));
    jpeg.WriteToFile(dir.File(name));
  }
  struct Case {
    const char* source;
    TSizeMode mode;
    int value;
    int scale;
    int32_t decoded_w, decoded_h, out_w, out_h;
  };
  const Case cases[] = {
      {"big.jpg", TSizeMode::Largest, 800, 2, 1000, 750, 800, 600},     // p = 20: a quarter
      {"big.jpg", TSizeMode::Largest, 2100, 0, 4000, 3000, 2100, 1575},  // p = 53: full size
      {"big.jpg", TSizeMode::Largest, 1000, 2, 1000, 750, 1000, 750},    // p = 25: a quarter, exactly the target
      {"small.jpg", TSizeMode::Percent, 50, 1, 500, 300, 500, 300},      // 50 percent: p = 50, half size
      {"big.jpg", TSizeMode::Largest, 100, 3, 500, 375, 100, 75},        // p = 3: an eighth
  };
  for (const Case& c : cases) {
    const TConversion seen = Convert(dir.File(c.source), dir.File("out.bmp"), c.mode, c.value);
    const TFileOutcome& outcome = seen.Report.Outcome;
    ASSERT_EQ(outcome.Error, "") << c.source << " " << c.value;
    EXPECT_TRUE(outcome.Written) << c.value;
    EXPECT_EQ(seen.Report.StatusText, dir.File("out.bmp")) << c.value;
    EXPECT_EQ(seen.DecodeScale, c.scale) << c.value;
    EXPECT_EQ(seen.DecodedWidth, c.decoded_w) << c.value;
    EXPECT_EQ(seen.DecodedHeight, c.decoded_h) << c.value;
    TPicture out;
    out.ReadFromFile(outcome.Output);
    EXPECT_EQ(out.Width(), c.out_w) << c.value;
    EXPECT_EQ(out.Height(), c.out_h) << c.value;
  }
}

TEST(ReducedJpegDecoding, ThresholdsOnTheIntegerPercentage) {
  struct Case {
    int32_t target, larger;
    int scale;
  };
  const Case cases[] = {{800, 4000, 2}, {2100, 4000, 0}, {1000, 4000, 2}, {500, 1000, 1}, {2040, 4000, 0},
                        {2000, 4000, 1}, {1020, 4000, 1}, {540, 4000, 2}, {520, 4000, 3}, {10, 4000, 3}};
  for (const Case& c : cases) EXPECT_EQ(ReducedDecodeScale(c.target, c.larger), c.scale) << c.target;
}

TEST(ReducedJpegDecoding, DamagedAndTruncatedJpegsWriteNothing) {
  RegisterStandardFormats();
  test::TTempDir dir;
  TJPEGImage jpeg;
  jpeg.Assign(test::MakeBitmap32(64, 48, test::PatternPixel));
  jpeg.WriteToFile(dir.File("good.jpg"));
  std::vector<uint8_t> bytes = test::ReadBytes(dir.File("good.jpg"));
  test::WriteBytes(dir.File("truncated.jpg"), std::vector<uint8_t>(bytes.begin(), bytes.begin() + bytes.size() / 2));
  std::vector<uint8_t> damaged = bytes;
  for (size_t i = 2; i < 40; ++i) damaged[i] = 0xFF;
  test::WriteBytes(dir.File("damaged.jpg"), damaged);
  for (const char* name : {"truncated.jpg", "damaged.jpg"}) {
    const TFileOutcome outcome =
        Convert(dir.File(name), dir.File(std::string("out-") + name), TSizeMode::Largest, 32).Report.Outcome;
    EXPECT_NE(outcome.Error.find("JPEG error #"), std::string::npos) << name << ": " << outcome.Error;
    EXPECT_FALSE(outcome.Written) << name;
    EXPECT_EQ(dir.List().size(), 3u) << name << ": nothing is written";
  }
}

}  // namespace
}  // namespace pellavo
