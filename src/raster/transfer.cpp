#include "raster/transfer.h"

#include <algorithm>
#include <cstring>

#include "raster/bitmap32.h"
#include "raster/raster_errors.h"
#include "raster/resamplers.h"
#include "raster/source_rows.h"
#include "raster/stretch_paths.h"

namespace pellavo {
namespace {

// Porter-Duff "over" for colours that are not premultiplied.
TColor32 MergeOver(TColor32 f, TColor32 b) {
  const uint32_t fa = f >> 24, ba = b >> 24;
  if (fa == 255 || ba == 0) return f;
  if (fa == 0) return b;
  const uint32_t fw = fa * 255, bw = ba * (255 - fa), total = fw + bw;
  TColor32 r = ((total + 127) / 255) << 24;
  for (int shift = 0; shift < 24; shift += 8) {
    const uint32_t fc = (f >> shift) & 0xFF, bc = (b >> shift) & 0xFF;
    r |= ((fc * fw + bc * bw + total / 2) / total) << shift;
  }
  return r;
}

}  // namespace

void StoreRow(TColor32* dst, const TColor32* src, int32_t n, const TBitmap32& Src, TDrawMode CombineOp,
              const TPixelCombineEvent& CombineCallBack) {
  const uint32_t master = std::min<uint32_t>(Src.MasterAlpha(), 255);
  switch (CombineOp) {
    case dmBlend: {
      const bool merge = Src.CombineMode() == cmMerge;
      for (int32_t i = 0; i < n; ++i) {
        TColor32 f = src[i];
        if (master < 255) f = SetAlpha(f, static_cast<int>(((f >> 24) * master + 127) / 255));
        dst[i] = merge ? MergeOver(f, dst[i]) : BlendOver(f, dst[i]);
      }
      break;
    }
    case dmTransparent: {
      const TColor32 outer = Src.OuterColor();
      for (int32_t i = 0; i < n; ++i)
        if (src[i] != outer) dst[i] = src[i];
      break;
    }
    case dmCustom:
      if (CombineCallBack) {
        for (int32_t i = 0; i < n; ++i) CombineCallBack(src[i], dst[i], master);
        break;
      }
      [[fallthrough]];
    default:
      if (dst != src) std::memmove(dst, src, size_t(n) * sizeof(TColor32));
  }
}

void BlockTransfer(TBitmap32* Dst, TRect DstClip, const TBitmap32* Src, int32_t SrcX, int32_t SrcY,
                   TDrawMode CombineOp, const TPixelCombineEvent& CombineCallBack) {
  if (!Dst) throw EBitmapException(kDstBitmapNil);
  if (!Src) throw EBitmapException(kSrcBitmapNil);
  if (Dst->Empty() || Src->Empty()) return;
  // Clip the block to both surfaces, moving the source origin with the destination edges.
  const int64_t dx = int64_t(SrcX) - DstClip.Left, dy = int64_t(SrcY) - DstClip.Top;
  int64_t l = std::max<int64_t>({DstClip.Left, 0, -dx}), t = std::max<int64_t>({DstClip.Top, 0, -dy});
  int64_t r = std::min<int64_t>({DstClip.Right, Dst->Width(), Src->Width() - dx});
  int64_t b = std::min<int64_t>({DstClip.Bottom, Dst->Height(), Src->Height() - dy});
  if (r <= l || b <= t) return;
  const int32_t n = static_cast<int32_t>(r - l);
  const auto copy_row = [&](int64_t y) {
    StoreRow(Dst->ScanLine(int32_t(y)) + l, Src->ScanLine(int32_t(y + dy)) + (l + dx), n, *Src, CombineOp,
             CombineCallBack);
  };
  // On one surface, walk the rows so that none is overwritten before it is read.
  if (Dst == Src && dy < 0) {
    for (int64_t y = b - 1; y >= t; --y) copy_row(y);
  } else {
    for (int64_t y = t; y < b; ++y) copy_row(y);
  }
}

void StretchTransfer(TBitmap32* Dst, TRect DstRect, TRect DstClip, const TBitmap32* Src, TRect SrcRect,
                     const TCustomResampler* Resampler, TDrawMode CombineOp,
                     const TPixelCombineEvent& CombineCallBack) {
  if (!Dst) throw EBitmapException(kDstBitmapNil);
  if (!Src) throw EBitmapException(kSrcBitmapNil);
  if (Src->Empty() || Dst->Empty()) return;
  if (CombineOp == dmBlend && Src->MasterAlpha() == 0) return;
  if (IsRectEmpty(SrcRect)) return;
  if (SrcRect.Left < 0 || SrcRect.Top < 0 || SrcRect.Right > Src->Width() || SrcRect.Bottom > Src->Height())
    throw ESrcInvalidException(kSrcRectInvalid);
  IntersectRect(DstClip, DstClip, Dst->BoundsRect());
  IntersectRect(DstClip, DstClip, DstRect);
  if (IsRectEmpty(DstClip)) return;
  if (CombineOp == dmCustom && !CombineCallBack) CombineOp = dmOpaque;

  if (int64_t(DstRect.Right) - DstRect.Left == SrcRect.Width() &&
      int64_t(DstRect.Bottom) - DstRect.Top == SrcRect.Height()) {
    BlockTransfer(Dst, DstClip, Src, SrcRect.Left + DstClip.Left - DstRect.Left,
                  SrcRect.Top + DstClip.Top - DstRect.Top, CombineOp, CombineCallBack);
  } else {
    if (!Resampler) throw EBitmapException("Resampler is nil");
    if (Dst == Src) {
      // A resampler reads source pixels after it has written destination ones.
      TBitmap32 copy;
      copy.Assign(*Src);
      Resampler->Transfer(*Dst, DstRect, DstClip, copy, SrcRect, CombineOp, CombineCallBack);
    } else {
      Resampler->Transfer(*Dst, DstRect, DstClip, *Src, SrcRect, CombineOp, CombineCallBack);
    }
  }
  Dst->AreaChanged(DstRect, AREAINFO_RECT);
}

void StretchRows(TBitmap32& Dst, TRect DstRect, TSourceRows& Src, TRect SrcRect, const TCustomResampler& Resampler) {
  if (Dst.Empty() || Src.Width() <= 0 || Src.Height() <= 0) return;
  if (IsRectEmpty(SrcRect)) return;
  if (SrcRect.Left < 0 || SrcRect.Top < 0 || SrcRect.Right > Src.Width() || SrcRect.Bottom > Src.Height())
    throw ESrcInvalidException(kSrcRectInvalid);
  TRect clip = Dst.ClipRect();
  IntersectRect(clip, clip, Dst.BoundsRect());
  IntersectRect(clip, clip, DstRect);
  if (IsRectEmpty(clip)) return;

  if (int64_t(DstRect.Right) - DstRect.Left == SrcRect.Width() &&
      int64_t(DstRect.Bottom) - DstRect.Top == SrcRect.Height()) {
    // The block copy, row by row as the rows arrive.
    const int32_t dx = SrcRect.Left - DstRect.Left, dy = SrcRect.Top - DstRect.Top;
    Src.Plan(1);
    for (int32_t y = clip.Top; y < clip.Bottom; ++y)
      std::memcpy(Dst.ScanLine(y) + clip.Left, Src.Rows(y + dy, y + dy) + (clip.Left + dx),
                  size_t(clip.Width()) * sizeof(TColor32));
  } else {
    Resampler.TransferRows(Dst, DstRect, clip, Src, SrcRect, TRowStore{});
  }
  Dst.AreaChanged(DstRect, AREAINFO_RECT);
}

}  // namespace pellavo
