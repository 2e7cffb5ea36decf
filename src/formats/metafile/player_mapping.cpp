// Logical units to target pixels: the world transform, then the page (map mode, window and
// viewport), then the base that puts the picture's device units onto the target.
#include <algorithm>
#include <cmath>

#include "formats/metafile/player.h"
#include "formats/metafile/player_support.h"

namespace pellavo::metafile {

cairo_matrix_t TPlayer::PageMatrix() const {
  double sx = 1, sy = 1;
  // The metric modes have y pointing up.
  const auto metric = [&](double mm_per_unit) {
    sx = mm_per_unit * px_per_mm_x_;
    sy = -mm_per_unit * px_per_mm_y_;
  };
  switch (st_.MapMode) {
    case kMmLoMetric: metric(0.1); break;
    case kMmHiMetric: metric(0.01); break;
    case kMmLoEnglish: metric(0.254); break;
    case kMmHiEnglish: metric(0.0254); break;
    case kMmTwips: metric(25.4 / 1440); break;
    case kMmIsotropic:
    case kMmAnisotropic:
      sx = st_.WinExtX != 0 ? st_.VpExtX / st_.WinExtX : 0;
      sy = st_.WinExtY != 0 ? st_.VpExtY / st_.WinExtY : 0;
      if (st_.MapMode == kMmIsotropic) {
        const double m = std::min(std::fabs(sx), std::fabs(sy));
        sx = std::copysign(m, sx);
        sy = std::copysign(m, sy);
      }
      break;
    default: break;  // kMmText: one logical unit is one device unit
  }
  cairo_matrix_t m;
  cairo_matrix_init(&m, sx, 0, 0, sy, st_.VpOrgX - st_.WinOrgX * sx, st_.VpOrgY - st_.WinOrgY * sy);
  return m;
}

cairo_matrix_t TPlayer::FullMatrix() const { return Multiply(Multiply(st_.World, PageMatrix()), base_); }

bool TPlayer::UseLogical() {
  const cairo_matrix_t m = FullMatrix();
  if (!Invertible(m)) return false;
  cairo_set_matrix(cr_, &m);
  return true;
}

void TPlayer::UseTarget() { cairo_identity_matrix(cr_); }

TPointD TPlayer::ToTarget(double x, double y) const {
  const cairo_matrix_t m = FullMatrix();
  cairo_matrix_transform_point(&m, &x, &y);
  return {x, y};
}

void TPlayer::SetMapMode(int32_t mode) {
  if (mode >= kMmText && mode <= kMmAnisotropic) st_.MapMode = mode;
}
void TPlayer::SetWindowOrg(double x, double y) { st_.WinOrgX = x, st_.WinOrgY = y; }
void TPlayer::SetWindowExt(double x, double y) {
  if (x != 0 && y != 0) st_.WinExtX = x, st_.WinExtY = y;
}
void TPlayer::SetViewportOrg(double x, double y) { st_.VpOrgX = x, st_.VpOrgY = y; }
void TPlayer::SetViewportExt(double x, double y) {
  if (x != 0 && y != 0) st_.VpExtX = x, st_.VpExtY = y;
}
void TPlayer::OffsetWindowOrg(double dx, double dy) { st_.WinOrgX += dx, st_.WinOrgY += dy; }
void TPlayer::OffsetViewportOrg(double dx, double dy) { st_.VpOrgX += dx, st_.VpOrgY += dy; }
void TPlayer::ScaleWindowExt(double xn, double xd, double yn, double yd) {
  if (xd == 0 || yd == 0) return;
  SetWindowExt(st_.WinExtX * xn / xd, st_.WinExtY * yn / yd);
}
void TPlayer::ScaleViewportExt(double xn, double xd, double yn, double yd) {
  if (xd == 0 || yd == 0) return;
  SetViewportExt(st_.VpExtX * xn / xd, st_.VpExtY * yn / yd);
}

void TPlayer::SetInitialWindow(double org_x, double org_y, double ext_x, double ext_y) {
  st_.MapMode = kMmAnisotropic;
  st_.WinOrgX = org_x, st_.WinOrgY = org_y;
  st_.WinExtX = ext_x, st_.WinExtY = ext_y;
  st_.VpOrgX = 0, st_.VpOrgY = 0;
  st_.VpExtX = ext_x, st_.VpExtY = ext_y;
}

void TPlayer::SetWorldTransform(const double m[6]) {
  cairo_matrix_t w;
  cairo_matrix_init(&w, m[0], m[1], m[2], m[3], m[4], m[5]);
  if (Invertible(w)) st_.World = w;
}

void TPlayer::ModifyWorldTransform(const double m[6], uint32_t mode) {
  cairo_matrix_t w;
  cairo_matrix_init(&w, m[0], m[1], m[2], m[3], m[4], m[5]);
  cairo_matrix_t r;
  switch (mode) {
    case kMwtIdentity: cairo_matrix_init_identity(&r); break;
    case kMwtLeftMultiply: r = Multiply(w, st_.World); break;  // the new transform applies first
    case kMwtRightMultiply: r = Multiply(st_.World, w); break;
    case kMwtSet: r = w; break;
    default: return;
  }
  if (Invertible(r)) st_.World = r;
}

}  // namespace pellavo::metafile
