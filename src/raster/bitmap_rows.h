#pragma once
#include <cstdint>

#include "formats/bmp/bitmap.h"
#include "formats/row_image.h"

namespace pellavo {

// The rows a surface takes from a bitmap (TBitmap32::Assign): each pixel as the bitmap gives it
// in 32 bits, a transparent bitmap's colour key made clear. For a picture that a reader had to
// decode whole (a BMP, a JPEG 2000 file), the render step then needs no second full-size copy.
class TBitmapRows final : public TRowImage {
 public:
  explicit TBitmapRows(const TBitmap& bitmap);

  int32_t Width() const override { return bitmap_.Width(); }
  int32_t Height() const override { return bitmap_.Height(); }
  uint64_t WorkingBytes() const override { return 0; }  // the bitmap is the picture's
  // A 32-bit bitmap's fourth byte may be alpha; a colour key makes pixels clear.
  bool Opaque() const override { return bitmap_.PixelFormat() != TPixelFormat::pf32bit && !keyed_; }
  void ReadRows(TColor32* out, int32_t count) override;
  void Finish() override {}

 private:
  const TBitmap& bitmap_;
  bool keyed_;
  TColor32 key_;  // colour bytes of the transparent colour
  int32_t next_ = 0;
};

}  // namespace pellavo
