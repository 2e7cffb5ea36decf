#pragma once
#include "core/stream.h"
#include "formats/bmp/bitmap.h"
#include "formats/output_formats.h"

namespace pellavo {

// What a run lets its user choose about the encoders; everything else is fixed per format.
struct TEncoderSettings {
  int Quality = 90;             // 1 to 100, for the formats whose table row says they take it
  bool SourceHasAlpha = false;  // for the formats that keep alpha: the source was not opaque
};

// Encodes the rendered 32-bit bitmap into out with the program's settings for a format.
using TOutputWriter = void (*)(TBitmap& bitmap, TStream& out, const TEncoderSettings& settings);

// The writer of a format; nullptr for Source, which is no format of its own.
TOutputWriter OutputWriter(TOutputFormat format);

}  // namespace pellavo
