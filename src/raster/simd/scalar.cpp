#include <algorithm>

#include "raster/simd/routines.h"

namespace pellavo::simd {
namespace {

inline uint32_t Channel(uint32_t p, int c) { return (p >> (8 * c)) & 0xFF; }

void Fill(uint32_t* dst, size_t n, uint32_t c) { std::fill_n(dst, n, c); }

void BlendRun(uint32_t f, uint32_t* dst, size_t n) {
  const uint32_t a = f >> 24;
  for (size_t i = 0; i < n; ++i) {
    uint32_t r = 0;
    for (int c = 0; c < 4; ++c) r |= ((a * Channel(f, c) + (256 - a) * Channel(dst[i], c) + 128) >> 8) << (8 * c);
    dst[i] = r;
  }
}

void OpaqueAlpha(uint32_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) p[i] |= 0xFF000000u;
}

void KernelVertical(const uint32_t* const* rows, const int32_t* weights, int32_t taps, int32_t count,
                    int32_t* sums) {
  for (int32_t x = 0; x < count; ++x) {
    uint32_t s[4] = {0, 0, 0, 0};
    for (int32_t k = 0; k < taps; ++k) {
      const uint32_t p = rows[k][x], w = static_cast<uint32_t>(weights[k]);
      for (int c = 0; c < 4; ++c) s[c] += w * Channel(p, c);
    }
    for (int c = 0; c < 4; ++c) sums[4 * x + c] = static_cast<int32_t>(s[c]);
  }
}

void KernelHorizontal(const int32_t* sums, const TKernelHorzTable& t, int32_t count, bool clamp, uint32_t* dst) {
  for (int32_t d = 0; d < count; ++d) {
    uint32_t s[4] = {0, 0, 0, 0};
    const int32_t* rec = sums + 4 * static_cast<ptrdiff_t>(t.first[d]);
    const int32_t* w = t.weight + static_cast<ptrdiff_t>(d) * t.taps;
    for (int32_t k = 0; k < t.taps; ++k)
      for (int c = 0; c < 4; ++c) s[c] += static_cast<uint32_t>(w[k]) * static_cast<uint32_t>(rec[4 * k + c]);
    uint32_t pixel = 0;
    for (int c = 0; c < 4; ++c) {
      int32_t v = static_cast<int32_t>(s[c]);
      if (clamp) v = std::clamp(v, 0, 0xFF0000);
      pixel |= ((static_cast<uint32_t>(v) >> 16) & 0xFF) << (8 * c);
    }
    dst[d] = pixel;
  }
}

void BilinearHorizontal(const uint32_t* row, const int32_t* pos, const int32_t* w, int32_t count, uint32_t* out) {
  for (int32_t i = 0; i < count; ++i) {
    const uint32_t p0 = row[pos[i]], p1 = row[pos[i] + 1], w0 = static_cast<uint32_t>(w[i]), w1 = 256 - w0;
    uint32_t r = 0;
    for (int c = 0; c < 4; ++c) r |= ((w0 * Channel(p0, c) + w1 * Channel(p1, c)) >> 8) << (8 * c);
    out[i] = r;
  }
}

void BilinearVertical(const uint32_t* top, const uint32_t* bottom, int32_t wy, int32_t count, uint32_t* out) {
  const uint32_t w0 = static_cast<uint32_t>(wy), w1 = 256 - w0;
  for (int32_t i = 0; i < count; ++i) {
    uint32_t r = 0;
    for (int c = 0; c < 4; ++c) r |= ((w0 * Channel(top[i], c) + w1 * Channel(bottom[i], c)) >> 8) << (8 * c);
    out[i] = r;
  }
}

void ColumnSums(const uint32_t* first_row, ptrdiff_t stride, int32_t rows, int32_t count, uint32_t* sums) {
  std::fill_n(sums, 4 * static_cast<size_t>(count), 0u);
  for (int32_t r = 0; r < rows; ++r) {
    const uint32_t* row = first_row + r * stride;
    for (int32_t x = 0; x < count; ++x)
      for (int c = 0; c < 4; ++c) sums[4 * x + c] += Channel(row[x], c);
  }
}

void BlockAverage(const uint32_t* sums, const int32_t* bounds, int32_t count, int32_t rows, uint32_t* dst) {
  for (int32_t d = 0; d < count; ++d) {
    uint32_t s[4] = {0, 0, 0, 0};
    for (int32_t x = bounds[d]; x < bounds[d + 1]; ++x)
      for (int c = 0; c < 4; ++c) s[c] += sums[4 * x + c];
    const uint32_t q = 16777216u / static_cast<uint32_t>((bounds[d + 1] - bounds[d]) * rows);
    uint32_t pixel = 0;
    for (int c = 0; c < 4; ++c) pixel |= ((s[c] * q) >> 24) << (8 * c);
    dst[d] = pixel;
  }
}

}  // namespace

const TPixelRoutines kScalarRoutines = {
    "scalar",         Fill,       BlendRun,     OpaqueAlpha, KernelVertical, KernelHorizontal, BilinearHorizontal,
    BilinearVertical, ColumnSums, BlockAverage,
};

}  // namespace pellavo::simd
