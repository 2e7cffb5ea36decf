// Enhanced metafile bitmap records, decoded into blits.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "formats/metafile/dib.h"
#include "formats/metafile/emf_records.h"

namespace pellavo::metafile {
namespace {

// The source rectangle of the DIB records counts rows from the bottom of a bottom-up DIB.
void PlayDiBits(TPlayer& dc, const TRecordView& r, TBlit& b, const TBitmap& dib, int32_t sx, int32_t sy, int32_t sw,
                int32_t sh) {
  const bool bottom_up = DibBottomUp(r, r.U32(48));
  b.SrcX = sx;
  b.SrcW = sw;
  b.SrcH = sh;
  b.SrcY = bottom_up ? static_cast<int32_t>(std::clamp<int64_t>(int64_t{dib.Height()} - sy - sh, INT32_MIN, INT32_MAX))
                     : sy;
  b.Source = &dib;
  dc.Blit(b);
}

}  // namespace

std::optional<TBitmap> EmfDib(const TRecordView& r, uint32_t off_bmi, uint32_t cb_bmi, uint32_t off_bits,
                              uint32_t cb_bits) {
  if (cb_bmi == 0 || !r.Has(off_bmi, cb_bmi) || !r.Has(off_bits, cb_bits)) return std::nullopt;
  return DecodeDib(r.At(off_bmi), cb_bmi, r.At(off_bits), cb_bits);
}

void PlayEmfBlt(TPlayer& dc, const TRecordView& r, uint32_t type) {
  TBlit b;
  b.X = r.S32(24), b.Y = r.S32(28), b.W = r.S32(32), b.H = r.S32(36);
  const uint32_t op = r.U32(40);
  const bool stretch = type != EMR_BITBLT && r.Has(kEmrBitBltSize, 8);
  if (type == EMR_BITBLT && !r.Has(0, kEmrBitBltSize)) return;
  if (type != EMR_BITBLT && !r.Has(0, kEmrStretchBltSize)) return;
  double sx = r.S32(44), sy = r.S32(48);
  double sw = stretch ? r.S32(100) : b.W, sh = stretch ? r.S32(104) : b.H;
  // The source context's transform: scales and offsets are honoured.
  const float m11 = r.F32(52), m12 = r.F32(56), m21 = r.F32(60), m22 = r.F32(64), dx = r.F32(68), dy = r.F32(72);
  if (std::isfinite(m11) && std::isfinite(m22) && std::isfinite(dx) && std::isfinite(dy) && m12 == 0 && m21 == 0 &&
      m11 != 0 && m22 != 0) {
    sx = sx * m11 + dx, sy = sy * m22 + dy, sw *= m11, sh *= m22;
  }
  const uint32_t off_bmi = r.U32(84), cb_bmi = r.U32(88), off_bits = r.U32(92), cb_bits = r.U32(96);
  std::optional<TBitmap> dib;
  if (cb_bmi) {
    dib = EmfDib(r, off_bmi, cb_bmi, off_bits, cb_bits);
    if (!dib) return;
  }
  if (!std::isfinite(sx) || !std::isfinite(sy) || !std::isfinite(sw) || !std::isfinite(sh) || std::fabs(sx) > 1e9 ||
      std::fabs(sy) > 1e9 || std::fabs(sw) > 1e9 || std::fabs(sh) > 1e9)
    return;
  b.SrcX = int32_t(std::lround(sx)), b.SrcY = int32_t(std::lround(sy));
  b.SrcW = int32_t(std::lround(sw)), b.SrcH = int32_t(std::lround(sh));
  if (dib) {
    // Some writers keep only the copied part of the source; its origin is then the part's.
    const int64_t right = int64_t{b.SrcX} + std::abs(b.SrcW), bottom = int64_t{b.SrcY} + std::abs(b.SrcH);
    if ((right > dib->Width() || bottom > dib->Height()) && std::abs(b.SrcW) == dib->Width() &&
        std::abs(b.SrcH) == dib->Height())
      b.SrcX = b.SrcY = 0;
    b.Source = &*dib;
  }
  switch (type) {
    case EMR_ALPHABLEND:
      if (!dib) return;
      b.Kind = TBlit::TKind::Alpha;
      b.ConstantAlpha = uint8_t(op >> 16);  // the blend function: operation, flags, alpha, format
      b.SourceAlpha = ((op >> 24) & kAcSrcAlpha) != 0;
      break;
    case EMR_TRANSPARENTBLT:
      if (!dib) return;
      b.Kind = TBlit::TKind::Transparent;
      b.TransparentColor = op;
      break;
    default:
      b.Rop = op;
      break;
  }
  dc.Blit(b);
}

void PlayEmfStretchDiBits(TPlayer& dc, const TRecordView& r) {
  if (!r.Has(0, kEmrStretchDiBitsSize)) return;
  TBlit b;
  b.X = r.S32(24), b.Y = r.S32(28);
  const int32_t sx = r.S32(32), sy = r.S32(36), sw = r.S32(40), sh = r.S32(44);
  b.W = r.S32(72), b.H = r.S32(76);
  b.Rop = r.U32(68);
  const std::optional<TBitmap> dib = EmfDib(r, r.U32(48), r.U32(52), r.U32(56), r.U32(60));
  if (!dib) {
    if (r.U32(52) == 0) dc.Blit(b);  // no bitmap: a pattern or fixed-colour fill
    return;
  }
  PlayDiBits(dc, r, b, *dib, sx, sy, sw, sh);
}

void PlayEmfSetDiBitsToDevice(TPlayer& dc, const TRecordView& r) {
  if (!r.Has(0, kEmrSetDiBitsToDeviceSize)) return;
  TBlit b;
  b.X = r.S32(24), b.Y = r.S32(28);
  const int32_t sx = r.S32(32), sy = r.S32(36), sw = r.S32(40), sh = r.S32(44);
  b.W = sw, b.H = sh;
  const std::optional<TBitmap> dib = EmfDib(r, r.U32(48), r.U32(52), r.U32(56), r.U32(60));
  if (!dib) return;
  PlayDiBits(dc, r, b, *dib, sx, sy, sw, sh);
}

}  // namespace pellavo::metafile
