#pragma once
#include <cstdint>

#include "core/errors.h"
#include "formats/metadata_bitmap.h"

namespace pellavo {

// Every failure of the WebP reader and writer; the text says what was wrong.
class EWebPError : public EInvalidGraphic {
 public:
  using EInvalidGraphic::EInvalidGraphic;
};

// A bitmap read from a WebP file and written as a lossy one. Size, pixel format and drawing are
// the bitmap's own: 24 bits for an opaque file, 32 with the alpha in the fourth byte otherwise.
// An animation gives its first frame as the canvas shows it. The file's ICC profile, EXIF and XMP
// chunks are kept as its metadata, and written into the file it saves.
class TWebPImage : public TMetadataBitmap {
  PELLAVO_GRAPHIC_CLASS()

 public:
  // 1 to 100, as the encoder's quality factor.
  uint8_t Quality = 90;

  // Decodes everything from the stream's position to its end. On failure the bitmap keeps its
  // previous image.
  void LoadFromStream(TStream& stream) override;
  // Encodes the pixels lossily at Quality, with alpha as KeepAlpha says.
  void SaveToStream(TStream& stream) override;
};

}  // namespace pellavo
