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
//   ((4 d + e[y]) << 15 + (x ? -u[y] : u[y]) + 2^19) >> 20.
// Its columns 2, 4 and 6 and rows 2, 4 and 6 count for nothing. False when a part leaves 32 bits,
// which only made-up coefficients do.
// e is kept within 16 bits (the vector code's range) and u within 32: every chroma block of a
// large file has one of these, so it is kept small.
struct TIdct2Part {
  int32_t u[2];
  int16_t e[2];
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
  // Pass 2, along the rows; column 0 holds all but the DC's 4 d.
  for (int r = 0; r < 2; ++r) {
    const int64_t u = odd(ws[r][1], ws[r][3], ws[r][5], ws[r][7]);
    if (std::abs(ws[r][0]) > kInt16 || std::abs(u) > kSum) return false;
    out.e[r] = int16_t(ws[r][0]);
    out.u[r] = int32_t(u);
  }
  return true;
}

// Whether the block with its DC dequantised as d stays where the library's vector code and its
// plain code agree (see above).
inline bool Idct2Agrees(const TIdct2Part& p, int64_t d) {
  if (std::abs(d) > kInt16) return false;
  for (int y = 0; y < 2; ++y) {
    // Pass 1 of column 0 summed d << 15 and what e came from, within a step of e << 13.
    if (std::abs(d) * (1 << (kConstBits + 2)) + (std::abs(int64_t(p.e[y])) + 1) * (1 << kConstBits) > kSum) return false;
    const int64_t w = 4 * d + p.e[y];
    if (std::abs(w) > kInt16 || std::abs(w) * (1 << (kConstBits + 2)) + std::abs(int64_t(p.u[y])) > kSum) return false;
    for (const int64_t sum : {w * (1 << (kConstBits + 2)) + p.u[y], w * (1 << (kConstBits + 2)) - p.u[y]}) {
      const int64_t x = Descale(sum, kConstBits + kPass1Bits + 3 + 2);
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
  const int64_t even = (4 * d + p.e[y]) << (kConstBits + 2);
  return kIdctRangeLimit[size_t(Descale(x ? even - p.u[y] : even + p.u[y], kConstBits + kPass1Bits + 3 + 2)) & 1023];
}

}  // namespace pellavo::jpeg_detail
