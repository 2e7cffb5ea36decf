#include <gtest/gtest.h>
#include <libheif/heif.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/files.h"
#include "core/stream.h"
#include "formats/all/standard_formats.h"
#include "formats/heif/heif_image.h"
#include "formats/jpeg/jpeg.h"
#include "formats/picture.h"
#include "formats/png/png_object.h"
#include "raster/bitmap32.h"
#include "support/commands.h"
#include "support/images.h"
#include "support/profiles.h"
#include "support/temp_dir.h"
#include "worker/convert_thread.h"

// The HEVC encoder libheif uses to write the fixtures keeps a little memory per encoder it never
// frees; in a sanitizer build that shows up as a leak of the test, not of the reader under test.
extern "C" const char* __lsan_default_suppressions() { return "leak:libx265.so\n"; }

namespace pellavo {
namespace {

using test::HaveTool;
using test::LinearRgbProfile;
using test::MakeBitmap32;
using test::MeanRgbDifference;
using test::Pixels;
using test::ReadBytes;
using test::TTempDir;

// HEVC at quality 90 with 4:2:0 chroma on the smooth gradients: about 1.5 measured.
constexpr double kQuality90Tolerance = 3.0;

THeifImage Decode(const std::vector<uint8_t>& bytes) {
  THeifImage heif;
  TMemoryStream in(bytes);
  heif.LoadFromStream(in);
  return heif;
}

// What heif-enc cannot make: a HEIC of an image, shown turned or mirrored as `orientation`
// says (the Exif numbering), with an ICC profile, alpha and an EXIF block when given. Written
// with libheif's HEVC encoder.
std::vector<uint8_t> MakeHeic(const TBitmap& image, heif_orientation orientation,
                              const std::vector<uint8_t>& icc = {}, bool alpha = false,
                              const std::vector<uint8_t>& exif = {}) {
  const int w = image.Width(), h = image.Height();
  heif_image* raw = nullptr;
  EXPECT_EQ(heif_image_create(w, h, heif_colorspace_RGB, alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                              &raw)
                .code,
            heif_error_Ok);
  std::unique_ptr<heif_image, void (*)(const heif_image*)> img(raw, heif_image_release);
  heif_image_add_plane(img.get(), heif_channel_interleaved, w, h, 8);
  int stride = 0;
  uint8_t* plane = heif_image_get_plane(img.get(), heif_channel_interleaved, &stride);
  const std::vector<TColor32> pixels = Pixels(image);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const TColor32 c = pixels[size_t(y * w + x)];
      uint8_t* p = plane + size_t(y) * size_t(stride) + size_t(x) * (alpha ? 4 : 3);
      p[0] = RedOf(c), p[1] = GreenOf(c), p[2] = BlueOf(c);
      if (alpha) p[3] = AlphaOf(c);
    }
  if (!icc.empty()) heif_image_set_raw_color_profile(img.get(), "prof", icc.data(), icc.size());

  std::unique_ptr<heif_context, void (*)(heif_context*)> ctx(heif_context_alloc(), heif_context_free);
  heif_encoder* raw_encoder = nullptr;
  EXPECT_EQ(heif_context_get_encoder_for_format(ctx.get(), heif_compression_HEVC, &raw_encoder).code, heif_error_Ok);
  std::unique_ptr<heif_encoder, void (*)(heif_encoder*)> encoder(raw_encoder, heif_encoder_release);
  heif_encoder_set_lossy_quality(encoder.get(), 90);
  std::unique_ptr<heif_encoding_options, void (*)(heif_encoding_options*)> options(heif_encoding_options_alloc(),
                                                                                  heif_encoding_options_free);
  options->image_orientation = orientation;
  heif_image_handle* raw_handle = nullptr;
  EXPECT_EQ(heif_context_encode_image(ctx.get(), img.get(), encoder.get(), options.get(), &raw_handle).code,
            heif_error_Ok);
  std::unique_ptr<heif_image_handle, void (*)(const heif_image_handle*)> handle(raw_handle, heif_image_handle_release);
  if (!exif.empty()) {
    EXPECT_EQ(heif_context_add_exif_metadata(ctx.get(), handle.get(), exif.data(), int(exif.size())).code,
              heif_error_Ok);
  }

  std::vector<uint8_t> bytes;
  heif_writer writer{1, [](heif_context*, const void* data, size_t size, void* out) {
                       auto* v = static_cast<std::vector<uint8_t>*>(out);
                       v->insert(v->end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
                       return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
                     }};
  EXPECT_EQ(heif_context_write(ctx.get(), &writer, &bytes).code, heif_error_Ok);
  return bytes;
}

// A little-endian TIFF block with one tag, the orientation.
std::vector<uint8_t> OrientationExif(int orientation) {
  return {'I', 'I', 42, 0, 8, 0, 0, 0,  1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0, uint8_t(orientation), 0, 0, 0, 0, 0, 0, 0};
}

// Opaque blue with a red square in the top left corner.
TColor32 CornerPixel(int32_t x, int32_t y) { return x < 16 && y < 16 ? 0xFFFF0000u : 0xFF0000FFu; }

std::string RedCorner(const TBitmap& b) {
  const std::vector<TColor32> p = Pixels(b);
  const auto red = [&](int x, int y) { return RedOf(p[size_t(y) * size_t(b.Width()) + size_t(x)]) > 128; };
  const int r = b.Width() - 4, s = b.Height() - 4;
  std::string corners;
  if (red(3, 3)) corners += "top-left ";
  if (red(r, 3)) corners += "top-right ";
  if (red(3, s)) corners += "bottom-left ";
  if (red(r, s)) corners += "bottom-right ";
  return corners;
}

// The primary image comes out the way the file says it is shown, whatever the camera stored.
TEST(Heif, ThePrimaryImageComesOutUpright) {
  const TBitmap stored = MakeBitmap32(64, 32, CornerPixel);
  const struct {
    heif_orientation orientation;
    int width;
    const char* corner;
  } cases[] = {
      {heif_orientation_normal, 64, "top-left "},
      {heif_orientation_rotate_90_cw, 32, "top-right "},
      {heif_orientation_rotate_180, 64, "bottom-right "},
      {heif_orientation_rotate_270_cw, 32, "bottom-left "},
      {heif_orientation_flip_horizontally, 64, "top-right "},
      {heif_orientation_flip_vertically, 64, "bottom-left "},
  };
  for (const auto& c : cases) {
    const THeifImage image = Decode(MakeHeic(stored, c.orientation));
    EXPECT_EQ(image.Width(), c.width) << "orientation " << c.orientation;
    EXPECT_EQ(image.Width() * image.Height(), 64 * 32) << "orientation " << c.orientation;
    EXPECT_EQ(RedCorner(image), c.corner) << "orientation " << c.orientation;
  }
}

// The profile, EXIF and XMP travel as the file's metadata; colours are converted where every
// source's are (see ProfileAndTurnsThroughTheConversion).
TEST(Heif, AnIccProfileAndExifAreHandedOnAndAlphaIsKept) {
  const TBitmap grey = MakeBitmap32(64, 32, [](int, int) { return TColor32{0xFF808080}; });
  const std::vector<uint8_t> icc = LinearRgbProfile(), exif = OrientationExif(6);
  const THeifImage image = Decode(MakeHeic(grey, heif_orientation_normal, icc, false, exif));
  for (TColor32 p : Pixels(image)) ASSERT_NEAR(GreenOf(p), 128, 3);
  const TImageMetadata m = image.EmbeddedMetadata();
  EXPECT_EQ(m.IccProfile, icc);
  EXPECT_EQ(m.Colours, TStoredColours::Rgb);
  EXPECT_EQ(m.Exif, exif) << "from the byte-order mark on";
  EXPECT_FALSE(image.DecodedUpright()) << "no rotation of its own";
  EXPECT_TRUE(Decode(MakeHeic(grey, heif_orientation_rotate_180)).DecodedUpright());
  EXPECT_TRUE(Decode(MakeHeic(grey, heif_orientation_flip_vertically)).DecodedUpright());

  const TBitmap translucent = MakeBitmap32(64, 32, [](int x, int y) {
    return (test::SmoothPixel(x, y) & 0xFFFFFF) | TColor32(x * 4) << 24;
  });
  const THeifImage with_alpha = Decode(MakeHeic(translucent, heif_orientation_normal, {}, true));
  ASSERT_EQ(with_alpha.BitsPerPixel(), 32);
  const std::vector<TColor32> want = Pixels(translucent), got = Pixels(with_alpha);
  double alpha_error = 0;
  for (size_t i = 0; i < want.size(); ++i) alpha_error += std::abs(int(AlphaOf(want[i])) - int(AlphaOf(got[i])));
  EXPECT_LE(alpha_error / double(want.size()), 2.0);
}

TEST(Heif, FilesOfTheReferenceEncoderRead) {
  if (!HaveTool("heif-enc")) GTEST_SKIP() << "libheif-examples not installed";
  TTempDir dir;
  const TBitmap smooth = MakeBitmap32(64, 48, test::SmoothPixel);
  TPNGObject png;
  png.Assign(smooth);
  png.WriteToFile(dir.File("in.png"));
  ASSERT_EQ(test::RunCommand("heif-enc -q 90 '" + dir.File("in.png") + "' -o '" + dir.File("ref.heic") + "' >/dev/null 2>&1").code, 0);
  const THeifImage image = Decode(ReadBytes(dir.File("ref.heic")));
  ASSERT_EQ(image.Width(), 64);
  ASSERT_EQ(image.Height(), 48);
  EXPECT_EQ(image.BitsPerPixel(), 24);
  EXPECT_LE(MeanRgbDifference(Pixels(smooth), Pixels(image)), kQuality90Tolerance);
}

// Through the conversion: the profile converted to sRGB for a format that carries none and
// carried by one that does; the picture turned once, by the file's own rotation when it has one,
// else by its EXIF orientation (as heif-enc writes a sideways camera JPEG).
TEST(Heif, ProfileAndTurnsThroughTheConversion) {
  RegisterStandardFormats();
  TTempDir dir;
  const auto convert = [&](const std::vector<uint8_t>& heic, const std::string& ext) {
    const std::string source = dir.File("in.heic");
    WriteFileSafely(source, true, heic.data(), heic.size());
    TWorkerOrder order;
    order.Source = source;
    order.Output = dir.File("out" + ext);
    order.Settings.Overwrite = true;
    order.Settings.FrameOn = false;
    order.Settings.SizeMode = TSizeMode::Percent;
    order.SizeValue = 100;
    const TConversion seen = ConvertFile(order);
    EXPECT_TRUE(seen.Report.Outcome.Written) << seen.Report.Outcome.Error;
    auto picture = std::make_unique<TPicture>();
    picture->ReadFromFile(order.Output);
    return picture;
  };

  const TBitmap grey = MakeBitmap32(64, 32, [](int, int) { return TColor32{0xFF808080}; });
  const std::vector<uint8_t> icc = LinearRgbProfile();
  // Mid grey: 128 in a linear profile is 188 in sRGB.
  TBitmap32 bmp;
  bmp.Assign(*convert(MakeHeic(grey, heif_orientation_normal, icc), ".bmp"));
  EXPECT_NEAR(GreenOf(bmp.Bits()[10 * bmp.Width() + 10]), 188, 3);
  const std::unique_ptr<TPicture> png = convert(MakeHeic(grey, heif_orientation_normal, icc), ".png");
  EXPECT_EQ(png->Graphic()->EmbeddedMetadata().IccProfile, icc);
  bmp.Assign(*png);
  EXPECT_NEAR(GreenOf(bmp.Bits()[10 * bmp.Width() + 10]), 128, 3);

  const TBitmap stored = MakeBitmap32(64, 32, CornerPixel);
  const struct {
    const char* what;
    std::vector<uint8_t> heic;
  } cases[] = {
      {"rotation and the same EXIF orientation", MakeHeic(stored, heif_orientation_rotate_90_cw, {}, false, OrientationExif(6))},
      {"EXIF orientation alone", MakeHeic(stored, heif_orientation_normal, {}, false, OrientationExif(6))},
  };
  for (const auto& c : cases) {
    TBitmap upright;
    upright.Assign(*convert(c.heic, ".png")->Graphic());
    EXPECT_EQ(upright.Width(), 32) << c.what;
    EXPECT_EQ(RedCorner(upright), "top-right ") << c.what;
  }
}

// The reference encoder keeps a sideways camera JPEG's EXIF orientation and turns nothing itself.
TEST(Heif, AReferenceHeicOfASidewaysPhotoConvertsUprightToJpeg) {
  if (!HaveTool("heif-enc") || !HaveTool("exiftool")) GTEST_SKIP() << "libheif-examples or exiftool not installed";
  RegisterStandardFormats();
  TTempDir dir;
  TJPEGImage jpeg;
  jpeg.SetJpegQuality(95);
  TImageMetadata metadata;
  metadata.Exif = OrientationExif(6);
  jpeg.SetMetadata(metadata);
  jpeg.Assign(MakeBitmap32(64, 32, CornerPixel));
  jpeg.WriteToFile(dir.File("sideways.jpg"));
  ASSERT_EQ(test::RunCommand("heif-enc -q 90 '" + dir.File("sideways.jpg") + "' -o '" + dir.File("IMG_1.HEIC") +
                             "' >/dev/null 2>&1")
                .code,
            0);
  TWorkerOrder order;
  order.Source = dir.File("IMG_1.HEIC");
  order.Output = dir.File("IMG_1.HEIC");  // Source: the output format of a HEIC is JPEG
  order.Settings.FrameOn = false;
  order.Settings.SizeMode = TSizeMode::Percent;
  order.SizeValue = 100;
  const TConversion seen = ConvertFile(order);
  ASSERT_TRUE(seen.Report.Outcome.Written) << seen.Report.Outcome.Error;
  EXPECT_EQ(seen.Report.Outcome.Output, dir.File("IMG_1.jpg"));
  TPicture out;
  out.ReadFromFile(dir.File("IMG_1.jpg"));
  TBitmap upright;
  upright.Assign(*out.Graphic());
  EXPECT_EQ(upright.Width(), 32);
  EXPECT_EQ(RedCorner(upright), "top-right ");
  EXPECT_EQ(test::RunAndCapture("exiftool -s3 -n -Orientation '" + dir.File("IMG_1.jpg") + "'"), "")
      << "no EXIF kept by default";
}

TEST(Heif, DamagedFilesFailWithAReasonAndNothingIsWritten) {
  const std::vector<uint8_t> good = MakeHeic(MakeBitmap32(64, 32, test::PatternPixel), heif_orientation_normal);
  const std::vector<uint8_t> truncated(good.begin(), good.begin() + std::ptrdiff_t(good.size() * 2 / 3));
  // The HEVC configuration box renamed: the image item has no decoder set-up.
  std::vector<uint8_t> no_config = good;
  const std::string text(good.begin(), good.end());
  const size_t hvcc = text.find("hvcC");
  ASSERT_NE(hvcc, std::string::npos);
  no_config[hvcc + 3] = 'X';
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"a grid far larger than its image", ReadBytes("tests/data/heif/grid-larger-than-its-image.heic")},
      {"empty", {}},
      {"not HEIF", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0}},
      {"truncated", truncated},
      {"no codec configuration", no_config},
  };
  for (const Case& c : cases) {
    THeifImage image;
    image.SetSize(3, 2);
    TMemoryStream in(c.bytes);
    try {
      image.LoadFromStream(in);
      ADD_FAILURE() << c.what << ": decoded";
    } catch (const EHeifError& e) {
      const std::string text = e.what();
      EXPECT_TRUE(text.starts_with("HEIF image is not valid: ")) << c.what << ": " << text;
      EXPECT_GT(text.size(), 26u) << c.what << ": the reason follows";
    }
    EXPECT_EQ(image.Width(), 3) << c.what << ": the previous image stays";
  }

  THeifImage image;
  image.SetSize(4, 4);
  TMemoryStream out;
  EXPECT_THROW(image.SaveToStream(out), EHeifError);
  EXPECT_EQ(out.Size(), 0);
}

}  // namespace
}  // namespace pellavo
