#pragma once
#include <cstdint>
#include <vector>

#include "core/errors.h"
#include "formats/metadata_bitmap.h"

namespace pellavo {

// Every failure of the AVIF reader and writer; the text says what was wrong.
class EAvifError : public EInvalidGraphic {
 public:
  using EInvalidGraphic::EInvalidGraphic;
};

// A bitmap read from an AVIF file and written as one. Size, pixel format and drawing are the
// bitmap's own: 24 bits for an opaque file, 32 with the alpha in the fourth byte otherwise. Deeper
// samples are reduced to 8 bits; an image sequence gives its first image; the file's clean
// aperture (crop), rotation and mirroring are applied, so the image comes out the way it is meant
// to be seen. Files libavif refuses are read through libheif, as browsers read them. The file's ICC
// profile, EXIF and XMP are kept as its metadata, and written into the file it saves.
class TAvifImage : public TMetadataBitmap {
  PELLAVO_GRAPHIC_CLASS()

 public:
  // 1 to 100; higher keeps more. 100 still encodes lossily (4:2:0 chroma).
  uint8_t Quality = 90;

  // Decodes everything from the stream's position to its end. On failure the bitmap keeps its
  // previous image.
  void LoadFromStream(TStream& stream) override;
  // Encodes the pixels as 8-bit 4:2:0 sRGB at Quality, with alpha as KeepAlpha says.
  void SaveToStream(TStream& stream) override;

  // Whether the file turned or mirrored its image itself, so that an EXIF orientation beside
  // that only repeats what was applied.
  bool DecodedUpright() const override { return turned_; }

  // The AV1 quantizer (0 best to 63 worst) used for a quality of 1 to 100.
  static int QuantizerOf(int quality);

 private:
  // Through libavif; raises EAvifError (or EImageTooLarge) and leaves the image as it was.
  void Decode(const std::vector<uint8_t>& bytes);

  bool turned_ = false;
};

}  // namespace pellavo
