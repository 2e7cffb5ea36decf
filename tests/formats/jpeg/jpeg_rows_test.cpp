// The row-by-row JPEG reader against the surface a picture of the file gives, at every scale
// and for every kind of output the worker meets: colour, grey (through the palette), CMYK.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "formats/jpeg/jpeg.h"
#include "formats/jpeg/jpeg_encode.h"
#include "formats/jpeg/jpeg_rows.h"
#include "support/images.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

std::vector<uint8_t> Encode(const TBitmap& bitmap, bool progressive, bool gray) {
  return test::EncodeJpeg(bitmap, 85, progressive, gray);
}

// What a surface holds after taking the picture at the scale: drawn onto transparent black,
// then opaque.
std::vector<TColor32> SurfaceOf(const std::string& path, int scale) {
  TJPEGImage jpeg;
  jpeg.ReadFromFile(path);
  jpeg.SetDecodeScale(static_cast<TJPEGScale>(scale));
  std::vector<TColor32> pixels(size_t(jpeg.Width()) * size_t(jpeg.Height()), 0);
  jpeg.Draw(TPixels32{pixels.data(), jpeg.Width(), jpeg.Height()}, TRect{0, 0, jpeg.Width(), jpeg.Height()});
  for (TColor32& p : pixels) p |= kOpaque;
  return pixels;
}

TEST(JpegRows, RowsAreWhatASurfaceTakesFromThePicture) {
  test::TTempDir dir;
  const TBitmap picture = test::MakeBitmap32(75, 41, test::PatternPixel);
  const struct {
    const char* name;
    std::string path;
  } files[] = {
      {"baseline", dir.File("baseline.jpg")},
      {"progressive", dir.File("progressive.jpg")},
      {"grey", dir.File("grey.jpg")},
      {"Adobe YCCK", "tests/data/jpeg/adobe-ycck-bars.jpg"},
  };
  test::WriteBytes(files[0].path, Encode(picture, false, false));
  test::WriteBytes(files[1].path, Encode(picture, true, false));
  test::WriteBytes(files[2].path, Encode(picture, false, true));
  for (const auto& f : files)
    for (int scale = 0; scale <= 3; ++scale) {
      SCOPED_TRACE(std::string(f.name) + ", scale " + std::to_string(scale));
      const auto rows = OpenJpegRows(f.path, TDecodeLimits{});
      ASSERT_NE(rows, nullptr);
      rows->SetDecodeScale(scale);
      std::vector<TColor32> pixels(size_t(rows->Width()) * size_t(rows->Height()));
      // Uneven batches: the reader serves any count.
      for (int32_t y = 0, n = 1; y < rows->Height(); y += n, n = n % 5 + 1)
        rows->ReadRows(pixels.data() + size_t(y) * size_t(rows->Width()), std::min(n, rows->Height() - y));
      rows->Finish();
      EXPECT_EQ(pixels, SurfaceOf(f.path, scale));
    }
}

// A large progressive grey file at an eighth is read by its DC scans alone, and its grey levels
// are quantised here rather than by the library: the palette colours must still be the library's.
TEST(JpegRows, LargeGreyFileAtAnEighthQuantisesAsTheLibrary) {
  test::TTempDir dir;
  const int w = 2048, h = 2048;
  std::vector<uint8_t> rgb(size_t(w) * h * 3);
  uint32_t seed = 1;
  for (size_t i = 0; i < rgb.size(); i += 3) {
    seed = seed * 1103515245u + 12345u;
    const size_t x = (i / 3) % size_t(w);
    rgb[i] = rgb[i + 1] = rgb[i + 2] = uint8_t(std::clamp(int(x * 255 / (w - 1)) + int(seed >> 24) - 128, 0, 255));
  }
  const std::string path = dir.File("grey.jpg");
  const std::vector<uint8_t> file = test::EncodeJpegRgb(w, h, rgb, {.quality = 100, .progressive = true, .gray = true});
  // Large enough for the DC decoder to take it.
  ASSERT_GT(file.size(), size_t{4} << 20);
  test::WriteBytes(path, file);
  const auto rows = OpenJpegRows(path, TDecodeLimits{});
  ASSERT_NE(rows, nullptr);
  rows->SetDecodeScale(3);
  std::vector<TColor32> pixels(size_t(rows->Width()) * size_t(rows->Height()));
  for (int32_t y = 0, n = 1; y < rows->Height(); y += n, n = n % 5 + 1)
    rows->ReadRows(pixels.data() + size_t(y) * size_t(rows->Width()), std::min(n, rows->Height() - y));
  rows->Finish();
  EXPECT_EQ(pixels, SurfaceOf(path, 3));
}

TEST(JpegRows, AnEmptyFileIsLeftToTheWholeImageReader) {
  test::TTempDir dir;
  test::WriteBytes(dir.File("empty.jpg"), {});
  EXPECT_EQ(OpenJpegRows(dir.File("empty.jpg"), TDecodeLimits{}), nullptr);
}

TEST(JpegRows, ACutFileFailsAtTheRowItLacks) {
  test::TTempDir dir;
  std::vector<uint8_t> bytes = Encode(test::MakeBitmap32(64, 64, test::PatternPixel), false, false);
  bytes.resize(bytes.size() / 2);
  test::WriteBytes(dir.File("cut.jpg"), bytes);
  const auto rows = OpenJpegRows(dir.File("cut.jpg"), TDecodeLimits{});
  ASSERT_NE(rows, nullptr);
  std::vector<TColor32> pixels(64 * 64);
  EXPECT_THROW(
      {
        rows->ReadRows(pixels.data(), 64);
        rows->Finish();
      },
      EJPEG);
}

}  // namespace
}  // namespace pellavo
