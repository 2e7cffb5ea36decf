#include "raster/mapping_table.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "raster/bitmap32.h"
#include "raster/raster_errors.h"
#include "raster/simd/routines.h"
#include "raster/source_rows.h"
#include "raster/stretch_paths.h"
#include "raster/transfer.h"

namespace pellavo {
namespace {

// Round to nearest, halves to even (the default rounding mode), saturated to 32 bits. A kernel
// value times 256 times a scale is a product of two 24-bit mantissas: exact in double.
int32_t RoundWeight(double v) {
  const double r = std::nearbyint(v);
  if (!(r > std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
  if (r > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(r);
}

int32_t ClampPos(int64_t j, int32_t lo, int32_t hi) { return static_cast<int32_t>(std::clamp<int64_t>(j, lo, hi - 1)); }

// Kernel values by argument. At a rational scale the same arguments come back every few
// clusters, and a sine costs far more than a lookup; the values are the kernel's own.
class TFilterMemo {
 public:
  explicit TFilterMemo(const TCustomKernel& kernel) : kernel_(kernel), keys_(kSize), values_(kSize) {}
  float operator()(float x) {
    uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    const size_t slot = (bits * 2654435761u) >> (32 - kBits);
    if (keys_[slot] == bits + 1) return values_[slot];  // +1: an empty slot (0) matches no argument
    const float v = kernel_.Filter(x);
    if (bits + 1 != 0) {
      keys_[slot] = bits + 1;
      values_[slot] = v;
    }
    return v;
  }

 private:
  static constexpr int kBits = 11;
  static constexpr size_t kSize = size_t{1} << kBits;
  const TCustomKernel& kernel_;
  std::vector<uint32_t> keys_;
  std::vector<float> values_;
};

// Moves the rounding error of a cluster onto its middle entry so the weights sum to 256.
void Normalize(TCluster& cluster, int64_t count) {
  if (count != 0) cluster[(cluster.size() - 1) / 2].Weight -= static_cast<int32_t>(count);
}

}  // namespace

TMappingTable BuildMappingTable(int32_t DstLo, int32_t DstHi, int32_t ClipLo, int32_t ClipHi, int32_t SrcLo,
                                int32_t SrcHi, const TCustomKernel& Kernel) {
  const int64_t src_w = int64_t(SrcHi) - SrcLo, dst_w = int64_t(DstHi) - DstLo;
  const int64_t clip_w = std::max<int64_t>(int64_t(ClipHi) - ClipLo, 0);
  if (src_w <= 0) return {};
  if (src_w == 1) return TMappingTable(size_t(clip_w), TCluster{{SrcLo, 256}});
  if (dst_w <= 0) return {};

  // Real quantities are stored in single precision; expressions use a 64-bit mantissa.
  float scale = static_cast<float>(double(dst_w) / double(src_w));
  float filter_width = Kernel.GetWidth();
  TMappingTable table(static_cast<size_t>(clip_w));
  TFilterMemo filter(Kernel);
  const bool reducing = scale < 1;
  const float old_scale = scale;
  scale = static_cast<float>(1.0L / scale);
  if (reducing) filter_width = static_cast<float>(static_cast<long double>(filter_width) * scale);

  for (int64_t i = 0; i < clip_w; ++i) {
    TCluster& cluster = table[size_t(i)];
    // Source coordinate of the destination pixel's centre; source pixel J covers J-0.5..J+0.5.
    const float center =
        static_cast<float>((static_cast<long double>(i + ClipLo - DstLo) + 0.5L) * scale + (SrcLo - 0.5L));
    const int64_t left = static_cast<int64_t>(std::floor(static_cast<long double>(center) - filter_width));
    const int64_t right = static_cast<int64_t>(std::ceil(static_cast<long double>(center) + filter_width));
    int64_t count = -256;
    for (int64_t j = left; j <= right; ++j) {
      int32_t weight;
      if (reducing) {
        const float x = static_cast<float>((center - static_cast<long double>(j)) * old_scale);
        weight = RoundWeight(static_cast<double>(filter(x)) * 256 * old_scale);
      } else {
        const float x = static_cast<float>(center - static_cast<long double>(j));
        weight = RoundWeight(static_cast<double>(filter(x)) * 256);
      }
      if (weight == 0) continue;
      cluster.push_back({ClampPos(j, SrcLo, SrcHi), weight});
      count += weight;
    }
    if (cluster.empty()) {
      // Weights too small to register: the nearest pixel alone.
      cluster.push_back({ClampPos(static_cast<int64_t>(std::floor(center)), SrcLo, SrcHi), 256});
    } else {
      Normalize(cluster, count);
    }
  }
  return table;
}

void Resample(TBitmap32& Dst, TRect DstRect, TRect DstClip, const TBitmap32& Src, TRect SrcRect,
              const TCustomKernel& Kernel, TDrawMode CombineOp, const TPixelCombineEvent& CombineCallBack) {
  if (CombineOp == dmCustom && !CombineCallBack) CombineOp = dmOpaque;
  TSurfaceRows rows(Src);
  Resample(Dst, DstRect, DstClip, rows, SrcRect, Kernel, TRowStore{&Src, CombineOp, &CombineCallBack});
}

void Resample(TBitmap32& Dst, TRect DstRect, TRect DstClip, TSourceRows& Src, TRect SrcRect,
              const TCustomKernel& Kernel, const TRowStore& Store) {
  if (Store.CombineOp == dmBlend && Store.Src && Store.Src->MasterAlpha() == 0) return;
  const TMappingTable map_x = BuildMappingTable(DstRect.Left, DstRect.Right, DstClip.Left, DstClip.Right,
                                                SrcRect.Left, SrcRect.Right, Kernel);
  const TMappingTable map_y = BuildMappingTable(DstRect.Top, DstRect.Bottom, DstClip.Top, DstClip.Bottom,
                                                SrcRect.Top, SrcRect.Bottom, Kernel);
  if (map_x.empty() || map_y.empty()) return;
  ResampleTables(Dst, DstClip, Src, map_x, map_y, Kernel.RangeCheck(), Store);
}

void ResampleTables(TBitmap32& Dst, const TRect& DstClip, const TBitmap32& Src, const TMappingTable& MapX,
                    const TMappingTable& MapY, bool Clamp, TDrawMode CombineOp,
                    const TPixelCombineEvent& CombineCallBack) {
  TSurfaceRows rows(Src);
  ResampleTables(Dst, DstClip, rows, MapX, MapY, Clamp, TRowStore{&Src, CombineOp, &CombineCallBack});
}

void ResampleTables(TBitmap32& Dst, const TRect& DstClip, TSourceRows& Src, const TMappingTable& MapX,
                    const TMappingTable& MapY, bool Clamp, const TRowStore& Store) {
  if (MapX.empty() || MapY.empty()) return;
  const int32_t cw = DstClip.Width(), ch = DstClip.Height();
  if (int64_t(MapX.size()) != cw || int64_t(MapY.size()) != ch || DstClip.Left < 0 || DstClip.Top < 0 ||
      DstClip.Right > Dst.Width() || DstClip.Bottom > Dst.Height())
    throw EInvalidGraphicOperation("Mapping tables do not match the destination");

  // The row of sums spans the smallest to the largest source column in use.
  int32_t x_lo = std::numeric_limits<int32_t>::max(), x_hi = std::numeric_limits<int32_t>::min();
  for (const TCluster& c : MapX) {
    if (c.empty()) throw EInvalidGraphicOperation("Mapping tables do not match the destination");
    for (const TClusterEntry& e : c) {
      x_lo = std::min(x_lo, e.Pos);
      x_hi = std::max(x_hi, e.Pos);
    }
  }
  // The source rows of each destination row, as a span whose ends never move back: the last
  // row is the largest asked for so far, the first the smallest still to be asked for (a
  // kernel's far taps can round to zero weight in one cluster and not in the next).
  std::vector<int32_t> first(static_cast<size_t>(ch)), last(static_cast<size_t>(ch));
  bool rows_inside = true;
  for (int32_t j = 0; j < ch; ++j) {
    // An empty cluster (only a hand-made table has one) reads no row; row 0 stands in.
    int32_t lo = MapY[size_t(j)].empty() ? 0 : std::numeric_limits<int32_t>::max();
    int32_t hi = MapY[size_t(j)].empty() ? 0 : std::numeric_limits<int32_t>::min();
    for (const TClusterEntry& e : MapY[size_t(j)]) {
      rows_inside = rows_inside && e.Pos >= 0 && e.Pos < Src.Height();
      lo = std::min(lo, e.Pos);
      hi = std::max(hi, e.Pos);
    }
    first[size_t(j)] = lo;
    last[size_t(j)] = j > 0 ? std::max(hi, last[size_t(j) - 1]) : hi;
  }
  if (x_lo < 0 || x_hi >= Src.Width() || !rows_inside) throw ESrcInvalidException(kSrcRectInvalid);
  int32_t span = 1;
  for (int32_t j = ch - 1; j >= 0; --j) {
    if (j + 1 < ch) first[size_t(j)] = std::min(first[size_t(j)], first[size_t(j) + 1]);
    span = std::max(span, last[size_t(j)] - first[size_t(j)] + 1);
  }

  // Each cluster as a window of one even length over the row of sums: repeated positions are
  // merged and the rest padded with zero weights (exact: the sums wrap at 32 bits).
  std::vector<int32_t> window(static_cast<size_t>(cw));
  int32_t window_taps = 2;
  for (int32_t d = 0; d < cw; ++d) {
    int32_t lo = std::numeric_limits<int32_t>::max(), hi = std::numeric_limits<int32_t>::min();
    for (const TClusterEntry& e : MapX[size_t(d)]) {
      lo = std::min(lo, e.Pos - x_lo);
      hi = std::max(hi, e.Pos - x_lo);
    }
    window[size_t(d)] = lo;
    window_taps = std::max(window_taps, hi - lo + 1);
  }
  window_taps += window_taps & 1;
  std::vector<int32_t> weight(size_t(cw) * size_t(window_taps));
  for (int32_t d = 0; d < cw; ++d)
    for (const TClusterEntry& e : MapX[size_t(d)]) {
      int32_t& w = weight[size_t(d) * size_t(window_taps) + size_t(e.Pos - x_lo - window[size_t(d)])];
      w = static_cast<int32_t>(static_cast<uint32_t>(w) + static_cast<uint32_t>(e.Weight));
    }
  std::vector<int32_t> weight4(weight.size() * 4);
  for (size_t k = 0; k < weight.size(); ++k) std::fill_n(weight4.begin() + ptrdiff_t(4 * k), 4, weight[k]);

  const int32_t columns = x_hi - x_lo + 1;
  const simd::TPixelRoutines& r = simd::Routines();
  const simd::TKernelHorzTable horz{window.data(), weight.data(), weight4.data(), window_taps};
  // The row of sums, with room for the padded end of the last window.
  std::vector<int32_t> sums((size_t(columns) + size_t(window_taps)) * 4);
  std::vector<const uint32_t*> rows;
  std::vector<int32_t> row_weights;
  const size_t stride = static_cast<size_t>(Src.Width());
  Src.Plan(span);
  TRowSink sink(Dst, DstClip, Store);

  for (int32_t j = 0; j < ch; ++j) {
    const TColor32* span_rows = Src.Rows(first[size_t(j)], last[size_t(j)]);
    rows.clear();
    row_weights.clear();
    for (const TClusterEntry& e : MapY[size_t(j)]) {
      rows.push_back(span_rows + size_t(e.Pos - first[size_t(j)]) * stride + x_lo);
      row_weights.push_back(e.Weight);
    }
    r.KernelVertical(rows.data(), row_weights.data(), static_cast<int32_t>(rows.size()), columns, sums.data());
    const int32_t y = DstClip.Top + j;
    r.KernelHorizontal(sums.data(), horz, cw, Clamp, sink.Row(y));
    sink.Commit(y);
  }
}

}  // namespace pellavo
