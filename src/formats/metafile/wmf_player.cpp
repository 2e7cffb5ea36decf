// Windows metafile records, decoded and handed to the player. Parameters are 16-bit words,
// most of them stored last-argument first. Objects take the lowest free slot of the table.
#include <cmath>

#include "core/limits.h"
#include "formats/metafile/dib.h"
#include "formats/metafile/playback.h"
#include "formats/metafile/player.h"
#include "formats/metafile/records.h"

namespace pellavo::metafile {
namespace {

struct TWmfObject {
  enum class TKind : uint8_t { Empty, Other, Pen, Brush, Font } Kind = TKind::Empty;
  TPen Pen;
  TBrush Brush;
  TFont Font;
};

class TWmfPlayer {
 public:
  TWmfPlayer(TPlayer& dc, const std::vector<uint8_t>& wmf) : dc_(dc), wmf_(wmf) {}

  void Run() {
    if (wmf_.size() < kWmfHeaderSize) return;
    const size_t header = size_t{Get16(&wmf_[2])} * 2;
    objects_.resize(std::min<size_t>(Get16(&wmf_[10]), kMaxWmfObjects));
    size_t off = header;
    while (off + 6 <= wmf_.size()) {
      const uint64_t size = uint64_t{Get32(&wmf_[off])} * 2;
      const uint16_t function = Get16(&wmf_[off + 4]);
      if (size < 6 || size > wmf_.size() - off) break;
      if (function == META_EOF) break;
      Record(function, TRecordView(&wmf_[off], static_cast<size_t>(size)));
      off += static_cast<size_t>(size);
    }
  }

 private:
  // Parameter word i (counting from the first after the function number).
  static int16_t P(const TRecordView& r, size_t i) { return r.S16(6 + 2 * i); }
  static uint16_t U(const TRecordView& r, size_t i) { return r.U16(6 + 2 * i); }
  static uint32_t U32At(const TRecordView& r, size_t i) { return r.U32(6 + 2 * i); }

  static bool Points(const TRecordView& r, size_t at, size_t count, std::vector<TPointD>& out) {
    if (!r.HasArray(at, count, 4)) return false;
    out.resize(count);
    for (size_t i = 0; i < count; ++i) out[i] = {double(r.S16(at + 4 * i)), double(r.S16(at + 4 * i + 2))};
    return true;
  }

  void Add(TWmfObject o) {
    for (TWmfObject& slot : objects_)
      if (slot.Kind == TWmfObject::TKind::Empty) {
        slot = std::move(o);
        return;
      }
    if (objects_.size() < kMaxWmfObjects) objects_.push_back(std::move(o));
  }

  void Select(uint16_t index) {
    if (index >= objects_.size()) return;
    const TWmfObject& o = objects_[index];
    switch (o.Kind) {
      case TWmfObject::TKind::Pen: dc_.SelectPen(o.Pen); break;
      case TWmfObject::TKind::Brush: dc_.SelectBrush(o.Brush); break;
      case TWmfObject::TKind::Font: dc_.SelectFont(o.Font); break;
      default: break;
    }
  }

  static std::u32string Ansi(const uint8_t* p, size_t n) { return FromWindows1252(p, n); }

  void DibBlit(const TRecordView& r, uint16_t function) {
    TBlit b;
    size_t dib_at;
    int32_t sx = 0, sy = 0, sw, sh;
    const bool has_bitmap = r.Size() != (static_cast<size_t>(function >> 8) + 3) * 2;
    switch (function) {
      case META_STRETCHDIB:  // rop, usage, src h, src w, src y, src x, dst h, dst w, dst y, dst x, DIB
        b.Rop = U32At(r, 0);
        sh = P(r, 3), sw = P(r, 4), sy = P(r, 5), sx = P(r, 6);
        b.H = P(r, 7), b.W = P(r, 8), b.Y = P(r, 9), b.X = P(r, 10);
        dib_at = 6 + 2 * 11;
        break;
      case META_DIBSTRETCHBLT:  // rop, src h, src w, src y, src x, dst h, dst w, dst y, dst x, DIB
        b.Rop = U32At(r, 0);
        if (!has_bitmap) {  // a reserved word before the destination, no bitmap
          b.H = P(r, 7), b.W = P(r, 8), b.Y = P(r, 9), b.X = P(r, 10);
          return dc_.Blit(b);
        }
        sh = P(r, 2), sw = P(r, 3), sy = P(r, 4), sx = P(r, 5);
        b.H = P(r, 6), b.W = P(r, 7), b.Y = P(r, 8), b.X = P(r, 9);
        dib_at = 6 + 2 * 10;
        break;
      case META_DIBBITBLT:  // rop, src y, src x, h, w, dst y, dst x, DIB
        b.Rop = U32At(r, 0);
        if (!has_bitmap) {  // a reserved word before the size, no bitmap
          b.H = P(r, 5), b.W = P(r, 6), b.Y = P(r, 7), b.X = P(r, 8);
          return dc_.Blit(b);
        }
        sy = P(r, 2), sx = P(r, 3);
        b.H = sh = P(r, 4), b.W = sw = P(r, 5), b.Y = P(r, 6), b.X = P(r, 7);
        dib_at = 6 + 2 * 8;
        break;
      case META_SETDIBTODEV:  // usage, scans, start scan, src y, src x, h, w, dst y, dst x, DIB
        sy = P(r, 3), sx = P(r, 4);
        b.H = sh = P(r, 5), b.W = sw = P(r, 6), b.Y = P(r, 7), b.X = P(r, 8);
        dib_at = 6 + 2 * 9;
        break;
      default: return;
    }
    if (!r.Has(dib_at, 4)) return;
    // The bits follow the information header and colour table directly: the reader finds them.
    std::optional<TBitmap> dib = DecodeDib(r.At(dib_at), r.Size() - dib_at, nullptr, 0);
    if (!dib) return;
    b.Source = &*dib;
    b.SrcX = sx, b.SrcW = sw, b.SrcH = sh;
    // The DIB functions count source rows from the bottom of a bottom-up DIB; the blits of a
    // device context from its top.
    const bool dib_function = function == META_STRETCHDIB || function == META_SETDIBTODEV;
    const bool bottom_up = DibBottomUp(r, dib_at);
    b.SrcY = dib_function && bottom_up ? dib->Height() - sy - sh : sy;
    dc_.Blit(b);
  }

  void Record(uint16_t function, const TRecordView& r) {
    std::vector<TPointD> pts;
    switch (function) {
      case META_SAVEDC: dc_.SaveDC(); break;
      case META_RESTOREDC: dc_.RestoreDC(P(r, 0)); break;
      case META_SETBKMODE: dc_.SetBkMode(U(r, 0)); break;
      case META_SETMAPMODE: dc_.SetMapMode(U(r, 0)); break;
      case META_SETROP2: dc_.SetRop2(U(r, 0)); break;
      case META_SETPOLYFILLMODE: dc_.SetPolyFillMode(U(r, 0)); break;
      case META_SETTEXTALIGN: dc_.SetTextAlign(U(r, 0)); break;
      case META_SETBKCOLOR: dc_.SetBkColor(U32At(r, 0)); break;
      case META_SETTEXTCOLOR: dc_.SetTextColor(U32At(r, 0)); break;
      case META_SETWINDOWORG: dc_.SetWindowOrg(P(r, 1), P(r, 0)); break;
      case META_SETWINDOWEXT: dc_.SetWindowExt(P(r, 1), P(r, 0)); break;
      case META_SETVIEWPORTORG: dc_.SetViewportOrg(P(r, 1), P(r, 0)); break;
      case META_SETVIEWPORTEXT: dc_.SetViewportExt(P(r, 1), P(r, 0)); break;
      case META_OFFSETWINDOWORG: dc_.OffsetWindowOrg(P(r, 1), P(r, 0)); break;
      case META_OFFSETVIEWPORTORG: dc_.OffsetViewportOrg(P(r, 1), P(r, 0)); break;
      case META_SCALEWINDOWEXT: dc_.ScaleWindowExt(P(r, 3), P(r, 2), P(r, 1), P(r, 0)); break;
      case META_SCALEVIEWPORTEXT: dc_.ScaleViewportExt(P(r, 3), P(r, 2), P(r, 1), P(r, 0)); break;
      case META_SELECTOBJECT: Select(U(r, 0)); break;
      case META_DELETEOBJECT:
        if (U(r, 0) < objects_.size()) objects_[U(r, 0)] = TWmfObject{};
        break;
      case META_CREATEPENINDIRECT: {
        TWmfObject o;
        o.Kind = TWmfObject::TKind::Pen;
        o.Pen.Style = U(r, 0);
        o.Pen.Width = P(r, 1);
        o.Pen.Color = U32At(r, 3);
        Add(o);
        break;
      }
      case META_CREATEBRUSHINDIRECT: {
        TWmfObject o;
        o.Kind = TWmfObject::TKind::Brush;
        o.Brush.Style = U(r, 0);
        o.Brush.Color = U32At(r, 1);
        o.Brush.Hatch = U(r, 3);
        Add(o);
        break;
      }
      case META_DIBCREATEPATTERNBRUSH: {
        TWmfObject o;
        o.Kind = TWmfObject::TKind::Brush;
        o.Brush.Style = kBsPattern;
        if (r.Has(10, 4))
          if (auto dib = DecodeDib(r.At(10), r.Size() - 10, nullptr, 0))
            o.Brush.Pattern = std::make_shared<const TBitmap>(std::move(*dib));
        Add(o);
        break;
      }
      case META_CREATEFONTINDIRECT: {
        TWmfObject o;
        o.Kind = TWmfObject::TKind::Font;
        o.Font.Height = P(r, 0);
        o.Font.Width = P(r, 1);
        o.Font.Escapement = P(r, 2);
        o.Font.Weight = P(r, 4);
        o.Font.Italic = r.Has(16, 1) && *r.At(16);
        o.Font.Underline = r.Has(17, 1) && *r.At(17);
        o.Font.StrikeOut = r.Has(18, 1) && *r.At(18);
        for (size_t i = 24; i < 24 + 32 && r.Has(i, 1) && *r.At(i); ++i)
          o.Font.Face += *r.At(i) < 0x80 ? char(*r.At(i)) : '?';
        Add(o);
        break;
      }
      case META_CREATEPALETTE:
      case META_CREATEREGION: {
        TWmfObject o;
        o.Kind = TWmfObject::TKind::Other;  // takes its slot, draws nothing
        Add(o);
        break;
      }
      case META_MOVETO: dc_.MoveTo(P(r, 1), P(r, 0)); break;
      case META_LINETO: dc_.LineTo(P(r, 1), P(r, 0)); break;
      case META_POLYGON:
      case META_POLYLINE: {
        const int16_t n = P(r, 0);
        if (n < 0 || !Points(r, 8, size_t(n), pts)) break;
        if (function == META_POLYGON)
          dc_.Polygon(pts);
        else
          dc_.Polyline(pts);
        break;
      }
      case META_POLYPOLYGON: {
        const uint16_t polys = U(r, 0);
        if (!r.HasArray(8, polys, 2)) break;
        size_t at = 8 + size_t{polys} * 2;
        std::vector<std::vector<TPointD>> all;
        bool ok = true;
        for (uint16_t i = 0; i < polys && ok; ++i) {
          const size_t n = r.U16(8 + 2 * size_t{i});
          ok = Points(r, at, n, pts);
          all.push_back(pts);
          at += n * 4;
        }
        if (ok) dc_.PolyPolygon(all);
        break;
      }
      case META_RECTANGLE: dc_.Rectangle(P(r, 3), P(r, 2), P(r, 1), P(r, 0)); break;
      case META_ELLIPSE: dc_.Ellipse(P(r, 3), P(r, 2), P(r, 1), P(r, 0)); break;
      case META_ROUNDRECT: dc_.RoundRect(P(r, 5), P(r, 4), P(r, 3), P(r, 2), P(r, 1), P(r, 0)); break;
      case META_ARC:
      case META_PIE:
      case META_CHORD: {
        const TPlayer::TArcKind kind = function == META_ARC   ? TPlayer::TArcKind::Arc
                                       : function == META_PIE ? TPlayer::TArcKind::Pie
                                                              : TPlayer::TArcKind::Chord;
        dc_.Arc(kind, P(r, 7), P(r, 6), P(r, 5), P(r, 4), TPointD{double(P(r, 3)), double(P(r, 2))},
                TPointD{double(P(r, 1)), double(P(r, 0))});
        break;
      }
      case META_SETPIXEL: dc_.SetPixel(P(r, 3), P(r, 2), U32At(r, 0)); break;
      case META_PATBLT: {
        TBlit b;
        b.Rop = U32At(r, 0);
        b.H = P(r, 2), b.W = P(r, 3), b.Y = P(r, 4), b.X = P(r, 5);
        dc_.Blit(b);
        break;
      }
      case META_INTERSECTCLIPRECT: dc_.IntersectClipRect(P(r, 3), P(r, 2), P(r, 1), P(r, 0)); break;
      case META_EXCLUDECLIPRECT: dc_.ExcludeClipRect(P(r, 3), P(r, 2), P(r, 1), P(r, 0)); break;
      case META_OFFSETCLIPRGN: dc_.OffsetClip(P(r, 1), P(r, 0)); break;
      case META_SELECTCLIPREGION:
        // Regions are not kept; selecting one resets the clip, as selecting none does.
        dc_.SelectClipRects(nullptr, kRgnCopy);
        break;
      case META_TEXTOUT: {
        const uint16_t n = U(r, 0);
        const size_t padded = (size_t{n} + 1) & ~size_t{1};
        if (!r.Has(8, padded + 4)) break;
        dc_.TextOut(r.S16(8 + padded + 2), r.S16(8 + padded), Ansi(r.At(8), n), 0, std::nullopt, {});
        break;
      }
      case META_EXTTEXTOUT: {
        const double y = P(r, 0), x = P(r, 1);
        const uint16_t n = U(r, 2), options = U(r, 3);
        size_t at = 14;
        std::optional<TRect> rect;
        if (options & (kEtoOpaque | kEtoClipped)) {  // a rectangle follows
          if (!r.Has(at, 8)) break;
          rect = Rect(r.S16(at), r.S16(at + 2), r.S16(at + 4), r.S16(at + 6));
          at += 8;
        }
        if (!r.Has(at, n)) break;
        const std::u32string text = Ansi(r.At(at), n);
        at += (size_t{n} + 1) & ~size_t{1};
        std::vector<double> dx;
        if (r.HasArray(at, n, 2))
          for (size_t i = 0; i < n; ++i) dx.push_back(r.S16(at + 2 * i));
        dc_.TextOut(x, y, text, options, rect, dx);
        break;
      }
      case META_STRETCHDIB:
      case META_DIBSTRETCHBLT:
      case META_DIBBITBLT:
      case META_SETDIBTODEV: DibBlit(r, function); break;
      default: break;
    }
  }

  TPlayer& dc_;
  const std::vector<uint8_t>& wmf_;
  std::vector<TWmfObject> objects_;
};

}  // namespace

void PlayWmf(const std::vector<uint8_t>& wmf, const int16_t bbox[4], uint16_t inch, cairo_t* cr,
             const TRect& area, const TRect& rect) {
  const double w = double(bbox[2]) - bbox[0], h = double(bbox[3]) - bbox[1];
  if (w == 0 || h == 0) return;
  // Device units are the bounding box's own, and the box fills rect.
  cairo_matrix_t base;
  cairo_matrix_init(&base, rect.Width() / w, 0, 0, rect.Height() / h, rect.Left, rect.Top);
  const double per_mm = (inch ? inch : 96) / 25.4;
  TPlayer dc(cr, area, base, per_mm, per_mm);
  dc.SetInitialWindow(bbox[0], bbox[1], w, h);
  TWmfPlayer(dc, wmf).Run();
}

}  // namespace pellavo::metafile
