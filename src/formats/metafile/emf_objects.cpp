// Enhanced metafile objects: the stock objects and the records that create pens, brushes and
// fonts.
#include <memory>

#include "formats/metafile/emf_records.h"

namespace pellavo::metafile {
namespace {

TFont EmfFont(const TRecordView& r) {
  TFont f;
  f.Height = r.S32(12);
  f.Width = r.S32(16);
  f.Escapement = r.S32(20);
  f.Weight = r.S32(28);
  f.Italic = r.Has(32, 1) && *r.At(32);
  f.Underline = r.Has(33, 1) && *r.At(33);
  f.StrikeOut = r.Has(34, 1) && *r.At(34);
  std::u32string face;
  for (size_t i = 0; i < 32 && r.Has(40 + 2 * i, 2); ++i) {
    const uint16_t c = r.U16(40 + 2 * i);
    if (!c) break;
    face += char32_t(c);
  }
  for (char32_t c : face) f.Face += c < 0x80 ? char(c) : '?';
  return f;
}

}  // namespace

std::optional<TEmfObject> EmfStockObject(uint32_t number) {
  TEmfObject o;
  const auto brush = [&](uint32_t style, TColorRef c) {
    o.Kind = TEmfObject::TKind::Brush;
    o.Brush.Style = style;
    o.Brush.Color = c;
  };
  const auto pen = [&](uint32_t style, TColorRef c) {
    o.Kind = TEmfObject::TKind::Pen;
    o.Pen.Style = style;
    o.Pen.Color = c;
  };
  switch (number) {
    case kWhiteBrush: brush(kBsSolid, 0xFFFFFF); break;
    case kLtGrayBrush: brush(kBsSolid, 0xC0C0C0); break;
    case kGrayBrush: brush(kBsSolid, 0x808080); break;
    case kDkGrayBrush: brush(kBsSolid, 0x404040); break;
    case kBlackBrush: brush(kBsSolid, 0x000000); break;
    case kNullBrush: brush(kBsNull, 0); break;
    case kWhitePen: pen(kPsSolid, 0xFFFFFF); break;
    case kBlackPen: pen(kPsSolid, 0x000000); break;
    case kNullPen: pen(kPsNull, 0); break;
    case kOemFixedFont:
    case kAnsiFixedFont:
    case kAnsiVarFont:
    case kSystemFont:
    case kDeviceDefaultFont:
    case kSystemFixedFont:
    case kDefaultGuiFont:
      o.Kind = TEmfObject::TKind::Font;  // the default font
      break;
    case kDcBrush: brush(kBsSolid, 0xFFFFFF); break;
    case kDcPen: pen(kPsSolid, 0x000000); break;
    default: return std::nullopt;
  }
  return o;
}

std::optional<TEmfObject> EmfCreatedObject(uint32_t type, const TRecordView& r) {
  TEmfObject o;
  switch (type) {
    case EMR_CREATEPEN:
      if (!r.Has(8, 20)) return std::nullopt;
      o.Kind = TEmfObject::TKind::Pen;
      o.Pen.Style = r.U32(12);
      o.Pen.Width = r.S32(16);
      o.Pen.Color = r.U32(24);
      return o;
    case EMR_EXTCREATEPEN: {
      if (!r.Has(28, 24)) return std::nullopt;
      o.Kind = TEmfObject::TKind::Pen;
      o.Pen.Style = r.U32(28);
      o.Pen.Width = r.U32(32);
      o.Pen.Color = r.U32(40);
      // A hollow brush draws nothing.
      if (r.U32(36) == kBsNull) o.Pen.Style = (o.Pen.Style & ~kPsStyleMask) | kPsNull;
      const uint32_t entries = r.U32(48);
      if ((o.Pen.Style & kPsStyleMask) == kPsUserStyle && entries <= 16 && r.HasArray(52, entries, 4))
        for (uint32_t i = 0; i < entries; ++i) o.Pen.Dashes.push_back(r.U32(52 + 4 * size_t{i}));
      return o;
    }
    case EMR_CREATEBRUSHINDIRECT:
      if (!r.Has(8, 16)) return std::nullopt;
      o.Kind = TEmfObject::TKind::Brush;
      o.Brush.Style = r.U32(12);
      o.Brush.Color = r.U32(16);
      o.Brush.Hatch = r.U32(20);
      return o;
    case EMR_CREATEMONOBRUSH:
    case EMR_CREATEDIBPATTERNBRUSHPT:
      if (!r.Has(8, 24)) return std::nullopt;
      o.Kind = TEmfObject::TKind::Brush;
      o.Brush.Style = kBsPattern;
      if (auto dib = EmfDib(r, r.U32(16), r.U32(20), r.U32(24), r.U32(28)))
        o.Brush.Pattern = std::make_shared<const TBitmap>(std::move(*dib));
      return o;
    case EMR_EXTCREATEFONTINDIRECTW:
      if (!r.Has(8, 32)) return std::nullopt;
      o.Kind = TEmfObject::TKind::Font;
      o.Font = EmfFont(r);
      return o;
    default: return std::nullopt;
  }
}

}  // namespace pellavo::metafile
