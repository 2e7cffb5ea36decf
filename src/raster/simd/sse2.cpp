// SSE2 variants of the pixel loops. Each computes exactly what scalar.cpp computes: integer
// arithmetic whose every intermediate is proven to fit its lanes, sums that wrap at 32 bits like
// the reference's, and the same truncations in the same places.
#include "raster/simd/routines.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace pellavo::simd {
namespace {

inline __m128i Load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
inline void Store(void* p, __m128i v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
inline __m128i LoadPixel(const uint32_t* p) { return _mm_cvtsi32_si128(static_cast<int>(*p)); }

// Four 32-bit channel values 0..255 packed into one pixel.
inline uint32_t PackPixel(__m128i v) {
  const __m128i w = _mm_packs_epi32(v, v);
  return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(w, w)));
}

void Fill(uint32_t* dst, size_t n, uint32_t c) {
  const __m128i v = _mm_set1_epi32(static_cast<int>(c));
  size_t i = 0;
  for (; i + 4 <= n; i += 4) Store(dst + i, v);
  for (; i < n; ++i) dst[i] = c;
}

void OpaqueAlpha(uint32_t* p, size_t n) {
  const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  size_t i = 0;
  for (; i + 4 <= n; i += 4) Store(p + i, _mm_or_si128(Load(p + i), alpha));
  for (; i < n; ++i) p[i] |= 0xFF000000u;
}

void BlendRun(uint32_t f, uint32_t* dst, size_t n) {
  // a × F + 128 + (256 − a) × B stays below 65536, so 16-bit lanes hold it exactly.
  const int a = static_cast<int>(f >> 24);
  const __m128i zero = _mm_setzero_si128();
  const __m128i fore = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(f)), zero),
                                                     _mm_set1_epi16(static_cast<short>(a))),
                                     _mm_set1_epi16(128));
  const __m128i back_w = _mm_set1_epi16(static_cast<short>(256 - a));
  const auto blend = [&](__m128i b) {
    const __m128i lo = _mm_srli_epi16(_mm_add_epi16(fore, _mm_mullo_epi16(_mm_unpacklo_epi8(b, zero), back_w)), 8);
    const __m128i hi = _mm_srli_epi16(_mm_add_epi16(fore, _mm_mullo_epi16(_mm_unpackhi_epi8(b, zero), back_w)), 8);
    return _mm_packus_epi16(lo, hi);
  };
  size_t i = 0;
  for (; i + 4 <= n; i += 4) Store(dst + i, blend(Load(dst + i)));
  for (; i < n; ++i) dst[i] = static_cast<uint32_t>(_mm_cvtsi128_si32(blend(LoadPixel(dst + i))));
}

// madd multiplies 16-bit pairs into 32-bit sums: exact for pixel bytes times weights that fit in
// 16 signed bits (two products of at most 255 × 32768 cannot overflow).
bool WeightsFit16(const int32_t* w, int32_t n) {
  for (int32_t k = 0; k < n; ++k)
    if (w[k] < -32768 || w[k] > 32767) return false;
  return true;
}

// Taps per block of the vertical pass; later blocks add to the sums of earlier ones, which
// wraps to the same values as one long sum.
constexpr int32_t kTapBlock = 128;

void KernelVerticalBlock(const uint32_t* const* rows, const int32_t* weights, int32_t taps, int32_t count,
                         int32_t* sums, bool add) {
  // Taps are taken two at a time: the bytes of two rows are interleaved so that madd weighs
  // each channel of both rows and adds them. An odd last tap repeats its row at weight 0.
  __m128i pair_w[kTapBlock / 2];
  const uint32_t* pair_rows[kTapBlock];
  const int32_t pairs = (taps + 1) / 2;
  for (int32_t k = 0; k < pairs; ++k) {
    const bool odd_last = 2 * k + 1 >= taps;
    const uint32_t w0 = static_cast<uint16_t>(weights[2 * k]);
    const uint32_t w1 = odd_last ? 0 : static_cast<uint16_t>(weights[2 * k + 1]);
    pair_w[k] = _mm_set1_epi32(static_cast<int>(w0 | w1 << 16));
    pair_rows[2 * k] = rows[2 * k];
    pair_rows[2 * k + 1] = odd_last ? rows[2 * k] : rows[2 * k + 1];
  }
  const __m128i zero = _mm_setzero_si128();
  int32_t x = 0;
  for (; x + 4 <= count; x += 4) {
    __m128i s0 = zero, s1 = zero, s2 = zero, s3 = zero;
    if (add) {
      s0 = Load(sums + 4 * x);
      s1 = Load(sums + 4 * x + 4);
      s2 = Load(sums + 4 * x + 8);
      s3 = Load(sums + 4 * x + 12);
    }
    for (int32_t k = 0; k < pairs; ++k) {
      const __m128i r0 = Load(pair_rows[2 * k] + x), r1 = Load(pair_rows[2 * k + 1] + x);
      const __m128i lo = _mm_unpacklo_epi8(r0, r1), hi = _mm_unpackhi_epi8(r0, r1);
      s0 = _mm_add_epi32(s0, _mm_madd_epi16(_mm_unpacklo_epi8(lo, zero), pair_w[k]));
      s1 = _mm_add_epi32(s1, _mm_madd_epi16(_mm_unpackhi_epi8(lo, zero), pair_w[k]));
      s2 = _mm_add_epi32(s2, _mm_madd_epi16(_mm_unpacklo_epi8(hi, zero), pair_w[k]));
      s3 = _mm_add_epi32(s3, _mm_madd_epi16(_mm_unpackhi_epi8(hi, zero), pair_w[k]));
    }
    Store(sums + 4 * x, s0);
    Store(sums + 4 * x + 4, s1);
    Store(sums + 4 * x + 8, s2);
    Store(sums + 4 * x + 12, s3);
  }
  for (; x < count; ++x) {
    __m128i s = add ? Load(sums + 4 * x) : zero;
    for (int32_t k = 0; k < pairs; ++k) {
      const __m128i pair = _mm_unpacklo_epi8(LoadPixel(pair_rows[2 * k] + x), LoadPixel(pair_rows[2 * k + 1] + x));
      s = _mm_add_epi32(s, _mm_madd_epi16(_mm_unpacklo_epi8(pair, zero), pair_w[k]));
    }
    Store(sums + 4 * x, s);
  }
}

void KernelVertical(const uint32_t* const* rows, const int32_t* weights, int32_t taps, int32_t count,
                    int32_t* sums) {
  if (taps == 0 || !WeightsFit16(weights, taps)) {
    kScalarRoutines.KernelVertical(rows, weights, taps, count, sums);
    return;
  }
  for (int32_t k = 0; k < taps; k += kTapBlock)
    KernelVerticalBlock(rows + k, weights + k, taps - k < kTapBlock ? taps - k : kTapBlock, count, sums, k > 0);
}

// T limited to 0..0xFF0000 when clamp; bits 16..23 of each lane as one pixel.
inline uint32_t FinishPixel(__m128i t, bool clamp) {
  if (clamp) {
    t = _mm_andnot_si128(_mm_srai_epi32(t, 31), t);
    const __m128i top = _mm_set1_epi32(0xFF0000);
    const __m128i over = _mm_cmpgt_epi32(t, top);
    t = _mm_or_si128(_mm_andnot_si128(over, t), _mm_and_si128(over, top));
  }
  return PackPixel(_mm_and_si128(_mm_srli_epi32(t, 16), _mm_set1_epi32(0xFF)));
}

void KernelHorizontal(const int32_t* sums, const TKernelHorzTable& t, int32_t count, bool clamp, uint32_t* dst) {
  // SSE2 has no 32-bit low multiply; the unsigned 64-bit products of lanes 0/2 and 1/3 carry
  // the same low 32 bits, and 64-bit adds keep them, so the wrapped sums come out identical.
  for (int32_t d = 0; d < count; ++d) {
    __m128i even = _mm_setzero_si128(), odd = _mm_setzero_si128();
    const int32_t* rec = sums + 4 * static_cast<ptrdiff_t>(t.first[d]);
    const int32_t* weight = t.weight4 + 4 * static_cast<ptrdiff_t>(d) * t.taps;
    for (int32_t k = 0; k < t.taps; ++k) {
      const __m128i s = Load(rec + 4 * k);
      const __m128i w = Load(weight + 4 * k);
      even = _mm_add_epi64(even, _mm_mul_epu32(s, w));
      odd = _mm_add_epi64(odd, _mm_mul_epu32(_mm_srli_epi64(s, 32), w));
    }
    const __m128i total = _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(2, 0, 2, 0)),
                                             _mm_shuffle_epi32(odd, _MM_SHUFFLE(2, 0, 2, 0)));
    dst[d] = FinishPixel(total, clamp);
  }
}

// Words [w, w, w, w, 256 − w, 256 − w, 256 − w, 256 − w].
inline __m128i PairWeights(int32_t w) {
  const __m128i v = _mm_cvtsi32_si128(w | (256 - w) << 16);
  const __m128i d = _mm_unpacklo_epi16(v, v);
  return _mm_unpacklo_epi32(d, d);
}

void BilinearHorizontal(const uint32_t* row, const int32_t* pos, const int32_t* w, int32_t count, uint32_t* out) {
  // w × P0 + (256 − w) × P1 is at most 256 × 255: 16-bit lanes hold it.
  const __m128i zero = _mm_setzero_si128();
  const auto blend = [&](__m128i two_pixels, int32_t wi) {
    const __m128i p = _mm_mullo_epi16(two_pixels, PairWeights(wi));
    return _mm_add_epi16(p, _mm_srli_si128(p, 8));
  };
  int32_t i = 0;
  for (; i + 2 <= count; i += 2) {
    const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + pos[i]));
    const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + pos[i + 1]));
    const __m128i ra = blend(_mm_unpacklo_epi8(a, zero), w[i]);
    const __m128i rb = blend(_mm_unpacklo_epi8(b, zero), w[i + 1]);
    const __m128i r = _mm_srli_epi16(_mm_unpacklo_epi64(ra, rb), 8);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(r, r));
  }
  for (; i < count; ++i) {
    const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + pos[i]));
    const __m128i r = _mm_srli_epi16(blend(_mm_unpacklo_epi8(a, zero), w[i]), 8);
    out[i] = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(r, r)));
  }
}

void BilinearVertical(const uint32_t* top, const uint32_t* bottom, int32_t wy, int32_t count, uint32_t* out) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i w0 = _mm_set1_epi16(static_cast<short>(wy)), w1 = _mm_set1_epi16(static_cast<short>(256 - wy));
  const auto blend = [&](__m128i t, __m128i b) {
    const __m128i lo = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(t, zero), w0),
                                     _mm_mullo_epi16(_mm_unpacklo_epi8(b, zero), w1));
    const __m128i hi = _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(t, zero), w0),
                                     _mm_mullo_epi16(_mm_unpackhi_epi8(b, zero), w1));
    return _mm_packus_epi16(_mm_srli_epi16(lo, 8), _mm_srli_epi16(hi, 8));
  };
  int32_t i = 0;
  for (; i + 4 <= count; i += 4) Store(out + i, blend(Load(top + i), Load(bottom + i)));
  for (; i < count; ++i)
    out[i] = static_cast<uint32_t>(_mm_cvtsi128_si32(blend(LoadPixel(top + i), LoadPixel(bottom + i))));
}

void ColumnSums(const uint32_t* first_row, ptrdiff_t stride, int32_t rows, int32_t count, uint32_t* sums) {
  // Bytes add up in 16-bit lanes for up to 257 rows (257 × 255 = 65535), then widen.
  const __m128i zero = _mm_setzero_si128();
  int32_t x = 0;
  for (; x + 4 <= count; x += 4) {
    __m128i s0 = zero, s1 = zero, s2 = zero, s3 = zero;
    for (int32_t r0 = 0; r0 < rows; r0 += 257) {
      const int32_t r1 = rows - r0 < 257 ? rows : r0 + 257;
      __m128i lo = zero, hi = zero;
      for (int32_t r = r0; r < r1; ++r) {
        const __m128i v = Load(first_row + r * stride + x);
        lo = _mm_add_epi16(lo, _mm_unpacklo_epi8(v, zero));
        hi = _mm_add_epi16(hi, _mm_unpackhi_epi8(v, zero));
      }
      s0 = _mm_add_epi32(s0, _mm_unpacklo_epi16(lo, zero));
      s1 = _mm_add_epi32(s1, _mm_unpackhi_epi16(lo, zero));
      s2 = _mm_add_epi32(s2, _mm_unpacklo_epi16(hi, zero));
      s3 = _mm_add_epi32(s3, _mm_unpackhi_epi16(hi, zero));
    }
    Store(sums + 4 * x, s0);
    Store(sums + 4 * x + 4, s1);
    Store(sums + 4 * x + 8, s2);
    Store(sums + 4 * x + 12, s3);
  }
  for (; x < count; ++x) {
    __m128i s = zero;
    for (int32_t r = 0; r < rows; ++r)
      s = _mm_add_epi32(s, _mm_unpacklo_epi16(_mm_unpacklo_epi8(LoadPixel(first_row + r * stride + x), zero), zero));
    Store(sums + 4 * x, s);
  }
}

void BlockAverage(const uint32_t* sums, const int32_t* bounds, int32_t count, int32_t rows, uint32_t* dst) {
  // s × (16777216 div n) < 255 × 16777216 fits 32 bits; the 64-bit products shifted by 24 give
  // the same quotient.
  int32_t cached_width = -1;
  __m128i q = _mm_setzero_si128();
  for (int32_t d = 0; d < count; ++d) {
    const int32_t width = bounds[d + 1] - bounds[d];
    if (width != cached_width) {
      cached_width = width;
      q = _mm_set1_epi32(static_cast<int>(16777216u / static_cast<uint32_t>(width * rows)));
    }
    __m128i s = _mm_setzero_si128();
    for (int32_t x = bounds[d]; x < bounds[d + 1]; ++x) s = _mm_add_epi32(s, Load(sums + 4 * x));
    const __m128i even = _mm_srli_epi64(_mm_mul_epu32(s, q), 24);
    const __m128i odd = _mm_srli_epi64(_mm_mul_epu32(_mm_srli_epi64(s, 32), q), 24);
    dst[d] = PackPixel(_mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(2, 0, 2, 0)),
                                          _mm_shuffle_epi32(odd, _MM_SHUFFLE(2, 0, 2, 0))));
  }
}

const TPixelRoutines kSse2Routines = {
    "sse2",           Fill,       BlendRun,     OpaqueAlpha, KernelVertical, KernelHorizontal, BilinearHorizontal,
    BilinearVertical, ColumnSums, BlockAverage,
};

}  // namespace

const TPixelRoutines* Sse2Routines() { return &kSse2Routines; }

}  // namespace pellavo::simd

#else

namespace pellavo::simd {
const TPixelRoutines* Sse2Routines() { return nullptr; }
}  // namespace pellavo::simd

#endif
