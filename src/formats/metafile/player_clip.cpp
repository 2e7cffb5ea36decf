// Clipping. The clip is a region of target pixels, combined from rectangles and paths as the
// records ask and handed to Cairo only when something is drawn.
#include <cmath>

#include "formats/metafile/player.h"
#include "formats/metafile/player_support.h"

namespace pellavo::metafile {

void TPlayer::SetClip(std::shared_ptr<const cairo_region_t> region) {
  st_.Clip = std::move(region);
  clip_applied_ = false;
}

void TPlayer::ApplyClip() {
  if (clip_applied_) return;
  // Resetting the clip loses the current path; an open path bracket keeps its figures.
  TPathPtr keep;
  if (in_path_) {
    UseTarget();
    keep.reset(cairo_copy_path(cr_));
  }
  cairo_reset_clip(cr_);
  if (st_.Clip) {
    UseTarget();
    cairo_new_path(cr_);
    const int n = cairo_region_num_rectangles(st_.Clip.get());
    for (int i = 0; i < n; ++i) {
      cairo_rectangle_int_t r;
      cairo_region_get_rectangle(st_.Clip.get(), i, &r);
      cairo_rectangle(cr_, r.x, r.y, r.width, r.height);
    }
    cairo_clip(cr_);
  }
  cairo_new_path(cr_);
  if (keep) cairo_append_path(cr_, keep.get());
  clip_applied_ = true;
}

void TPlayer::CombineClip(const cairo_region_t* with, uint32_t mode) {
  TRegionPtr result;
  if (mode == kRgnCopy) {
    result.reset(cairo_region_copy(with));
  } else {
    const cairo_rectangle_int_t all{target_.Left, target_.Top, target_.Width(), target_.Height()};
    result.reset(st_.Clip ? cairo_region_copy(st_.Clip.get()) : cairo_region_create_rectangle(&all));
    switch (mode) {
      case kRgnAnd: cairo_region_intersect(result.get(), with); break;
      case kRgnOr: cairo_region_union(result.get(), with); break;
      case kRgnXor: cairo_region_xor(result.get(), with); break;
      case kRgnDiff: cairo_region_subtract(result.get(), with); break;
      default: break;
    }
  }
  SetClip(std::move(result));
}

TRegionPtr TPlayer::RegionOfPath(cairo_fill_rule_t rule) {
  TRegionPtr region(cairo_region_create());
  UseTarget();
  // Only the part of the target the path reaches is rasterised.
  double x0, y0, x1, y1;
  cairo_path_extents(cr_, &x0, &y0, &x1, &y1);
  TRect box = Rect(int32_t(Clamp(std::floor(x0))), int32_t(Clamp(std::floor(y0))), int32_t(Clamp(std::ceil(x1))),
                   int32_t(Clamp(std::ceil(y1))));
  if (!IntersectRect(box, box, target_) || IsRectEmpty(box)) return region;
  const int w = box.Width(), h = box.Height();
  const TSurfacePtr mask(cairo_image_surface_create(CAIRO_FORMAT_A8, w, h));
  if (!SurfaceOk(mask)) return region;
  {
    const TPathPtr path(cairo_copy_path(cr_));
    const TContextPtr m(cairo_create(mask.get()));
    cairo_set_antialias(m.get(), CAIRO_ANTIALIAS_NONE);
    cairo_translate(m.get(), -box.Left, -box.Top);
    cairo_append_path(m.get(), path.get());
    cairo_set_fill_rule(m.get(), rule);
    cairo_fill(m.get());
  }
  cairo_surface_flush(mask.get());
  const unsigned char* data = cairo_image_surface_get_data(mask.get());
  const int stride = cairo_image_surface_get_stride(mask.get());
  // Each run of covered pixels in a row becomes a rectangle one pixel high.
  for (int y = 0; y < h; ++y) {
    const unsigned char* row = data + static_cast<size_t>(y) * stride;
    for (int x = 0; x < w;) {
      if (!row[x]) {
        ++x;
        continue;
      }
      int e = x;
      while (e < w && row[e]) ++e;
      const cairo_rectangle_int_t r{box.Left + x, box.Top + y, e - x, 1};
      cairo_region_union_rectangle(region.get(), &r);
      x = e;
    }
  }
  return region;
}

TRegionPtr TPlayer::RegionOfRect(double l, double t, double r, double b) {
  const cairo_matrix_t m = FullMatrix();
  if (Upright(m)) {
    // The rectangle's corners, rounded to whole pixels, bound it.
    double x0 = l, y0 = t, x1 = r, y1 = b;
    cairo_matrix_transform_point(&m, &x0, &y0);
    cairo_matrix_transform_point(&m, &x1, &y1);
    TRect box = Rect(int32_t(Clamp(std::round(std::min(x0, x1)))), int32_t(Clamp(std::round(std::min(y0, y1)))),
                     int32_t(Clamp(std::round(std::max(x0, x1)))), int32_t(Clamp(std::round(std::max(y0, y1)))));
    if (!Finite(x0) || !Finite(y0) || !Finite(x1) || !Finite(y1) || !IntersectRect(box, box, target_) ||
        IsRectEmpty(box))
      return TRegionPtr(cairo_region_create());
    const cairo_rectangle_int_t ri{box.Left, box.Top, box.Width(), box.Height()};
    return TRegionPtr(cairo_region_create_rectangle(&ri));
  }
  cairo_new_path(cr_);
  if (!UseLogical()) return TRegionPtr(cairo_region_create());
  cairo_rectangle(cr_, l, t, r - l, b - t);
  TRegionPtr region = RegionOfPath(CAIRO_FILL_RULE_WINDING);
  cairo_new_path(cr_);
  return region;
}

void TPlayer::SelectClipRects(const TRects* device_rects, uint32_t mode) {
  if (!device_rects) {
    if (mode == kRgnCopy) SetClip(nullptr);
    return;
  }
  const TRegionPtr region(cairo_region_create());
  for (const TRect& r : *device_rects) {
    double x0 = r.Left, y0 = r.Top, x1 = r.Right, y1 = r.Bottom;
    cairo_matrix_transform_point(&base_, &x0, &y0);
    cairo_matrix_transform_point(&base_, &x1, &y1);
    const double l = Clamp(std::round(std::min(x0, x1))), t = Clamp(std::round(std::min(y0, y1)));
    const double rr = Clamp(std::round(std::max(x0, x1))), b = Clamp(std::round(std::max(y0, y1)));
    if (rr <= l || b <= t) continue;
    const cairo_rectangle_int_t ri{int(l), int(t), int(rr - l), int(b - t)};
    cairo_region_union_rectangle(region.get(), &ri);
  }
  CombineClip(region.get(), mode);
}

void TPlayer::IntersectClipRect(double l, double t, double r, double b) {
  if (in_path_ || !Invertible(FullMatrix())) return;
  CombineClip(RegionOfRect(l, t, r, b).get(), kRgnAnd);
}

void TPlayer::ExcludeClipRect(double l, double t, double r, double b) {
  if (in_path_ || !Invertible(FullMatrix())) return;
  CombineClip(RegionOfRect(l, t, r, b).get(), kRgnDiff);
}

void TPlayer::OffsetClip(double dx, double dy) {
  if (!st_.Clip) return;
  const TPointD a = ToTarget(0, 0), b = ToTarget(dx, dy);
  const double ox = Clamp(std::round(b.x - a.x)), oy = Clamp(std::round(b.y - a.y));
  if (!Finite(ox) || !Finite(oy)) return;
  TRegionPtr moved(cairo_region_copy(st_.Clip.get()));
  cairo_region_translate(moved.get(), int(ox), int(oy));
  SetClip(std::move(moved));
}

void TPlayer::SelectClipPath(uint32_t mode) {
  if (in_path_) EndPath();
  if (!path_ || !LoadRecordedPath()) return;
  const TRegionPtr region = RegionOfPath(FillRule());
  cairo_new_path(cr_);
  CombineClip(region.get(), mode);
}

}  // namespace pellavo::metafile
