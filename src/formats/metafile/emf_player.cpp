// Enhanced metafile records, decoded and handed to the player. A record the player cannot use,
// or one whose counts and offsets do not fit inside it, is skipped.
#include <cmath>
#include <unordered_map>

#include "formats/metafile/dib.h"
#include "formats/metafile/playback.h"
#include "formats/metafile/player.h"
#include "formats/metafile/records.h"

namespace pellavo::metafile {

bool ParseEmfHeader(const uint8_t* data, size_t size, TEmfInfo& info) {
  if (size < kEmfHeaderMin) return false;
  const TRecordView h(data, size);
  if (h.U32(0) != EMR_HEADER || h.U32(40) != kEmfSignature) return false;
  const uint32_t header_size = h.U32(4);
  if (header_size < kEmfHeaderMin || header_size > size) return false;
  for (int i = 0; i < 4; ++i) {
    info.Bounds[i] = h.S32(8 + 4 * i);
    info.Frame[i] = h.S32(24 + 4 * i);
  }
  info.HeaderSize = header_size;
  const int32_t dev_w = h.S32(72), dev_h = h.S32(76);
  double hmm_w = h.S32(80) * 100.0, hmm_h = h.S32(84) * 100.0;
  if (header_size >= kEmfHeaderSize && h.S32(100) > 0 && h.S32(104) > 0) {
    hmm_w = h.S32(100) / 10.0;
    hmm_h = h.S32(104) / 10.0;
  }
  if (dev_w > 0 && dev_h > 0 && hmm_w > 0 && hmm_h > 0) {
    info.DevicePerHmmX = dev_w / hmm_w;
    info.DevicePerHmmY = dev_h / hmm_h;
  }
  return true;
}

void EmfSizeHmm(const TEmfInfo& info, int32_t& w, int32_t& h) {
  const int64_t fw = int64_t{info.Frame[2]} - info.Frame[0], fh = int64_t{info.Frame[3]} - info.Frame[1];
  if (fw > 0 && fh > 0 && fw <= INT32_MAX && fh <= INT32_MAX) {
    w = static_cast<int32_t>(fw);
    h = static_cast<int32_t>(fh);
    return;
  }
  const int64_t bw = int64_t{info.Bounds[2]} - info.Bounds[0] + 1, bh = int64_t{info.Bounds[3]} - info.Bounds[1] + 1;
  w = bw > 0 ? static_cast<int32_t>(std::min<double>(std::round(bw / info.DevicePerHmmX), INT32_MAX)) : 0;
  h = bh > 0 ? static_cast<int32_t>(std::min<double>(std::round(bh / info.DevicePerHmmY), INT32_MAX)) : 0;
}

namespace {

struct TObject {
  enum class TKind : uint8_t { Other, Pen, Brush, Font } Kind = TKind::Other;
  TPen Pen;
  TBrush Brush;
  TFont Font;
};

TObject StockObject(uint32_t index, bool& known) {
  TObject o;
  known = true;
  const auto brush = [&](uint32_t style, TColorRef c) {
    o.Kind = TObject::TKind::Brush;
    o.Brush.Style = style;
    o.Brush.Color = c;
  };
  const auto pen = [&](uint32_t style, TColorRef c) {
    o.Kind = TObject::TKind::Pen;
    o.Pen.Style = style;
    o.Pen.Color = c;
  };
  switch (index) {
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
      o.Kind = TObject::TKind::Font;  // the default font
      break;
    case kDcBrush: brush(kBsSolid, 0xFFFFFF); break;
    case kDcPen: pen(kPsSolid, 0x000000); break;
    default: known = false; break;
  }
  return o;
}

class TEmfPlayer {
 public:
  TEmfPlayer(TPlayer& dc, const std::vector<uint8_t>& emf) : dc_(dc), emf_(emf) {}

  void Run() {
    size_t off = 0;
    while (off + 8 <= emf_.size()) {
      const uint32_t type = Get32(&emf_[off]);
      const uint32_t size = Get32(&emf_[off + 4]);
      if (size < 8 || size > emf_.size() - off) break;
      Record(type, TRecordView(&emf_[off], size));
      if (type == EMR_EOF) break;
      off += size;
    }
  }

 private:
  static TPointD Pt(const TRecordView& r, size_t at) { return {double(r.S32(at)), double(r.S32(at + 4))}; }

  // cptl points of 8 (32-bit) or 4 (16-bit) bytes from at.
  static bool Points(const TRecordView& r, size_t at, uint32_t count, bool small, std::vector<TPointD>& out) {
    const size_t elem = small ? 4 : 8;
    if (!r.HasArray(at, count, elem)) return false;
    out.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
      const size_t p = at + i * elem;
      out[i] = small ? TPointD{double(r.S16(p)), double(r.S16(p + 2))} : TPointD{double(r.S32(p)), double(r.S32(p + 4))};
    }
    return true;
  }

  static bool PolyPoints(const TRecordView& r, bool small, std::vector<std::vector<TPointD>>& out) {
    const uint32_t polys = r.U32(24), total = r.U32(28);
    if (!r.HasArray(32, polys, 4)) return false;
    const size_t points_at = 32 + size_t{polys} * 4;
    std::vector<TPointD> all;
    if (!Points(r, points_at, total, small, all)) return false;
    size_t next = 0;
    out.clear();
    for (uint32_t i = 0; i < polys; ++i) {
      const uint32_t n = r.U32(32 + 4 * size_t{i});
      if (n > all.size() - next) return false;
      out.emplace_back(all.begin() + static_cast<std::ptrdiff_t>(next), all.begin() + static_cast<std::ptrdiff_t>(next + n));
      next += n;
    }
    return true;
  }

  static bool RegionRects(const TRecordView& r, size_t at, uint32_t cb, TRects& out) {
    if (!r.Has(at, cb) || cb < 32) return false;
    const uint32_t count = r.U32(at + 8);
    if (!TRecordView(r.At(at), cb).HasArray(32, count, 16)) return false;
    out.clear();
    for (uint32_t i = 0; i < count; ++i) {
      const size_t p = at + 32 + size_t{i} * 16;
      out.push_back(Rect(r.S32(p), r.S32(p + 4), r.S32(p + 8), r.S32(p + 12)));
    }
    return true;
  }

  static std::optional<TBitmap> Dib(const TRecordView& r, uint32_t off_bmi, uint32_t cb_bmi, uint32_t off_bits,
                                    uint32_t cb_bits) {
    if (cb_bmi == 0 || !r.Has(off_bmi, cb_bmi) || !r.Has(off_bits, cb_bits)) return std::nullopt;
    return DecodeDib(r.At(off_bmi), cb_bmi, r.At(off_bits), cb_bits);
  }

  static TFont FontOf(const TRecordView& r) {
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

  void Select(uint32_t index) {
    TObject o;
    if (index & kStockObject) {
      bool known;
      o = StockObject(index & ~kStockObject, known);
      if (!known) return;
    } else {
      const auto it = objects_.find(index);
      if (it == objects_.end()) return;
      o = it->second;
    }
    switch (o.Kind) {
      case TObject::TKind::Pen: dc_.SelectPen(o.Pen); break;
      case TObject::TKind::Brush: dc_.SelectBrush(o.Brush); break;
      case TObject::TKind::Font: dc_.SelectFont(o.Font); break;
      default: break;
    }
  }

  void Store(uint32_t index, TObject o) {
    if (index == 0 || (index & kStockObject)) return;  // 0 is the metafile itself
    objects_[index] = std::move(o);
  }

  void Text(const TRecordView& r, bool wide) {
    const size_t et = 36;
    const double x = r.S32(et), y = r.S32(et + 4);
    const uint32_t chars = r.U32(et + 8), off_string = r.U32(et + 12), options = r.U32(et + 16);
    std::optional<TRect> rect;
    size_t off_dx_at = et + 36;
    if (options & kEtoNoRect) {  // the rectangle is left out
      off_dx_at = et + 20;
    } else {
      rect = Rect(r.S32(et + 20), r.S32(et + 24), r.S32(et + 28), r.S32(et + 32));
    }
    if (!r.HasArray(off_string, chars, wide ? 2 : 1)) return;
    std::u32string text;
    if (!(options & kEtoGlyphIndex)) {  // glyph indices cannot be mapped back to characters
      for (uint32_t i = 0; i < chars; ++i) {
        if (wide) {
          char32_t c = r.U16(off_string + 2 * size_t{i});
          if (c >= 0xD800 && c < 0xDC00 && i + 1 < chars) {
            const char32_t lo = r.U16(off_string + 2 * size_t{i} + 2);
            if (lo >= 0xDC00 && lo < 0xE000) {
              c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
              ++i;
            }
          }
          text += c;
        } else {
          text += FromWindows1252(r.At(off_string + i), 1);
        }
      }
    }
    std::vector<double> dx;
    const uint32_t off_dx = r.U32(off_dx_at);
    const size_t step = (options & kEtoPdy) ? 2 : 1;  // x and y advances
    if (off_dx && r.HasArray(off_dx, uint64_t{chars} * step, 4)) {
      // Advances are per code unit; a surrogate pair's two add up.
      size_t unit = 0;
      for (char32_t c : text) {
        double a = r.S32(off_dx + 4 * step * unit);
        ++unit;
        if (wide && c >= 0x10000 && unit < chars) {
          a += r.S32(off_dx + 4 * step * unit);
          ++unit;
        }
        dx.push_back(a);
      }
    }
    dc_.TextOut(x, y, text, options, rect, dx);
  }

  // BITBLT, STRETCHBLT, ALPHABLEND, TRANSPARENTBLT share one layout.
  void Blt(const TRecordView& r, uint32_t type) {
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
      dib = Dib(r, off_bmi, cb_bmi, off_bits, cb_bits);
      if (!dib) return;
    }
    if (!std::isfinite(sx) || !std::isfinite(sy) || !std::isfinite(sw) || !std::isfinite(sh) ||
        std::fabs(sx) > 1e9 || std::fabs(sy) > 1e9 || std::fabs(sw) > 1e9 || std::fabs(sh) > 1e9)
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
    dc_.Blit(b);
  }

  void StretchDiBits(const TRecordView& r) {
    if (!r.Has(0, kEmrStretchDiBitsSize)) return;
    TBlit b;
    b.X = r.S32(24), b.Y = r.S32(28);
    const int32_t sx = r.S32(32), sy = r.S32(36), sw = r.S32(40), sh = r.S32(44);
    b.W = r.S32(72), b.H = r.S32(76);
    b.Rop = r.U32(68);
    std::optional<TBitmap> dib = Dib(r, r.U32(48), r.U32(52), r.U32(56), r.U32(60));
    if (!dib) {
      if (r.U32(52) == 0) dc_.Blit(b);  // no bitmap: a pattern or fixed-colour fill
      return;
    }
    Dibits(b, *dib, sx, sy, sw, sh, r);
  }

  // The source rectangle of the DIB functions counts rows from the bottom of a bottom-up DIB.
  void Dibits(TBlit& b, const TBitmap& dib, int32_t sx, int32_t sy, int32_t sw, int32_t sh, const TRecordView& r) {
    const bool bottom_up = DibBottomUp(r, r.U32(48));
    b.SrcX = sx;
    b.SrcW = sw;
    b.SrcH = sh;
    b.SrcY = bottom_up ? static_cast<int32_t>(std::clamp<int64_t>(int64_t{dib.Height()} - sy - sh, INT32_MIN, INT32_MAX)) : sy;
    b.Source = &dib;
    dc_.Blit(b);
  }

  void SetDiBitsToDevice(const TRecordView& r) {
    if (!r.Has(0, kEmrSetDiBitsToDeviceSize)) return;
    TBlit b;
    b.X = r.S32(24), b.Y = r.S32(28);
    const int32_t sx = r.S32(32), sy = r.S32(36), sw = r.S32(40), sh = r.S32(44);
    b.W = sw, b.H = sh;
    std::optional<TBitmap> dib = Dib(r, r.U32(48), r.U32(52), r.U32(56), r.U32(60));
    if (!dib) return;
    Dibits(b, *dib, sx, sy, sw, sh, r);
  }

  void Record(uint32_t type, const TRecordView& r) {
    std::vector<TPointD> pts;
    std::vector<std::vector<TPointD>> polys;
    switch (type) {
      case EMR_SETWINDOWEXTEX: dc_.SetWindowExt(r.S32(8), r.S32(12)); break;
      case EMR_SETWINDOWORGEX: dc_.SetWindowOrg(r.S32(8), r.S32(12)); break;
      case EMR_SETVIEWPORTEXTEX: dc_.SetViewportExt(r.S32(8), r.S32(12)); break;
      case EMR_SETVIEWPORTORGEX: dc_.SetViewportOrg(r.S32(8), r.S32(12)); break;
      case EMR_SCALEVIEWPORTEXTEX: dc_.ScaleViewportExt(r.S32(8), r.S32(12), r.S32(16), r.S32(20)); break;
      case EMR_SCALEWINDOWEXTEX: dc_.ScaleWindowExt(r.S32(8), r.S32(12), r.S32(16), r.S32(20)); break;
      case EMR_SETMAPMODE: dc_.SetMapMode(r.S32(8)); break;
      case EMR_SETBKMODE: dc_.SetBkMode(r.U32(8)); break;
      case EMR_SETPOLYFILLMODE: dc_.SetPolyFillMode(r.U32(8)); break;
      case EMR_SETROP2: dc_.SetRop2(r.U32(8)); break;
      case EMR_SETTEXTALIGN: dc_.SetTextAlign(r.U32(8)); break;
      case EMR_SETTEXTCOLOR: dc_.SetTextColor(r.U32(8)); break;
      case EMR_SETBKCOLOR: dc_.SetBkColor(r.U32(8)); break;
      case EMR_SETARCDIRECTION: dc_.SetArcDirection(r.U32(8)); break;
      case EMR_SETMITERLIMIT: dc_.SetMiterLimit(r.U32(8)); break;
      case EMR_SETBRUSHORGEX: dc_.SetBrushOrg(r.S32(8), r.S32(12)); break;
      case EMR_SAVEDC: dc_.SaveDC(); break;
      case EMR_RESTOREDC: dc_.RestoreDC(r.S32(8)); break;
      case EMR_SETWORLDTRANSFORM:
      case EMR_MODIFYWORLDTRANSFORM: {
        if (!r.Has(8, 24)) break;
        double m[6];
        for (int i = 0; i < 6; ++i) m[i] = r.F32(8 + 4 * i);
        if (type == EMR_SETWORLDTRANSFORM)
          dc_.SetWorldTransform(m);
        else
          dc_.ModifyWorldTransform(m, r.U32(32));
        break;
      }
      case EMR_SELECTOBJECT: Select(r.U32(8)); break;
      case EMR_DELETEOBJECT: objects_.erase(r.U32(8)); break;
      case EMR_CREATEPEN: {
        if (!r.Has(8, 20)) break;
        TObject o;
        o.Kind = TObject::TKind::Pen;
        o.Pen.Style = r.U32(12);
        o.Pen.Width = r.S32(16);
        o.Pen.Color = r.U32(24);
        Store(r.U32(8), o);
        break;
      }
      case EMR_EXTCREATEPEN: {
        if (!r.Has(28, 24)) break;
        TObject o;
        o.Kind = TObject::TKind::Pen;
        o.Pen.Style = r.U32(28);
        o.Pen.Width = r.U32(32);
        o.Pen.Color = r.U32(40);
        // A hollow brush draws nothing.
        if (r.U32(36) == kBsNull) o.Pen.Style = (o.Pen.Style & ~kPsStyleMask) | kPsNull;
        const uint32_t entries = r.U32(48);
        if ((o.Pen.Style & kPsStyleMask) == kPsUserStyle && entries <= 16 && r.HasArray(52, entries, 4))
          for (uint32_t i = 0; i < entries; ++i) o.Pen.Dashes.push_back(r.U32(52 + 4 * size_t{i}));
        Store(r.U32(8), o);
        break;
      }
      case EMR_CREATEBRUSHINDIRECT: {
        if (!r.Has(8, 16)) break;
        TObject o;
        o.Kind = TObject::TKind::Brush;
        o.Brush.Style = r.U32(12);
        o.Brush.Color = r.U32(16);
        o.Brush.Hatch = r.U32(20);
        Store(r.U32(8), o);
        break;
      }
      case EMR_CREATEMONOBRUSH:
      case EMR_CREATEDIBPATTERNBRUSHPT: {
        if (!r.Has(8, 24)) break;
        TObject o;
        o.Kind = TObject::TKind::Brush;
        o.Brush.Style = kBsPattern;
        if (auto dib = Dib(r, r.U32(16), r.U32(20), r.U32(24), r.U32(28)))
          o.Brush.Pattern = std::make_shared<const TBitmap>(std::move(*dib));
        Store(r.U32(8), o);
        break;
      }
      case EMR_EXTCREATEFONTINDIRECTW: {
        if (!r.Has(8, 32)) break;
        TObject o;
        o.Kind = TObject::TKind::Font;
        o.Font = FontOf(r);
        Store(r.U32(8), o);
        break;
      }
      case EMR_MOVETOEX: dc_.MoveTo(r.S32(8), r.S32(12)); break;
      case EMR_LINETO: dc_.LineTo(r.S32(8), r.S32(12)); break;
      case EMR_POLYBEZIER:
      case EMR_POLYGON:
      case EMR_POLYLINE:
      case EMR_POLYBEZIERTO:
      case EMR_POLYLINETO:
      case EMR_POLYBEZIER16:
      case EMR_POLYGON16:
      case EMR_POLYLINE16:
      case EMR_POLYBEZIERTO16:
      case EMR_POLYLINETO16: {
        const bool small = type >= EMR_POLYBEZIER16;
        if (!Points(r, 28, r.U32(24), small, pts)) break;
        switch (small ? type - (EMR_POLYBEZIER16 - EMR_POLYBEZIER) : type) {
          case EMR_POLYBEZIER: dc_.PolyBezier(pts); break;
          case EMR_POLYGON: dc_.Polygon(pts); break;
          case EMR_POLYLINE: dc_.Polyline(pts); break;
          case EMR_POLYBEZIERTO: dc_.PolyBezierTo(pts); break;
          case EMR_POLYLINETO: dc_.PolylineTo(pts); break;
          default: break;
        }
        break;
      }
      case EMR_POLYPOLYLINE:
      case EMR_POLYPOLYGON:
      case EMR_POLYPOLYLINE16:
      case EMR_POLYPOLYGON16: {
        const bool small = type >= EMR_POLYPOLYLINE16;
        if (!PolyPoints(r, small, polys)) break;
        if (type == EMR_POLYPOLYGON || type == EMR_POLYPOLYGON16)
          dc_.PolyPolygon(polys);
        else
          dc_.PolyPolyline(polys);
        break;
      }
      case EMR_POLYDRAW:
      case EMR_POLYDRAW16: {
        const uint32_t n = r.U32(24);
        const bool small = type == EMR_POLYDRAW16;
        if (!Points(r, 28, n, small, pts)) break;
        const size_t types_at = 28 + size_t{n} * (small ? 4 : 8);
        if (!r.Has(types_at, n)) break;
        dc_.PolyDraw(pts, std::vector<uint8_t>(r.At(types_at), r.At(types_at) + n));
        break;
      }
      case EMR_RECTANGLE: dc_.Rectangle(r.S32(8), r.S32(12), r.S32(16), r.S32(20)); break;
      case EMR_ELLIPSE: dc_.Ellipse(r.S32(8), r.S32(12), r.S32(16), r.S32(20)); break;
      case EMR_ROUNDRECT:
        dc_.RoundRect(r.S32(8), r.S32(12), r.S32(16), r.S32(20), r.S32(24), r.S32(28));
        break;
      case EMR_ARC:
      case EMR_ARCTO:
      case EMR_CHORD:
      case EMR_PIE: {
        const TPlayer::TArcKind kind = type == EMR_ARC     ? TPlayer::TArcKind::Arc
                                       : type == EMR_ARCTO ? TPlayer::TArcKind::ArcTo
                                       : type == EMR_CHORD ? TPlayer::TArcKind::Chord
                                                           : TPlayer::TArcKind::Pie;
        dc_.Arc(kind, r.S32(8), r.S32(12), r.S32(16), r.S32(20), Pt(r, 24), Pt(r, 32));
        break;
      }
      case EMR_ANGLEARC: dc_.AngleArc(r.S32(8), r.S32(12), r.U32(16), r.F32(20), r.F32(24)); break;
      case EMR_SETPIXELV: dc_.SetPixel(r.S32(8), r.S32(12), r.U32(16)); break;
      case EMR_BEGINPATH: dc_.BeginPath(); break;
      case EMR_ENDPATH: dc_.EndPath(); break;
      case EMR_ABORTPATH: dc_.AbortPath(); break;
      case EMR_CLOSEFIGURE: dc_.CloseFigure(); break;
      case EMR_FILLPATH: dc_.FillPath(); break;
      case EMR_STROKEPATH: dc_.StrokePath(); break;
      case EMR_STROKEANDFILLPATH: dc_.StrokeAndFillPath(); break;
      case EMR_SELECTCLIPPATH: dc_.SelectClipPath(r.U32(8)); break;
      case EMR_INTERSECTCLIPRECT: dc_.IntersectClipRect(r.S32(8), r.S32(12), r.S32(16), r.S32(20)); break;
      case EMR_EXCLUDECLIPRECT: dc_.ExcludeClipRect(r.S32(8), r.S32(12), r.S32(16), r.S32(20)); break;
      case EMR_OFFSETCLIPRGN: dc_.OffsetClip(r.S32(8), r.S32(12)); break;
      case EMR_EXTSELECTCLIPRGN: {
        const uint32_t cb = r.U32(8), mode = r.U32(12);
        TRects rects;
        if (cb == 0)
          dc_.SelectClipRects(nullptr, mode);
        else if (RegionRects(r, 16, cb, rects))
          dc_.SelectClipRects(&rects, mode);
        break;
      }
      case EMR_FILLRGN: {
        TRects rects;
        const auto it = objects_.find(r.U32(28));
        if (it == objects_.end() || it->second.Kind != TObject::TKind::Brush) break;
        if (RegionRects(r, 32, r.U32(24), rects)) dc_.FillRects(rects, it->second.Brush);
        break;
      }
      case EMR_PAINTRGN: {
        TRects rects;
        if (RegionRects(r, 28, r.U32(24), rects)) dc_.FillRects(rects, dc_.Brush());
        break;
      }
      case EMR_BITBLT:
      case EMR_STRETCHBLT:
      case EMR_ALPHABLEND:
      case EMR_TRANSPARENTBLT: Blt(r, type); break;
      case EMR_STRETCHDIBITS: StretchDiBits(r); break;
      case EMR_SETDIBITSTODEVICE: SetDiBitsToDevice(r); break;
      case EMR_EXTTEXTOUTW: Text(r, true); break;
      case EMR_EXTTEXTOUTA: Text(r, false); break;
      default: break;
    }
  }

  TPlayer& dc_;
  const std::vector<uint8_t>& emf_;
  std::unordered_map<uint32_t, TObject> objects_;
};

}  // namespace

void PlayEmf(const std::vector<uint8_t>& emf, cairo_t* cr, const TRect& area, const TRect& rect) {
  TEmfInfo info;
  if (!ParseEmfHeader(emf.data(), emf.size(), info)) return;
  // The frame, in device units, fills rect.
  double fx0 = info.Frame[0] * info.DevicePerHmmX, fy0 = info.Frame[1] * info.DevicePerHmmY;
  double fx1 = info.Frame[2] * info.DevicePerHmmX, fy1 = info.Frame[3] * info.DevicePerHmmY;
  if (!(fx1 > fx0) || !(fy1 > fy0)) {
    fx0 = info.Bounds[0], fy0 = info.Bounds[1];
    fx1 = info.Bounds[2] + 1.0, fy1 = info.Bounds[3] + 1.0;
    if (!(fx1 > fx0) || !(fy1 > fy0)) return;
  }
  const double sx = rect.Width() / (fx1 - fx0), sy = rect.Height() / (fy1 - fy0);
  cairo_matrix_t base;
  cairo_matrix_init(&base, sx, 0, 0, sy, rect.Left - fx0 * sx, rect.Top - fy0 * sy);
  TPlayer dc(cr, area, base, info.DevicePerHmmX * 100, info.DevicePerHmmY * 100);
  TEmfPlayer(dc, emf).Run();
}

}  // namespace pellavo::metafile
