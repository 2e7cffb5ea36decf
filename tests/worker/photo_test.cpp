// Photos as cameras and phones write them: stored sideways with an EXIF orientation, tagged with
// a colour profile, carrying EXIF and XMP; and images with transparency.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>
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
#include "support/profiles.h"

namespace pellavo {
namespace {

using test::AdobeRgbProfile;
using test::BlackInkOnlyProfile;
using test::MakeBitmap32;

constexpr TColor32 kRed = 0xFFFF0000u, kGreen = 0xFF00FF00u, kBlue = 0xFF0000FFu, kWhite = 0xFFFFFFFFu;

// A little-endian TIFF block with one tag, the orientation.
std::vector<uint8_t> OrientationExif(int orientation) {
  return {'I', 'I', 42, 0, 8, 0, 0, 0,                         // header, first directory at 8
          1, 0,                                                 // one entry
          0x12, 0x01, 3, 0, 1, 0, 0, 0, uint8_t(orientation), 0, 0, 0,  // 0x0112 SHORT x 1
          0, 0, 0, 0};                                          // no next directory
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
namespace pellavo {
namespace {

// The segments of a JPEG file put right after its start marker.
std::vector<uint8_t> WithSegment(std::vector<uint8_t> jpeg, int marker, const std::string& id, std::vector<uint8_t> body) {
  std::vector<uint8_t> payload(id.begin(), id.end());
  payload.insert(payload.end(), body.begin(), body.end());
  const size_t length = payload.size() + 2;
  std::vector<uint8_t> segment{0xFF, uint8_t(marker), uint8_t(length >> 8), uint8_t(length)};
  segment.insert(segment.end(), payload.begin(), payload.end());
  jpeg.insert(jpeg.begin() + 2, segment.begin(), segment.end());
  return jpeg;
}

// Damaged blocks are left out with a warning; the photo converts all the same.
TEST_F(Photos, DamagedProfileAndExifConvertAnyway) {
  WriteJpeg(dir.File("clean.jpg"), MakeBitmap32(32, 24, test::PatternPixel));
  const std::vector<uint8_t> clean = test::ReadBytes(dir.File("clean.jpg"));
  const std::string icc_id("ICC_PROFILE\0", 12), exif_id("Exif\0\0", 6);
  std::vector<uint8_t> garbage(300);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = uint8_t(i * 37 + 11);
  std::vector<uint8_t> piece{1, 1};
  piece.insert(piece.end(), garbage.begin(), garbage.end());
  std::vector<uint8_t> first_of_two{1, 2};
  first_of_two.insert(first_of_two.end(), garbage.begin(), garbage.end());
  // A TIFF header whose first directory lies far outside the block.
  const std::vector<uint8_t> bad_tiff{'I', 'I', 42, 0, 0xF0, 0xFF, 0xFF, 0x7F, 1, 2, 3, 4, 5, 6};

  struct TCase {
    const char* name;
    std::vector<uint8_t> file;
    const char* warning;  // a word of the warning expected; nullptr when none is required
  };
  const TCase cases[] = {
      {"garbage-profile.jpg", WithSegment(clean, 0xE2, icc_id, piece), "colour profile"},
      {"half-a-profile.jpg", WithSegment(clean, 0xE2, icc_id, first_of_two), "colour profile"},
      {"garbage-exif.jpg", WithSegment(clean, 0xE1, exif_id, garbage), "EXIF"},
      {"exif-pointing-outside.jpg", WithSegment(clean, 0xE1, exif_id, bad_tiff), nullptr},
  };
  settings.KeepMetadata = true;
  for (const TCase& c : cases) {
    test::WriteBytes(dir.File(c.name), c.file);
    for (const char* ext : {".jpg", ".bmp"}) {
      const std::string out = dir.File(std::string(c.name) + ext);
      const TConversion seen = ConvertSameSize(dir.File(c.name), out);
      const TFileOutcome& o = seen.Report.Outcome;
      ASSERT_TRUE(o.Written) << c.name << ext << ": " << o.Error;
      EXPECT_EQ(o.Width, 32) << c.name;
      if (c.warning) {
        ASSERT_EQ(o.Warnings.size(), 1u) << c.name;
        EXPECT_NE(o.Warnings[0].find(c.warning), std::string::npos) << o.Warnings[0];
      }
      const std::vector<uint8_t> written = test::ReadBytes(out);
      if (std::string(ext) == ".jpg") {
        const TImageMetadata kept = ReadJpegMetadata(written.data(), written.size());
        EXPECT_TRUE(kept.IccProfile.empty()) << c.name;
      }
    }
  }
}

}  // namespace
}  // namespace pellavo
namespace pellavo {
namespace {

// Tag name to value, as exiftool prints them with -s -n.
std::map<std::string, std::string> ExifToolTags(const std::string& path) {
  std::map<std::string, std::string> tags;
  std::istringstream lines(test::RunAndCapture("exiftool -a -s -n -G0 '" + path + "'"));
  for (std::string line; std::getline(lines, line);) {
    const size_t colon = line.find(": ");
    if (colon == std::string::npos) continue;
    std::string name = line.substr(0, colon);
    name.erase(name.find_last_not_of(' ') + 1);
    const std::string group = name.substr(1, name.find(']') - 1);
    name.erase(0, name.find(']') + 1);
    name.erase(0, name.find_first_not_of(' '));
    tags[name] = line.substr(colon + 2);
    tags[group + ":" + name] = line.substr(colon + 2);  // the same name can come from EXIF and XMP
  }
  return tags;
}

TEST_F(Photos, MetadataKeptOnRequestAndOtherwiseOnlyTheProfile) {
  if (!test::HaveTool("exiftool")) GTEST_SKIP() << "exiftool (libimage-exiftool-perl) not installed";
  const std::string source = dir.File("phone.jpg");
  TImageMetadata tagged;
  tagged.IccProfile = AdobeRgbProfile();
  tagged.Exif = OrientationExif(6);
  WriteJpeg(source, Quadrants(160, 120), tagged);
  WriteJpeg(dir.File("thumb.jpg"), Quadrants(16, 12));
  ASSERT_EQ(test::RunCommand("exiftool -q -overwrite_original -DateTimeOriginal='2021:06:05 14:03:02' "
                             "-GPSLatitude=60.17 -GPSLatitudeRef=N -XMP-dc:Title='Harbour' -XMP-tiff:Orientation#=6 "
                             "'-ThumbnailImage<=" + dir.File("thumb.jpg") + "' '" + source + "'")
                .code,
            0);
  ASSERT_EQ(ExifToolTags(source)["ThumbnailLength"].empty(), false) << "the fixture has a preview";

  for (const char* ext : {".jpg", ".png", ".webp", ".avif"}) {
    for (bool keep : {true, false}) {
      settings.KeepMetadata = keep;
      const std::string out = dir.File(std::string(keep ? "kept" : "dropped") + ext);
      const TConversion seen = Convert(source, out, TSizeMode::Largest, 80);
      ASSERT_TRUE(seen.Report.Outcome.Written) << seen.Report.Outcome.Error;
      EXPECT_TRUE(seen.Report.Outcome.Warnings.empty()) << seen.Report.Outcome.Warnings[0];
      std::map<std::string, std::string> tags = ExifToolTags(out);
      const std::string label = std::string(ext) + (keep ? " kept" : " dropped");
      EXPECT_EQ(tags["ProfileDescription"], "Adobe RGB (1998) compatible") << label;
      EXPECT_EQ(tags["ImageWidth"], "60") << label;
      EXPECT_EQ(tags["ImageHeight"], "80") << label;
      // An upright output must not be turned again by a viewer.
      EXPECT_TRUE(tags["EXIF:Orientation"].empty() || tags["EXIF:Orientation"] == "1") << label << ": " << tags["EXIF:Orientation"];
      EXPECT_TRUE(tags["XMP:Orientation"].empty() || tags["XMP:Orientation"] == "1") << label << ": " << tags["XMP:Orientation"];
      EXPECT_EQ(tags.count("ThumbnailLength"), 0u) << label;
      if (keep) {
        EXPECT_EQ(tags["DateTimeOriginal"], "2021:06:05 14:03:02") << label;
        EXPECT_NE(tags["GPSLatitude"].find("60.17"), std::string::npos) << label;
        EXPECT_EQ(tags["Title"], "Harbour") << label;
        EXPECT_EQ(tags["XMP:Orientation"], "1") << label;
        EXPECT_EQ(tags["ExifImageWidth"], "60") << label;
        EXPECT_EQ(tags["ExifImageHeight"], "80") << label;
        // Our own reader finds what was written: read back, it travels on.
        const TConversion again = Convert(out, dir.File("again.jpg"), TSizeMode::Largest, 80);
        ASSERT_TRUE(again.Report.Outcome.Written) << again.Report.Outcome.Error;
        tags = ExifToolTags(dir.File("again.jpg"));
        EXPECT_EQ(tags["ProfileDescription"], "Adobe RGB (1998) compatible") << label << " read back";
        EXPECT_EQ(tags["DateTimeOriginal"], "2021:06:05 14:03:02") << label << " read back";
        EXPECT_EQ(tags["Title"], "Harbour") << label << " read back";
        EXPECT_EQ(tags["ImageWidth"], "60") << label << " read back: turned once";
      } else {
        for (const char* tag : {"DateTimeOriginal", "GPSLatitude", "Title", "ExifImageWidth"})
          EXPECT_EQ(tags.count(tag), 0u) << label << ": " << tag;
      }
    }
  }
}

}  // namespace
}  // namespace pellavo
namespace pellavo {
namespace {

// Opaque red on the left half, clear on the right, where the hidden colour is under.
TBitmap HalfClear(TColor32 hidden) {
  return MakeBitmap32(40, 20, [hidden](int32_t x, int32_t) { return x < 20 ? kRed : hidden; });
}

TEST_F(Photos, TransparencyKeptOrLaidOntoTheBackground) {
  WritePng(dir.File("half.png"), HalfClear(0x00000000u));
  {
    TGIFImage gif;
    gif.SetKeepAlpha(true);
    gif.Assign(HalfClear(0x00000000u));
    gif.WriteToFile(dir.File("half.gif"));
  }
  HalfClear(0x0000FF00u).WriteToFile(dir.File("half.bmp"));  // green under the clear half

  // Halved with Lanczos into PNG: the alpha channel survives, and the column where red meets
  // clear is partly transparent red, neither darkened (alpha filtered but colour not divided
  // back) nor tinted by the green hidden under the clear pixels (colour not weighted by alpha).
  WritePng(dir.File("hidden-green.png"), HalfClear(0x0000FF00u));
  ASSERT_TRUE(Convert(dir.File("hidden-green.png"), dir.File("kept.png"), TSizeMode::Largest, 20).Report.Outcome.Written);
  TPNGObject png;
  png.ReadFromFile(dir.File("kept.png"));
  ASSERT_EQ(png.Header().ColorType(), COLOR_RGBALPHA);
  std::vector<TColor32> row(20);
  png.ReadRow32(5, row.data());
  EXPECT_EQ(row[0], kRed);
  EXPECT_EQ(AlphaOf(row[19]), 0);
  for (TColor32 c : row) {
    if (AlphaOf(c) == 0) continue;
    EXPECT_GE(RedOf(c), 250) << std::hex << c;
    EXPECT_LE(GreenOf(c), 5) << std::hex << c;
  }

  // Formats without transparency get the background, white unless chosen; every source with
  // transparency alike (a 32-bit BMP no longer shows the colour under its clear pixels).
  for (const char* source : {"half.png", "half.gif", "half.bmp"}) {
    for (TColor background : {TColor{0x00FFFFFF}, TColor{0x00FF0000}}) {  // white, blue
      settings.BackgroundColor = background;
      const std::string out = dir.File(std::string(source) + ".jpg");
      ASSERT_TRUE(ConvertSameSize(dir.File(source), out).Report.Outcome.Written) << source;
      const TImage s = ReadImage(out);
      const TColor32 expected = background == 0x00FFFFFF ? kWhite : kBlue;
      EXPECT_PRED3(Near, s.At(39, 10), expected, 6) << source;
      EXPECT_PRED3(Near, s.At(0, 10), kRed, 6) << source;
    }
  }
  settings.BackgroundColor = 0x00FFFFFF;

  // GIF to GIF keeps a transparent index where the source was clear.
  ASSERT_TRUE(ConvertSameSize(dir.File("half.gif"), dir.File("kept.gif")).Report.Outcome.Written);
  TGIFImage gif;
  gif.ReadFromFile(dir.File("kept.gif"));
  ASSERT_TRUE(gif.Frame(0).Transparent());
  std::vector<uint8_t> indices(40);
  gif.Frame(0).ReadIndexRow(10, indices.data());
  EXPECT_EQ(indices[39], gif.Frame(0).TransparentIndex());
  EXPECT_NE(indices[0], gif.Frame(0).TransparentIndex());

  // Without KeepAlpha: the design's black, in exactly the bytes of an opaque twin that has black
  // where the source is clear.
  settings.KeepAlpha = false;
  WritePng(dir.File("twin.png"), HalfClear(0xFF000000u));
  for (const char* ext : {".png", ".jpg"}) {
    const std::string a = dir.File(std::string("design") + ext), b = dir.File(std::string("twin") + ext);
    ASSERT_TRUE(Convert(dir.File("half.png"), a, TSizeMode::Largest, 20).Report.Outcome.Written);
    ASSERT_TRUE(Convert(dir.File("twin.png"), b, TSizeMode::Largest, 20).Report.Outcome.Written);
    EXPECT_EQ(test::ReadBytes(a), test::ReadBytes(b)) << ext;
  }
}

}  // namespace
}  // namespace pellavo
namespace pellavo {
namespace {

// A CMYK profile that sees only the black ink: lightness 100 without it, 0 with all of it, no
// colour at all. Through it a cyan patch is white, where the plain ink formula makes it cyan.

TEST_F(Photos, CmykJpegsConvertThroughTheirProfile) {
  if (!test::HaveTool("convert")) GTEST_SKIP() << "ImageMagick is not installed";
  // ImageMagick writes Adobe's inverted CMYK.
  MakeBitmap32(32, 16, [](int32_t x, int32_t) { return x < 16 ? 0xFF00FFFFu : 0xFF000000u; })  // cyan | black
      .WriteToFile(dir.File("patches.bmp"));
  ASSERT_EQ(test::RunCommand("convert '" + dir.File("patches.bmp") + "' -colorspace CMYK -quality 100 '" +
                             dir.File("cmyk.jpg") + "'")
                .code,
            0);
  std::vector<uint8_t> piece{1, 1};
  const std::vector<uint8_t> profile = BlackInkOnlyProfile();
  ASSERT_FALSE(profile.empty());
  piece.insert(piece.end(), profile.begin(), profile.end());
  test::WriteBytes(dir.File("tagged.jpg"),
                   WithSegment(test::ReadBytes(dir.File("cmyk.jpg")), 0xE2, std::string("ICC_PROFILE\0", 12), piece));

  struct TCase {
    const char* source;
    const char* output;
    TColor32 cyan_patch, black_patch;
  };
  const TCase cases[] = {
      {"cmyk.jpg", "plain.png", 0xFF00FFFFu, 0xFF000000u},   // no profile: the ink formula
      {"tagged.jpg", "tagged.png", kWhite, 0xFF000000u},      // through the profile
      {"tagged.jpg", "tagged.bmp", kWhite, 0xFF000000u},
  };
  for (const TCase& c : cases) {
    const TConversion seen = ConvertSameSize(dir.File(c.source), dir.File(c.output));
    ASSERT_TRUE(seen.Report.Outcome.Written) << c.source << ": " << seen.Report.Outcome.Error;
    EXPECT_TRUE(seen.Report.Outcome.Warnings.empty()) << seen.Report.Outcome.Warnings[0];
    const TImage s = ReadImage(dir.File(c.output));
    EXPECT_PRED3(Near, s.At(4, 8), c.cyan_patch, 12) << c.output << " " << std::hex << s.At(4, 8);
    EXPECT_PRED3(Near, s.At(28, 8), c.black_patch, 12) << c.output << " " << std::hex << s.At(28, 8);
  }
  // An RGB output cannot carry a CMYK profile: its pixels are sRGB and it carries none.
  const std::vector<uint8_t> png = test::ReadBytes(dir.File("tagged.png"));
  EXPECT_EQ(std::string(png.begin(), png.end()).find("iCCP"), std::string::npos);
}

// A profile the output cannot hold converts the pixels instead, and says why; one too large to be
// read at all is named as such, not as damaged data.
TEST_F(Photos, AProfileTooLargeForTheOutputConvertsToSrgbWithAWarning) {
  const TBitmap stored = MakeBitmap32(32, 24, [](int32_t x, int32_t y) {
    return ArgbColor(0xFF, uint8_t(x * 8), uint8_t(255 - y * 10), uint8_t(60 + (x + y) * 3));
  });
  // Over the 255 APP2 segments a JPEG file can chain, under the 16 MiB a PNG's iCCP may inflate to.
  TImageMetadata big;
  big.IccProfile = test::PaddedAdobeRgbProfile(16'750'000);
  ASSERT_GT(big.IccProfile.size(), kJpegMetadataCapacity.IccProfile);
  WritePng(dir.File("big-profile.png"), stored, big);
  TImageMetadata huge;
  huge.IccProfile = test::PaddedAdobeRgbProfile(50'000'000);
  WritePng(dir.File("huge-profile.png"), stored, huge);

  // The reference: a BMP holds no profile, so its pixels are always converted.
  ASSERT_TRUE(ConvertSameSize(dir.File("big-profile.png"), dir.File("srgb.bmp")).Report.Outcome.Written);
  const TImage converted = ReadImage(dir.File("srgb.bmp"));
  const TImage as_stored = ReadImage(dir.File("big-profile.png"));

  const TFileOutcome o = ConvertSameSize(dir.File("big-profile.png"), dir.File("big.jpg")).Report.Outcome;
  ASSERT_TRUE(o.Written) << o.Error;
  ASSERT_EQ(o.Warnings.size(), 1u);
  EXPECT_NE(o.Warnings[0].find("colour profile"), std::string::npos) << o.Warnings[0];
  EXPECT_NE(o.Warnings[0].find("too large for a .jpg file"), std::string::npos) << o.Warnings[0];
  EXPECT_NE(o.Warnings[0].find("converted to sRGB"), std::string::npos) << o.Warnings[0];
  const std::vector<uint8_t> jpeg = test::ReadBytes(dir.File("big.jpg"));
  EXPECT_TRUE(ReadJpegMetadata(jpeg.data(), jpeg.size()).IccProfile.empty());
  const TImage written = ReadImage(dir.File("big.jpg"));
  double off_converted = 0, off_stored = 0;
  for (size_t i = 0; i < written.px.size(); ++i) {
    off_converted += DeltaE76(written.px[i], converted.px[i]);
    off_stored += DeltaE76(written.px[i], as_stored.px[i]);
  }
  const double n = double(written.px.size());
  EXPECT_LT(off_converted / n, 2.0) << "the pixels are sRGB";
  EXPECT_GT(off_stored / n, 5.0) << "the pixels were converted";

  // PNG carries any size: the profile travels unchanged.
  const TFileOutcome png = ConvertSameSize(dir.File("big-profile.png"), dir.File("big.png")).Report.Outcome;
  ASSERT_TRUE(png.Written) << png.Error;
  EXPECT_TRUE(png.Warnings.empty());

  const TFileOutcome refused = ConvertSameSize(dir.File("huge-profile.png"), dir.File("huge.jpg")).Report.Outcome;
  ASSERT_TRUE(refused.Written) << refused.Error;
  ASSERT_EQ(refused.Warnings.size(), 1u);
  EXPECT_NE(refused.Warnings[0].find("larger than 16 MiB"), std::string::npos) << refused.Warnings[0];
  EXPECT_EQ(refused.Warnings[0].find("inflate"), std::string::npos) << refused.Warnings[0];
}

// A little-endian TIFF block whose first directory holds the orientation and count - 1 private
// tags: far more entries than exiv2 accepts.
std::vector<uint8_t> CrowdedExif(int orientation, int count) {
  std::vector<uint8_t> b{'I', 'I', 42, 0, 8, 0, 0, 0, uint8_t(count), uint8_t(count >> 8)};
  const auto entry = [&](int tag, int value) {
    const uint8_t e[12] = {uint8_t(tag), uint8_t(tag >> 8), 3, 0, 1, 0, 0, 0, uint8_t(value), uint8_t(value >> 8), 0, 0};
    b.insert(b.end(), e, e + 12);
  };
  entry(0x0112, orientation);
  for (int i = 1; i < count; ++i) entry(0xC000 + i, i);
  b.insert(b.end(), {0, 0, 0, 0});
  return b;
}

// EXIF that exiv2 will not read is still read for its orientation: the photo is turned, and the
// warning says what was left behind.
TEST_F(Photos, AnExifBlockExiv2RefusesStillTurnsThePhotoWithAWarning) {
  TImageMetadata crowded;
  crowded.Exif = CrowdedExif(6, 5401);
  WritePng(dir.File("crowded.png"), Quadrants(48, 32), crowded);
  for (const bool keep : {false, true}) {
    SCOPED_TRACE(keep);
    settings.KeepMetadata = keep;
    const TFileOutcome o = ConvertSameSize(dir.File("crowded.png"), dir.File("upright.png")).Report.Outcome;
    ASSERT_TRUE(o.Written) << o.Error;
    const TImage s = ReadImage(dir.File("upright.png"));
    ASSERT_EQ(s.w, 32);
    ASSERT_EQ(s.h, 48);
    EXPECT_EQ(s.At(0, 0), kBlue);
    EXPECT_EQ(s.At(31, 0), kRed);
    EXPECT_EQ(s.At(0, 47), kWhite);
    EXPECT_EQ(s.At(31, 47), kGreen);
    ASSERT_EQ(o.Warnings.size(), 1u);
    EXPECT_NE(o.Warnings[0].find("5401 entries"), std::string::npos) << o.Warnings[0];
    EXPECT_EQ(o.Warnings[0].find("left out") != std::string::npos, keep) << o.Warnings[0];
    TPNGObject png;
    png.ReadFromFile(dir.File("upright.png"));
    EXPECT_TRUE(png.EmbeddedMetadata().Exif.empty()) << "no EXIF with a turn the pixels no longer need";
  }
}

// With --keep-metadata, what a JPEG file cannot hold is named: XMP over its one segment.
TEST_F(Photos, XmpTooLargeForAJpegSegmentIsLeftOutWithAWarning) {
  TImageMetadata tagged;
  tagged.Xmp = "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?><x:xmpmeta xmlns:x='adobe:ns:meta/'>" +
               std::string(70000, ' ') + "</x:xmpmeta><?xpacket end='w'?>";
  WritePng(dir.File("xmp.png"), Quadrants(16, 16), tagged);
  settings.KeepMetadata = true;
  const TFileOutcome o = ConvertSameSize(dir.File("xmp.png"), dir.File("xmp.jpg")).Report.Outcome;
  ASSERT_TRUE(o.Written) << o.Error;
  ASSERT_EQ(o.Warnings.size(), 1u);
  EXPECT_NE(o.Warnings[0].find("the XMP packet"), std::string::npos) << o.Warnings[0];
  EXPECT_NE(o.Warnings[0].find("too large for a .jpg file; left out"), std::string::npos) << o.Warnings[0];
  const TFileOutcome png = ConvertSameSize(dir.File("xmp.png"), dir.File("xmp-out.png")).Report.Outcome;
  EXPECT_TRUE(png.Warnings.empty());
}

}  // namespace
}  // namespace pellavo
