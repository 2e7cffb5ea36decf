#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "core/decode_limits.h"
#include "core/stream.h"
#include "formats/png/png_object.h"
#include "formats/webp/webp_image.h"
#include "support/commands.h"
#include "support/images.h"
#include "support/lossy_codec.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

using test::HaveTool;
using test::MakeBitmap32;
using test::MeanRgbDifference;
using test::Pixels;
using test::ReadBytes;
using test::TTempDir;
using test::WriteBytes;

// Quality 90 on the smooth gradients: about 1.5 measured.
constexpr double kQuality90Tolerance = 3.0;

std::vector<uint8_t> Encode(const TBitmap& bitmap, int quality = 90, bool keep_alpha = true) {
  return test::EncodeAs<TWebPImage>(bitmap, quality, keep_alpha);
}

TWebPImage Decode(const std::vector<uint8_t>& bytes) { return test::DecodeAs<TWebPImage>(bytes); }

// A PAM file as dwebp writes it: a text header, then red, green, blue and alpha bytes.
std::vector<TColor32> ReadPam(const std::string& path, int& width, int& height) {
  const std::vector<uint8_t> bytes = ReadBytes(path);
  const std::string text(bytes.begin(), bytes.end());
  const size_t end = text.find("ENDHDR\n");
  if (end == std::string::npos) return {};
  std::istringstream header(text.substr(0, end));
  std::string word;
  while (header >> word) {
    if (word == "WIDTH") header >> width;
    if (word == "HEIGHT") header >> height;
  }
  std::vector<TColor32> pixels;
  for (size_t i = end + 7; i + 3 < bytes.size(); i += 4)
    pixels.push_back(ArgbColor(bytes[i + 3], bytes[i], bytes[i + 1], bytes[i + 2]));
  return pixels;
}


TEST(WebP, RoundTripsKeepSizeColoursAndAlpha) {
  test::ExpectRoundTripsKeepSizeColoursAndAlpha<TWebPImage>(kQuality90Tolerance);
}

TEST(WebP, QualityTradesSizeForFidelity) {
  const TBitmap source = MakeBitmap32(96, 64, test::PatternPixel);
  const std::vector<uint8_t> low = Encode(source, 10), mid = Encode(source, 90), high = Encode(source, 100);
  EXPECT_LT(low.size(), mid.size());
  EXPECT_LT(mid.size(), high.size());
  EXPECT_GT(MeanRgbDifference(Pixels(source), Pixels(Decode(low))),
            MeanRgbDifference(Pixels(source), Pixels(Decode(high))));
}

TEST(WebP, TooLargeOrEmptyImagesAreRefusedByName) {
  TBitmap wide(16384, 1, TPixelFormat::pf24bit);
  try {
    Encode(wide);
    FAIL() << "a side over 16383 must be refused";
  } catch (const EWebPError& e) {
    EXPECT_NE(std::string(e.what()).find("at most 16383 pixels on a side"), std::string::npos) << e.what();
  }
  EXPECT_THROW(Encode(TBitmap()), EWebPError);
}

TEST(WebP, ReferenceToolsReadOurFilesAndWeReadTheirs) {
  if (!HaveTool("cwebp") || !HaveTool("dwebp") || !HaveTool("img2webp") || !HaveTool("webpmux"))
    GTEST_SKIP() << "webp tools not installed";
  TTempDir dir;
  const std::string d = "'" + dir.Path() + "'/";

  // Ours, decoded by dwebp, holds what our own decoder sees, alpha included.
  const TBitmap translucent = MakeBitmap32(41, 27, test::TranslucentPixel);
  WriteBytes(dir.File("ours.webp"), Encode(translucent));
  ASSERT_EQ(test::RunCommand("dwebp -quiet -pam " + d + "ours.webp -o " + d + "ours.pam").code, 0);
  int w = 0, h = 0;
  const std::vector<TColor32> theirs = ReadPam(dir.File("ours.pam"), w, h);
  EXPECT_EQ(w, 41);
  EXPECT_EQ(h, 27);
  EXPECT_EQ(theirs, Pixels(Decode(ReadBytes(dir.File("ours.webp")))));

  // cwebp's lossy and lossless files from a PNG of ours.
  const TBitmap source = MakeBitmap32(50, 30, test::SmoothPixel);
  TPNGObject png;
  png.Assign(source);
  png.WriteToFile(dir.File("in.png"));
  ASSERT_EQ(test::RunCommand("cwebp -quiet -q 90 " + d + "in.png -o " + d + "lossy.webp").code, 0);
  ASSERT_EQ(test::RunCommand("cwebp -quiet -lossless " + d + "in.png -o " + d + "lossless.webp").code, 0);
  const TWebPImage lossy = Decode(ReadBytes(dir.File("lossy.webp")));
  EXPECT_EQ(lossy.Width(), 50);
  EXPECT_LE(MeanRgbDifference(Pixels(source), Pixels(lossy)), kQuality90Tolerance);
  EXPECT_EQ(Pixels(Decode(ReadBytes(dir.File("lossless.webp")))), Pixels(source)) << "lossless is exact";

  // An animation of a red frame and then a blue one gives the red one.
  TPNGObject red, blue;
  red.Assign(MakeBitmap32(20, 10, [](int, int) { return TColor32{0xFFFF0000}; }));
  blue.Assign(MakeBitmap32(20, 10, [](int, int) { return TColor32{0xFF0000FF}; }));
  red.WriteToFile(dir.File("red.png"));
  blue.WriteToFile(dir.File("blue.png"));
  ASSERT_EQ(test::RunCommand("img2webp -lossless " + d + "red.png " + d + "blue.png -o " + d + "anim.webp >/dev/null 2>&1").code, 0);
  const TWebPImage first = Decode(ReadBytes(dir.File("anim.webp")));
  ASSERT_EQ(first.Width(), 20);
  ASSERT_EQ(first.Height(), 10);
  for (TColor32 c : Pixels(first)) ASSERT_EQ(c, 0xFFFF0000u);

  // A first frame smaller than the canvas lies at its offset on transparent black.
  TPNGObject small;
  small.Assign(MakeBitmap32(6, 4, [](int x, int y) { return ArgbColor(0xFF, uint8_t(40 * x), uint8_t(60 * y), 0); }));
  small.WriteToFile(dir.File("small.png"));
  ASSERT_EQ(test::RunCommand("cwebp -quiet -lossless " + d + "small.png -o " + d + "small.webp && cwebp -quiet -lossless " +
                             d + "blue.png -o " + d + "blue.webp && webpmux -frame " + d + "small.webp +100+4+2 -frame " +
                             d + "blue.webp +100+0+0 -o " + d + "offset.webp >/dev/null 2>&1")
                .code,
            0);
  const TWebPImage offset = Decode(ReadBytes(dir.File("offset.webp")));
  ASSERT_EQ(offset.Width(), 20);
  ASSERT_EQ(offset.Height(), 10);
  const std::vector<TColor32> shown = Pixels(offset);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x) {
      const bool inside = x >= 4 && x < 10 && y >= 2 && y < 6;
      const TColor32 want = inside ? ArgbColor(0xFF, uint8_t(40 * (x - 4)), uint8_t(60 * (y - 2)), 0) : 0u;
      ASSERT_EQ(shown[size_t(y * 20 + x)], want) << x << "," << y;
    }
}

TEST(WebP, DamagedFilesFailWithAReason) {
  const std::vector<uint8_t> good = Encode(MakeBitmap32(64, 48, test::PatternPixel));
  std::vector<uint8_t> truncated(good.begin(), good.begin() + std::ptrdiff_t(good.size() / 2));
  // Lossy data has no checksum, so flipped bits only change pixels; a damaged frame start code
  // is what a decoder can tell.
  std::vector<uint8_t> bad_start = good;
  const std::string text(good.begin(), good.end());
  const size_t start_code = text.find("\x9d\x01\x2a");
  ASSERT_NE(start_code, std::string::npos);
  bad_start[start_code + 1] ^= 0xFF;
  // 35 bytes whose extended header claims a canvas without any image data: found by the fuzzer
  // when the bitmap was allocated before the library had looked at the image chunk. Within the
  // largest image limit a run may set, so that the library's look is what refuses it.
  const std::vector<uint8_t> empty_canvas = {'R', 'I', 'F', 'F', 0x50, 0x01, 0x00, 0x04, 'W', 'E', 'B', 'P',
                                             'V', 'P', '8', 'X', 0x0a, 0x00, 0x00, 0x00, 0x78, 0x01, 0x77, 0x01,
                                             0x50, 0x20, 0x00, 0x00, 0x77, 0x01, 0x50, 0x20, 0x00, 0x00, 'F'};
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    const char* says;
    uint64_t limit = kMaxPixelBlockBytes;
  } cases[] = {
      {"a huge canvas and no image", empty_canvas, "WebP image is not valid"},
      {"empty", {}, "WebP image is not valid"},
      {"not WebP", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0}, "WebP image is not valid"},
      {"truncated", truncated, "WebP image is not valid"},
      {"a damaged frame start code", bad_start, "WebP image is not valid"},
      {"a canvas over the limit", empty_canvas, "image too large: 8273 \u00D7 96001 exceeds the limit of 1024 MB",
       kDefaultMaxImageBytes},
  };
  for (const Case& c : cases) {
    TWebPImage image;
    image.SetSize(3, 2);
    image.SetDecodeLimits(TDecodeLimits{c.limit});
    TMemoryStream in(c.bytes);
    try {
      image.LoadFromStream(in);
      ADD_FAILURE() << c.what << ": decoded";
    } catch (const EInvalidGraphic& e) {
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << c.what << ": " << e.what();
    }
    EXPECT_EQ(image.Width(), 3) << c.what << ": the previous image stays";
  }
}

}  // namespace
}  // namespace pellavo
