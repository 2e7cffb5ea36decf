#pragma once
#include <cstdint>

#include "core/errors.h"
#include "formats/metadata_bitmap.h"

namespace pellavo {

// Every failure of the JPEG XL reader and writer; the text says what was wrong.
class EJxlError : public EInvalidGraphic {
 public:
  using EInvalidGraphic::EInvalidGraphic;
};

// A bitmap read from a JPEG XL file and written as one. Reads lossy and lossless files, 24 bits
// when opaque and 32 with the straight alpha in the fourth byte otherwise; deeper samples are
// reduced to 8 bits, an animation gives its first frame, and the codestream's orientation is
// applied, so the image comes out upright. Its colour profile, EXIF and XMP are kept as its
// metadata and written into the file it saves.
class TJxlImage : public TMetadataBitmap {
  PELLAVO_GRAPHIC_CLASS()

 public:
  // 1 to 100: 100 is lossless, below it a Butteraugli distance (DistanceOf).
  uint8_t Quality = 90;

  // Decodes everything from the stream's position to its end. On failure the bitmap keeps its
  // previous image.
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;

  // The codestream's orientation is applied in decoding; an EXIF orientation beside it repeats it.
  bool DecodedUpright() const override { return turned_; }

  // The encoder's distance for a quality below 100, as the reference encoder cjxl maps them:
  // 90 is 1.0 ("visually lossless"), each step down to 30 adds 0.09, below 30 it grows
  // geometrically, up to the encoder's largest, 15, from quality 8 down.
  static float DistanceOf(int quality);

 private:
  bool turned_ = false;
};

}  // namespace pellavo
