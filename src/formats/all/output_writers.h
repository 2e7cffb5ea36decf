#pragma once
#include "core/stream.h"
#include "formats/bmp/bitmap.h"
#include "formats/image_metadata.h"
#include "formats/output_formats.h"

namespace pellavo {

// Encodes the rendered 32-bit bitmap into out with the program's fixed settings for a format,
// keeping what options ask for as far as the format can hold it. A writer may take the bitmap's
// pixels instead of copying them (the JPEG one does), leaving it empty.
using TOutputWriter = void (*)(TBitmap&& bitmap, TStream& out, const TEncodeOptions& options);

// The writer of a format; nullptr for Source, which is no format of its own.
TOutputWriter OutputWriter(TOutputFormat format);

}  // namespace pellavo
