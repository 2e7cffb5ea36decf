#include "formats/jpeg/jpeg_grey_dither.h"

#include <algorithm>

namespace pellavo::jpeg_detail {

TGreyDither::TGreyDither(int colours, J_DITHER_MODE dither, int32_t width)
    : ramp_(size_t(std::clamp(colours, 2, 256))),
      index_(256),
      diffuse_(dither == JDITHER_FS),
      width_(width),
      errors_(diffuse_ ? size_t(width) + 2 : 0, 0) {
  const int top = int(ramp_.size()) - 1;
  for (int j = 0; j <= top; ++j) ramp_[size_t(j)] = uint8_t((j * 255 + top / 2) / top);
  // Each level goes to the ramp entry whose upper bound it does not pass.
  const auto largest = [&](int j) { return ((2 * j + 1) * 255 + top) / (2 * top); };
  int entry = 0;
  for (int v = 0, bound = largest(0); v < 256; ++v) {
    while (v > bound) bound = largest(++entry);
    index_[size_t(v)] = uint8_t(entry);
  }
}

bool TGreyDither::Serves(const jpeg_decompress_struct& c) {
  return c.quantize_colors && c.out_color_space == JCS_GRAYSCALE && c.desired_number_of_colors >= 2 &&
         c.desired_number_of_colors <= 256 && (c.dither_mode == JDITHER_FS || c.dither_mode == JDITHER_NONE) &&
         !c.colormap;
}

void TGreyDither::Row(const uint8_t* samples, uint8_t* indices) {
  if (!diffuse_) {
    for (int32_t x = 0; x < width_; ++x) indices[x] = index_[samples[x]];
    return;
  }
  // The error of a pixel goes 7/16 to the next one along the row and 3/16, 5/16 and 1/16 to the
  // three below it; errors_[x + 1] holds what column x takes from the row above.
  const int dir = odd_row_ ? -1 : 1;
  int32_t x = odd_row_ ? width_ - 1 : 0;
  int* error = errors_.data() + (odd_row_ ? width_ + 1 : 0);
  int carried = 0, below = 0, below_before = 0;
  for (int32_t n = 0; n < width_; ++n, x += dir, error += dir) {
    int v = ((carried + error[dir] + 8) >> 4) + samples[x];
    v = std::clamp(v, 0, 255);
    const uint8_t code = index_[size_t(v)];
    indices[x] = code;
    const int e = v - ramp_[code];
    error[0] = below_before + 3 * e;
    below_before = below + 5 * e;
    below = e;
    carried = 7 * e;
  }
  error[0] = below_before;
  odd_row_ = !odd_row_;
}

}  // namespace pellavo::jpeg_detail
