#include "raster/mapping_table.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "raster/bitmap32.h"
#include "raster/raster_errors.h"
#include "raster/simd/routines.h"
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
        weight = RoundWeight(static_cast<double>(Kernel.Filter(x)) * 256 * old_scale);
      } else {
        const float x = static_cast<float>(center - static_cast<long double>(j));
        weight = RoundWeight(static_cast<double>(Kernel.Filter(x)) * 256);
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
  if (CombineOp == dmBlend && Src.MasterAlpha() == 0) return;
  const TMappingTable map_x = BuildMappingTable(DstRect.Left, DstRect.Right, DstClip.Left, DstClip.Right,
                                                SrcRect.Left, SrcRect.Right, Kernel);
  const TMappingTable map_y = BuildMappingTable(DstRect.Top, DstRect.Bottom, DstClip.Top, DstClip.Bottom,
                                                SrcRect.Top, SrcRect.Bottom, Kernel);
  if (map_x.empty() || map_y.empty()) return;
  ResampleTables(Dst, DstClip, Src, map_x, map_y, Kernel.RangeCheck(), CombineOp, CombineCallBack);
}

void ResampleTables(TBitmap32& Dst, const TRect& DstClip, const TBitmap32& Src, const TMappingTable& MapX,
                    const TMappingTable& MapY, bool Clamp, TDrawMode CombineOp,
                    const TPixelCombineEvent& CombineCallBack) {
  if (MapX.empty() || MapY.empty()) return;
  const int32_t cw = DstClip.Width(), ch = DstClip.Height();
  if (int64_t(MapX.size()) != cw || int64_t(MapY.size()) != ch || DstClip.Left < 0 || DstClip.Top < 0 ||
      DstClip.Right > Dst.Width() || DstClip.Bottom > Dst.Height())
    throw EInvalidGraphicOperation("Mapping tables do not match the destination");

  // The row of sums spans the smallest to the largest source column in use.
  int32_t x_lo = std::numeric_limits<int32_t>::max(), x_hi = std::numeric_limits<int32_t>::min();
  size_t entries = 0;
  for (const TCluster& c : MapX) {
    if (c.empty()) throw EInvalidGraphicOperation("Mapping tables do not match the destination");
    for (const TClusterEntry& e : c) {
      x_lo = std::min(x_lo, e.Pos);
      x_hi = std::max(x_hi, e.Pos);
    }
    entries += c.size();
  }
  bool rows_inside = true;
  for (const TCluster& c : MapY)
    for (const TClusterEntry& e : c) rows_inside = rows_inside && e.Pos >= 0 && e.Pos < Src.Height();
  if (x_lo < 0 || x_hi >= Src.Width() || !rows_inside) throw ESrcInvalidException(kSrcRectInvalid);

  std::vector<int32_t> start(size_t(cw) + 1), pos, weight;
  std::vector<uint8_t> contiguous(static_cast<size_t>(cw));
  pos.reserve(entries);
  weight.reserve(entries);
  for (int32_t d = 0; d < cw; ++d) {
    const TCluster& c = MapX[size_t(d)];
    start[size_t(d)] = static_cast<int32_t>(pos.size());
    bool run = true;
    for (size_t k = 0; k < c.size(); ++k) {
      pos.push_back(c[k].Pos - x_lo);
      weight.push_back(c[k].Weight);
      run = run && c[k].Pos == c[0].Pos + static_cast<int32_t>(k);
    }
    contiguous[size_t(d)] = run;
  }
  start[size_t(cw)] = static_cast<int32_t>(pos.size());
  const simd::TKernelHorzTable horz{start.data(), pos.data(), weight.data(), contiguous.data()};

  const int32_t columns = x_hi - x_lo + 1;
  std::vector<int32_t> sums(size_t(columns) * 4);
  std::vector<const uint32_t*> rows;
  std::vector<int32_t> row_weights;
  std::vector<TColor32> buffer;
  if (CombineOp != dmOpaque) buffer.resize(size_t(cw));
  const simd::TPixelRoutines& r = simd::Routines();

  for (int32_t j = 0; j < ch; ++j) {
    const TCluster& cy = MapY[size_t(j)];
    rows.clear();
    row_weights.clear();
    for (const TClusterEntry& e : cy) {
      rows.push_back(Src.ScanLine(e.Pos) + x_lo);
      row_weights.push_back(e.Weight);
    }
    r.KernelVertical(rows.data(), row_weights.data(), static_cast<int32_t>(rows.size()), columns, sums.data());
    const int32_t y = DstClip.Top + j;
    TColor32* dst = Dst.ScanLine(y) + DstClip.Left;
    if (CombineOp == dmOpaque) {
      r.KernelHorizontal(sums.data(), horz, cw, Clamp, dst);
    } else {
      r.KernelHorizontal(sums.data(), horz, cw, Clamp, buffer.data());
      StoreRow(dst, buffer.data(), cw, Src, CombineOp, CombineCallBack);
    }
  }
}

}  // namespace pellavo
