#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/color.h"
#include "core/decode_limits.h"
#include "core/errors.h"
#include "formats/cmyk_converter.h"
#include "formats/image_metadata.h"

namespace pellavo {

// An image file decoded row by row, top row first, for a caller that never needs the whole
// image at once. Each row holds exactly the 32-bit pixels a surface holds after taking the
// format's picture (TBitmap32::Assign): the format's own transparency drawn onto transparent
// black, then every alpha 255.
class TRowImage {
 public:
  virtual ~TRowImage() = default;

  // The size rows come out at.
  virtual int32_t Width() const = 0;
  virtual int32_t Height() const = 0;
  // Reduced decoding at 1/2^scale (0 to 3), for formats that have it; set before the first row.
  virtual bool HasDecodeScale() const { return false; }
  virtual void SetDecodeScale(int /*scale*/) {}
  // What the decoder itself holds while it decodes, beyond the rows handed to it.
  virtual uint64_t WorkingBytes() const = 0;
  // Whether every row pixel is opaque by the file's own description (no alpha channel, no
  // transparent colour), so that rows read with the file's transparency equal these.
  virtual bool Opaque() const { return false; }
  // The blocks found before the image data, as the format's picture reports them read whole.
  virtual TImageMetadata EmbeddedMetadata() const { return {}; }
  // Replaces the ink formula of a CMYK source; set before the first row. Formats without CMYK
  // ignore it.
  virtual void SetCmykConverter(TCmykConverter /*converter*/) {}

  // Decodes the next count rows into out, Width() pixels each, one after another.
  virtual void ReadRows(TColor32* out, int32_t count) = 0;
  // After the last row: reads what follows the image with the checks a whole-image read makes,
  // so that a file it would refuse is refused here too.
  virtual void Finish() = 0;
};

// A file that turned out, part way, to look different when read whole (a PNG's gamma, palette
// or metadata after its image data): the caller starts again with the whole-image reader.
class EWholeImageNeeded : public Exception {
 public:
  EWholeImageNeeded() : Exception("the image must be read whole") {}
};

}  // namespace pellavo
