#pragma once
// The decoder set-up of TJPEGImage, shared with its row-by-row reader. Private to the codec.
#include <cstdint>

#include "formats/jpeg/jpeg.h"
#include "formats/jpeg/jpeg_lib.h"

namespace pellavo {

// How the decoder was set up, for the passes that follow.
struct TJPEGImage::TPlan {
  bool quantize = false;  // 8-bit palette output
  bool cmyk = false;      // CMYK rows, converted by us
  bool inverted = false;  // Adobe CMYK
  bool gray = false;      // CMYK converted to grey values
  bool staged = false;    // buffered-image mode, one output pass per scan
  // The choices for the final pass.
  J_DCT_METHOD dct = JDCT_ISLOW;
  boolean two_pass = TRUE;
  J_DITHER_MODE dither = JDITHER_FS;
};

namespace jpeg_detail {

// a * b / 255, rounded.
inline uint32_t Mul255(uint32_t a, uint32_t b) {
  const uint32_t t = a * b + 128;
  return (t + (t >> 8)) >> 8;
}

// CMYK samples, in place, to blue, green, red and an opaque fourth byte. Adobe's files store
// the inks inverted (255 = no ink); plain files store them as they are.
inline void CmykToBgra(uint8_t* p, int32_t width, bool inverted, bool gray) {
  for (int32_t x = 0; x < width; ++x, p += 4) {
    uint32_t c = p[0], m = p[1], y = p[2], k = p[3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    uint32_t r = Mul255(c, k), g = Mul255(m, k), b = Mul255(y, k);
    if (gray) r = g = b = (r * 19595 + g * 38470 + b * 7471 + 32768) >> 16;
    p[0] = uint8_t(b);
    p[1] = uint8_t(g);
    p[2] = uint8_t(r);
    p[3] = 0xFF;
  }
}

}  // namespace jpeg_detail

}  // namespace pellavo
