#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "colour/icc_profile.h"
#include "core/decode_limits.h"
#include "formats/tiff/tiff_file.h"
#include "formats/tiff/tiff_image.h"
#include "metadata/exif_blocks.h"

namespace pellavo {
namespace {

using tiff_detail::TTiffFile;

constexpr const char* kInvalid = "TIFF image is not valid: ";

// The library's largest single allocation, against a file whose tables promise a strip or tile
// larger than any image the limit admits: a strip of the largest admitted image at 16 bits per
// sample with alpha holds twice its decoded bytes.
uint64_t MaxAllocation(const TDecodeLimits& limits) { return 2 * limits.MaxImageBytes; }

// Owns the library's decoding state of one image.
struct TRgbaImage {
  TIFFRGBAImage img{};
  bool begun = false;
  ~TRgbaImage() {
    if (begun) TIFFRGBAImageEnd(&img);
  }
};

// Rows decoded at once: a strip or a row of tiles, so that each is decoded once.
uint32_t BandRows(TIFF* tif, uint32_t height) {
  uint32_t rows = 0;
  if (TIFFIsTiled(tif))
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &rows);
  else
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rows);
  return std::clamp<uint32_t>(rows, 1, height);
}

// The orientation to ask the library for so that it turns nothing: it mirrors between groups
// of orientations and leaves every orientation of a group as it is stored.
uint16_t UnturnedRequest(uint16_t stored) { return stored >= 1 && stored <= 8 ? stored : ORIENTATION_TOPLEFT; }

// A TIFF-structured EXIF block of nothing but the orientation, for a file whose other tags
// cannot be read.
std::vector<uint8_t> OrientationOnlyExif(uint16_t orientation) {
  if (orientation <= 1 || orientation > 8) return {};
  return {'I', 'I', 42, 0, 8, 0, 0, 0,                        // header, first directory at 8
          1, 0,                                               // one entry
          0x12, 0x01, 3, 0, 1, 0, 0, 0, uint8_t(orientation), 0, 0, 0,  // Orientation, SHORT, 1
          0, 0, 0, 0};                                        // no next directory
}

// The tag's bytes, empty when the file has none.
std::vector<uint8_t> BlobTag(TIFF* tif, uint32_t tag) {
  uint32_t count = 0;
  void* data = nullptr;
  if (!TIFFGetField(tif, tag, &count, &data) || !data || count == 0) return {};
  const auto* bytes = static_cast<const uint8_t*>(data);
  return {bytes, bytes + count};
}

// Keeps CMYK samples as they are, four bytes a pixel, for a profile to turn into colour: the
// library's own routine would apply the plain ink formula instead.
void PutCmykSamples(TIFFRGBAImage* img, uint32_t* cp, uint32_t, uint32_t, uint32_t w, uint32_t h, int32_t fromskew,
                    int32_t toskew, unsigned char* pp) {
  const int n = img->samplesperpixel;
  for (; h > 0; --h) {
    for (uint32_t x = 0; x < w; ++x, pp += n) std::memcpy(cp++, pp, 4);
    cp += toskew;
    pp += fromskew * n;
  }
}

// Straight red, green, blue and alpha as stored, for an RGB image with unassociated alpha: the
// library's own routine multiplies the colours by alpha, which dividing out again cannot undo
// where alpha is small. Sample is uint8_t or uint16_t (taken to 8 bits, rounded).
template <class Sample>
void PutStraightRgba(TIFFRGBAImage* img, uint32_t* cp, uint32_t, uint32_t, uint32_t w, uint32_t h, int32_t fromskew,
                     int32_t toskew, unsigned char* pp) {
  const int n = img->samplesperpixel;
  const auto* in = reinterpret_cast<const Sample*>(pp);
  const auto eight = [](Sample v) -> uint32_t {
    if constexpr (sizeof(Sample) == 1) return v;
    return (uint32_t{v} * 255 + 32767) / 65535;
  };
  for (; h > 0; --h) {
    for (uint32_t x = 0; x < w; ++x, in += n)
      *cp++ = eight(in[0]) | eight(in[1]) << 8 | eight(in[2]) << 16 | eight(in[3]) << 24;
    cp += toskew;
    in += fromskew * n;
  }
}

// The profile that turns the file's CMYK samples into sRGB, or none (with the reason in
// problems) when it has none or it cannot be used.
std::unique_ptr<TSrgbConversion> CmykConversion(const std::vector<uint8_t>& icc, std::vector<std::string>& problems) {
  if (icc.empty()) return nullptr;
  try {
    const TIccProfile profile(icc);
    if (profile.Space() != TProfileSpace::Cmyk) {
      problems.push_back("the colour profile does not describe the image's CMYK colours; the plain ink formula is used");
      return nullptr;
    }
    return std::make_unique<TSrgbConversion>(profile);
  } catch (const EColourProfile& e) {
    problems.push_back(std::string(e.what()) + "; the plain ink formula is used");
    return nullptr;
  }
}

// Red, green, blue and alpha bytes in a 32-bit value, red lowest: the library's pixels.
inline uint8_t Sample(uint32_t p, int index) { return uint8_t(p >> (8 * index)); }

// One row of the library's pixels into a bitmap row. Premultiplied colours are divided by their
// alpha, rounded, since the bitmap holds straight colours.
void StoreRow(const uint32_t* in, uint8_t* out, uint32_t width, bool alpha, bool premultiplied) {
  if (!alpha) {
    for (uint32_t x = 0; x < width; ++x, out += 3) {
      out[0] = Sample(in[x], 2);
      out[1] = Sample(in[x], 1);
      out[2] = Sample(in[x], 0);
    }
    return;
  }
  for (uint32_t x = 0; x < width; ++x, out += 4) {
    const uint32_t a = Sample(in[x], 3);
    for (int c = 0; c < 3; ++c) {
      uint32_t v = Sample(in[x], 2 - c);
      if (premultiplied && a != 0 && a != 255) v = std::min<uint32_t>(255, (v * 255 + a / 2) / a);
      out[c] = uint8_t(v);
    }
    out[3] = uint8_t(a);
  }
}

}  // namespace

PELLAVO_DEFINE_GRAPHIC(TTiffImage, TBitmap)

void TTiffImage::LoadFromStream(TStream& stream) {
  const std::vector<uint8_t> bytes = stream.ReadToEnd();
  std::string error;
  const std::unique_ptr<TTiffFile> file = TTiffFile::OpenRead(bytes, MaxAllocation(DecodeLimits()), error);
  if (!file) throw ETiffError(kInvalid + error);
  TIFF* tif = file->Handle();
  uint32_t width = 0, height = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
  AdmitImageWithPixels<ETiffError>(DecodeLimits(), width, height, kInvalid);

  char reason[1024] = "";
  if (!TIFFRGBAImageOK(tif, reason)) throw ETiffError(kInvalid + std::string(reason));
  TRgbaImage rgba;
  rgba.begun = TIFFRGBAImageBegin(&rgba.img, tif, 0, reason) == 1;
  if (!rgba.begun) throw ETiffError(kInvalid + std::string(reason));
  TIFFRGBAImage& img = rgba.img;
  img.req_orientation = UnturnedRequest(img.orientation);

  TImageMetadata metadata;
  metadata.IccProfile = BlobTag(tif, TIFFTAG_ICCPROFILE);
  const std::vector<uint8_t> xmp = BlobTag(tif, TIFFTAG_XMLPACKET);
  metadata.Xmp.assign(xmp.begin(), xmp.end());
  uint16_t photometric = PHOTOMETRIC_RGB;
  TIFFGetFieldDefaulted(tif, TIFFTAG_PHOTOMETRIC, &photometric);
  if (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE)
    metadata.Colours = TStoredColours::Gray;

  // CMYK is turned into RGB here, through the profile when it has one, so what leaves the reader
  // is RGB without a profile.
  std::unique_ptr<TSrgbConversion> cmyk;
  if (img.photometric == PHOTOMETRIC_SEPARATED) {
    if (img.isContig && img.bitspersample == 8 && img.samplesperpixel >= 4)
      cmyk = CmykConversion(metadata.IccProfile, metadata.ProfileProblems);
    else if (!metadata.IccProfile.empty())
      metadata.ProfileProblems.push_back("the colour profile cannot be applied to this CMYK layout");
    metadata.IccProfile.clear();
    if (cmyk) img.put.contig = PutCmykSamples;
    img.alpha = 0;
  }
  const bool alpha = img.alpha != 0;
  const bool straight = img.photometric == PHOTOMETRIC_RGB && img.alpha == EXTRASAMPLE_UNASSALPHA && img.isContig &&
                        img.samplesperpixel >= 4 && (img.bitspersample == 8 || img.bitspersample == 16);
  if (straight) img.put.contig = img.bitspersample == 8 ? PutStraightRgba<uint8_t> : PutStraightRgba<uint16_t>;
  // Otherwise the library multiplies colours by an unassociated alpha itself, except in grey
  // images, where it passes them as stored.
  const bool grey = img.photometric == PHOTOMETRIC_MINISBLACK || img.photometric == PHOTOMETRIC_MINISWHITE;
  const bool premultiplied = alpha && !straight && (!grey || img.alpha == EXTRASAMPLE_ASSOCALPHA);

  const uint32_t band = BandRows(tif, height);
  // The bitmap and one band of the library's pixels.
  ClaimBytes(DecodeLimits(), DecodedImageBytes(width, height) + DecodedImageBytes(width, band));
  TBitmap decoded(int32_t(width), int32_t(height), alpha ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);
  std::vector<uint32_t> pixels(size_t(width) * band);
  for (uint32_t top = 0; top < height; top += band) {
    const uint32_t rows = std::min(band, height - top);
    img.row_offset = int(top);
    img.col_offset = 0;
    if (TIFFRGBAImageGet(&img, pixels.data(), width, rows) != 1) throw ETiffError(kInvalid + file->FirstError());
    for (uint32_t y = 0; y < rows; ++y) {
      uint32_t* in = pixels.data() + size_t(y) * width;
      if (cmyk) cmyk->ApplyToCmyk(reinterpret_cast<uint8_t*>(in), width, false);
      uint8_t* out = decoded.ScanLine(int32_t(top + y));
      if (cmyk) {
        // The profile wrote blue, green, red and 255.
        for (uint32_t x = 0; x < width; ++x) std::memcpy(out + 3 * size_t(x), in + x, 3);
      } else {
        StoreRow(in, out, width, alpha, premultiplied);
      }
    }
  }

  // The orientation and the camera's tags travel as an EXIF block, as they do in other formats.
  uint16_t orientation = ORIENTATION_TOPLEFT;
  TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
  try {
    metadata.Exif = ExifOfTiff(bytes.data(), bytes.size());
  } catch (const EMetadata& e) {
    metadata.Warnings.push_back(std::string(e.what()) + "; only the orientation is kept");
    metadata.Exif = OrientationOnlyExif(orientation);
  }
  const tdir_t pages = TIFFNumberOfDirectories(tif);
  if (pages > 1)
    metadata.Warnings.push_back("the file holds " + std::to_string(pages) + " pages; only the first is converted");

  static_cast<TBitmap&>(*this) = std::move(decoded);
  Metadata = std::move(metadata);
}

}  // namespace pellavo
