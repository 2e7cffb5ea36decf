// AVX2 variants of the pixel loops, chosen at run time. Each computes exactly what scalar.cpp
// computes (see sse2.cpp for why each step is exact). Only this file's own functions carry the
// AVX2 target, so no AVX2 code can end up in an inline function shared with the rest.
#include "raster/simd/routines.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#define PELLAVO_AVX2 __attribute__((target("avx2")))

namespace pellavo::simd {
namespace {

PELLAVO_AVX2 inline __m256i Load8(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
PELLAVO_AVX2 inline void Store8(void* p, __m256i v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }
PELLAVO_AVX2 inline __m128i Load4(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
PELLAVO_AVX2 inline void Store4(void* p, __m128i v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
PELLAVO_AVX2 inline __m128i LoadPixel(const uint32_t* p) { return _mm_cvtsi32_si128(static_cast<int>(*p)); }

PELLAVO_AVX2 inline uint32_t PackPixel(__m128i v) {
  const __m128i w = _mm_packus_epi32(v, v);
  return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(w, w)));
}

PELLAVO_AVX2 void Fill(uint32_t* dst, size_t n, uint32_t c) {
  const __m256i v = _mm256_set1_epi32(static_cast<int>(c));
  size_t i = 0;
  for (; i + 8 <= n; i += 8) Store8(dst + i, v);
  for (; i < n; ++i) dst[i] = c;
}

PELLAVO_AVX2 void OpaqueAlpha(uint32_t* p, size_t n) {
  const __m256i alpha = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
  size_t i = 0;
  for (; i + 8 <= n; i += 8) Store8(p + i, _mm256_or_si256(Load8(p + i), alpha));
  for (; i < n; ++i) p[i] |= 0xFF000000u;
}

PELLAVO_AVX2 inline __m256i BlendEight(__m256i b, __m256i fore, __m256i back_w) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i lo = _mm256_srli_epi16(_mm256_add_epi16(fore, _mm256_mullo_epi16(_mm256_unpacklo_epi8(b, zero), back_w)), 8);
  const __m256i hi = _mm256_srli_epi16(_mm256_add_epi16(fore, _mm256_mullo_epi16(_mm256_unpackhi_epi8(b, zero), back_w)), 8);
  return _mm256_packus_epi16(lo, hi);
}

PELLAVO_AVX2 void BlendRun(uint32_t f, uint32_t* dst, size_t n) {
  const int a = static_cast<int>(f >> 24);
  const __m256i fore =
      _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(_mm256_set1_epi32(static_cast<int>(f)), _mm256_setzero_si256()),
                                          _mm256_set1_epi16(static_cast<short>(a))),
                       _mm256_set1_epi16(128));
  const __m256i back_w = _mm256_set1_epi16(static_cast<short>(256 - a));
  size_t i = 0;
  for (; i + 8 <= n; i += 8) Store8(dst + i, BlendEight(Load8(dst + i), fore, back_w));
  for (; i < n; ++i)
    dst[i] = static_cast<uint32_t>(
        _mm_cvtsi128_si32(_mm256_castsi256_si128(BlendEight(_mm256_castsi128_si256(LoadPixel(dst + i)), fore, back_w))));
}

// Stores (or adds to what is stored) eight pixels' four sums held as lanes (p0|p4), (p1|p5),
// (p2|p6), (p3|p7), in pixel order.
PELLAVO_AVX2 inline void StoreEightRecords(int32_t* out, __m256i s0, __m256i s1, __m256i s2, __m256i s3, bool add) {
  __m256i o[4] = {_mm256_permute2x128_si256(s0, s1, 0x20), _mm256_permute2x128_si256(s2, s3, 0x20),
                  _mm256_permute2x128_si256(s0, s1, 0x31), _mm256_permute2x128_si256(s2, s3, 0x31)};
  for (int i = 0; i < 4; ++i) {
    if (add) o[i] = _mm256_add_epi32(o[i], Load8(out + 8 * i));
    Store8(out + 8 * i, o[i]);
  }
}

// Taps per block of the vertical pass; later blocks add to the sums of earlier ones, which
// wraps to the same values as one long sum.
constexpr int32_t kTapBlock = 128;

PELLAVO_AVX2 void KernelVerticalBlock(const uint32_t* const* rows, const int32_t* weights, int32_t taps,
                                      int32_t count, int32_t* sums, bool add) {
  // Two rows per madd, as in the SSE2 variant; an odd last tap repeats its row at weight 0.
  __m256i pair_w[kTapBlock / 2];
  const uint32_t* pair_rows[kTapBlock];
  const int32_t pairs = (taps + 1) / 2;
  for (int32_t k = 0; k < pairs; ++k) {
    const bool odd_last = 2 * k + 1 >= taps;
    const uint32_t w0 = static_cast<uint16_t>(weights[2 * k]);
    const uint32_t w1 = odd_last ? 0 : static_cast<uint16_t>(weights[2 * k + 1]);
    pair_w[k] = _mm256_set1_epi32(static_cast<int>(w0 | w1 << 16));
    pair_rows[2 * k] = rows[2 * k];
    pair_rows[2 * k + 1] = odd_last ? rows[2 * k] : rows[2 * k + 1];
  }
  const __m256i zero = _mm256_setzero_si256();
  int32_t x = 0;
  for (; x + 8 <= count; x += 8) {
    __m256i s0 = zero, s1 = zero, s2 = zero, s3 = zero;
    for (int32_t k = 0; k < pairs; ++k) {
      const __m256i r0 = Load8(pair_rows[2 * k] + x), r1 = Load8(pair_rows[2 * k + 1] + x);
      const __m256i lo = _mm256_unpacklo_epi8(r0, r1), hi = _mm256_unpackhi_epi8(r0, r1);
      const __m256i w = pair_w[k];
      s0 = _mm256_add_epi32(s0, _mm256_madd_epi16(_mm256_unpacklo_epi8(lo, zero), w));
      s1 = _mm256_add_epi32(s1, _mm256_madd_epi16(_mm256_unpackhi_epi8(lo, zero), w));
      s2 = _mm256_add_epi32(s2, _mm256_madd_epi16(_mm256_unpacklo_epi8(hi, zero), w));
      s3 = _mm256_add_epi32(s3, _mm256_madd_epi16(_mm256_unpackhi_epi8(hi, zero), w));
    }
    StoreEightRecords(sums + 4 * x, s0, s1, s2, s3, add);
  }
  for (; x < count; ++x) {
    __m128i s = add ? Load4(sums + 4 * x) : _mm_setzero_si128();
    for (int32_t k = 0; k < pairs; ++k) {
      const __m128i pair = _mm_unpacklo_epi8(LoadPixel(pair_rows[2 * k] + x), LoadPixel(pair_rows[2 * k + 1] + x));
      s = _mm_add_epi32(s, _mm_madd_epi16(_mm_cvtepu8_epi16(pair), _mm256_castsi256_si128(pair_w[k])));
    }
    Store4(sums + 4 * x, s);
  }
}

PELLAVO_AVX2 void KernelVertical(const uint32_t* const* rows, const int32_t* weights, int32_t taps, int32_t count,
                                 int32_t* sums) {
  for (int32_t k = 0; k < taps; ++k)
    if (weights[k] < -32768 || weights[k] > 32767) {
      kScalarRoutines.KernelVertical(rows, weights, taps, count, sums);
      return;
    }
  if (taps == 0) {
    kScalarRoutines.KernelVertical(rows, weights, taps, count, sums);
    return;
  }
  for (int32_t k = 0; k < taps; k += kTapBlock)
    KernelVerticalBlock(rows + k, weights + k, taps - k < kTapBlock ? taps - k : kTapBlock, count, sums, k > 0);
}

PELLAVO_AVX2 inline uint32_t FinishPixel(__m128i t, bool clamp) {
  if (clamp) t = _mm_min_epi32(_mm_max_epi32(t, _mm_setzero_si128()), _mm_set1_epi32(0xFF0000));
  return PackPixel(_mm_and_si128(_mm_srli_epi32(t, 16), _mm_set1_epi32(0xFF)));
}

// Sum of one window as two half-sums, each register holding two records' products.
PELLAVO_AVX2 inline __m256i WindowSum(const int32_t* rec, const int32_t* weight, int32_t taps) {
  __m256i acc = _mm256_setzero_si256();
  for (int32_t k = 0; k < taps / 2; ++k)
    acc = _mm256_add_epi32(acc, _mm256_mullo_epi32(Load8(rec + 8 * k), Load8(weight + 8 * k)));
  return acc;
}

PELLAVO_AVX2 void KernelHorizontal(const int32_t* sums, const TKernelHorzTable& t, int32_t count, bool clamp,
                                   uint32_t* dst) {
  // Each step weighs two records side by side in one register, each by its own weight; the
  // halves are added at the end, and two destination pixels go together so that they share the
  // finishing steps. The sums wrap exactly like the reference's.
  const ptrdiff_t step = 4 * static_cast<ptrdiff_t>(t.taps);
  const __m256i top = _mm256_set1_epi32(0xFF0000), low_byte = _mm256_set1_epi32(0xFF);
  int32_t d = 0;
  for (; d + 2 <= count; d += 2) {
    const __m256i a = WindowSum(sums + 4 * static_cast<ptrdiff_t>(t.first[d]), t.weight4 + d * step, t.taps);
    const __m256i b =
        WindowSum(sums + 4 * static_cast<ptrdiff_t>(t.first[d + 1]), t.weight4 + (d + 1) * step, t.taps);
    __m256i total = _mm256_add_epi32(_mm256_permute2x128_si256(a, b, 0x20), _mm256_permute2x128_si256(a, b, 0x31));
    if (clamp) total = _mm256_min_epi32(_mm256_max_epi32(total, _mm256_setzero_si256()), top);
    total = _mm256_and_si256(_mm256_srli_epi32(total, 16), low_byte);
    total = _mm256_packus_epi32(total, total);
    total = _mm256_packus_epi16(total, total);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + d),
                     _mm_unpacklo_epi32(_mm256_castsi256_si128(total), _mm256_extracti128_si256(total, 1)));
  }
  if (d < count) {
    const __m256i a = WindowSum(sums + 4 * static_cast<ptrdiff_t>(t.first[d]), t.weight4 + d * step, t.taps);
    dst[d] = FinishPixel(_mm_add_epi32(_mm256_castsi256_si128(a), _mm256_extracti128_si256(a, 1)), clamp);
  }
}

PELLAVO_AVX2 inline __m128i PairWeights(int32_t w) {
  return _mm_setr_epi16(static_cast<short>(w), static_cast<short>(w), static_cast<short>(w), static_cast<short>(w),
                        static_cast<short>(256 - w), static_cast<short>(256 - w), static_cast<short>(256 - w),
                        static_cast<short>(256 - w));
}

// Low four words: w × P0 + (256 − w) × P1 of the two pixels at p, per channel.
PELLAVO_AVX2 inline __m128i BlendPair(const uint32_t* p, int32_t w) {
  const __m128i v = _mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
  const __m128i prod = _mm_mullo_epi16(v, PairWeights(w));
  return _mm_add_epi16(prod, _mm_srli_si128(prod, 8));
}

PELLAVO_AVX2 void BilinearHorizontal(const uint32_t* row, const int32_t* pos, const int32_t* w, int32_t count,
                                     uint32_t* out) {
  int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m128i ab = _mm_srli_epi16(_mm_unpacklo_epi64(BlendPair(row + pos[i], w[i]), BlendPair(row + pos[i + 1], w[i + 1])), 8);
    const __m128i cd = _mm_srli_epi16(
        _mm_unpacklo_epi64(BlendPair(row + pos[i + 2], w[i + 2]), BlendPair(row + pos[i + 3], w[i + 3])), 8);
    Store4(out + i, _mm_packus_epi16(ab, cd));
  }
  for (; i < count; ++i) {
    const __m128i r = _mm_srli_epi16(BlendPair(row + pos[i], w[i]), 8);
    out[i] = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(r, r)));
  }
}

PELLAVO_AVX2 inline __m256i VerticalEight(__m256i t, __m256i b, __m256i w0, __m256i w1) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i lo = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(t, zero), w0),
                                      _mm256_mullo_epi16(_mm256_unpacklo_epi8(b, zero), w1));
  const __m256i hi = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(t, zero), w0),
                                      _mm256_mullo_epi16(_mm256_unpackhi_epi8(b, zero), w1));
  return _mm256_packus_epi16(_mm256_srli_epi16(lo, 8), _mm256_srli_epi16(hi, 8));
}

PELLAVO_AVX2 void BilinearVertical(const uint32_t* top, const uint32_t* bottom, int32_t wy, int32_t count,
                                   uint32_t* out) {
  const __m256i w0 = _mm256_set1_epi16(static_cast<short>(wy)), w1 = _mm256_set1_epi16(static_cast<short>(256 - wy));
  int32_t i = 0;
  for (; i + 8 <= count; i += 8) Store8(out + i, VerticalEight(Load8(top + i), Load8(bottom + i), w0, w1));
  for (; i < count; ++i)
    out[i] = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm256_castsi256_si128(VerticalEight(
        _mm256_castsi128_si256(LoadPixel(top + i)), _mm256_castsi128_si256(LoadPixel(bottom + i)), w0, w1))));
}

PELLAVO_AVX2 void ColumnSums(const uint32_t* first_row, ptrdiff_t stride, int32_t rows, int32_t count,
                             uint32_t* sums) {
  const __m256i zero = _mm256_setzero_si256();
  int32_t x = 0;
  for (; x + 8 <= count; x += 8) {
    __m256i s0 = zero, s1 = zero, s2 = zero, s3 = zero;
    for (int32_t r0 = 0; r0 < rows; r0 += 257) {
      const int32_t r1 = rows - r0 < 257 ? rows : r0 + 257;
      __m256i lo = zero, hi = zero;
      for (int32_t r = r0; r < r1; ++r) {
        const __m256i v = Load8(first_row + r * stride + x);
        lo = _mm256_add_epi16(lo, _mm256_unpacklo_epi8(v, zero));
        hi = _mm256_add_epi16(hi, _mm256_unpackhi_epi8(v, zero));
      }
      s0 = _mm256_add_epi32(s0, _mm256_unpacklo_epi16(lo, zero));
      s1 = _mm256_add_epi32(s1, _mm256_unpackhi_epi16(lo, zero));
      s2 = _mm256_add_epi32(s2, _mm256_unpacklo_epi16(hi, zero));
      s3 = _mm256_add_epi32(s3, _mm256_unpackhi_epi16(hi, zero));
    }
    StoreEightRecords(reinterpret_cast<int32_t*>(sums + 4 * x), s0, s1, s2, s3, false);
  }
  for (; x < count; ++x) {
    __m128i s = _mm_setzero_si128();
    for (int32_t r = 0; r < rows; ++r) s = _mm_add_epi32(s, _mm_cvtepu8_epi32(LoadPixel(first_row + r * stride + x)));
    Store4(sums + 4 * x, s);
  }
}

PELLAVO_AVX2 void BlockAverage(const uint32_t* sums, const int32_t* bounds, int32_t count, int32_t rows,
                               uint32_t* dst) {
  // s × (16777216 div n) < 2^32, so the low 32 bits of the product are the whole product.
  int32_t cached_width = -1;
  __m128i q = _mm_setzero_si128();
  for (int32_t d = 0; d < count; ++d) {
    const int32_t width = bounds[d + 1] - bounds[d];
    if (width != cached_width) {
      cached_width = width;
      q = _mm_set1_epi32(static_cast<int>(16777216u / static_cast<uint32_t>(width * rows)));
    }
    __m128i s = _mm_setzero_si128();
    int32_t x = bounds[d];
    __m256i s2 = _mm256_setzero_si256();
    for (; x + 2 <= bounds[d + 1]; x += 2) s2 = _mm256_add_epi32(s2, Load8(sums + 4 * x));
    s = _mm_add_epi32(_mm256_castsi256_si128(s2), _mm256_extracti128_si256(s2, 1));
    if (x < bounds[d + 1]) s = _mm_add_epi32(s, Load4(sums + 4 * x));
    dst[d] = PackPixel(_mm_srli_epi32(_mm_mullo_epi32(s, q), 24));
  }
}

const TPixelRoutines kAvx2Routines = {
    "avx2",           Fill,       BlendRun,     OpaqueAlpha, KernelVertical, KernelHorizontal, BilinearHorizontal,
    BilinearVertical, ColumnSums, BlockAverage,
};

}  // namespace

const TPixelRoutines* Avx2Routines() { return &kAvx2Routines; }

}  // namespace pellavo::simd

#else

namespace pellavo::simd {
const TPixelRoutines* Avx2Routines() { return nullptr; }
}  // namespace pellavo::simd

#endif
