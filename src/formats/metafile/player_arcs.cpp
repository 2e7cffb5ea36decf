// Ellipses and their parts: arcs, chords, pies, rounded rectangle corners and angle arcs.
#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "formats/metafile/player.h"
#include "formats/metafile/player_support.h"

namespace pellavo::metafile {
namespace {

// Cairo splits an arc into as many curves as its radius in target pixels calls for, and sizes
// them by a search that grows with that radius too: an ellipse scaled by a broken transform to
// 1e37 pixels would take it minutes and gigabytes. Ellipses larger than kFar are therefore built
// here, in target pixels, and only where they can be seen: an arc that leaves the reach of any
// surface is marked by a point at that edge, which makes the shape's reach check drop the whole
// path as it drops any other shape out of reach (also when the arc is recorded in a path
// bracket and painted later).
class TFarArc {
 public:
  // The ellipse centre + u cos t + v sin t, in target pixels.
  TFarArc(TPointD centre, TPointD u, TPointD v) : c_(centre), u_(u), v_(v) {
    radius_ = std::sqrt(u.x * u.x + u.y * u.y + v.x * v.x + v.y * v.y);  // at least the major radius
  }

  // Appends the arc from a1 to a2 (a2 already on the side of a1 the arc turns to), joined to the
  // current point by a line as cairo_arc does.
  void Append(cairo_t* cr, double a1, double a2) {
    pieces_.clear();
    far_ = false;
    const double sweep = a2 - a1;
    if (!Finite(sweep)) Far({kFar, kFar});
    const int quarters = far_ ? 0 : std::clamp(static_cast<int>(std::ceil(std::fabs(sweep) / (kPi / 2))), 1, kMaxQuarters);
    for (int i = 0; i < quarters && !far_; ++i)
      Check(a1 + (a2 - a1) * i / quarters, a1 + (a2 - a1) * (i + 1) / quarters, 0);
    cairo_matrix_t saved;
    cairo_get_matrix(cr, &saved);
    cairo_identity_matrix(cr);
    const TPointD start = At(a1), end = At(a2);
    if (far_) {
      LineOrMove(cr, Clamped(start));
      cairo_line_to(cr, Clamp(witness_.x), Clamp(witness_.y));
      cairo_line_to(cr, Clamp(end.x), Clamp(end.y));
    } else {
      LineOrMove(cr, start);
      for (const auto& [t0, t1] : pieces_) Curve(cr, t0, t1);
    }
    cairo_set_matrix(cr, &saved);
  }

 private:
  // Splits [t0, t1] (at most a quarter turn) until each piece lies within reach and is close
  // enough to its curve, or finds a point of the arc out of reach.
  void Check(double t0, double t1, int depth) {
    if (far_) return;
    const TPointD p0 = At(t0), p1 = At(t1);
    if (!Near(p0)) return Far(p0);
    if (!Near(p1)) return Far(p1);
    // The arc lies in the triangle of its ends and the meeting point of their tangents.
    const double half = (t1 - t0) / 2, mid = t0 + half;
    const TPointD apex = Map(std::cos(mid) / std::cos(half), std::sin(mid) / std::cos(half));
    const bool inside = Near(apex);
    // A cubic's distance from a circular arc of angle a is about 2.7e-4 (a / (pi/2))^6 of the
    // radius; a quarter of cairo's default tolerance of 0.1 pixel.
    const double error = radius_ * 2.7e-4 * std::pow(std::fabs(t1 - t0) / (kPi / 2), 6);
    if (inside && error <= 0.025) {
      pieces_.emplace_back(t0, t1);
      return;
    }
    // An arc that grazes the edge of reach from inside may never settle; it is out of reach for
    // any surface all the same.
    if (depth >= kMaxDepth) return Far(apex);
    Check(t0, mid, depth + 1);
    Check(mid, t1, depth + 1);
  }

  void Curve(cairo_t* cr, double t0, double t1) const {
    const double k = 4.0 / 3.0 * std::tan((t1 - t0) / 4);
    const double c0 = std::cos(t0), s0 = std::sin(t0), c1 = std::cos(t1), s1 = std::sin(t1);
    const TPointD q1 = Map(c0 - k * s0, s0 + k * c0), q2 = Map(c1 + k * s1, s1 - k * c1), p1 = Map(c1, s1);
    cairo_curve_to(cr, q1.x, q1.y, q2.x, q2.y, p1.x, p1.y);
  }

  TPointD Map(double x, double y) const { return {c_.x + u_.x * x + v_.x * y, c_.y + u_.y * x + v_.y * y}; }
  TPointD At(double t) const { return Map(std::cos(t), std::sin(t)); }
  static bool Near(TPointD p) { return std::fabs(p.x) < kFar && std::fabs(p.y) < kFar; }
  static TPointD Clamped(TPointD p) { return {Finite(p.x) ? Clamp(p.x) : kFar, Finite(p.y) ? Clamp(p.y) : kFar}; }
  void Far(TPointD p) {
    far_ = true;
    witness_ = Clamped(p);
    if (Near(witness_)) witness_ = {kFar, kFar};  // an apex that only grazed the edge
  }
  static void LineOrMove(cairo_t* cr, TPointD p) {
    if (cairo_has_current_point(cr))
      cairo_line_to(cr, p.x, p.y);
    else
      cairo_move_to(cr, p.x, p.y);
  }

  // Angle arcs sweep at most two turns.
  static constexpr int kMaxQuarters = 8;
  // Halving a quarter turn 60 times reaches angles below what a double tells apart near 2 pi.
  static constexpr int kMaxDepth = 60;

  TPointD c_, u_, v_;
  double radius_ = 0;
  std::vector<std::pair<double, double>> pieces_;
  bool far_ = false;
  TPointD witness_{};
};

// An elliptical arc of cr's current space, from angle a1 to a2 (radians of the unit circle the
// ellipse is scaled from). Joins the current point with a line, as cairo_arc does.
void EllipseArc(cairo_t* cr, double cx, double cy, double rx, double ry, double a1, double a2, bool negative) {
  if (!(rx > 0) || !(ry > 0) || !Finite(rx) || !Finite(ry)) {
    cairo_line_to(cr, cx + rx * std::cos(a2), cy + ry * std::sin(a2));
    return;
  }
  cairo_matrix_t m;
  cairo_get_matrix(cr, &m);
  double ux = rx, uy = 0, vx = 0, vy = ry, ox = cx, oy = cy;
  cairo_matrix_transform_distance(&m, &ux, &uy);
  cairo_matrix_transform_distance(&m, &vx, &vy);
  cairo_matrix_transform_point(&m, &ox, &oy);
  const double radius = std::sqrt(ux * ux + uy * uy + vx * vx + vy * vy);
  if (!(radius <= kFar) || !Finite(ox) || !Finite(oy)) {
    // The end angle moved by whole turns to the side the arc turns to, as cairo_arc does.
    if (negative ? a2 > a1 : a2 < a1) {
      const double turns = std::ceil(std::fabs(a2 - a1) / (2 * kPi));
      a2 += negative ? -turns * 2 * kPi : turns * 2 * kPi;
    }
    TFarArc({ox, oy}, {ux, uy}, {vx, vy}).Append(cr, a1, a2);
    return;
  }
  cairo_translate(cr, cx, cy);
  cairo_scale(cr, rx, ry);
  if (negative)
    cairo_arc_negative(cr, 0, 0, 1, a1, a2);
  else
    cairo_arc(cr, 0, 0, 1, a1, a2);
  cairo_set_matrix(cr, &m);
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
