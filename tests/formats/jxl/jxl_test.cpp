#include <gtest/gtest.h>
#include <jxl/encode.h>

#include <cstdlib>

#include <string>
#include <vector>

#include "core/decode_limits.h"
#include "core/stream.h"
#include "formats/jxl/jxl_image.h"
#include "formats/png/png_object.h"
#include "support/commands.h"
#include "support/images.h"
#include "support/lossy_codec.h"
#include "support/profiles.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

using test::HaveTool;
using test::MakeBitmap32;
using test::MeanRgbDifference;
using test::Pixels;
using test::ReadBytes;
using test::RunCommand;
using test::TTempDir;
using test::WriteBytes;

// Quality 90 (distance 1.0) on the smooth gradients.
constexpr double kQuality90Tolerance = 3.0;

std::vector<uint8_t> Encode(const TBitmap& bitmap, int quality = 90, bool keep_alpha = true) {
  return test::EncodeAs<TJxlImage>(bitmap, quality, keep_alpha);
}

TJxlImage Decode(const std::vector<uint8_t>& bytes) { return test::DecodeAs<TJxlImage>(bytes); }

// Lossy files code alpha lossily too: libjxl 0.7 offers no separate setting for it.
constexpr double kAlphaQuality90Tolerance = 2.0;

TEST(Jxl, RoundTripsKeepSizeColoursAndAlpha) {
  test::ExpectRoundTripsKeepSizeColoursAndAlpha<TJxlImage>(kQuality90Tolerance, kAlphaQuality90Tolerance);
}

TEST(Jxl, QualityIsADistanceAndOneHundredIsLossless) {
  EXPECT_FLOAT_EQ(TJxlImage::DistanceOf(90), 1.0f);
  EXPECT_FLOAT_EQ(TJxlImage::DistanceOf(30), 6.4f);
  EXPECT_FLOAT_EQ(TJxlImage::DistanceOf(1), 15.0f);
  for (int q = 2; q <= 99; ++q) ASSERT_LT(TJxlImage::DistanceOf(q), TJxlImage::DistanceOf(q - 1) + 1e-6f) << q;

  const TBitmap source = MakeBitmap32(96, 64, test::PatternPixel);
  const TBitmap translucent = MakeBitmap32(37, 23, test::TranslucentPixel);
  EXPECT_EQ(Pixels(Decode(Encode(source, 100))), Pixels(source)) << "lossless is exact";
  EXPECT_EQ(Pixels(Decode(Encode(translucent, 100))), Pixels(translucent)) << "alpha and colour under it too";
  const std::vector<uint8_t> low = Encode(source, 10), mid = Encode(source, 90);
  EXPECT_LT(low.size(), mid.size());
  EXPECT_GT(MeanRgbDifference(Pixels(source), Pixels(Decode(low))),
            MeanRgbDifference(Pixels(source), Pixels(Decode(mid))));
}

TEST(Jxl, ProfileExifAndXmpTravel) {
  TImageMetadata metadata;
  metadata.IccProfile = test::AdobeRgbProfile();
  metadata.Exif = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0};
  metadata.Xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>";
  TJxlImage jxl;
  jxl.Metadata = metadata;
  jxl.Assign(MakeBitmap32(20, 10, test::SmoothPixel));
  TMemoryStream out;
  jxl.SaveToStream(out);
  const TJxlImage back = Decode(out.Take());
  EXPECT_FALSE(back.Metadata.IccProfile.empty()) << "the Adobe RGB colours keep a profile";
  EXPECT_EQ(back.Metadata.Exif, metadata.Exif);
  EXPECT_EQ(back.Metadata.Xmp, metadata.Xmp);
  EXPECT_FALSE(back.DecodedUpright()) << "the EXIF orientation is no codestream orientation";
  // sRGB pixels need no profile.
  EXPECT_TRUE(Decode(Encode(MakeBitmap32(8, 8, test::SmoothPixel))).Metadata.IccProfile.empty());
}

TEST(Jxl, ReferenceToolsReadOurFilesAndWeReadTheirs) {
  if (!HaveTool("cjxl") || !HaveTool("djxl") || !HaveTool("convert")) GTEST_SKIP() << "libjxl-tools not installed";
  TTempDir dir;
  const std::string d = "'" + dir.Path() + "'/";

  // Ours, lossless with alpha, decoded by djxl exactly as we decode it.
  const TBitmap translucent = MakeBitmap32(41, 27, test::TranslucentPixel);
  WriteBytes(dir.File("ours.jxl"), Encode(translucent, 100));
  ASSERT_EQ(RunCommand("djxl " + d + "ours.jxl " + d + "ours.png >/dev/null 2>&1").code, 0);
  TPNGObject theirs;
  theirs.SetKeepAlpha(true);
  theirs.LoadFromStream(*std::make_unique<TMemoryStream>(ReadBytes(dir.File("ours.png"))));
  TBitmap theirs32;
  theirs32.Assign(theirs);
  EXPECT_EQ(theirs.Width(), 41);
  EXPECT_EQ(MeanRgbDifference(Pixels(translucent), test::Pixels(Decode(ReadBytes(dir.File("ours.jxl"))))), 0.0);

  // cjxl's lossy and lossless files from a PNG of ours.
  const TBitmap source = MakeBitmap32(50, 30, test::SmoothPixel);
  TPNGObject png;
  png.Assign(source);
  png.WriteToFile(dir.File("in.png"));
  ASSERT_EQ(RunCommand("cjxl -q 90 " + d + "in.png " + d + "lossy.jxl >/dev/null 2>&1").code, 0);
  ASSERT_EQ(RunCommand("cjxl -d 0 " + d + "in.png " + d + "lossless.jxl >/dev/null 2>&1").code, 0);
  const TJxlImage lossy = Decode(ReadBytes(dir.File("lossy.jxl")));
  ASSERT_EQ(lossy.Width(), 50);
  EXPECT_LE(MeanRgbDifference(Pixels(source), Pixels(lossy)), kQuality90Tolerance);
  EXPECT_EQ(Pixels(Decode(ReadBytes(dir.File("lossless.jxl")))), Pixels(source)) << "lossless is exact";

}

// A lossless 20 x 10 codestream, blue in its five left columns and red elsewhere, that says it
// is to be shown turned a quarter clockwise; written with libjxl itself, as cjxl 0.7 cannot.
std::vector<uint8_t> TurnedCodestream() {
  JxlEncoder* e = JxlEncoderCreate(nullptr);
  JxlBasicInfo info;
  JxlEncoderInitBasicInfo(&info);
  info.xsize = 20;
  info.ysize = 10;
  info.bits_per_sample = 8;
  info.uses_original_profile = JXL_TRUE;
  info.orientation = JXL_ORIENT_ROTATE_90_CW;
  JxlEncoderSetBasicInfo(e, &info);
  JxlColorEncoding srgb;
  JxlColorEncodingSetToSRGB(&srgb, JXL_FALSE);
  JxlEncoderSetColorEncoding(e, &srgb);
  JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(e, nullptr);
  JxlEncoderSetFrameLossless(settings, JXL_TRUE);
  std::vector<uint8_t> rgb;
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x) rgb.insert(rgb.end(), {uint8_t(x < 5 ? 0 : 255), 0, uint8_t(x < 5 ? 255 : 0)});
  const JxlPixelFormat format{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
  JxlEncoderAddImageFrame(settings, &format, rgb.data(), rgb.size());
  JxlEncoderCloseInput(e);
  std::vector<uint8_t> out(4096);
  uint8_t* next = out.data();
  size_t avail = out.size();
  const bool done = JxlEncoderProcessOutput(e, &next, &avail) == JXL_ENC_SUCCESS;
  JxlEncoderDestroy(e);
  out.resize(done ? size_t(next - out.data()) : 0);
  return out;
}

TEST(Jxl, TheCodestreamsOrientationIsApplied) {
  const std::vector<uint8_t> bytes = TurnedCodestream();
  ASSERT_FALSE(bytes.empty());
  const TJxlImage turned = Decode(bytes);
  ASSERT_EQ(turned.Width(), 10);
  ASSERT_EQ(turned.Height(), 20);
  EXPECT_TRUE(turned.DecodedUpright());
  const std::vector<TColor32> pixels = Pixels(turned);
  // The left columns are the top rows now.
  EXPECT_EQ(pixels[0], 0xFF0000FFu);
  EXPECT_EQ(pixels[4 * 10 + 9], 0xFF0000FFu);
  EXPECT_EQ(pixels[5 * 10], 0xFFFF0000u);
  EXPECT_EQ(pixels[19 * 10 + 9], 0xFFFF0000u);
}

TEST(Jxl, DamagedOrHugeFilesFailWithTheirReason) {
  const std::vector<uint8_t> good = Encode(MakeBitmap32(64, 48, test::PatternPixel));
  const std::vector<uint8_t> cut(good.begin(), good.begin() + long(good.size() / 2));
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    TDecodeLimits limits;
    const char* reason;
  } cases[] = {
      {"cut in half", cut, {}, "JPEG XL image is not valid: the data is damaged or cut short"},
      {"not a JPEG XL file", {'G', 'I', 'F', '8', '9', 'a', 0, 0}, {}, "JPEG XL image is not valid: "},
      {"empty", {}, {}, "JPEG XL image is not valid: "},
      {"over the image limit", good, TDecodeLimits{1000}, "exceeds the limit"},
  };
  for (const Case& c : cases) {
    TJxlImage image;
    image.SetDecodeLimits(c.limits);
    TMemoryStream in(c.bytes);
    try {
      image.LoadFromStream(in);
      ADD_FAILURE() << c.what << ": read";
    } catch (const EInvalidGraphic& e) {
      EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << c.what << ": " << e.what();
    }
  }
}

}  // namespace
}  // namespace pellavo
