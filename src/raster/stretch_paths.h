#pragma once
// The stretch algorithms behind the resamplers' Transfer; arguments as Transfer gets them.
#include "core/rect.h"
#include "raster/draw_types.h"

namespace pellavo {

class TBitmap32;

void NearestStretch(TBitmap32& Dst, const TRect& DstRect, const TRect& DstClip, const TBitmap32& Src,
                    const TRect& SrcRect, TDrawMode CombineOp, const TPixelCombineEvent& CombineCallBack);

// Needs a source rectangle at least 2 x 2.
void BilinearStretch(TBitmap32& Dst, const TRect& DstRect, const TRect& DstClip, const TBitmap32& Src,
                     const TRect& SrcRect, TDrawMode CombineOp, const TPixelCombineEvent& CombineCallBack);

// Needs a source rectangle at least as large as the destination one on both axes.
void BlockAverageStretch(TBitmap32& Dst, const TRect& DstRect, const TRect& DstClip, const TBitmap32& Src,
                         const TRect& SrcRect, TDrawMode CombineOp, const TPixelCombineEvent& CombineCallBack);

}  // namespace pellavo
