#pragma once
// The pixel loops that have vector variants. Every variant computes exactly what the scalar one
// computes; the scalar one is the reference. Kept free of inline code so that a file compiled
// for a wider instruction set cannot leak such code into the rest of the program.
#include <cstddef>
#include <cstdint>

namespace pellavo::simd {

// The horizontal table of kernel resampling as windows of one length: destination pixel d
// weighs the records first[d] .. first[d] + taps - 1 of the row of sums by
// weight[d × taps ...]. Repeated positions are merged and short windows padded with zero
// weights, which leaves the wrapped sums unchanged; records under a zero weight need only
// exist.
struct TKernelHorzTable {
  const int32_t* first;
  const int32_t* weight;
  const int32_t* weight4;  // the same weights, each four times over: one per channel
  int32_t taps;            // even, at least 2
};

struct TPixelRoutines {
  const char* name;

  // dst[0..n) := c.
  void (*Fill)(uint32_t* dst, size_t n, uint32_t c);
  // Each of dst[0..n) := f over it; f's alpha lies strictly between 0 and 255.
  void (*BlendRun)(uint32_t f, uint32_t* dst, size_t n);
  // Every alpha byte of p[0..n) := 255.
  void (*OpaqueAlpha)(uint32_t* p, size_t n);

  // Vertical pass: sums[4x + c] := sum over k of weights[k] × byte c of rows[k][x], for
  // x < count, in 32-bit arithmetic that wraps.
  void (*KernelVertical)(const uint32_t* const* rows, const int32_t* weights, int32_t taps, int32_t count,
                         int32_t* sums);
  // Horizontal pass: for each destination pixel d < count, T_c := sum over its window of
  // weight × sums[4 × record + c] (wrapping); clamped to 0..0xFF0000 when clamp; channel c of
  // dst[d] := bits 16..23 of T_c.
  void (*KernelHorizontal)(const int32_t* sums, const TKernelHorzTable& table, int32_t count, bool clamp,
                           uint32_t* dst);

  // out[i] per channel := (w[i] × row[pos[i]] + (256 − w[i]) × row[pos[i] + 1]) >> 8.
  void (*BilinearHorizontal)(const uint32_t* row, const int32_t* pos, const int32_t* w, int32_t count,
                             uint32_t* out);
  // out[i] per channel := (wy × top[i] + (256 − wy) × bottom[i]) >> 8.
  void (*BilinearVertical)(const uint32_t* top, const uint32_t* bottom, int32_t wy, int32_t count, uint32_t* out);

  // sums[4x + c] := sum over r < rows of byte c of first_row[r × stride + x]; rows <= 65536.
  void (*ColumnSums)(const uint32_t* first_row, ptrdiff_t stride, int32_t rows, int32_t count, uint32_t* sums);
  // dst[d] per channel := (s × (16777216 div n)) >> 24 with s the sum of the column sums
  // bounds[d] .. bounds[d+1]-1 and n := their count × rows, which the caller keeps <= 65536.
  void (*BlockAverage)(const uint32_t* sums, const int32_t* bounds, int32_t count, int32_t rows, uint32_t* dst);
};

extern const TPixelRoutines kScalarRoutines;
// nullptr where the compiler cannot build the variant.
const TPixelRoutines* Sse2Routines();
const TPixelRoutines* Avx2Routines();

// The variant in use (see raster/simd_level.h).
const TPixelRoutines& Routines();

}  // namespace pellavo::simd
