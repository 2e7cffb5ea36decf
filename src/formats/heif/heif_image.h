#pragma once
#include "core/errors.h"
#include "formats/bmp/bitmap.h"

namespace pellavo {

// Every failure of the HEIF reader; the text says what was wrong.
class EHeifError : public EInvalidGraphic {
 public:
  using EInvalidGraphic::EInvalidGraphic;
};

// A bitmap read from a HEIF file (HEIC and the other codings its library decodes): the primary
// image with its own rotation, mirroring and crop applied, 24 bits when opaque, 32 with the
// alpha in the fourth byte otherwise. Deeper samples are reduced to 8 bits. Its ICC profile, EXIF
// and XMP are handed on as the file's metadata, so that colours are managed as for any other
// source. Read only: the program writes no HEIF.
class THeifImage : public TBitmap {
  PELLAVO_GRAPHIC_CLASS()

 public:
  // Decodes everything from the stream's position to its end. On failure the bitmap keeps its
  // previous image.
  void LoadFromStream(TStream& stream) override;
  // Raises EHeifError: no HEIF encoder is offered.
  void SaveToStream(TStream& stream) override;

  TImageMetadata EmbeddedMetadata() const override { return metadata_; }
  // When the file turns or mirrors its images itself, an EXIF orientation beside that only
  // repeats what the decoder applied; without such a turn (as encoders write a sideways camera
  // JPEG) the EXIF orientation is the only one and still applies.
  bool DecodedUpright() const override { return turned_; }

 private:
  TImageMetadata metadata_;
  bool turned_ = false;
};

}  // namespace pellavo
