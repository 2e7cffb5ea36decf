#pragma once
#include <cstdint>

#include "core/rect.h"
#include "raster/draw_types.h"

namespace pellavo {

class TBitmap32;
class TCustomResampler;
class TSourceRows;

// Draws SrcRect of Src into DstRect of Dst, clipped to DstClip and to Dst: an exact block copy
// when the two rectangles have the same size, otherwise the resampler's Transfer. Missing
// surfaces raise EBitmapException, a source rectangle outside Src ESrcInvalidException; empty
// surfaces and rectangles draw nothing.
void StretchTransfer(TBitmap32* Dst, TRect DstRect, TRect DstClip, const TBitmap32* Src, TRect SrcRect,
                     const TCustomResampler* Resampler, TDrawMode CombineOp,
                     const TPixelCombineEvent& CombineCallBack);

// StretchTransfer from source rows, opaque, clipped to Dst: the same checks and the same
// pixels as drawing a surface that holds those rows.
void StretchRows(TBitmap32& Dst, TRect DstRect, TSourceRows& Src, TRect SrcRect, const TCustomResampler& Resampler);

// Copies the block of DstClip's size whose top-left source pixel is (SrcX, SrcY) to DstClip,
// combining by CombineOp. The block is clipped to both surfaces.
void BlockTransfer(TBitmap32* Dst, TRect DstClip, const TBitmap32* Src, int32_t SrcX, int32_t SrcY,
                   TDrawMode CombineOp, const TPixelCombineEvent& CombineCallBack);

// Stores n computed pixels into a destination row by the draw mode (Src gives the master
// alpha, the combine mode and the outer colour).
void StoreRow(TColor32* dst, const TColor32* src, int32_t n, const TBitmap32& Src, TDrawMode CombineOp,
              const TPixelCombineEvent& CombineCallBack);

}  // namespace pellavo
