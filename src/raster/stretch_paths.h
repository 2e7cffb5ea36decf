#pragma once
// The stretch algorithms behind the resamplers' Transfer; arguments as Transfer gets them, with
// the source as rows (see source_rows.h), which each path asks for in destination order.
#include <vector>

#include "core/color.h"
#include "core/rect.h"
#include "raster/draw_types.h"

namespace pellavo {

class TBitmap32;
class TSourceRows;

// How computed rows land in the destination: replacing it (dmOpaque), or combined by the other
// draw modes with the source surface's master alpha, combine mode and outer colour.
struct TRowStore {
  const TBitmap32* Src = nullptr;  // needed for every mode but dmOpaque
  TDrawMode CombineOp = dmOpaque;
  const TPixelCombineEvent* CombineCallBack = nullptr;
};

// A destination row: written in place when opaque, else through a buffer and StoreRow.
class TRowSink {
 public:
  TRowSink(TBitmap32& dst, const TRect& clip, const TRowStore& store);
  TColor32* Row(int32_t y);
  void Commit(int32_t y);

 private:
  TBitmap32& dst_;
  const TRect& clip_;
  const TRowStore& store_;
  std::vector<TColor32> buffer_;
};

void NearestStretch(TBitmap32& Dst, const TRect& DstRect, const TRect& DstClip, TSourceRows& Src,
                    const TRect& SrcRect, const TRowStore& Store);

// Needs a source rectangle at least 2 x 2.
void BilinearStretch(TBitmap32& Dst, const TRect& DstRect, const TRect& DstClip, TSourceRows& Src,
                     const TRect& SrcRect, const TRowStore& Store);

// Needs a source rectangle at least as large as the destination one on both axes.
void BlockAverageStretch(TBitmap32& Dst, const TRect& DstRect, const TRect& DstClip, TSourceRows& Src,
                         const TRect& SrcRect, const TRowStore& Store);

}  // namespace pellavo
