#pragma once
// The library's 2 × 2 reduced inverse DCT, as the DC decoder uses it for 4:2:0 chroma at an
// eighth. Private to the codec.
#include <array>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstddef>
#include <cstdio>  // before jpeglib.h, which needs it

#include <jpeglib.h>

namespace pellavo::jpeg_detail {

// The library's 2 × 2 reduced inverse DCT (its jpeg_idct_2x2), which makes the four pixels of a
// chroma block of a 4:2:0 file at an eighth, split at the DC coefficient: the part every other
// coefficient adds is worked out here, while the DC value waits for its predictor. With the
// dequantised DC d, pixel (x, y) is the range-limited
//   ((4 d + e[y]) << 15 + (x ? -u[y] : u[y]) + 2^19) >> 20,
// where e[y] is column 0's pass-2 value and u[y] the odd columns' sum. Its columns 2, 4 and 6 and
// rows 2, 4 and 6 count for nothing.
// The low 15 bits of u only round: the pixel is (4 d + e[y] + floor(±u[y] / 2^15) + 16) >> 5,
// so each row keeps what its left pixel (a) and its right one (b) add to 4 d, and e[y] is
// (a + b + 1) >> 1. Every chroma block of a large file has one of these: 8 bytes, not 12.
struct TIdct2Part {
  int16_t a[2];
  int16_t b[2];
};

// The coefficients it reads besides the DC: rows and columns 0, 1, 3, 5 and 7. With none of them,
// every part is 0.
constexpr std::array<bool, DCTSIZE2> Idct2Reads() {
  std::array<bool, DCTSIZE2> t{};
  for (int i = 1; i < DCTSIZE2; ++i) {
    const int row = i / 8, col = i % 8;
    t[size_t(i)] = (row < 2 || row % 2 == 1) && (col < 2 || col % 2 == 1);
  }
  return t;
}
constexpr std::array<bool, DCTSIZE2> kIdct2Reads = Idct2Reads();
// The same as a mask of natural indices.
constexpr uint64_t Idct2ReadMask() {
  uint64_t m = 0;
  for (int i = 0; i < DCTSIZE2; ++i)
    if (kIdct2Reads[size_t(i)]) m |= uint64_t{1} << i;
  return m;
}
constexpr uint64_t kIdct2ReadMask = Idct2ReadMask();

constexpr int64_t Descale(int64_t x, int n) { return (x + (int64_t{1} << (n - 1))) >> n; }

// The library's fixed point: constants with 13 fraction bits, 2 more bits kept after pass 1.
constexpr int kConstBits = 13, kPass1Bits = 2;

// The library runs this transform in vector code with 16-bit coefficients and work values and
// 32-bit sums, which agrees with its plain code only while nothing overflows and every sample
// before its limit lies within [-512, 511]. Real images stay far inside; made-up coefficients are
// left to the library.
constexpr int64_t kInt16 = 32767, kSum = (int64_t{1} << 31) - 1;

// False as well where the work values leave the range the library's vector code holds.
// nonzero has bit i set for each natural index i whose coefficient may be nonzero (others are
// 0): most blocks have a few low ones, and a column without any adds nothing.
inline bool Idct2Part(const int16_t* coef, const uint16_t* quant, uint64_t nonzero, TIdct2Part& out) {
  const auto q = [&](int i) { return int64_t(coef[i]) * quant[i]; };
  const auto odd = [](int64_t v1, int64_t v3, int64_t v5, int64_t v7) {
    return v7 * -5906 + v5 * 6967 + v3 * -10426 + v1 * 29692;
  };
  nonzero &= kIdct2ReadMask;
  for (uint64_t m = nonzero; m; m &= m - 1)
    if (std::abs(q(std::countr_zero(m))) > kInt16) return false;
  // The rows of a column the transform reads.
  constexpr uint64_t kColumn = 1 | uint64_t{1} << 8 | uint64_t{1} << 24 | uint64_t{1} << 40 | uint64_t{1} << 56;
  // Pass 1, down the columns: two values a column, kept with two more bits.
  int64_t ws[2][8] = {};
  for (int c : {0, 1, 3, 5, 7}) {
    if ((nonzero >> c & kColumn) == 0) continue;
    const int64_t t = odd(q(8 + c), q(24 + c), q(40 + c), q(56 + c));
    const int64_t even = c == 0 ? 0 : q(c) << (kConstBits + 2);
    if (std::abs(even) + std::abs(t) > kSum) return false;
    ws[0][c] = Descale(even + t, kConstBits - kPass1Bits + 2);
    ws[1][c] = Descale(even - t, kConstBits - kPass1Bits + 2);
    if (c != 0 && (std::abs(ws[0][c]) > kInt16 || std::abs(ws[1][c]) > kInt16)) return false;
  }
  // Pass 2, along the rows; column 0 holds all but the DC's 4 d. Within 2^30 the odd sum leaves
  // the vector code's 32-bit sums room for any 16-bit 4 d + e; real blocks are far inside.
  for (int r = 0; r < 2; ++r) {
    const int64_t e = ws[r][0], u = odd(ws[r][1], ws[r][3], ws[r][5], ws[r][7]);
    if (std::abs(e) > kInt16 || std::abs(u) > kSum / 2) return false;
    const int64_t a = e + (u >> 15), b = e + (-u >> 15);
    if (std::abs(a) > kInt16 || std::abs(b) > kInt16) return false;
    out.a[r] = int16_t(a);
    out.b[r] = int16_t(b);
  }
  return true;
}

// Whether the block with its DC dequantised as d stays where the library's vector code and its
// plain code agree (see above).
// With |d| and |e| within 16 bits and |u| within 2^30 (see Idct2Part), pass 1 of column 0, which
// summed d << 15 and what e came from, and pass 2's sums stay within 32 bits; what is left to ask
// is that 4 d + e fits 16 bits and that both samples lie within [-512, 511].
inline bool Idct2Agrees(const TIdct2Part& p, int64_t d) {
  if (std::abs(d) > kInt16) return false;
  for (int y = 0; y < 2; ++y) {
    const int64_t e = (int64_t(p.a[y]) + p.b[y] + 1) >> 1;
    if (std::abs(4 * d + e) > kInt16) return false;
    for (const int64_t v : {p.a[y], p.b[y]}) {
      const int64_t x = (4 * d + v + 16) >> 5;
      if (x < -512 || x > 511) return false;
    }
  }
  return true;
}

// The library's sample limit after its inverse DCT, indexed by the value masked to 10 bits.
constexpr std::array<uint8_t, 1024> IdctRangeLimit() {
  std::array<uint8_t, 1024> t{};
  for (int i = 0; i < 1024; ++i) t[size_t(i)] = uint8_t(i < 128 ? i + 128 : i < 512 ? 255 : i < 896 ? 0 : i - 896);
  return t;
}
constexpr std::array<uint8_t, 1024> kIdctRangeLimit = IdctRangeLimit();

// Pixel (x, y) of a chroma block through the 2 × 2 transform, its DC dequantised as d.
inline int Idct2Sample(const TIdct2Part& p, int64_t d, int x, int y) {
  return kIdctRangeLimit[size_t((4 * d + (x ? p.b[y] : p.a[y]) + 16) >> 5) & 1023];
}

}  // namespace pellavo::jpeg_detail
