#pragma once
#include "formats/bmp/bitmap.h"

namespace pellavo {

// A bitmap read from a file format that carries alpha and metadata, and written as one: what
// every such writer is told besides its pixels. Each codec's subclass loads and saves it.
class TMetadataBitmap : public TBitmap {
 public:
  // Write a 32-bit bitmap's fourth byte as alpha (left out all the same when every pixel is
  // opaque); off, the file is opaque.
  bool KeepAlpha = true;
  // What SaveToStream embeds; LoadFromStream sets it from the file.
  TImageMetadata Metadata;

  TImageMetadata EmbeddedMetadata() const override { return Metadata; }
};

}  // namespace pellavo
