#include "formats/avif/avif_image.h"

#include <avif/avif.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/decode_limits.h"
#include "formats/image_metadata.h"
#include "formats/avif/orientation.h"
#include "formats/heif/heif_image.h"

namespace pellavo {
namespace {

constexpr const char* kInvalid = "AVIF image is not valid: ";
// avifenc's default: a fair balance of time and size for one image at a time.
constexpr int kEncoderSpeed = 6;

struct TDecoderDeleter {
  void operator()(avifDecoder* d) const { avifDecoderDestroy(d); }
};
struct TEncoderDeleter {
  void operator()(avifEncoder* e) const { avifEncoderDestroy(e); }
};
struct TImageDeleter {
  void operator()(avifImage* i) const { avifImageDestroy(i); }
};

// Owns what avifRGBImageAllocatePixels hands out.
struct TRgbPixels {
  avifRGBImage rgb{};
  ~TRgbPixels() { avifRGBImageFreePixels(&rgb); }
};

struct TOutput {
  avifRWData data = AVIF_DATA_EMPTY;
  ~TOutput() { avifRWDataFree(&data); }
};

std::string ResultText(avifResult result, const avifDiagnostics* diag) {
  std::string text = avifResultToString(result);
  if (diag && diag->error[0]) text += std::string(" (") + diag->error + ")";
  return text;
}

// The largest width x height any 'ispe' (image spatial extents) property in meta/iprp/ipco
// states, found by walking the boxes; 0 x 0 when the file is not laid out so.
std::pair<uint32_t, uint32_t> LargestSpatialExtents(const std::vector<uint8_t>& bytes) {
  const auto be32 = [&](size_t at) {
    return (uint32_t{bytes[at]} << 24) | (uint32_t{bytes[at + 1]} << 16) | (uint32_t{bytes[at + 2]} << 8) | bytes[at + 3];
  };
  // The payload [first, last) of the child of that type in [begin, end), past `skip` bytes of
  // version and flags; none when it is missing or its size does not fit.
  const auto child = [&](size_t begin, size_t end, const char* type, size_t skip) -> std::pair<size_t, size_t> {
    while (end - begin >= 8) {
      const size_t size = be32(begin);
      if (size < 8 || size > end - begin) break;
      if (std::memcmp(&bytes[begin + 4], type, 4) == 0 && size >= 8 + skip) return {begin + 8 + skip, begin + size};
      begin += size;
    }
    return {0, 0};
  };
  const auto [meta, meta_end] = child(0, bytes.size(), "meta", 4);
  const auto [iprp, iprp_end] = child(meta, meta_end, "iprp", 0);
  auto [at, ipco_end] = child(iprp, iprp_end, "ipco", 0);
  std::pair<uint32_t, uint32_t> largest{0, 0};
  while (ipco_end - at >= 8) {
    const size_t size = be32(at);
    if (size < 8 || size > ipco_end - at) break;
    if (std::memcmp(&bytes[at + 4], "ispe", 4) == 0 && size >= 20) {
      const uint32_t w = be32(at + 12), h = be32(at + 16);
      if (uint64_t{w} * h > uint64_t{largest.first} * largest.second) largest = {w, h};
    }
    at += size;
  }
  return largest;
}

TImageMetadata MetadataOf(const avifImage& image) {
  TImageMetadata m;
  if (image.yuvFormat == AVIF_PIXEL_FORMAT_YUV400) m.Colours = TStoredColours::Gray;
  m.IccProfile.assign(image.icc.data, image.icc.data + image.icc.size);
  if (image.exif.size) m.Exif = ExifFromPayload(image.exif.data, image.exif.size);
  m.Xmp.assign(reinterpret_cast<const char*>(image.xmp.data), image.xmp.size);
  return m;
}

// The part of a width x height image its clean aperture keeps, placed as libheif and browsers
// place it: an offset that falls between pixels is rounded down rather than refused. The whole
// image when the aperture is not a whole number of pixels or does not lie inside.
struct TCrop {
  uint32_t X = 0, Y = 0, Width = 0, Height = 0;
};
TCrop CleanAperture(const avifImage& image) {
  const TCrop whole{0, 0, image.width, image.height};
  if (!(image.transformFlags & AVIF_TRANSFORM_CLAP)) return whole;
  const avifCleanApertureBox& c = image.clap;
  if (!c.widthD || !c.heightD || !c.horizOffD || !c.vertOffD || c.widthN % c.widthD || c.heightN % c.heightD)
    return whole;
  const int64_t w = c.widthN / c.widthD, h = c.heightN / c.heightD;
  // The offsets are signed: the aperture's centre from the image's, in pixels.
  // first = offset + (side - 1) / 2 - (aperture - 1) / 2 = (2 * offN + (side - aperture) * offD) / (2 * offD)
  const auto first = [](int32_t off_n, uint32_t off_d, int64_t side, int64_t aperture) {
    const int64_t num = 2 * int64_t{off_n} + (side - aperture) * int64_t{off_d}, den = 2 * int64_t{off_d};
    return num >= 0 ? num / den : -((-num + den - 1) / den);
  };
  const int64_t x = first(int32_t(c.horizOffN), c.horizOffD, image.width, w);
  const int64_t y = first(int32_t(c.vertOffN), c.vertOffD, image.height, h);
  if (w <= 0 || h <= 0 || x < 0 || y < 0 || x + w > image.width || y + h > image.height) return whole;
  return {uint32_t(x), uint32_t(y), uint32_t(w), uint32_t(h)};
}

TBitmap Cropped(TBitmap image, const TCrop& crop) {
  if (crop.X == 0 && crop.Y == 0 && int32_t(crop.Width) == image.Width() && int32_t(crop.Height) == image.Height())
    return image;
  TBitmap part(int32_t(crop.Width), int32_t(crop.Height), image.PixelFormat());
  const size_t pixel = size_t(image.BitsPerPixel() / 8);
  for (uint32_t y = 0; y < crop.Height; ++y)
    std::memcpy(part.ScanLine(int32_t(y)), image.ScanLine(int32_t(crop.Y + y)) + crop.X * pixel, crop.Width * pixel);
  return part;
}

TOrientation OrientationOf(const avifImage& image) {
  TOrientation o;
  if (image.transformFlags & AVIF_TRANSFORM_IROT) o.QuarterTurns = image.irot.angle & 3;
  if (image.transformFlags & AVIF_TRANSFORM_IMIR)
    o.Mirror = image.imir.mode == 0 ? TMirror::TopBottom : TMirror::LeftRight;
  return o;
}

}  // namespace

PELLAVO_DEFINE_GRAPHIC(TAvifImage, TBitmap)

int TAvifImage::QuantizerOf(int quality) {
  quality = std::clamp(quality, 1, 100);
  return ((100 - quality) * AVIF_QUANTIZER_WORST_QUALITY + 50) / 100;
}

void TAvifImage::LoadFromStream(TStream& stream) {
  const std::vector<uint8_t> bytes = stream.ReadToEnd();
  try {
    Decode(bytes);
  } catch (const EImageTooLarge&) {
    throw;
  } catch (const EAvifError& refused) {
    // Some encoders wrote files that libavif refuses and browsers show (their properties
    // associated twice, in two 'ipma' boxes); libheif reads those.
    THeifImage heif;
    heif.SetDecodeLimits(DecodeLimits());
    TMemoryStream again(bytes);
    try {
      heif.LoadFromStream(again);
    } catch (const EImageTooLarge&) {
      throw;
    } catch (const EInvalidGraphic& also) {
      throw EAvifError(std::string(refused.what()) + "; libheif cannot read it either: " + also.what());
    }
    Metadata = heif.EmbeddedMetadata();
    turned_ = heif.DecodedUpright();
    static_cast<TBitmap&>(*this) = std::move(static_cast<TBitmap&>(heif));
  }
}

void TAvifImage::Decode(const std::vector<uint8_t>& bytes) {
  std::unique_ptr<avifDecoder, TDecoderDeleter> decoder(avifDecoderCreate());
  if (!decoder) throw EAvifError("AVIF decoder cannot be created");
  decoder->maxThreads = 1;  // the run already decodes one file per thread
  // Browsers show files that bend the letter of the format (a crop that falls between pixels, a
  // missing 'pixi' property); so does the program.
  decoder->strictFlags = AVIF_STRICT_DISABLED;
  // The library refuses images past its own bound while it parses, with a message of its own;
  // ours, which names the size, comes first from the file's boxes.
  const auto [claimed_width, claimed_height] = LargestSpatialExtents(bytes);
  if (claimed_width && claimed_height)
    AdmitImageWithPixels<EAvifError>(DecodeLimits(), claimed_width, claimed_height, kInvalid);
  avifResult result = avifDecoderSetIOMemory(decoder.get(), bytes.data(), bytes.size());
  if (result == AVIF_RESULT_OK) result = avifDecoderParse(decoder.get());
  if (result != AVIF_RESULT_OK) throw EAvifError(kInvalid + ResultText(result, &decoder->diag));
  AdmitImageWithPixels<EAvifError>(DecodeLimits(), decoder->image->width, decoder->image->height, kInvalid);
  // The AV1 decoder then holds every frame to the admitted size.
  decoder->imageSizeLimit = uint32_t(std::clamp<uint64_t>(uint64_t(decoder->image->width) * decoder->image->height, 1,
                                                          AVIF_DEFAULT_IMAGE_SIZE_LIMIT));
  result = avifDecoderNextImage(decoder.get());
  if (result != AVIF_RESULT_OK) throw EAvifError(kInvalid + ResultText(result, &decoder->diag));

  const avifImage& image = *decoder->image;
  AdmitImageWithPixels<EAvifError>(DecodeLimits(), image.width, image.height, kInvalid);
  // Holds at its peak the file's bytes, the decoded planes (luma, chroma and alpha, one or two
  // bytes a sample) twice over, the image's and the AV1 decoder's own frame, and the bitmap they
  // become; with a crop or a turn, the cropped or turned copy of the bitmap too.
  const uint64_t pixels = uint64_t(image.width) * image.height;
  const uint64_t planes = pixels * 4 * (image.depth > 8 ? 2 : 1);
  const bool turns = (image.transformFlags & (AVIF_TRANSFORM_IROT | AVIF_TRANSFORM_IMIR)) != 0;
  const TCrop crop = CleanAperture(image);
  const bool crops = crop.Width != image.width || crop.Height != image.height;
  ClaimBytes(DecodeLimits(),
             bytes.size() + 2 * planes + (turns || crops ? 2 : 1) * DecodedImageBytes(image.width, image.height));
  const bool alpha = image.alphaPlane != nullptr;
  TBitmap decoded(int32_t(image.width), int32_t(image.height), alpha ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);
  avifRGBImage rgb;
  avifRGBImageSetDefaults(&rgb, &image);
  rgb.format = alpha ? AVIF_RGB_FORMAT_BGRA : AVIF_RGB_FORMAT_BGR;
  rgb.depth = 8;
  // Converted into the bitmap's block top row first, then turned the right way up in place.
  rgb.pixels = decoded.ScanLine(decoded.Height() - 1);
  rgb.rowBytes = static_cast<uint32_t>(decoded.RowBytes());
  result = avifImageYUVToRGB(&image, &rgb);
  if (result != AVIF_RESULT_OK) throw EAvifError(kInvalid + ResultText(result, nullptr));
  ReverseRowOrder(decoded);
  TImageMetadata metadata = MetadataOf(image);
  // The crop comes first, then the rotation and the mirroring.
  static_cast<TBitmap&>(*this) = Oriented(Cropped(std::move(decoded), crop), OrientationOf(image));
  Metadata = std::move(metadata);
  turned_ = (image.transformFlags & (AVIF_TRANSFORM_IROT | AVIF_TRANSFORM_IMIR)) != 0;
}

void TAvifImage::SaveToStream(TStream& stream) {
  const int32_t w = Width(), h = Height();
  if (w <= 0 || h <= 0) throw EAvifError("Cannot write an empty image as AVIF");
  std::optional<TBitmap> converted;
  const TBitmap* source = &RgbOrRgbaPixels(*this, converted);
  const bool four_bytes = source->BitsPerPixel() == 32;

  std::unique_ptr<avifImage, TImageDeleter> image(
      avifImageCreate(uint32_t(w), uint32_t(h), 8, AVIF_PIXEL_FORMAT_YUV420));
  if (!image) throw EAvifError("Cannot write AVIF: out of memory");
  // sRGB, signalled the way AVIF readers expect of 8-bit photographs.
  image->colorPrimaries = AVIF_COLOR_PRIMARIES_BT709;
  image->transferCharacteristics = AVIF_TRANSFER_CHARACTERISTICS_SRGB;
  image->matrixCoefficients = AVIF_MATRIX_COEFFICIENTS_BT601;
  image->yuvRange = AVIF_RANGE_FULL;
  if (!Metadata.IccProfile.empty()) {
    // The profile describes the colours; the signalled primaries and transfer would contradict it.
    image->colorPrimaries = AVIF_COLOR_PRIMARIES_UNSPECIFIED;
    image->transferCharacteristics = AVIF_TRANSFER_CHARACTERISTICS_UNSPECIFIED;
    avifImageSetProfileICC(image.get(), Metadata.IccProfile.data(), Metadata.IccProfile.size());
  }
  if (!Metadata.Exif.empty()) avifImageSetMetadataExif(image.get(), Metadata.Exif.data(), Metadata.Exif.size());
  if (!Metadata.Xmp.empty())
    avifImageSetMetadataXMP(image.get(), reinterpret_cast<const uint8_t*>(Metadata.Xmp.data()), Metadata.Xmp.size());

  TRgbPixels rgb;
  avifRGBImageSetDefaults(&rgb.rgb, image.get());
  rgb.rgb.format = four_bytes ? AVIF_RGB_FORMAT_BGRA : AVIF_RGB_FORMAT_BGR;
  rgb.rgb.depth = 8;
  rgb.rgb.ignoreAlpha = four_bytes && (!KeepAlpha || source->AllOpaque()) ? AVIF_TRUE : AVIF_FALSE;
  avifRGBImageAllocatePixels(&rgb.rgb);
  const size_t row_bytes = size_t(w) * (four_bytes ? 4 : 3);
  for (int32_t y = 0; y < h; ++y)
    std::memcpy(rgb.rgb.pixels + size_t(y) * rgb.rgb.rowBytes, source->ScanLine(y), row_bytes);
  avifResult result = avifImageRGBToYUV(image.get(), &rgb.rgb);
  if (result != AVIF_RESULT_OK) throw EAvifError("Cannot write AVIF: " + ResultText(result, nullptr));

  std::unique_ptr<avifEncoder, TEncoderDeleter> encoder(avifEncoderCreate());
  if (!encoder) throw EAvifError("AVIF encoder cannot be created");
  encoder->maxThreads = 1;
  encoder->speed = kEncoderSpeed;
  encoder->minQuantizer = encoder->maxQuantizer = QuantizerOf(Quality);
  encoder->minQuantizerAlpha = encoder->maxQuantizerAlpha = AVIF_QUANTIZER_LOSSLESS;
  TOutput out;
  result = avifEncoderWrite(encoder.get(), image.get(), &out.data);
  if (result != AVIF_RESULT_OK) throw EAvifError("Cannot write AVIF: " + ResultText(result, &encoder->diag));
  stream.Write(out.data.data, out.data.size);
}

}  // namespace pellavo
