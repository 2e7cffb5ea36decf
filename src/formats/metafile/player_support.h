#pragma once
// Limits and conversions that the player's parts share. Private to the player.
#include <cairo.h>

#include <algorithm>
#include <cmath>

#include "core/color.h"
#include "core/rect.h"
#include "formats/metafile/player.h"

namespace pellavo::metafile {

inline constexpr double kPi = 3.14159265358979323846;

// Coordinates beyond this (in target pixels) are outside any surface we draw on; Cairo's fixed
// point would wrap them, so shapes reaching that far are clamped first.
inline constexpr double kFar = 1 << 22;

inline bool Finite(double v) { return std::isfinite(v); }

inline double Clamp(double v) { return std::clamp(v, -kFar, kFar); }

// Whether m maps the plane onto itself without collapsing it, in finite numbers.
inline bool Invertible(const cairo_matrix_t& m) {
  if (!Finite(m.xx) || !Finite(m.yx) || !Finite(m.xy) || !Finite(m.yy) || !Finite(m.x0) || !Finite(m.y0))
    return false;
  const double det = m.xx * m.yy - m.xy * m.yx;
  return Finite(det) && std::fabs(det) > 1e-12;
}

// Whether m keeps rectangles upright: no rotation or shear.
inline bool Upright(const cairo_matrix_t& m) { return std::fabs(m.xy) < 1e-9 && std::fabs(m.yx) < 1e-9; }

inline cairo_matrix_t Multiply(const cairo_matrix_t& first, const cairo_matrix_t& then) {
  cairo_matrix_t r;
  cairo_matrix_multiply(&r, &first, &then);
  return r;
}

// A rectangle read from a file: its extent may not fit 32 bits.
inline void RectPath(cairo_t* cr, const TRect& r) {
  cairo_rectangle(cr, r.Left, r.Top, double(r.Right) - r.Left, double(r.Bottom) - r.Top);
}

// The 24-bit colour of a COLORREF as a TColor32 colour part.
inline TColor32 RefToColor(TColorRef c) { return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF); }

}  // namespace pellavo::metafile
