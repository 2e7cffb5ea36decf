#pragma once
#include <cstdint>
#include <string>

#include "core/errors.h"
#include "formats/bmp/bitmap.h"

namespace pellavo {

// Every failure of the JPEG 2000 reader and writer.
class EJpeg2000Error : public EInvalidGraphic {
 public:
  using EInvalidGraphic::EInvalidGraphic;
};

// A bitmap read from a JP2 file or a raw JPEG 2000 codestream (told apart by content, never by
// extension) and written as a JP2 file. Size, pixel format and drawing are the bitmap's own.
class TJpeg2000Bitmap : public TBitmap {
  PELLAVO_GRAPHIC_CLASS()

 public:
  // Encode without loss; otherwise the rate follows Jp2Quality.
  bool Jp2Lossless = false;
  // 0 to 100 (more counts as 100); higher keeps more.
  uint8_t Jp2Quality = 80;

  // Decodes from the stream's position to its end and leaves the stream just behind what the
  // codec consumed. On failure the bitmap keeps its previous image.
  void LoadFromStream(TStream& stream) override;
  // Encodes the pixels as a JP2 file: red, green, blue and, for a 32-bit bitmap, an opacity
  // channel holding each pixel's fourth byte.
  void SaveToStream(TStream& stream) override;

  // The ratio of raw sample bytes to coded bytes asked of the encoder's single layer; 0 asks
  // for no limit (lossless).
  static float CompressionRatio(int32_t width, int32_t height, int components, bool lossless, uint8_t quality);

  // What the codec reported during the last read or write, for diagnosis.
  const std::string& CodecMessages() const { return codec_messages_; }

 private:
  std::string codec_messages_;
};

}  // namespace pellavo
