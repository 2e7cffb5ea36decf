// Ellipses and their parts: arcs, chords, pies, rounded rectangle corners and angle arcs.
#include <algorithm>
#include <cmath>

#include "formats/metafile/player.h"
#include "formats/metafile/player_support.h"

namespace pellavo::metafile {
namespace {

// An elliptical arc of cr's current space, from angle a1 to a2 (radians of the unit circle the
// ellipse is scaled from). Joins the current point with a line, as cairo_arc does.
void EllipseArc(cairo_t* cr, double cx, double cy, double rx, double ry, double a1, double a2, bool negative) {
  if (!(rx > 0) || !(ry > 0) || !Finite(rx) || !Finite(ry)) {
    cairo_line_to(cr, cx + rx * std::cos(a2), cy + ry * std::sin(a2));
    return;
  }
  cairo_matrix_t saved;
  cairo_get_matrix(cr, &saved);
  cairo_translate(cr, cx, cy);
  cairo_scale(cr, rx, ry);
  if (negative)
    cairo_arc_negative(cr, 0, 0, 1, a1, a2);
  else
    cairo_arc(cr, 0, 0, 1, a1, a2);
  cairo_set_matrix(cr, &saved);
}

}  // namespace

void TPlayer::RoundRect(double l, double t, double r, double b, double w, double h) {
  StartShape();
  if (!UseLogical()) return;
  const double x0 = std::min(l, r), x1 = std::max(l, r), y0 = std::min(t, b), y1 = std::max(t, b);
  const double rx = std::min(std::fabs(w) / 2, (x1 - x0) / 2), ry = std::min(std::fabs(h) / 2, (y1 - y0) / 2);
  if (rx <= 0 || ry <= 0) {
    cairo_rectangle(cr_, x0, y0, x1 - x0, y1 - y0);
  } else {
    cairo_new_sub_path(cr_);
    EllipseArc(cr_, x1 - rx, y0 + ry, rx, ry, -kPi / 2, 0, false);
    EllipseArc(cr_, x1 - rx, y1 - ry, rx, ry, 0, kPi / 2, false);
    EllipseArc(cr_, x0 + rx, y1 - ry, rx, ry, kPi / 2, kPi, false);
    EllipseArc(cr_, x0 + rx, y0 + ry, rx, ry, kPi, 3 * kPi / 2, false);
    cairo_close_path(cr_);
  }
  FinishShape(true, true);
}

void TPlayer::Ellipse(double l, double t, double r, double b) {
  StartShape();
  if (!UseLogical()) return;
  const double rx = std::fabs(r - l) / 2, ry = std::fabs(b - t) / 2;
  if (!(rx > 0) || !(ry > 0)) return;
  cairo_new_sub_path(cr_);
  EllipseArc(cr_, (l + r) / 2, (t + b) / 2, rx, ry, 0, 2 * kPi, false);
  cairo_close_path(cr_);
  FinishShape(true, true);
}

// The arc of the ellipse in l, t, r, b from the ray through start to the ray through end.
void TPlayer::ArcPath(double l, double t, double r, double b, TPointD start, TPointD end, bool connect) {
  const double cx = (l + r) / 2, cy = (t + b) / 2;
  const double rx = std::fabs(r - l) / 2, ry = std::fabs(b - t) / 2;
  const double a1 = std::atan2((start.y - cy) / (ry > 0 ? ry : 1), (start.x - cx) / (rx > 0 ? rx : 1));
  double a2 = std::atan2((end.y - cy) / (ry > 0 ? ry : 1), (end.x - cx) / (rx > 0 ? rx : 1));
  // Counter-clockwise on the page is decreasing angles with y pointing down.
  const bool negative = !st_.ArcClockwise;
  if (a2 == a1) a2 = negative ? a1 - 2 * kPi : a1 + 2 * kPi;
  if (!connect) cairo_new_sub_path(cr_);
  EllipseArc(cr_, cx, cy, rx, ry, a1, a2, negative);
}

void TPlayer::Arc(TArcKind kind, double l, double t, double r, double b, TPointD start, TPointD end) {
  StartShape();
  if (!UseLogical()) return;
  const double cx = (l + r) / 2, cy = (t + b) / 2;
  switch (kind) {
    case TArcKind::Arc:
      ArcPath(l, t, r, b, start, end, false);
      FinishShape(false, true);
      break;
    case TArcKind::ArcTo: {
      ContinueFromCurrent();
      ArcPath(l, t, r, b, start, end, true);
      double x, y;
      cairo_get_current_point(cr_, &x, &y);
      st_.CurX = x, st_.CurY = y;
      FinishShape(false, true);
      break;
    }
    case TArcKind::Chord:
      ArcPath(l, t, r, b, start, end, false);
      cairo_close_path(cr_);
      FinishShape(true, true);
      break;
    case TArcKind::Pie:
      cairo_move_to(cr_, cx, cy);
      ArcPath(l, t, r, b, start, end, true);
      cairo_close_path(cr_);
      FinishShape(true, true);
      break;
  }
}

void TPlayer::AngleArc(double x, double y, double radius, double start_deg, double sweep_deg) {
  StartShape();
  if (UseLogical() && Finite(start_deg) && Finite(sweep_deg)) {
    ContinueFromCurrent();
    const double a1 = -start_deg * kPi / 180, a2 = -(start_deg + std::clamp(sweep_deg, -720.0, 720.0)) * kPi / 180;
    EllipseArc(cr_, x, y, radius, radius, a1, a2, sweep_deg > 0);
    double cxp, cyp;
    cairo_get_current_point(cr_, &cxp, &cyp);
    st_.CurX = cxp, st_.CurY = cyp;
    FinishShape(false, true);
  }
}

}  // namespace pellavo::metafile
