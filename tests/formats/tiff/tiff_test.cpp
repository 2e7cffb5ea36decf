#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/decode_limits.h"
#include "core/stream.h"
#include "formats/tiff/tiff_image.h"
#include "metadata/exif_blocks.h"
#include "support/commands.h"
#include "support/images.h"
#include "support/lossy_codec.h"
#include "support/profiles.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

using test::HaveTool;
using test::MakeBitmap32;
using test::Pixels;
using test::ReadBytes;
using test::RunCommand;
using test::TTempDir;
using test::WriteBytes;

TTiffImage Decode(const std::vector<uint8_t>& bytes, const TDecodeLimits& limits = {}) {
  TTiffImage image;
  image.SetDecodeLimits(limits);
  TMemoryStream in(bytes);
  image.LoadFromStream(in);
  return image;
}

std::vector<uint8_t> Encode(const TBitmap& bitmap, const TImageMetadata& metadata = {}, bool keep_alpha = true) {
  TTiffImage tiff;
  tiff.KeepAlpha = keep_alpha;
  tiff.Metadata = metadata;
  tiff.Assign(bitmap);
  TMemoryStream out;
  tiff.SaveToStream(out);
  return out.Take();
}

// A PAM file of straight red, green, blue and alpha bytes, which ImageMagick reads and writes.
void WritePam(const std::string& path, const TBitmap& bitmap) {
  std::string header = "P7\nWIDTH " + std::to_string(bitmap.Width()) + "\nHEIGHT " + std::to_string(bitmap.Height()) +
                       "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
  std::vector<uint8_t> bytes(header.begin(), header.end());
  for (TColor32 c : Pixels(bitmap))
    for (int shift : {16, 8, 0, 24}) bytes.push_back(uint8_t(c >> shift));
  WriteBytes(path, bytes);
}

// What ImageMagick decodes from a file, as 0xAARRGGBB pixels.
std::vector<TColor32> MagickPixels(const std::string& path, int pixel_count) {
  const std::string raw = path + ".rgba";
  if (RunCommand("convert '" + path + "' -depth 8 rgba:'" + raw + "' 2>/dev/null").code != 0) return {};
  const std::vector<uint8_t> bytes = ReadBytes(raw);
  std::vector<TColor32> pixels;
  for (size_t i = 0; i + 3 < bytes.size() && int(pixels.size()) < pixel_count; i += 4)
    pixels.push_back(ArgbColor(bytes[i + 3], bytes[i], bytes[i + 1], bytes[i + 2]));
  return pixels;
}

// The mean difference of red, green, blue and alpha over the pixels either image shows (a
// pixel transparent in both has no colour), and the largest alpha difference.
struct TDifference {
  double Mean = 0;
  int MaxAlpha = 0;
};
TDifference Compare(const std::vector<TColor32>& a, const std::vector<TColor32>& b) {
  TDifference d;
  if (a.size() != b.size() || a.empty()) return {255, 255};
  int64_t sum = 0, n = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    d.MaxAlpha = std::max(d.MaxAlpha, std::abs(int(AlphaOf(a[i])) - int(AlphaOf(b[i]))));
    if (AlphaOf(a[i]) == 0 && AlphaOf(b[i]) == 0) continue;
    ++n;
    for (int shift : {0, 8, 16}) sum += std::abs(int((a[i] >> shift) & 0xFF) - int((b[i] >> shift) & 0xFF));
  }
  d.Mean = n ? double(sum) / double(3 * n) : 0;
  return d;
}

// Colours that run differently in each channel, and alpha across the image, every value in it.
TColor32 Translucent(int32_t x, int32_t y) { return (test::SmoothPixel(x, y) & 0xFFFFFF) | TColor32((x * 4 + y * 3) & 0xFF) << 24; }

TEST(Tiff, EveryKindReadsAsAnIndependentDecoderReadsIt) {
  if (!HaveTool("convert") || !HaveTool("tiffcp")) GTEST_SKIP() << "ImageMagick or libtiff's tools are not installed";
  TTempDir dir;
  constexpr int kW = 67, kH = 43;  // odd sizes, not a multiple of a tile or a strip
  WritePam(dir.File("source.pam"), MakeBitmap32(kW, kH, Translucent));
  const std::string source = "'" + dir.File("source.pam") + "'";
  // How far our pixels may stray from ImageMagick's, as a mean over the channels, by cause.
  constexpr double kExact = 0.0;
  // 16 to 8 bits: both round, by slightly different formulas.
  constexpr double kSixteenBits = 0.5;
  // A colour map holds 16-bit values, which both take to 8 bits by slightly different formulas.
  constexpr double kColourMap = 0.5;
  // The plain CMYK formulas differ by rounding.
  constexpr double kInkFormula = 1.0;
  // JPEG in TIFF: both decode through libjpeg, but their upsampling of chroma differs.
  constexpr double kJpeg = 2.0;
  struct Kind {
    const char* what;
    std::string make;  // the command that makes k.tif from the source (or from plain.tif)
    double tolerance;
    int bits;  // of the bitmap read
  } kinds[] = {
      {"uncompressed RGB strips", "convert " + source + " -alpha off -compress none", kExact, 24},
      {"LZW", "convert " + source + " -alpha off -compress lzw", kExact, 24},
      {"Deflate with predictor", "convert " + source + " -alpha off -compress zip -define tiff:predictor=2", kExact, 24},
      {"PackBits", "convert " + source + " -alpha off -compress rle", kExact, 24},
      {"tiles of 16 x 16", "convert " + source + " -alpha off -compress zip -define tiff:tile-geometry=16x16", kExact, 24},
      {"separate planes", "convert " + source + " -alpha off -interlace plane -compress lzw", kExact, 24},
      {"16-bit RGB", "convert " + source + " -alpha off -depth 16 -compress zip", kSixteenBits, 24},
      {"RGBA, unassociated alpha", "convert " + source + " -compress lzw", kExact, 32},
      {"16-bit RGBA in tiles", "convert " + source + " -depth 16 -compress zip -define tiff:tile-geometry=32x32",
       kSixteenBits, 32},
      {"grey", "convert " + source + " -alpha off -colorspace gray -compress lzw", kExact, 24},
      {"16-bit grey", "convert " + source + " -alpha off -colorspace gray -depth 16", kSixteenBits, 24},
      {"grey with alpha", "convert " + source + " -colorspace gray -compress zip", kExact, 32},
      {"1 bit, CCITT G4", "convert " + source + " -alpha off -threshold 50% -type bilevel -compress group4", kExact, 24},
      {"1 bit, CCITT G3", "convert " + source + " -alpha off -threshold 50% -type bilevel -compress fax", kExact, 24},
      {"palette", "convert " + source + " -alpha off -colors 50 -type palette -compress lzw", kColourMap, 24},
      {"CMYK without a profile", "convert " + source + " -alpha off -colorspace cmyk -compress lzw", kInkFormula, 24},
      {"JPEG, YCbCr subsampled",
       "convert " + source + " -alpha off -depth 8 -compress none '" + dir.File("plain.tif") + "' && tiffcp -c jpeg:90 -r 16 '" +
           dir.File("plain.tif") + "'",
       kJpeg, 24},
  };
  for (const Kind& k : kinds) {
    const std::string path = dir.File("k.tif");
    std::remove(path.c_str());
    ASSERT_EQ(RunCommand(k.make + " '" + path + "' 2>/dev/null").code, 0) << k.what;
    const std::vector<TColor32> theirs = MagickPixels(path, kW * kH);
    ASSERT_EQ(theirs.size(), size_t(kW * kH)) << k.what;
    const TTiffImage ours = Decode(ReadBytes(path));
    ASSERT_EQ(ours.Width(), kW) << k.what;
    ASSERT_EQ(ours.Height(), kH) << k.what;
    EXPECT_EQ(ours.BitsPerPixel(), k.bits) << k.what;
    const TDifference d = Compare(Pixels(ours), theirs);
    EXPECT_LE(d.Mean, k.tolerance) << k.what;
    EXPECT_LE(d.MaxAlpha, k.bits == 32 ? 1 : 0) << k.what;
  }
}

TEST(Tiff, WrittenFilesReadBackExactlyHereAndInTiffinfo) {
  const TBitmap translucent = MakeBitmap32(37, 23, Translucent);
  TBitmap rgb = MakeBitmap32(37, 23, test::SmoothPixel);
  rgb.SetPixelFormat(TPixelFormat::pf24bit);
  struct Case {
    const char* what;
    const TBitmap& source;
    bool keep_alpha;
    int bits;
  } cases[] = {
      {"24-bit", rgb, true, 24},
      {"32-bit with alpha", translucent, true, 32},
      {"32-bit, alpha not kept", translucent, false, 24},
  };
  for (const Case& c : cases) {
    const TTiffImage back = Decode(Encode(c.source, {}, c.keep_alpha));
    ASSERT_EQ(back.Width(), 37) << c.what;
    ASSERT_EQ(back.Height(), 23) << c.what;
    ASSERT_EQ(back.BitsPerPixel(), c.bits) << c.what;
    std::vector<TColor32> want = Pixels(c.source);
    if (c.bits == 24)
      for (TColor32& p : want) p |= 0xFF000000u;
    EXPECT_EQ(Pixels(back), want) << c.what << ": Deflate is lossless";
  }

  if (!HaveTool("tiffinfo")) GTEST_SKIP() << "libtiff's tools are not installed";
  TTempDir dir;
  TImageMetadata metadata;
  metadata.IccProfile = test::AdobeRgbProfile();
  metadata.Xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>";
  WriteBytes(dir.File("ours.tif"), Encode(translucent, metadata));
  const std::string info = RunCommand("tiffinfo '" + dir.File("ours.tif") + "' 2>&1").output;
  for (const char* want : {"Image Width: 37 Image Length: 23", "Compression Scheme: AdobeDeflate",
                           "Extra Samples: 1<unassoc-alpha>", "Bits/Sample: 8", "Photometric Interpretation: RGB",
                           "ICC Profile: <present>", "XMLPacket (XMP Metadata):"})
    EXPECT_NE(info.find(want), std::string::npos) << want << " missing from:\n" << info;
  const TTiffImage back = Decode(ReadBytes(dir.File("ours.tif")));
  EXPECT_EQ(back.Metadata.IccProfile, metadata.IccProfile);
  EXPECT_EQ(back.Metadata.Xmp, metadata.Xmp);
}

// An EXIF block of a camera: its orientation, its maker and a date.
std::vector<uint8_t> CameraExif(TTempDir& dir, int orientation) {
  const std::string jpg = dir.File("camera.jpg");
  RunCommand("convert -size 8x8 xc:gray '" + jpg + "'");
  RunCommand("exiv2 -M'set Exif.Image.Orientation " + std::to_string(orientation) +
             "' -M'set Exif.Image.Make Pellavo Optics' -M'set Exif.Photo.DateTimeOriginal 2024:05:06 07:08:09' '" + jpg +
             "' 2>/dev/null");
  const std::vector<uint8_t> bytes = ReadBytes(jpg);
  for (size_t i = 2; i + 10 < bytes.size(); ++i)
    if (bytes[i] == 0xFF && bytes[i + 1] == 0xE1 && std::string(bytes.begin() + long(i) + 4, bytes.begin() + long(i) + 10) == std::string("Exif\0\0", 6)) {
      const size_t length = size_t(bytes[i + 2]) << 8 | bytes[i + 3];
      return ExifFromPayload(bytes.data() + i + 4, length - 2);
    }
  return {};
}

TEST(Tiff, OrientationAndCameraTagsTravelAsAnExifBlock) {
  if (!HaveTool("convert") || !HaveTool("exiv2") || !HaveTool("tiffset")) GTEST_SKIP() << "tools missing";
  TTempDir dir;
  const std::vector<uint8_t> exif = CameraExif(dir, 6);
  ASSERT_FALSE(exif.empty());
  TImageMetadata metadata;
  metadata.Exif = exif;
  // Written by us: the tags land in the file's own directory and its EXIF directory.
  WriteBytes(dir.File("ours.tif"), Encode(MakeBitmap32(30, 20, test::SmoothPixel), metadata));
  const std::string tags = RunCommand("exiv2 -pa '" + dir.File("ours.tif") + "' 2>/dev/null").output;
  EXPECT_NE(tags.find("Pellavo Optics"), std::string::npos) << tags;
  EXPECT_NE(tags.find("2024:05:06 07:08:09"), std::string::npos) << tags;
  const TTiffImage back = Decode(ReadBytes(dir.File("ours.tif")));
  EXPECT_EQ(back.Width(), 30) << "the pixels stay as stored";
  EXPECT_EQ(ExifOrientation(back.Metadata.Exif).Value, 6);
  EXPECT_EQ(Pixels(back), Pixels([] {
              TBitmap b = MakeBitmap32(30, 20, test::SmoothPixel);
              return b;
            }()));

  // Every orientation leaves the pixels as stored, for the converter to turn once: libtiff's own
  // reading would mirror some of them.
  const TBitmap corners = MakeBitmap32(6, 4, [](int32_t x, int32_t y) { return ArgbColor(0xFF, uint8_t(40 * x), uint8_t(60 * y), 0x80); });
  WriteBytes(dir.File("stored.tif"), Encode(corners));
  for (int orientation = 1; orientation <= 8; ++orientation) {
    const std::string turned = dir.File("o" + std::to_string(orientation) + ".tif");
    WriteBytes(turned, ReadBytes(dir.File("stored.tif")));
    ASSERT_EQ(RunCommand("tiffset -s 274 " + std::to_string(orientation) + " '" + turned + "'").code, 0);
    const TTiffImage read = Decode(ReadBytes(turned));
    EXPECT_EQ(Pixels(read), Pixels(corners)) << "orientation " << orientation;
    EXPECT_EQ(ExifOrientation(read.Metadata.Exif).Value, orientation);
  }

  // A file with nothing but an Orientation tag: the block carries it, and no layout tag.
  RunCommand("convert -size 12x7 xc:red '" + dir.File("plain.tif") + "' && tiffset -s 274 8 '" + dir.File("plain.tif") + "'");
  const TTiffImage plain = Decode(ReadBytes(dir.File("plain.tif")));
  EXPECT_EQ(ExifOrientation(plain.Metadata.Exif).Value, 8);
}

TEST(Tiff, FurtherPagesAreLeftOutWithAWarning) {
  if (!HaveTool("convert") || !HaveTool("tiffcp")) GTEST_SKIP() << "tools missing";
  TTempDir dir;
  const std::string d = "'" + dir.Path() + "'/";
  ASSERT_EQ(RunCommand("convert -size 9x5 xc:red " + d + "red.tif && convert -size 4x4 xc:blue " + d +
                       "blue.tif && tiffcp " + d + "red.tif " + d + "blue.tif " + d + "blue.tif " + d + "pages.tif")
                .code,
            0);
  const TTiffImage first = Decode(ReadBytes(dir.File("pages.tif")));
  EXPECT_EQ(first.Width(), 9);
  EXPECT_EQ(Pixels(first)[0], 0xFFFF0000u);
  ASSERT_EQ(first.Metadata.Warnings.size(), 1u);
  EXPECT_EQ(first.Metadata.Warnings[0], "the file holds 3 pages; only the first is converted");
  EXPECT_TRUE(Decode(ReadBytes(dir.File("red.tif"))).Metadata.Warnings.empty());
}

// A little-endian TIFF of one uncompressed 8-bit grey strip, its tags as given.
std::vector<uint8_t> GreyTiff(uint32_t width, uint32_t height, uint32_t strip_bytes, size_t data_bytes) {
  std::vector<uint8_t> b = {'I', 'I', 42, 0, 8, 0, 0, 0};
  const auto u16 = [&](uint32_t v) { b.push_back(uint8_t(v)); b.push_back(uint8_t(v >> 8)); };
  const auto u32 = [&](uint32_t v) { u16(v & 0xFFFF); u16(v >> 16); };
  struct Tag { uint16_t tag, type; uint32_t value; };
  const uint32_t data_at = 8 + 2 + 8 * 12 + 4;
  const Tag tags[] = {{256, 4, width}, {257, 4, height}, {258, 3, 8},         {259, 3, 1},
                      {262, 3, 1},     {273, 4, data_at}, {278, 4, height}, {279, 4, strip_bytes}};
  u16(8);
  for (const Tag& t : tags) {
    u16(t.tag);
    u16(t.type);
    u32(1);
    if (t.type == 3) { u16(t.value); u16(0); } else { u32(t.value); }
  }
  u32(0);
  b.resize(b.size() + data_bytes, 0x80);
  return b;
}

TEST(Tiff, HostileFilesFailWithTheirReason) {
  // The grey builder itself makes a file that reads.
  const TTiffImage fine = Decode(GreyTiff(10, 4, 40, 40));
  EXPECT_EQ(fine.Width(), 10);
  EXPECT_EQ(Pixels(fine)[0], 0xFF808080u);

  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    const char* reason;
  } cases[] = {
      {"a bomb: 100000 x 100000 in 140 bytes", GreyTiff(100000, 100000, 40, 40), "exceeds the limit"},
      {"a strip table that promises more bytes than the file holds", GreyTiff(100, 100, 10000, 40), "TIFF image is not valid: "},
      {"not a TIFF", std::vector<uint8_t>{'P', 'K', 3, 4, 0, 0, 0, 0, 0, 0}, "TIFF image is not valid: "},
      {"an empty file", {}, "TIFF image is not valid: "},
      {"no pixels", GreyTiff(0, 5, 0, 0), "TIFF image is not valid: "},
  };
  for (const Case& c : cases) {
    try {
      Decode(c.bytes);
      ADD_FAILURE() << c.what << ": read";
    } catch (const EInvalidGraphic& e) {
      EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << c.what << ": " << e.what();
    }
  }
}

// A CMYK TIFF of a cyan pixel and a black one, with a profile when one is given, written by
// libtiff itself.
std::vector<uint8_t> CmykTiff(const std::string& path, const std::vector<uint8_t>& profile) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (!tif) return {};
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 2);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 1);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_SEPARATED);
  TIFFSetField(tif, TIFFTAG_INKSET, INKSET_CMYK);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  if (!profile.empty()) TIFFSetField(tif, TIFFTAG_ICCPROFILE, uint32_t(profile.size()), profile.data());
  uint8_t row[8] = {255, 0, 0, 0, 0, 0, 0, 255};
  TIFFWriteScanline(tif, row, 0, 0);
  TIFFClose(tif);
  return ReadBytes(path);
}

TEST(Tiff, CmykBecomesRgbThroughItsProfileOrTheInkFormula) {
  TTempDir dir;
  const TTiffImage plain = Decode(CmykTiff(dir.File("plain.tif"), {}));
  EXPECT_EQ(Pixels(plain), (std::vector<TColor32>{0xFF00FFFFu, 0xFF000000u})) << "the plain ink formula";
  EXPECT_TRUE(plain.Metadata.IccProfile.empty());

  // The profile darkens by the black ink alone: cyan ink leaves white paper.
  const TTiffImage profiled = Decode(CmykTiff(dir.File("profiled.tif"), test::BlackInkOnlyProfile()));
  const std::vector<TColor32> seen = Pixels(profiled);
  ASSERT_EQ(seen.size(), 2u);
  for (int shift : {0, 8, 16}) {
    EXPECT_GE(int(seen[0] >> shift & 0xFF), 240) << std::hex << seen[0];
    EXPECT_LE(int(seen[1] >> shift & 0xFF), 15) << std::hex << seen[1];
  }
  EXPECT_TRUE(profiled.Metadata.IccProfile.empty()) << "the pixels are sRGB now";
  EXPECT_TRUE(profiled.Metadata.ProfileProblems.empty());

  // An RGB profile cannot describe ink: the formula, with the reason.
  const TTiffImage mismatched = Decode(CmykTiff(dir.File("mismatched.tif"), test::AdobeRgbProfile()));
  EXPECT_EQ(Pixels(mismatched), Pixels(plain));
  ASSERT_EQ(mismatched.Metadata.ProfileProblems.size(), 1u);
}

}  // namespace
}  // namespace pellavo
