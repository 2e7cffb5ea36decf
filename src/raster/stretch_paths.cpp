#include "raster/stretch_paths.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "raster/bitmap32.h"
#include "raster/simd/routines.h"
#include "raster/source_rows.h"
#include "raster/transfer.h"

namespace pellavo {
namespace {

// Source position of each clipped destination position, top-left aligned: destination 0 takes
// source lo. The product is formed with a 64-bit mantissa and truncated.
std::vector<int32_t> NearestMap(int32_t count, int64_t dst_w, int64_t offset, int32_t lo, int32_t hi) {
  std::vector<int32_t> map(static_cast<size_t>(count));
  if (dst_w <= 1) {
    std::fill(map.begin(), map.end(), static_cast<int32_t>((int64_t(lo) + hi - 1) / 2));
    return map;
  }
  const float scale = static_cast<float>(double(int64_t(hi) - lo) / double(dst_w));
  for (int32_t i = 0; i < count; ++i) {
    const long double x = static_cast<long double>(i + offset) * scale + lo;
    map[size_t(i)] = static_cast<int32_t>(std::clamp<long double>(std::trunc(x), lo, hi - 1));
  }
  return map;
}

struct TLinearMap {
  std::vector<int32_t> pos;  // the pixel at pos and the one after it are blended
  std::vector<int32_t> w;    // weight of the pixel at pos, 0..256
};

// count clipped positions starting offset into a destination span of dst_w, sampling the source
// span lo..hi-1 of a surface extent pixels long. Positions are clamped to the surface, not to
// the span, so the first ones may reach the pixel before lo.
TLinearMap LinearMap(int32_t count, int64_t dst_w, int64_t offset, int32_t lo, int32_t hi, int32_t extent) {
  TLinearMap m{std::vector<int32_t>(size_t(count)), std::vector<int32_t>(size_t(count))};
  const float scale = static_cast<float>(double(int64_t(hi) - lo) / double(dst_w));
  const float last = static_cast<float>(extent - 1);
  for (int32_t i = 0; i < count; ++i) {
    float x = static_cast<float>((static_cast<long double>(i + offset) + 0.5L) * scale + (lo - 0.5L));
    if (x < 0)
      x = 0;
    else if (x > last)
      x = last;
    const float f = std::floor(x);
    m.pos[size_t(i)] = static_cast<int32_t>(f);
    m.w[size_t(i)] = 256 - static_cast<int32_t>(std::nearbyint((x - f) * 256.0f));
  }
  // The last column is reproduced exactly, and the pixel after a position always exists.
  for (int32_t i = count - 1; i >= 0; --i) {
    if (m.pos[size_t(i)] == hi - 1) {
      m.pos[size_t(i)] = hi - 2;
      m.w[size_t(i)] = 0;
    }
  }
  for (int32_t& p : m.pos) p = std::clamp(p, 0, extent - 2);
  return m;
}

// Absolute start of each block plus the end of the last one: count + 1 values, strictly
// increasing and inside lo..hi.
std::vector<int32_t> BlockBounds(int32_t count, int64_t dst_w, int64_t offset, int32_t lo, int32_t hi) {
  const float scale = static_cast<float>(double(int64_t(hi) - lo) / double(dst_w));
  // 16.16 step; the products are 64-bit so that spans beyond 65535 pixels keep their blocks.
  const uint64_t step = static_cast<uint64_t>(65536.0L * scale);
  const int64_t start = lo + static_cast<int64_t>(static_cast<long double>(offset) * scale);
  std::vector<int32_t> b(size_t(count) + 1);
  for (int32_t k = 0; k <= count; ++k) {
    const int64_t rel = k == 0 ? 0 : k == 1 ? static_cast<int64_t>(scale) : static_cast<int64_t>((uint64_t(k) * step) >> 16);
    b[size_t(k)] = static_cast<int32_t>(std::min<int64_t>(start + rel, hi));
  }
  for (int32_t k = count - 1; k >= 0; --k) b[size_t(k)] = std::min(b[size_t(k)], b[size_t(k) + 1] - 1);
  return b;
}

// Above this many pixels the reciprocal 16777216 div n keeps too few bits: averages would fall
// more than one level short (and to black past 16777216 pixels), so such blocks divide exactly.
constexpr int64_t kMaxReciprocalBlock = 65536;

uint32_t AverageOf(const uint64_t s[4], int64_t n) {
  uint32_t pixel = 0;
  for (int c = 0; c < 4; ++c) {
    const uint64_t v = n <= kMaxReciprocalBlock ? (s[c] * (16777216u / uint64_t(n))) >> 24 : s[c] / uint64_t(n);
    pixel |= static_cast<uint32_t>(v) << (8 * c);
  }
  return pixel;
}

}  // namespace

TRowSink::TRowSink(TBitmap32& dst, const TRect& clip, const TRowStore& store) : dst_(dst), clip_(clip), store_(store) {
  if (store_.CombineOp != dmOpaque) buffer_.resize(size_t(clip.Width()));
}

TColor32* TRowSink::Row(int32_t y) {
  return store_.CombineOp == dmOpaque ? dst_.ScanLine(y) + clip_.Left : buffer_.data();
}

void TRowSink::Commit(int32_t y) {
  if (store_.CombineOp == dmOpaque) return;
  static const TPixelCombineEvent kNone;
  StoreRow(dst_.ScanLine(y) + clip_.Left, buffer_.data(), clip_.Width(), *store_.Src, store_.CombineOp,
           store_.CombineCallBack ? *store_.CombineCallBack : kNone);
}

namespace {

}  // namespace

void NearestStretch(TBitmap32& Dst, const TRect& DstRect, const TRect& DstClip, TSourceRows& Src,
                    const TRect& SrcRect, const TRowStore& Store) {
  const int32_t cw = DstClip.Width();
  const std::vector<int32_t> xs = NearestMap(cw, int64_t(DstRect.Right) - DstRect.Left,
                                             int64_t(DstClip.Left) - DstRect.Left, SrcRect.Left, SrcRect.Right);
  const std::vector<int32_t> ys =
      NearestMap(DstClip.Height(), int64_t(DstRect.Bottom) - DstRect.Top, int64_t(DstClip.Top) - DstRect.Top,
                 SrcRect.Top, SrcRect.Bottom);
  Src.Plan(1);
  TRowSink sink(Dst, DstClip, Store);
  const bool opaque = Store.CombineOp == dmOpaque;
  int32_t previous = -1;
  for (int32_t y = DstClip.Top; y < DstClip.Bottom; ++y) {
    const int32_t sy = ys[size_t(y - DstClip.Top)];
    TColor32* dst = sink.Row(y);
    if (sy == previous) {
      // Opaque rows copy the row above; the gathered buffer of the other modes still holds it.
      if (opaque) std::memcpy(dst, Dst.ScanLine(y - 1) + DstClip.Left, size_t(cw) * sizeof(TColor32));
    } else {
      const TColor32* src = Src.Rows(sy, sy);
      for (int32_t i = 0; i < cw; ++i) dst[i] = src[xs[size_t(i)]];
    }
    sink.Commit(y);
    previous = sy;
  }
}

void BilinearStretch(TBitmap32& Dst, const TRect& DstRect, const TRect& DstClip, TSourceRows& Src,
                     const TRect& SrcRect, const TRowStore& Store) {
  const int32_t cw = DstClip.Width(), ch = DstClip.Height();
  const TLinearMap mx = LinearMap(cw, int64_t(DstRect.Right) - DstRect.Left, int64_t(DstClip.Left) - DstRect.Left,
                                  SrcRect.Left, SrcRect.Right, Src.Width());
  const TLinearMap my = LinearMap(ch, int64_t(DstRect.Bottom) - DstRect.Top, int64_t(DstClip.Top) - DstRect.Top,
                                  SrcRect.Top, SrcRect.Bottom, Src.Height());
  const simd::TPixelRoutines& r = simd::Routines();
  // The horizontal blend of a source row depends on that row alone, so the two rows in use are
  // kept while consecutive destination rows share them.
  std::vector<TColor32> upper(static_cast<size_t>(cw)), lower(static_cast<size_t>(cw));
  int32_t upper_row = -1, lower_row = -1;
  Src.Plan(2);
  const auto blend_row = [&](const TColor32* row, std::vector<TColor32>& out) {
    r.BilinearHorizontal(row, mx.pos.data(), mx.w.data(), cw, out.data());
  };
  TRowSink sink(Dst, DstClip, Store);
  const size_t stride = static_cast<size_t>(Src.Width());
  for (int32_t j = 0; j < ch; ++j) {
    const int32_t py = my.pos[size_t(j)];
    const TColor32* pair = Src.Rows(py, py + 1);
    if (upper_row != py) {
      if (lower_row == py) {
        upper.swap(lower);
        std::swap(upper_row, lower_row);
      } else {
        blend_row(pair, upper);
        upper_row = py;
      }
    }
    if (lower_row != py + 1) {
      blend_row(pair + stride, lower);
      lower_row = py + 1;
    }
    const int32_t y = DstClip.Top + j;
    r.BilinearVertical(upper.data(), lower.data(), my.w[size_t(j)], cw, sink.Row(y));
    sink.Commit(y);
  }
}

void BlockAverageStretch(TBitmap32& Dst, const TRect& DstRect, const TRect& DstClip, TSourceRows& Src,
                         const TRect& SrcRect, const TRowStore& Store) {
  const int32_t cw = DstClip.Width(), ch = DstClip.Height();
  const std::vector<int32_t> bx = BlockBounds(cw, int64_t(DstRect.Right) - DstRect.Left,
                                              int64_t(DstClip.Left) - DstRect.Left, SrcRect.Left, SrcRect.Right);
  const std::vector<int32_t> by = BlockBounds(ch, int64_t(DstRect.Bottom) - DstRect.Top,
                                              int64_t(DstClip.Top) - DstRect.Top, SrcRect.Top, SrcRect.Bottom);
  int64_t max_w = 0, max_h = 0;
  for (int32_t i = 0; i < cw; ++i) max_w = std::max<int64_t>(max_w, bx[size_t(i) + 1] - bx[size_t(i)]);
  for (int32_t j = 0; j < ch; ++j) max_h = std::max<int64_t>(max_h, by[size_t(j) + 1] - by[size_t(j)]);
  const int32_t x0 = bx[0], columns = bx[size_t(cw)] - x0;
  const ptrdiff_t stride = Src.Width();
  Src.Plan(static_cast<int32_t>(max_h));
  TRowSink sink(Dst, DstClip, Store);

  if (max_w * max_h <= kMaxReciprocalBlock) {
    const simd::TPixelRoutines& r = simd::Routines();
    std::vector<int32_t> rel(bx.size());
    for (size_t k = 0; k < bx.size(); ++k) rel[k] = bx[k] - x0;
    std::vector<uint32_t> sums(size_t(columns) * 4);
    for (int32_t j = 0; j < ch; ++j) {
      const int32_t rows = by[size_t(j) + 1] - by[size_t(j)];
      r.ColumnSums(Src.Rows(by[size_t(j)], by[size_t(j) + 1] - 1) + x0, stride, rows, columns, sums.data());
      const int32_t y = DstClip.Top + j;
      r.BlockAverage(sums.data(), rel.data(), cw, rows, sink.Row(y));
      sink.Commit(y);
    }
    return;
  }

  // Huge blocks: 64-bit sums, and an exact division where the reciprocal would lose the mean.
  std::vector<uint64_t> sums(size_t(columns) * 4);
  for (int32_t j = 0; j < ch; ++j) {
    std::fill(sums.begin(), sums.end(), 0);
    const int32_t rows = by[size_t(j) + 1] - by[size_t(j)];
    const TColor32* block = Src.Rows(by[size_t(j)], by[size_t(j) + 1] - 1) + x0;
    for (int32_t k = 0; k < rows; ++k) {
      const TColor32* src = block + k * stride;
      for (int32_t x = 0; x < columns; ++x)
        for (int c = 0; c < 4; ++c) sums[size_t(x) * 4 + size_t(c)] += (src[x] >> (8 * c)) & 0xFF;
    }
    const int32_t y = DstClip.Top + j;
    TColor32* out = sink.Row(y);
    for (int32_t i = 0; i < cw; ++i) {
      uint64_t s[4] = {0, 0, 0, 0};
      for (int32_t x = bx[size_t(i)]; x < bx[size_t(i) + 1]; ++x)
        for (int c = 0; c < 4; ++c) s[c] += sums[size_t(x - x0) * 4 + size_t(c)];
      out[i] = AverageOf(s, int64_t(bx[size_t(i) + 1] - bx[size_t(i)]) * rows);
    }
    sink.Commit(y);
  }
}

}  // namespace pellavo
