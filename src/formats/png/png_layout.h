#pragma once
// Row geometry, interlace passes, pixel bit access and the five row filters, shared by the
// decoder and the encoder.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace pellavo::png_detail {

struct TPass {
  uint32_t X0, Y0, DX, DY;
};

inline constexpr TPass kAdam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                     {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
// A non-interlaced image is one pass over every pixel.
inline constexpr TPass kWholeImage = {0, 0, 1, 1};

// Columns and rows of a pass over a width x height image (0 when the pass holds no pixel).
inline uint32_t PassExtent(uint32_t size, uint32_t origin, uint32_t step) {
  return size > origin ? (size - origin + step - 1) / step : 0;
}

// The filters' left distance: bytes per complete pixel, at least 1.
inline size_t FilterStride(int bits_per_pixel) { return bits_per_pixel >= 8 ? size_t(bits_per_pixel / 8) : 1; }

// Copies pixel sx of src to pixel dx of dst, for any pixel size of 1, 2, 4 or a multiple of 8
// bits. Packed pixels are most significant bits first.
inline void CopyPixel(const uint8_t* src, uint64_t sx, uint8_t* dst, uint64_t dx, int bits) {
  if (bits >= 8) {
    const size_t n = size_t(bits / 8);
    std::memcpy(dst + dx * n, src + sx * n, n);
    return;
  }
  const unsigned per_byte = 8u / unsigned(bits);
  const unsigned mask = (1u << bits) - 1;
  const unsigned sshift = 8u - unsigned(bits) * unsigned(sx % per_byte + 1);
  const unsigned dshift = 8u - unsigned(bits) * unsigned(dx % per_byte + 1);
  const unsigned v = (src[sx / per_byte] >> sshift) & mask;
  uint8_t& d = dst[dx / per_byte];
  d = uint8_t((d & ~(mask << dshift)) | (v << dshift));
}

inline uint8_t PaethPredictor(int a, int b, int c) {
  const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
  if (pa <= pb && pa <= pc) return uint8_t(a);
  if (pb <= pc) return uint8_t(b);
  return uint8_t(c);
}

// The filters that look left, with the pixel size known at compile time so that the bytes of
// one pixel form independent chains the compiler can interleave. The first pixel has no left
// neighbour (0), so Average halves the byte above and Paeth predicts the byte above.
template <size_t B>
void UnfilterLeft(uint8_t type, uint8_t* row, const uint8_t* prev, size_t n, size_t b) {
  const size_t bpp = B ? B : b;
  const size_t first = std::min(bpp, n);
  if (type == 1) {
    for (size_t i = bpp; i < n; ++i) row[i] = uint8_t(row[i] + row[i - bpp]);
  } else if (type == 3) {
    for (size_t i = 0; i < first; ++i) row[i] = uint8_t(row[i] + (prev[i] >> 1));
    for (size_t i = bpp; i < n; ++i) row[i] = uint8_t(row[i] + ((unsigned(row[i - bpp]) + prev[i]) >> 1));
  } else {
    for (size_t i = 0; i < first; ++i) row[i] = uint8_t(row[i] + prev[i]);
    for (size_t i = bpp; i < n; ++i) row[i] = uint8_t(row[i] + PaethPredictor(row[i - bpp], prev[i], prev[i - bpp]));
  }
}

// Reverses filter type on row (n bytes) in place; prev is the previous row of the same pass
// as it was reconstructed (all zeros for the first row). Returns false for an unknown type.
inline bool Unfilter(uint8_t type, uint8_t* row, const uint8_t* prev, size_t n, size_t bpp) {
  switch (type) {
    case 0:
      return true;
    case 2:
      for (size_t i = 0; i < n; ++i) row[i] = uint8_t(row[i] + prev[i]);
      return true;
    case 1:
    case 3:
    case 4:
      switch (bpp) {
        case 1: UnfilterLeft<1>(type, row, prev, n, bpp); break;
        case 3: UnfilterLeft<3>(type, row, prev, n, bpp); break;
        case 4: UnfilterLeft<4>(type, row, prev, n, bpp); break;
        default: UnfilterLeft<0>(type, row, prev, n, bpp); break;
      }
      return true;
    default:
      return false;
  }
}

// Applies filter type (1 to 4) to the raw row into out.
inline void Filter(uint8_t type, const uint8_t* raw, const uint8_t* prev, uint8_t* out, size_t n, size_t bpp) {
  for (size_t i = 0; i < n; ++i) {
    const int left = i >= bpp ? raw[i - bpp] : 0, up = prev[i], upleft = i >= bpp ? prev[i - bpp] : 0;
    int predicted = 0;
    switch (type) {
      case 1: predicted = left; break;
      case 2: predicted = up; break;
      case 3: predicted = (left + up) >> 1; break;
      case 4: predicted = PaethPredictor(left, up, upleft); break;
      default: break;
    }
    out[i] = uint8_t(raw[i] - predicted);
  }
}

}  // namespace pellavo::png_detail
