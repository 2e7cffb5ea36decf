// Enhanced metafile records, decoded and handed to the player. A record the player cannot use,
// or one whose counts and offsets do not fit inside it, is skipped. The object table and the
// records of a few fields are here; objects, bitmaps and text are decoded apart (emf_records.h).
#include <optional>
#include <unordered_map>

#include "formats/metafile/emf_records.h"
#include "formats/metafile/playback.h"
#include "formats/metafile/player.h"
#include "formats/metafile/records.h"

namespace pellavo::metafile {
namespace {

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

  void Select(uint32_t index) {
    TEmfObject o;
    if (index & kStockObject) {
      std::optional<TEmfObject> stock = EmfStockObject(index & ~kStockObject);
      if (!stock) return;
      o = std::move(*stock);
    } else {
      const auto it = objects_.find(index);
      if (it == objects_.end()) return;
      o = it->second;
    }
    switch (o.Kind) {
      case TEmfObject::TKind::Pen: dc_.SelectPen(o.Pen); break;
      case TEmfObject::TKind::Brush: dc_.SelectBrush(o.Brush); break;
      case TEmfObject::TKind::Font: dc_.SelectFont(o.Font); break;
      default: break;
    }
  }

  void Store(uint32_t index, TEmfObject o) {
    if (index == 0 || (index & kStockObject)) return;  // 0 is the metafile itself
    objects_[index] = std::move(o);
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
      case EMR_CREATEPEN:
      case EMR_EXTCREATEPEN:
      case EMR_CREATEBRUSHINDIRECT:
      case EMR_CREATEMONOBRUSH:
      case EMR_CREATEDIBPATTERNBRUSHPT:
      case EMR_EXTCREATEFONTINDIRECTW:
        if (std::optional<TEmfObject> o = EmfCreatedObject(type, r)) Store(r.U32(8), std::move(*o));
        break;
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
        if (it == objects_.end() || it->second.Kind != TEmfObject::TKind::Brush) break;
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
      case EMR_TRANSPARENTBLT: PlayEmfBlt(dc_, r, type); break;
      case EMR_STRETCHDIBITS: PlayEmfStretchDiBits(dc_, r); break;
      case EMR_SETDIBITSTODEVICE: PlayEmfSetDiBitsToDevice(dc_, r); break;
      case EMR_EXTTEXTOUTW: PlayEmfText(dc_, r, true); break;
      case EMR_EXTTEXTOUTA: PlayEmfText(dc_, r, false); break;
      default: break;
    }
  }

  TPlayer& dc_;
  const std::vector<uint8_t>& emf_;
  std::unordered_map<uint32_t, TEmfObject> objects_;
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
