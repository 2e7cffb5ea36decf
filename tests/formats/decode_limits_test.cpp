#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "core/decode_limits.h"
#include "core/memory_budget.h"
#include "core/stream.h"
#include "formats/all/output_writers.h"
#include "formats/all/standard_formats.h"
#include "formats/png/png_object.h"
#include "formats/picture.h"
#include "support/bombs.h"
#include "support/images.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

// What the limit error of an image of w x h says, under the default limit.
std::string TooLarge(int64_t w, int64_t h) { return ImageTooLargeText(uint64_t(w), uint64_t(h), kDefaultMaxImageBytes); }

// Loads path into a picture under limits and draws it at its own size, as a worker does; returns
// the error text, empty when there was none.
std::string LoadAndDraw(const std::string& path, const TDecodeLimits& limits) {
  try {
    TPicture picture;
    picture.ReadFromFile(path, limits);
    // A JPEG decodes on its first draw; a target too small for the decode to land in directly
    // makes it decode into its own bitmap of the full size.
    TColor32 pixel = 0;
    picture.Graphic()->Draw(TPixels32{&pixel, 1, 1}, TRect{0, 0, picture.Width(), picture.Height()});
  } catch (const EImageTooLarge& e) {
    return e.what();
  } catch (const std::exception& e) {
    return std::string("not a size error: ") + e.what();
  }
  return "";
}

// A tiny file per format claiming a huge image is refused from its header, with the sizes it
// claimed, before anything of that size is allocated (this runs in a few milliseconds and
// megabytes; a decode would take gigabytes).
TEST(DecodeLimits, EveryFormatRefusesAHugeClaimFromItsHeader) {
  RegisterStandardFormats();
  test::TTempDir dir;
  for (const test::TBomb& bomb : test::Bombs()) {
    SCOPED_TRACE(bomb.Extension);
    const std::string path = dir.File(std::string("bomb") + bomb.Extension);
    test::WriteBytes(path, bomb.Bytes);
    EXPECT_EQ(LoadAndDraw(path, TDecodeLimits{}), TooLarge(bomb.Width, bomb.Height));
  }
}

// Each reader checks the limit it is handed, not a fixed one, and claims the decoded size from
// the run's budget: an image of exactly the limit is read, one byte less refuses it.
TEST(DecodeLimits, EveryFormatChecksTheLimitItIsGivenAndClaimsTheImage) {
  RegisterStandardFormats();
  test::TTempDir dir;
  TBitmap source = test::MakeBitmap32(8, 6, test::PatternPixel);
  const uint64_t bytes = 8 * 6 * 4;
  for (TOutputFormat format : {TOutputFormat::Jpg, TOutputFormat::Bmp, TOutputFormat::Png, TOutputFormat::Gif,
                               TOutputFormat::Emf, TOutputFormat::Jp2}) {
    const std::string path = dir.File("small" + std::string(OutputFormatInfo(format).Extension));
    SCOPED_TRACE(path);
    TMemoryStream encoded;
    OutputWriter(format)(TBitmap(source), encoded, TEncodeOptions{});
    test::WriteBytes(path, encoded.Take());
    auto budget = std::make_shared<TMemoryBudget>(1 << 20);
    TMemoryClaim claim(budget);
    EXPECT_EQ(LoadAndDraw(path, TDecodeLimits{bytes, &claim}), "");
    EXPECT_EQ(budget->Held(), claim.Bytes());
    // A BMP reader keeps the whole file besides, for an unchanged re-save; the JPEG 2000 codec
    // holds the file and a 32-bit integer per sample besides the bitmap. Each counts what it holds.
    const uint64_t file = std::filesystem::file_size(path);
    if (format == TOutputFormat::Bmp)
      EXPECT_EQ(claim.Bytes(), bytes + file);
    else if (format == TOutputFormat::Jp2)
      EXPECT_GE(claim.Bytes(), bytes + file + 8 * 6 * 3 * 4);
    else
      EXPECT_EQ(claim.Bytes(), bytes);
    EXPECT_NE(LoadAndDraw(path, TDecodeLimits{bytes - 1}), "");
  }
  // An icon holding a PNG hands the limit on to the PNG reader.
  const std::vector<test::TBomb> bombs = test::Bombs();
  const std::string ico = dir.File("png-inside.ico");
  const auto icon = std::find_if(bombs.begin(), bombs.end(), [](const test::TBomb& b) { return b.Extension == std::string(".ico"); });
  ASSERT_NE(icon, bombs.end());
  test::WriteBytes(ico, icon->Bytes);
  EXPECT_EQ(LoadAndDraw(ico, TDecodeLimits{uint64_t{20000} * 20000 * 4 - 1}),
            ImageTooLargeText(20000, 20000, uint64_t{20000} * 20000 * 4 - 1));
}

// Images one pixel wide or tall around the sides where 32-bit products of a row and a side
// overflow (46341 squared passes 2^31) or sides pass 16 bits: drawn at their own size, the last
// row or column lands where it belongs. 1 x 46342 crashed the conversion.
TEST(DecodeLimits, TallAndWideImagesDrawEveryRowAndColumn) {
  for (uint32_t n : {32767u, 32768u, 46341u, 46342u, 65535u}) {
    for (const bool tall : {true, false}) {
      const uint32_t w = tall ? 1 : n, h = tall ? n : 1;
      SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
      TPNGObject png;
      TMemoryStream in(test::GradientPng(w, h));
      png.LoadFromStream(in);
      std::vector<TColor32> px(n, 0);
      png.Draw(TPixels32{px.data(), int32_t(w), int32_t(h)}, TRect{0, 0, int32_t(w), int32_t(h)});
      for (uint32_t i : {0u, 46340u, 46341u, n - 1}) {
        if (i >= n) continue;
        const uint8_t v = uint8_t(i);
        EXPECT_EQ(px[i], ArgbColor(0xFF, v, v, v)) << "at " << i;
      }
      // The same shape as a 32-bit bitmap, which draws through the same row mapping.
      const TBitmap b = test::MakeBitmap32(int32_t(w), int32_t(h), [](int32_t x, int32_t y) { return TColor32(x + y); });
      std::vector<TColor32> bpx(n, 0);
      const_cast<TBitmap&>(b).Draw(TPixels32{bpx.data(), int32_t(w), int32_t(h)}, TRect{0, 0, int32_t(w), int32_t(h)});
      EXPECT_EQ(bpx[n - 1] & 0x00FFFFFF, (n - 1) & 0x00FFFFFF);
    }
  }
}

}  // namespace
}  // namespace pellavo
