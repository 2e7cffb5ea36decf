#pragma once
#include <cstdint>
#include <vector>

#include "core/stream.h"
#include "formats/jpeg/jpeg.h"

namespace pellavo::test {

// The bitmap as a JPEG file in memory, written by our own encoder.
inline std::vector<uint8_t> EncodeJpeg(const TBitmap& bitmap, int quality = 90, bool progressive = false,
                                       bool gray = false) {
  TJPEGImage jpeg;
  jpeg.SetJpegQuality(quality);
  jpeg.SetProgressiveOutput(progressive);
  jpeg.SetGrayOutput(gray);
  jpeg.Assign(bitmap);
  TMemoryStream s;
  jpeg.SaveToStream(s);
  return s.Take();
}

}  // namespace pellavo::test
