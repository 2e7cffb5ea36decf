#pragma once
// A drawing context in the manner of the metafile formats' own model (map modes, window and
// viewport, world transform, pens, brushes, fonts, paths, clip regions), drawn through Cairo.
// The EMF and WMF readers decode records and call it; it never sees record bytes itself.
//
// Its member functions are defined by concern: player.cpp (construction, saved states),
// player_mapping.cpp, player_clip.cpp, player_paint.cpp (pens and brushes as Cairo sources),
// player_shapes.cpp, player_arcs.cpp, player_paths.cpp, player_blit.cpp and player_text.cpp.
#include <cairo.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/color.h"
#include "core/rect.h"
#include "formats/bmp/bitmap.h"
#include "formats/metafile/cairo_handles.h"
#include "formats/metafile/gdi_constants.h"

namespace pellavo::metafile {

struct TPointD {
  double x = 0, y = 0;
};

// A colour as the formats store it: 0x00BBGGRR.
using TColorRef = uint32_t;

struct TPen {
  uint32_t Style = kPsSolid;  // line style, end cap and join bits, geometric pen bit
  double Width = 0;    // logical units; 0 is one device pixel
  TColorRef Color = 0;
  std::vector<double> Dashes;  // user-style dash lengths, logical units
};

struct TBrush {
  uint32_t Style = kBsSolid;
  TColorRef Color = 0xFFFFFF;
  uint32_t Hatch = kHsHorizontal;
  std::shared_ptr<const TBitmap> Pattern;  // pattern brushes
};

struct TFont {
  double Height = 0;  // logical units: < 0 the character height, > 0 the cell height
  double Width = 0;
  double Escapement = 0;  // tenths of a degree, counter-clockwise
  int32_t Weight = kFwNormal;
  bool Italic = false, Underline = false, StrikeOut = false;
  std::string Face;  // UTF-8
};

// What a bitmap record asks for.
struct TBlit {
  enum class TKind : uint8_t { Rop, Alpha, Transparent };
  double X = 0, Y = 0, W = 0, H = 0;  // destination, logical units
  int32_t SrcX = 0, SrcY = 0, SrcW = 0, SrcH = 0;
  const TBitmap* Source = nullptr;  // null: the raster operation works on pattern and target only
  uint32_t Rop = kSrcCopy;
  TKind Kind = TKind::Rop;
  uint8_t ConstantAlpha = 255;  // alpha blend
  bool SourceAlpha = false;     // alpha blend: the bitmap's fourth byte is its alpha
  TColorRef TransparentColor = 0;
};

// A rectangle list, right and bottom exclusive.
using TRects = std::vector<TRect>;

class TPlayer {
 public:
  // cr draws onto an image surface whose user space is the target's pixels; target is the part
  // of them it holds. base maps the context's device units onto those pixels; px_per_mm is the
  // number of device units in a millimetre, for the metric map modes.
  TPlayer(cairo_t* cr, const TRect& target, const cairo_matrix_t& base, double px_per_mm_x, double px_per_mm_y);
  TPlayer(const TPlayer&) = delete;
  TPlayer& operator=(const TPlayer&) = delete;

  // Mapping.
  void SetMapMode(int32_t mode);
  void SetWindowOrg(double x, double y);
  void SetWindowExt(double x, double y);
  void SetViewportOrg(double x, double y);
  void SetViewportExt(double x, double y);
  void OffsetWindowOrg(double dx, double dy);
  void OffsetViewportOrg(double dx, double dy);
  void ScaleWindowExt(double xn, double xd, double yn, double yd);
  void ScaleViewportExt(double xn, double xd, double yn, double yd);
  // m = {eM11, eM12, eM21, eM22, eDx, eDy}
  void SetWorldTransform(const double m[6]);
  void ModifyWorldTransform(const double m[6], uint32_t mode);
  void SetInitialWindow(double org_x, double org_y, double ext_x, double ext_y);

  void SaveDC();
  void RestoreDC(int32_t which);

  // Attributes.
  void SetBkMode(uint32_t mode) { st_.BkMode = mode; }
  void SetBkColor(TColorRef c) { st_.BkColor = c; }
  void SetTextColor(TColorRef c) { st_.TextColor = c; }
  void SetTextAlign(uint32_t a) { st_.TextAlign = a; }
  void SetPolyFillMode(uint32_t m) { st_.PolyFill = m; }
  void SetRop2(uint32_t r) { st_.Rop2 = r; }
  void SetArcDirection(uint32_t d) { st_.ArcClockwise = d == kAdClockwise; }
  void SetMiterLimit(double m) { st_.MiterLimit = m; }
  void SetBrushOrg(double x, double y) { st_.BrushOrgX = x; st_.BrushOrgY = y; }
  void SelectPen(const TPen& pen) { st_.Pen = pen; }
  void SelectBrush(const TBrush& brush) { st_.Brush = brush; }
  void SelectFont(const TFont& font) { st_.Font = font; }
  const TBrush& Brush() const { return st_.Brush; }

  // Drawing. Coordinates are logical.
  void MoveTo(double x, double y);
  void LineTo(double x, double y);
  void Polyline(const std::vector<TPointD>& pts);
  void PolylineTo(const std::vector<TPointD>& pts);
  void PolyBezier(const std::vector<TPointD>& pts);
  void PolyBezierTo(const std::vector<TPointD>& pts);
  void PolyDraw(const std::vector<TPointD>& pts, const std::vector<uint8_t>& types);
  void Polygon(const std::vector<TPointD>& pts);
  void PolyPolygon(const std::vector<std::vector<TPointD>>& polys);
  void PolyPolyline(const std::vector<std::vector<TPointD>>& polys);
  void Rectangle(double l, double t, double r, double b);
  void RoundRect(double l, double t, double r, double b, double w, double h);
  void Ellipse(double l, double t, double r, double b);
  enum class TArcKind : uint8_t { Arc, ArcTo, Chord, Pie };
  void Arc(TArcKind kind, double l, double t, double r, double b, TPointD start, TPointD end);
  void AngleArc(double x, double y, double radius, double start_deg, double sweep_deg);
  void SetPixel(double x, double y, TColorRef c);
  // Rectangles in logical units, filled with brush (FillRgn, PaintRgn).
  void FillRects(const TRects& rects, const TBrush& brush);

  // Paths.
  void BeginPath();
  void EndPath();
  void AbortPath();
  void CloseFigure();
  void FillPath();
  void StrokePath();
  void StrokeAndFillPath();
  void SelectClipPath(uint32_t mode);

  // Clipping. Region rectangles are device units.
  void IntersectClipRect(double l, double t, double r, double b);
  void ExcludeClipRect(double l, double t, double r, double b);
  void OffsetClip(double dx, double dy);  // logical units
  void SelectClipRects(const TRects* device_rects, uint32_t mode);  // null: no clip (with RGN_COPY)

  void Blit(const TBlit& blit);

  // opaque_rect/clip_rect in logical units; dx: advances in logical units, one per character
  // (empty: the font's own); options: the kEto* flags.
  void TextOut(double x, double y, const std::u32string& text, uint32_t options,
               const std::optional<TRect>& rect, const std::vector<double>& dx);

 private:
  struct TState {
    int32_t MapMode = kMmText;
    double WinOrgX = 0, WinOrgY = 0, WinExtX = 1, WinExtY = 1;
    double VpOrgX = 0, VpOrgY = 0, VpExtX = 1, VpExtY = 1;
    cairo_matrix_t World;
    TPen Pen;
    TBrush Brush;
    TFont Font;
    TColorRef TextColor = 0, BkColor = 0xFFFFFF;
    uint32_t BkMode = kBkOpaque, TextAlign = 0, PolyFill = kAlternate, Rop2 = kR2CopyPen;
    bool ArcClockwise = false;
    double MiterLimit = 10;
    double BrushOrgX = 0, BrushOrgY = 0;
    double CurX = 0, CurY = 0;
    // Target pixels; null: nothing clipped. Never changed once made, so saved states share it.
    std::shared_ptr<const cairo_region_t> Clip;
  };

  // Mapping.
  cairo_matrix_t PageMatrix() const;
  // world, then page, then base: logical units to target pixels.
  cairo_matrix_t FullMatrix() const;
  bool UseLogical();  // sets cr's matrix to FullMatrix; false when it cannot be inverted
  void UseTarget();   // identity: target pixels
  TPointD ToTarget(double x, double y) const;

  // Clipping.
  void ApplyClip();
  void SetClip(std::shared_ptr<const cairo_region_t> region);
  void CombineClip(const cairo_region_t* with, uint32_t mode);
  // The region covered by cr's current path (target pixels), by rasterising it.
  TRegionPtr RegionOfPath(cairo_fill_rule_t rule);
  // The region a logical rectangle covers (target pixels).
  TRegionPtr RegionOfRect(double l, double t, double r, double b);

  // Pens and brushes as Cairo sources.
  void SetColorSource(TColorRef c);
  bool SetBrushSource(const TBrush& brush);
  cairo_fill_rule_t FillRule() const;
  void FillCurrent(const TBrush& brush, bool preserve);
  void StrokeCurrent(bool preserve);

  // Shapes, built into the current path (the open path bracket or a fresh one).
  void StartShape();
  void FinishShape(bool fill, bool stroke);
  // Whether the current path stays within a sane distance of the target.
  bool PathWithinReach();
  // Adds pts (at least one point) to the current path as one figure.
  void AppendPolyline(const std::vector<TPointD>& pts, bool closed);
  // Starts the figure at the current position, unless the open path bracket has one going.
  void ContinueFromCurrent();
  void ArcPath(double l, double t, double r, double b, TPointD start, TPointD end, bool connect);

  // Paths.
  template <class Paint>
  void PaintRecordedPath(Paint&& paint);
  // Moves the closed path bracket into cr's current path (target pixels); false, leaving no
  // path, when it reaches too far.
  bool LoadRecordedPath();

  // Bitmaps: upright ones pixel by pixel, rotated or sheared ones through Cairo.
  void BlitPixels(const TBlit& blit, const TRect& dest, bool flip_x, bool flip_y);
  void BlitTransformed(const TBlit& blit);

  cairo_t* cr_;
  cairo_matrix_t base_;
  double px_per_mm_x_, px_per_mm_y_;
  TRect target_;  // the pixels cr can reach
  TState st_;
  std::vector<TState> saved_;
  bool in_path_ = false;
  TPathPtr path_;  // the closed path bracket, target pixels
  bool clip_applied_ = false;
};

// Text of the Western Windows code page (1252), which ANSI text records are taken to be in.
std::u32string FromWindows1252(const uint8_t* text, size_t count);

}  // namespace pellavo::metafile
