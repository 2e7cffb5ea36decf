// Photos as cameras and phones write them: stored sideways with an EXIF orientation, tagged with
// a colour profile, carrying EXIF and XMP; and images with transparency.
#include <gtest/gtest.h>
#include <lcms2.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "formats/all/standard_formats.h"
#include "formats/gif/gif_image.h"
#include "formats/jpeg/jpeg.h"
#include "formats/jpeg/jpeg_metadata.h"
#include "formats/picture.h"
#include "formats/png/png_object.h"
#include "raster/bitmap32.h"
#include "support/commands.h"
#include "support/images.h"
#include "support/temp_dir.h"
#include "worker/convert_thread.h"

namespace pellavo {
namespace {

using test::MakeBitmap32;

constexpr TColor32 kRed = 0xFFFF0000u, kGreen = 0xFF00FF00u, kBlue = 0xFF0000FFu, kWhite = 0xFFFFFFFFu;

// A little-endian TIFF block with one tag, the orientation.
std::vector<uint8_t> OrientationExif(int orientation) {
  return {'I', 'I', 42, 0, 8, 0, 0, 0,                         // header, first directory at 8
          1, 0,                                                 // one entry
          0x12, 0x01, 3, 0, 1, 0, 0, 0, uint8_t(orientation), 0, 0, 0,  // 0x0112 SHORT x 1
          0, 0, 0, 0};                                          // no next directory
}

// An Adobe RGB (1998) profile as LittleCMS builds it from the published primaries and gamma.
std::vector<uint8_t> AdobeRgbProfile() {
  const cmsCIExyY white{0.3127, 0.3290, 1.0};
  const cmsCIExyYTRIPLE primaries{{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
  cmsToneCurve* gamma = cmsBuildGamma(nullptr, 563.0 / 256.0);
  cmsToneCurve* curves[3] = {gamma, gamma, gamma};
  cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
  cmsFreeToneCurve(gamma);
  cmsMLU* description = cmsMLUalloc(nullptr, 1);
  cmsMLUsetASCII(description, "en", "US", "Adobe RGB (1998) compatible");
  cmsWriteTag(profile, cmsSigProfileDescriptionTag, description);
  cmsMLUfree(description);
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(profile, nullptr, &size);
  std::vector<uint8_t> bytes(size);
  cmsSaveProfileToMem(profile, bytes.data(), &size);
  cmsCloseProfile(profile);
  return bytes;
}

void WriteJpeg(const std::string& path, const TBitmap& bitmap, const TImageMetadata& metadata = {}) {
  TJPEGImage jpeg;
  jpeg.SetJpegQuality(95);
  jpeg.SetMetadata(metadata);
  jpeg.Assign(bitmap);
  jpeg.WriteToFile(path);
}

void WritePng(const std::string& path, const TBitmap& bitmap, const TImageMetadata& metadata = {}) {
  TPNGObject png;
  png.SetKeepAlpha(true);
  png.Assign(bitmap);
  png.AddMetadata(metadata);
  png.WriteToFile(path);
}

// Stored quadrants: red top left, green top right, blue bottom left, white bottom right.
TBitmap Quadrants(int32_t w, int32_t h) {
  return MakeBitmap32(w, h, [w, h](int32_t x, int32_t y) {
    return y < h / 2 ? (x < w / 2 ? kRed : kGreen) : (x < w / 2 ? kBlue : kWhite);
  });
}

class Photos : public ::testing::Test {
 protected:
  void SetUp() override { RegisterStandardFormats(); }

  // One conversion with the window's defaults but the Lanczos filter, no frame, overwriting.
  TConversion Convert(const std::string& source, const std::string& output, TSizeMode mode, int value) {
    TWorkerOrder order;
    order.Source = source;
    order.Output = output;
    order.Settings = settings;
    order.Settings.SizeMode = mode;
    order.SizeValue = value;
    return ConvertFile(order);
  }
  TConversion ConvertSameSize(const std::string& source, const std::string& output) {
    return Convert(source, output, TSizeMode::Percent, 100);
  }

  // An output as the design's surface takes it: alpha composed onto black.
  struct TImage {
    int32_t w = 0, h = 0;
    std::vector<TColor32> px;
    TColor32 At(int32_t x, int32_t y) const { return px[size_t(y) * size_t(w) + size_t(x)]; }
  };
  static TImage ReadImage(const std::string& path) {
    TPicture picture;
    picture.ReadFromFile(path);
    TBitmap32 s;
    s.Assign(picture);
    return {s.Width(), s.Height(), std::vector<TColor32>(s.Bits(), s.Bits() + size_t(s.Width()) * size_t(s.Height()))};
  }

  test::TTempDir dir;
  TRunSettings settings = [] {
    TRunSettings s;
    s.FilterIndex = sfLanczos;
    s.FrameOn = false;
    s.Overwrite = true;
    return s;
  }();
};

bool Near(TColor32 a, TColor32 b, int tolerance) {
  return std::abs(RedOf(a) - RedOf(b)) <= tolerance && std::abs(GreenOf(a) - GreenOf(b)) <= tolerance &&
         std::abs(BlueOf(a) - BlueOf(b)) <= tolerance;
}

// The corners of the upright picture for each orientation of the stored quadrants, worked out
// from where each orientation puts the stored first row and column.
TEST_F(Photos, EveryOrientationComesOutUpright) {
  struct TCase {
    int orientation;
    TColor32 top_left, top_right, bottom_left, bottom_right;
  };
  const TCase cases[] = {
      {1, kRed, kGreen, kBlue, kWhite},  {2, kGreen, kRed, kWhite, kBlue}, {3, kWhite, kBlue, kGreen, kRed},
      {4, kBlue, kWhite, kRed, kGreen},  {5, kRed, kBlue, kGreen, kWhite}, {6, kBlue, kRed, kWhite, kGreen},
      {7, kWhite, kGreen, kBlue, kRed},  {8, kGreen, kWhite, kRed, kBlue},
  };
  // PNG keeps its pixels exactly; JPEG, the usual case, within its loss.
  for (const char* ext : {".png", ".jpg"}) {
    for (const TCase& c : cases) {
      const std::string source = dir.File("o" + std::to_string(c.orientation) + ext);
      TImageMetadata metadata;
      metadata.Exif = OrientationExif(c.orientation);
      if (std::string(ext) == ".png")
        WritePng(source, Quadrants(48, 32), metadata);
      else
        WriteJpeg(source, Quadrants(48, 32), metadata);
      const std::string out = dir.File("upright.png");
      const TConversion seen = ConvertSameSize(source, out);
      ASSERT_TRUE(seen.Report.Outcome.Written) << seen.Report.Outcome.Error;
      const TImage s = ReadImage(out);
      const bool swapped = c.orientation >= 5;
      ASSERT_EQ(s.w, swapped ? 32 : 48) << ext << " " << c.orientation;
      ASSERT_EQ(s.h, swapped ? 48 : 32) << ext << " " << c.orientation;
      const int tolerance = std::string(ext) == ".png" ? 0 : 8;
      const int32_t r = s.w - 1, b = s.h - 1;
      EXPECT_PRED3(Near, s.At(0, 0), c.top_left, tolerance) << ext << " " << c.orientation;
      EXPECT_PRED3(Near, s.At(r, 0), c.top_right, tolerance) << ext << " " << c.orientation;
      EXPECT_PRED3(Near, s.At(0, b), c.bottom_left, tolerance) << ext << " " << c.orientation;
      EXPECT_PRED3(Near, s.At(r, b), c.bottom_right, tolerance) << ext << " " << c.orientation;
    }
  }
}

// Sizes apply to the upright picture, the JPEG decoder still reduces the stored one, and the
// 16:9 band is cut from the upright picture.
TEST_F(Photos, TurnedBeforeSizingWithReducedDecodingAndTheWideCrop) {
  const std::string source = dir.File("sideways.jpg");
  TImageMetadata metadata;
  metadata.Exif = OrientationExif(6);  // stored 1600 x 1200, upright 1200 x 1600
  WriteJpeg(source, Quadrants(1600, 1200), metadata);

  // p = 200 x 100 / 1600 = 13: decoded at an eighth, 200 x 150 stored, turned to 150 x 200.
  TConversion seen = Convert(source, dir.File("small.png"), TSizeMode::Largest, 200);
  ASSERT_TRUE(seen.Report.Outcome.Written) << seen.Report.Outcome.Error;
  EXPECT_EQ(seen.DecodeScale, 3);
  EXPECT_EQ(seen.DecodedWidth, 150);
  EXPECT_EQ(seen.DecodedHeight, 200);
  EXPECT_EQ(seen.Report.Outcome.Width, 150);
  EXPECT_EQ(seen.Report.Outcome.Height, 200);
  TImage s = ReadImage(dir.File("small.png"));
  EXPECT_PRED3(Near, s.At(0, 0), kBlue, 8);
  EXPECT_PRED3(Near, s.At(149, 199), kGreen, 8);

  // "Width" 300 sets the upright width: 300 x 400.
  seen = Convert(source, dir.File("wide.png"), TSizeMode::Width, 300);
  EXPECT_EQ(seen.Report.Outcome.Width, 300);
  EXPECT_EQ(seen.Report.Outcome.Height, 400);

  // "All" 16:9 on the upright portrait: 200 x 113, a band across its middle, so the left side
  // shows the upright top-left (blue) above the upright bottom-left (white). Stored as it is,
  // the band would have red above blue.
  settings.WideMode = TWideMode::All;
  seen = Convert(source, dir.File("band.png"), TSizeMode::Largest, 200);
  ASSERT_TRUE(seen.Report.Outcome.Written) << seen.Report.Outcome.Error;
  EXPECT_EQ(seen.Report.Outcome.Width, 200);
  EXPECT_EQ(seen.Report.Outcome.Height, 113);
  s = ReadImage(dir.File("band.png"));
  EXPECT_PRED3(Near, s.At(0, 0), kBlue, 8);
  EXPECT_PRED3(Near, s.At(0, 112), kWhite, 8);
}

// Without auto-rotation a sideways photo converts to exactly the bytes of the same photo with
// no orientation at all, in every output format.
TEST_F(Photos, NoAutorotateGivesTheStoredPicturesBytes) {
  const TBitmap stored = MakeBitmap32(90, 60, test::PatternPixel);
  TImageMetadata sideways;
  sideways.Exif = OrientationExif(8);
  WriteJpeg(dir.File("plain.jpg"), stored);
  WriteJpeg(dir.File("sideways.jpg"), stored, sideways);
  settings.AutoRotate = false;
  for (const char* ext : {".jpg", ".png", ".bmp", ".gif"}) {
    const std::string a = dir.File(std::string("plain") + ext + ext), b = dir.File(std::string("sideways") + ext + ext);
    ASSERT_TRUE(Convert(dir.File("plain.jpg"), a, TSizeMode::Largest, 50).Report.Outcome.Written);
    ASSERT_TRUE(Convert(dir.File("sideways.jpg"), b, TSizeMode::Largest, 50).Report.Outcome.Written);
    EXPECT_EQ(test::ReadBytes(a), test::ReadBytes(b)) << ext;
  }
}

// CIELAB of an sRGB colour (D65), for colour differences as the eye ranks them.
struct TLab {
  double L, a, b;
};
TLab LabOf(TColor32 c) {
  const auto linear = [](int v) {
    const double x = v / 255.0;
    return x <= 0.04045 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4);
  };
  const double r = linear(RedOf(c)), g = linear(GreenOf(c)), b = linear(BlueOf(c));
  const double X = (0.4124 * r + 0.3576 * g + 0.1805 * b) / 0.95047;
  const double Y = 0.2126 * r + 0.7152 * g + 0.0722 * b;
  const double Z = (0.0193 * r + 0.1192 * g + 0.9505 * b) / 1.08883;
  const auto f = [](double t) { return t > 216.0 / 24389 ? std::cbrt(t) : (24389.0 / 27 * t + 16) / 116; };
  return {116 * f(Y) - 16, 500 * (f(X) - f(Y)), 200 * (f(Y) - f(Z))};
}
double DeltaE76(TColor32 p, TColor32 q) {
  const TLab x = LabOf(p), y = LabOf(q);
  return std::sqrt((x.L - y.L) * (x.L - y.L) + (x.a - y.a) * (x.a - y.a) + (x.b - y.b) * (x.b - y.b));
}

// Adobe RGB colours seen as sRGB: our conversion and vipsthumbnail's, both through LittleCMS but
// along their own paths, agree within rounding; and they differ visibly from the stored values.
constexpr double kMeanDeltaE = 0.5;
constexpr double kMaxDeltaE = 2.0;

TEST_F(Photos, AdobeRgbTravelsToJpegAndPngAndConvertsForBmp) {
  const std::string source = dir.File("adobe.jpg");
  TImageMetadata tagged;
  tagged.IccProfile = AdobeRgbProfile();
  const TBitmap stored = MakeBitmap32(64, 48, [](int32_t x, int32_t y) {
    return ArgbColor(0xFF, uint8_t(x * 4), uint8_t(255 - y * 5), uint8_t(60 + (x + y) * 2));
  });
  WriteJpeg(source, stored, tagged);

  // The profile's bytes travel unchanged.
  ASSERT_TRUE(ConvertSameSize(source, dir.File("tagged.jpg")).Report.Outcome.Written);
  const std::vector<uint8_t> jpeg = test::ReadBytes(dir.File("tagged.jpg"));
  EXPECT_EQ(ReadJpegMetadata(jpeg.data(), jpeg.size()).IccProfile, tagged.IccProfile);
  ASSERT_TRUE(ConvertSameSize(source, dir.File("tagged.png")).Report.Outcome.Written);
  TPNGObject png;
  png.ReadFromFile(dir.File("tagged.png"));
  EXPECT_EQ(png.EmbeddedMetadata().IccProfile, tagged.IccProfile);
  if (test::HaveTool("exiftool")) {
    EXPECT_EQ(test::RunAndCapture("exiftool -s3 -ProfileDescription '" + dir.File("tagged.jpg") + "'"),
              "Adobe RGB (1998) compatible\n");
  }

  // A BMP holds no profile: its pixels are sRGB.
  ASSERT_TRUE(ConvertSameSize(source, dir.File("srgb.bmp")).Report.Outcome.Written);
  const TImage ours = ReadImage(dir.File("srgb.bmp"));
  const TImage as_stored = ReadImage(source);
  if (!test::HaveTool("vipsthumbnail")) GTEST_SKIP() << "libvips-tools not installed";
  ASSERT_EQ(test::RunCommand("vipsthumbnail '" + source + "' -s 64x48 -e srgb -o '" + dir.File("vips.png") + "'").code, 0);
  const TImage theirs = ReadImage(dir.File("vips.png"));
  ASSERT_EQ(theirs.w, ours.w);
  ASSERT_EQ(theirs.h, ours.h);
  double sum = 0, max = 0, shift = 0;
  for (size_t i = 0; i < ours.px.size(); ++i) {
    const double d = DeltaE76(ours.px[i], theirs.px[i]);
    sum += d;
    max = std::max(max, d);
    shift += DeltaE76(ours.px[i], as_stored.px[i]);
  }
  const double n = double(ours.px.size());
  EXPECT_LE(sum / n, kMeanDeltaE);
  EXPECT_LE(max, kMaxDeltaE);
  EXPECT_GT(shift / n, 5.0) << "the colours were converted";
  std::printf("Adobe RGB -> BMP against vipsthumbnail: mean dE76 %.3f, max %.3f; shift from the stored values %.2f\n",
              sum / n, max, shift / n);
}

}  // namespace
}  // namespace pellavo
