// Every image of the basic PNG suite, decoded and drawn, against an independent decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "formats/png/png_builder.h"
#include "formats/png/png_object.h"
#include "formats/png/reference_png.h"

namespace pellavo {
namespace {

using namespace test;

const char* const kSuite = "tests/data/png/pngsuite";

std::vector<std::string> SuiteFiles() {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(kSuite))
    if (e.path().extension() == ".png") names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Every pixel different and half transparent, so that a pixel left out, blended or wrongly
// replaced shows.
TColor32 Background(int32_t x, int32_t y) {
  return ArgbColor(0x80, uint8_t(x * 8 + 3), uint8_t(y * 8 + 5), uint8_t((x + y) * 4 + 7));
}

// The display value of a sample for a file gamma of g / 100000 on a 2.2 display.
uint8_t DisplayValue(uint32_t g, uint8_t v) {
  if (g == 0) return v;
  return uint8_t(std::lround(255.0 * std::pow(v / 255.0, 1.0 / (g / 100000.0 * 2.2))));
}

// What drawing the reference image onto the background must give: opaque pixels replace it,
// clear ones leave it, the rest blend as (s * a + d * (255 - a) + 255) >> 8 per channel.
std::vector<TColor32> Compose(const TReferenceImage& ref) {
  std::vector<TColor32> out(ref.Pixels.size());
  for (uint32_t y = 0; y < ref.Height; ++y)
    for (uint32_t x = 0; x < ref.Width; ++x) {
      const TColor32 s = ref.Pixels[size_t{y} * ref.Width + x], d = Background(int32_t(x), int32_t(y));
      const uint32_t a = AlphaOf(s);
      const auto mix = [a](uint32_t sv, uint32_t dv) { return uint8_t((sv * a + dv * (255 - a) + 255) >> 8); };
      const uint8_t r = DisplayValue(ref.Gamma, RedOf(s)), g = DisplayValue(ref.Gamma, GreenOf(s)),
                    b = DisplayValue(ref.Gamma, BlueOf(s));
      TColor32& o = out[size_t{y} * ref.Width + x];
      if (a == 255) o = ArgbColor(255, r, g, b);
      else if (a == 0) o = d;
      else o = ArgbColor(mix(255, AlphaOf(d)), mix(r, RedOf(d)), mix(g, GreenOf(d)), mix(b, BlueOf(d)));
    }
  return out;
}

std::vector<TColor32> DrawOnBackground(TPNGObject& png) {
  const int32_t w = png.Width(), h = png.Height();
  std::vector<TColor32> pixels(size_t(w) * size_t(h));
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) pixels[size_t(y) * size_t(w) + size_t(x)] = Background(x, y);
  png.Draw(TPixels32{pixels.data(), w, h}, TRect{0, 0, w, h});
  return pixels;
}

// The first differing pixel, for a readable failure.
::testing::AssertionResult SamePixels(const std::vector<TColor32>& got, const std::vector<TColor32>& want,
                                      uint32_t width) {
  if (got.size() != want.size()) return ::testing::AssertionFailure() << "sizes " << got.size() << " and " << want.size();
  for (size_t i = 0; i < got.size(); ++i)
    if (got[i] != want[i])
      return ::testing::AssertionFailure() << "pixel (" << i % width << ", " << i / width << "): got " << std::hex
                                           << got[i] << ", want " << want[i];
  return ::testing::AssertionSuccess();
}

// Gamma is applied with the same formula on both sides, so the comparison is exact.
TEST(PngSuite, EveryFileDrawsAsTheReferenceComposedOnTheBackground) {
  const auto files = SuiteFiles();
  ASSERT_FALSE(files.empty());
  for (const std::string& name : files) {
    SCOPED_TRACE(name);
    const TBytes bytes = ReadFile(std::string(kSuite) + "/" + name);
    const TReferenceImage ref = ReferenceDecode(bytes);
    TPNGObject png;
    ASSERT_NO_THROW(Load(png, bytes));
    ASSERT_EQ(uint32_t(png.Width()), ref.Width);
    ASSERT_EQ(uint32_t(png.Height()), ref.Height);
    EXPECT_TRUE(SamePixels(DrawOnBackground(png), Compose(ref), ref.Width));
  }
}

// The suite's interlaced files are only of depths 8 and 16; its other images are interlaced
// here by the reference writer, which covers the packed depths 1, 2 and 4.
TEST(PngSuite, InterlacedCopiesDrawLikeTheirOriginals) {
  for (const std::string& name : SuiteFiles()) {
    if (name[0] == 'i') continue;
    SCOPED_TRACE(name);
    const TBytes original = ReadFile(std::string(kSuite) + "/" + name);
    TPNGObject png;
    ASSERT_NO_THROW(Load(png, ReferenceInterlacedCopy(original)));
    EXPECT_EQ(png.Interlacing(), 1);
    const TReferenceImage ref = ReferenceDecode(original);
    EXPECT_TRUE(SamePixels(DrawOnBackground(png), Compose(ref), ref.Width));
  }
}

// Saving a loaded file re-encodes its samples in its own colour type, depth and interlacing;
// the reference must read back the same image.
TEST(PngSuite, ResavedFilesKeepTheirImage) {
  for (const std::string& name : SuiteFiles()) {
    SCOPED_TRACE(name);
    const TBytes original = ReadFile(std::string(kSuite) + "/" + name);
    TPNGObject png;
    Load(png, original);
    png.SetRowFilters(0x1F);
    const TBytes saved = Save(png);
    const TReferenceImage before = ReferenceDecode(original), after = ReferenceDecode(saved);
    EXPECT_TRUE(SamePixels(after.Pixels, before.Pixels, before.Width));
    EXPECT_EQ(after.Gamma, before.Gamma);
    EXPECT_EQ(ParseChunks(saved)[0].Data, ParseChunks(original)[0].Data) << "header";
  }
}

}  // namespace
}  // namespace pellavo
