#include "formats/avif/avif_image.h"

#include <avif/avif.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/limits.h"
#include "formats/avif/orientation.h"

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

// The size check before anything is allocated for a decoded image of width x height.
void CheckDecodedSize(uint32_t width, uint32_t height) {
  if (width == 0 || height == 0) throw EAvifError(std::string(kInvalid) + "it has no pixels");
  if (uint64_t(width) * uint64_t(height) * 4 > kMaxPixelBlockBytes)
    throw EAvifError("AVIF image is too large: " + std::to_string(width) + " x " + std::to_string(height));
}

bool AllOpaque(const TBitmap& bitmap) {
  for (int32_t y = 0; y < bitmap.Height(); ++y) {
    const uint8_t* row = bitmap.ScanLine(y);
    for (int32_t x = 0; x < bitmap.Width(); ++x)
      if (row[size_t(x) * 4 + 3] != 0xFF) return false;
  }
  return true;
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
  std::unique_ptr<avifDecoder, TDecoderDeleter> decoder(avifDecoderCreate());
  if (!decoder) throw EAvifError("AVIF decoder cannot be created");
  decoder->maxThreads = 1;  // the run already decodes one file per thread
  decoder->ignoreExif = AVIF_TRUE;
  decoder->ignoreXMP = AVIF_TRUE;
  avifResult result = avifDecoderSetIOMemory(decoder.get(), bytes.data(), bytes.size());
  if (result == AVIF_RESULT_OK) result = avifDecoderParse(decoder.get());
  if (result != AVIF_RESULT_OK) throw EAvifError(kInvalid + ResultText(result, &decoder->diag));
  CheckDecodedSize(decoder->image->width, decoder->image->height);
  result = avifDecoderNextImage(decoder.get());
  if (result != AVIF_RESULT_OK) throw EAvifError(kInvalid + ResultText(result, &decoder->diag));

  const avifImage& image = *decoder->image;
  CheckDecodedSize(image.width, image.height);
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
  static_cast<TBitmap&>(*this) = Oriented(decoded, OrientationOf(image));
}

void TAvifImage::SaveToStream(TStream& stream) {
  const int32_t w = Width(), h = Height();
  if (w <= 0 || h <= 0) throw EAvifError("Cannot write an empty image as AVIF");
  const TBitmap* source = this;
  std::optional<TBitmap> converted;
  if (BitsPerPixel() != 24 && BitsPerPixel() != 32) {
    converted.emplace(static_cast<const TBitmap&>(*this));
    converted->SetPixelFormat(TPixelFormat::pf24bit);
    source = &*converted;
  }
  const bool four_bytes = source->BitsPerPixel() == 32;

  std::unique_ptr<avifImage, TImageDeleter> image(
      avifImageCreate(uint32_t(w), uint32_t(h), 8, AVIF_PIXEL_FORMAT_YUV420));
  if (!image) throw EAvifError("Cannot write AVIF: out of memory");
  // sRGB, signalled the way AVIF readers expect of 8-bit photographs.
  image->colorPrimaries = AVIF_COLOR_PRIMARIES_BT709;
  image->transferCharacteristics = AVIF_TRANSFER_CHARACTERISTICS_SRGB;
  image->matrixCoefficients = AVIF_MATRIX_COEFFICIENTS_BT601;
  image->yuvRange = AVIF_RANGE_FULL;

  TRgbPixels rgb;
  avifRGBImageSetDefaults(&rgb.rgb, image.get());
  rgb.rgb.format = four_bytes ? AVIF_RGB_FORMAT_BGRA : AVIF_RGB_FORMAT_BGR;
  rgb.rgb.depth = 8;
  rgb.rgb.ignoreAlpha = four_bytes && (!KeepAlpha || AllOpaque(*source)) ? AVIF_TRUE : AVIF_FALSE;
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
