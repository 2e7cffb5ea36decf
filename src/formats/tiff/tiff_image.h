#pragma once
#include "core/errors.h"
#include "formats/metadata_bitmap.h"

namespace pellavo {

// Every failure of the TIFF reader and writer; the text says what was wrong.
class ETiffError : public EInvalidGraphic {
 public:
  using EInvalidGraphic::EInvalidGraphic;
};

// A bitmap read from a TIFF file and written as one. Reads strips and tiles in every layout its
// library decodes (uncompressed, LZW, Deflate, PackBits, JPEG, CCITT; 1 to 16 bits; grey,
// palette, RGB with or without alpha, CMYK, YCbCr), giving 24 bits when opaque and 32 with the
// alpha, unmultiplied, in the fourth byte otherwise. CMYK becomes RGB through the file's CMYK
// profile, or by the plain ink formula without one. Of a multi-page file the first page is read,
// with a warning. The pixels stay as stored: the Orientation tag comes with the EXIF block, as a
// camera's orientation does, and is applied where that one is. Writes Deflate-compressed 8-bit
// RGB, or RGBA with unassociated alpha, with the profile, EXIF and XMP of Metadata.
class TTiffImage : public TMetadataBitmap {
  PELLAVO_GRAPHIC_CLASS()

 public:
  // Decodes the first page from the stream's position to its end. On failure the bitmap keeps
  // its previous image.
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;
};

}  // namespace pellavo
