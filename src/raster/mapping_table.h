#pragma once
#include <cstdint>
#include <vector>

#include "core/rect.h"
#include "raster/draw_types.h"
#include "raster/kernels.h"

namespace pellavo {

class TBitmap32;
class TSourceRows;
struct TRowStore;

// One contribution: an absolute source column or row and its weight in 1/256.
struct TClusterEntry {
  int32_t Pos = 0;
  int32_t Weight = 0;
  friend bool operator==(const TClusterEntry&, const TClusterEntry&) = default;
};

// The contributions to one destination position; the weights sum to 256.
using TCluster = std::vector<TClusterEntry>;
// One cluster per destination position of the clipped span, in order.
using TMappingTable = std::vector<TCluster>;

// The table of one axis: destination span DstLo..DstHi-1, its clipped part ClipLo..ClipHi-1,
// source span SrcLo..SrcHi-1. Positions outside the source span are clamped to its ends.
TMappingTable BuildMappingTable(int32_t DstLo, int32_t DstHi, int32_t ClipLo, int32_t ClipHi, int32_t SrcLo,
                                int32_t SrcHi, const TCustomKernel& Kernel);

// Kernel resampling of SrcRect into DstRect, written inside DstClip.
void Resample(TBitmap32& Dst, TRect DstRect, TRect DstClip, const TBitmap32& Src, TRect SrcRect,
              const TCustomKernel& Kernel, TDrawMode CombineOp, const TPixelCombineEvent& CombineCallBack);
void Resample(TBitmap32& Dst, TRect DstRect, TRect DstClip, TSourceRows& Src, TRect SrcRect,
              const TCustomKernel& Kernel, const TRowStore& Store);

// The two passes for given tables: MapX has one cluster per column of DstClip, MapY one per
// row. Every position must lie inside Src. Clamp limits the filtered values to 0..255.
void ResampleTables(TBitmap32& Dst, const TRect& DstClip, const TBitmap32& Src, const TMappingTable& MapX,
                    const TMappingTable& MapY, bool Clamp, TDrawMode CombineOp,
                    const TPixelCombineEvent& CombineCallBack);
// The same over source rows: the rows of each destination row are asked for as one span, the
// spans widened where needed so that neither end ever moves back.
void ResampleTables(TBitmap32& Dst, const TRect& DstClip, TSourceRows& Src, const TMappingTable& MapX,
                    const TMappingTable& MapY, bool Clamp, const TRowStore& Store);

}  // namespace pellavo
