#pragma once
// The library's one-pass quantiser for grey output, for rows it did not decode itself: grey
// levels to the indices of an even grey ramp, with the same Floyd–Steinberg error diffusion (its
// direction turning every row), so that the rows match the library's byte for byte. Private to
// the codec.
#include <cstddef>
#include <cstdint>
#include <cstdio>  // before jpeglib.h, which needs it
#include <vector>

#include <jpeglib.h>

namespace pellavo::jpeg_detail {

class TGreyDither {
 public:
  // colours: the ramp's size, 2 to 256, as the library was asked for; dither: JDITHER_FS or
  // JDITHER_NONE, the ones this serves (Serves).
  TGreyDither(int colours, J_DITHER_MODE dither, int32_t width);
  static bool Serves(const jpeg_decompress_struct& c);

  // The grey value of each ramp index, as the library's colour map holds it.
  const std::vector<uint8_t>& Ramp() const { return ramp_; }
  // The next row, top row first: samples to ramp indices.
  void Row(const uint8_t* samples, uint8_t* indices);

 private:
  std::vector<uint8_t> ramp_;
  std::vector<uint8_t> index_;  // the nearest ramp index of each grey level
  bool diffuse_ = true;
  int32_t width_ = 0;
  std::vector<int> errors_;  // sixteenths, a place before and after the row
  bool odd_row_ = false;
};

}  // namespace pellavo::jpeg_detail
