#pragma once
// A bitmap through a codec with a quality and an alpha switch (WebP, AVIF), in memory.
#include <cstdint>
#include <vector>

#include "core/stream.h"
#include "formats/bmp/bitmap.h"

namespace pellavo::test {

template <class TImage>
std::vector<uint8_t> EncodeAs(const TBitmap& bitmap, int quality, bool keep_alpha) {
  TImage image;
  image.Quality = uint8_t(quality);
  image.KeepAlpha = keep_alpha;
  image.Assign(bitmap);
  TMemoryStream out;
  image.SaveToStream(out);
  out.Seek(0);
  return out.ReadToEnd();
}

template <class TImage>
TImage DecodeAs(const std::vector<uint8_t>& bytes) {
  TImage image;
  TMemoryStream in(bytes);
  image.LoadFromStream(in);
  return image;
}

}  // namespace pellavo::test
