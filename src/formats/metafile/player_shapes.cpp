// Lines, polygons, Bézier curves, rectangles and pixels. Each shape is built in logical units
// into the current path; outside a path bracket it is then filled and outlined at once.
#include <algorithm>
#include <cmath>

#include "formats/metafile/player.h"
#include "formats/metafile/player_support.h"

namespace pellavo::metafile {

void TPlayer::StartShape() {
  if (!in_path_) {
    ApplyClip();
    cairo_new_path(cr_);
  }
}

bool TPlayer::PathWithinReach() {
  UseTarget();
  double x0, y0, x1, y1;
  cairo_path_extents(cr_, &x0, &y0, &x1, &y1);
  // Cairo flattens curves to the pixel whatever their size: a shape millions of pixels across
  // comes only from a broken transform and would take it minutes.
  return std::fabs(x0) < kFar && std::fabs(y0) < kFar && std::fabs(x1) < kFar && std::fabs(y1) < kFar;
}

void TPlayer::FinishShape(bool fill, bool stroke) {
  if (in_path_) return;
  if (!PathWithinReach()) return cairo_new_path(cr_);
  if (fill) FillCurrent(st_.Brush, true);
  if (stroke) StrokeCurrent(true);
  cairo_new_path(cr_);
}

void TPlayer::ContinueFromCurrent() {
  if (!in_path_ || !cairo_has_current_point(cr_)) cairo_move_to(cr_, st_.CurX, st_.CurY);
}

void TPlayer::AppendPolyline(const std::vector<TPointD>& pts, bool closed) {
  cairo_move_to(cr_, pts[0].x, pts[0].y);
  for (size_t i = 1; i < pts.size(); ++i) cairo_line_to(cr_, pts[i].x, pts[i].y);
  if (closed) cairo_close_path(cr_);
}

void TPlayer::MoveTo(double x, double y) {
  st_.CurX = x, st_.CurY = y;
  if (in_path_ && UseLogical()) cairo_move_to(cr_, x, y);
}

void TPlayer::LineTo(double x, double y) {
  StartShape();
  if (UseLogical()) {
    ContinueFromCurrent();
    cairo_line_to(cr_, x, y);
    FinishShape(false, true);
  }
  st_.CurX = x, st_.CurY = y;
}

void TPlayer::Polyline(const std::vector<TPointD>& pts) {
  if (pts.size() < 2) return;
  StartShape();
  if (!UseLogical()) return;
  AppendPolyline(pts, false);
  FinishShape(false, true);
}

void TPlayer::PolylineTo(const std::vector<TPointD>& pts) {
  if (pts.empty()) return;
  StartShape();
  if (UseLogical()) {
    ContinueFromCurrent();
    for (const TPointD& p : pts) cairo_line_to(cr_, p.x, p.y);
    FinishShape(false, true);
  }
  st_.CurX = pts.back().x, st_.CurY = pts.back().y;
}

void TPlayer::PolyBezier(const std::vector<TPointD>& pts) {
  if (pts.size() < 4) return;
  StartShape();
  if (!UseLogical()) return;
  cairo_move_to(cr_, pts[0].x, pts[0].y);
  for (size_t i = 1; i + 2 < pts.size(); i += 3)
    cairo_curve_to(cr_, pts[i].x, pts[i].y, pts[i + 1].x, pts[i + 1].y, pts[i + 2].x, pts[i + 2].y);
  FinishShape(false, true);
}

void TPlayer::PolyBezierTo(const std::vector<TPointD>& pts) {
  if (pts.size() < 3) return;
  StartShape();
  size_t last = 0;
  if (UseLogical()) {
    ContinueFromCurrent();
    for (size_t i = 0; i + 2 < pts.size(); i += 3) {
      cairo_curve_to(cr_, pts[i].x, pts[i].y, pts[i + 1].x, pts[i + 1].y, pts[i + 2].x, pts[i + 2].y);
      last = i + 2;
    }
    FinishShape(false, true);
  }
  st_.CurX = pts[last].x, st_.CurY = pts[last].y;
}

void TPlayer::PolyDraw(const std::vector<TPointD>& pts, const std::vector<uint8_t>& types) {
  const size_t n = std::min(pts.size(), types.size());
  if (n == 0) return;
  StartShape();
  if (!UseLogical()) return;
  ContinueFromCurrent();
  for (size_t i = 0; i < n; ++i) {
    const uint8_t t = types[i] & ~kPtCloseFigure;
    if (t == kPtMoveTo) {
      cairo_move_to(cr_, pts[i].x, pts[i].y);
    } else if (t == kPtLineTo) {
      cairo_line_to(cr_, pts[i].x, pts[i].y);
    } else if (t == kPtBezierTo && i + 2 < n) {
      cairo_curve_to(cr_, pts[i].x, pts[i].y, pts[i + 1].x, pts[i + 1].y, pts[i + 2].x, pts[i + 2].y);
      i += 2;
    } else {
      break;
    }
    st_.CurX = pts[i].x, st_.CurY = pts[i].y;
    if (types[i] & kPtCloseFigure) cairo_close_path(cr_);
  }
  FinishShape(false, true);
}

void TPlayer::Polygon(const std::vector<TPointD>& pts) {
  if (pts.size() < 2) return;
  StartShape();
  if (!UseLogical()) return;
  AppendPolyline(pts, true);
  FinishShape(true, true);
}

void TPlayer::PolyPolygon(const std::vector<std::vector<TPointD>>& polys) {
  StartShape();
  if (!UseLogical()) return;
  for (const auto& pts : polys) {
    if (pts.size() >= 2) AppendPolyline(pts, true);
  }
  FinishShape(true, true);
}

void TPlayer::PolyPolyline(const std::vector<std::vector<TPointD>>& polys) {
  StartShape();
  if (!UseLogical()) return;
  for (const auto& pts : polys) {
    if (pts.size() >= 2) AppendPolyline(pts, false);
  }
  FinishShape(false, true);
}

void TPlayer::Rectangle(double l, double t, double r, double b) {
  StartShape();
  if (!UseLogical()) return;
  cairo_rectangle(cr_, std::min(l, r), std::min(t, b), std::fabs(r - l), std::fabs(b - t));
  FinishShape(true, true);
}

void TPlayer::SetPixel(double x, double y, TColorRef c) {
  if (in_path_) return;
  ApplyClip();
  const TPointD p = ToTarget(x, y);
  if (!Finite(p.x) || !Finite(p.y)) return;
  UseTarget();
  cairo_new_path(cr_);
  cairo_rectangle(cr_, std::floor(Clamp(p.x)), std::floor(Clamp(p.y)), 1, 1);
  SetColorSource(c);
  cairo_fill(cr_);
}

void TPlayer::FillRects(const TRects& rects, const TBrush& brush) {
  if (in_path_) return;
  StartShape();
  if (!UseLogical()) return;
  for (const TRect& r : rects) RectPath(cr_, r);
  // Overlapping rectangles of a region are filled once, whatever the fill mode.
  const uint32_t fill = st_.PolyFill;
  st_.PolyFill = kWinding;
  FillCurrent(brush, false);
  st_.PolyFill = fill;
}

}  // namespace pellavo::metafile
