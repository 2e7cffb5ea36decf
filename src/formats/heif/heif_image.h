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
// image, upright (its rotation, mirroring and crop applied), in sRGB (an RGB ICC profile in the
// file is converted from), 24 bits when opaque, 32 with the alpha in the fourth byte otherwise.
// Deeper samples are reduced to 8 bits. Read only: the program writes no HEIF.
class THeifImage : public TBitmap {
  PELLAVO_GRAPHIC_CLASS()

 public:
  // Decodes everything from the stream's position to its end. On failure the bitmap keeps its
  // previous image.
  void LoadFromStream(TStream& stream) override;
  // Raises EHeifError: no HEIF encoder is offered.
  void SaveToStream(TStream& stream) override;
};

}  // namespace pellavo
