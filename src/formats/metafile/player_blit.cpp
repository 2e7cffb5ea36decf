// Bitmap records. On an upright page a blit covers whole pixels and works on them directly,
// with the full raster operation; rotated or sheared, Cairo maps the bitmap.
#include <algorithm>
#include <cmath>
#include <vector>

#include "formats/metafile/dib.h"
#include "formats/metafile/player.h"
#include "formats/metafile/player_support.h"

namespace pellavo::metafile {
namespace {

constexpr uint32_t kOpaqueAlpha = 0xFF000000u;

// One ternary raster operation over 24 bits of colour, all bits at once: bit i of the index
// byte is the result for pattern, source, destination = bits 2, 1, 0 of i.
uint32_t Ternary(uint32_t rop, uint32_t p, uint32_t s, uint32_t d) {
  const uint32_t index = RopIndex(rop);
  uint32_t r = 0;
  for (uint32_t i = 0; i < 8; ++i) {
    if (!((index >> i) & 1)) continue;
    r |= ((i & 4) ? p : ~p) & ((i & 2) ? s : ~s) & ((i & 1) ? d : ~d);
  }
  return r & 0xFFFFFF;
}

bool FitsInt32(int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

}  // namespace

void TPlayer::BlitPixels(const TBlit& blit, const TRect& dest, bool flip_x, bool flip_y) {
  TRect area;
  if (!IntersectRect(area, dest, target_) || IsRectEmpty(area)) return;
  const TSurfacePtr tile = ImageSurface(area.Width(), area.Height());
  if (!SurfaceOk(tile)) return;
  cairo_surface_t* screen = cairo_get_target(cr_);
  cairo_surface_flush(screen);
  cairo_surface_flush(tile.get());
  const unsigned char* screen_data = cairo_image_surface_get_data(screen);
  const int screen_stride = cairo_image_surface_get_stride(screen);

  const TBitmap* src = blit.Source;
  const int32_t sw = src ? src->Width() : 0, sh = src ? src->Height() : 0;
  const int64_t dw = dest.Width(), dh = dest.Height();
  // Source column of each destination column (nearest, by pixel centres), -1 outside the bitmap.
  std::vector<int32_t> xs(static_cast<size_t>(area.Width()), -1);
  if (src) {
    for (int32_t x = area.Left; x < area.Right; ++x) {
      const int64_t i = flip_x ? dest.Right - 1 - x : x - dest.Left;
      const int64_t sx = blit.SrcX + (2 * i + 1) * blit.SrcW / (2 * dw);
      xs[static_cast<size_t>(x - area.Left)] = sx >= 0 && sx < sw ? static_cast<int32_t>(sx) : -1;
    }
  }
  const uint32_t pattern = RefToColor(st_.Brush.Color);
  const uint32_t key = RefToColor(blit.TransparentColor);
  const uint32_t rop = blit.Rop;
  const bool copy = RopIndex(rop) == RopIndex(kSrcCopy);  // the common case: the source as it is
  std::vector<TColor32> line(static_cast<size_t>(std::max(sw, 1)));
  int32_t loaded = -1;
  for (int32_t y = area.Top; y < area.Bottom; ++y) {
    uint32_t* out = ImageRow(tile.get(), y - area.Top);
    const uint32_t* under =
        reinterpret_cast<const uint32_t*>(screen_data + static_cast<size_t>(y - target_.Top) * screen_stride) +
        (area.Left - target_.Left);
    int64_t sy = -1;
    if (src) {
      const int64_t j = flip_y ? dest.Bottom - 1 - y : y - dest.Top;
      sy = blit.SrcY + (2 * j + 1) * blit.SrcH / (2 * dh);
      if (sy < 0 || sy >= sh) sy = -1;
      if (sy >= 0 && sy != loaded) {
        src->ReadRow32(static_cast<int32_t>(sy), line.data());
        loaded = static_cast<int32_t>(sy);
      }
    }
    for (int32_t x = 0; x < area.Width(); ++x) {
      const int32_t sx = xs[static_cast<size_t>(x)];
      const bool have = src && sy >= 0 && sx >= 0;
      const TColor32 s = have ? line[static_cast<size_t>(sx)] : 0;
      uint32_t v = 0;
      switch (blit.Kind) {
        case TBlit::TKind::Rop:
          if (src && !have) break;  // outside the bitmap: nothing is copied there
          v = kOpaqueAlpha | (copy ? s : Ternary(rop, pattern, s & 0xFFFFFF, under[x] & 0xFFFFFF));
          break;
        case TBlit::TKind::Transparent:
          if (have && (s & 0xFFFFFF) != key) v = kOpaqueAlpha | (s & 0xFFFFFF);
          break;
        case TBlit::TKind::Alpha: {
          if (!have) break;
          // Premultiplied, as the tile is composited over the target.
          const uint32_t ca = blit.ConstantAlpha;
          uint32_t a = blit.SourceAlpha ? AlphaOf(s) : 255;
          uint32_t r = RedOf(s), g = GreenOf(s), b = BlueOf(s);
          if (!blit.SourceAlpha) {
            r = r * a / 255, g = g * a / 255, b = b * a / 255;
          }
          a = a * ca / 255;
          r = std::min(r * ca / 255, a), g = std::min(g * ca / 255, a), b = std::min(b * ca / 255, a);
          v = a << 24 | r << 16 | g << 8 | b;
          break;
        }
      }
      out[x] = v;
    }
  }
  cairo_surface_mark_dirty(tile.get());
  ApplyClip();
  UseTarget();
  cairo_new_path(cr_);
  cairo_set_source_surface(cr_, tile.get(), area.Left, area.Top);
  cairo_rectangle(cr_, area.Left, area.Top, area.Width(), area.Height());
  cairo_fill(cr_);
}

void TPlayer::Blit(const TBlit& blit) {
  if (in_path_) return;
  if (blit.Source && (blit.SrcW == 0 || blit.SrcH == 0)) return;
  const cairo_matrix_t m = FullMatrix();
  if (!Invertible(m)) return;
  if (!Upright(m)) return BlitTransformed(blit);
  double x0 = blit.X, y0 = blit.Y, x1 = blit.X + blit.W, y1 = blit.Y + blit.H;
  cairo_matrix_transform_point(&m, &x0, &y0);
  cairo_matrix_transform_point(&m, &x1, &y1);
  if (!Finite(x0) || !Finite(y0) || !Finite(x1) || !Finite(y1)) return;
  // Whole pixels, as a blit covers them: the rounded corners decide which.
  x0 = Clamp(std::round(x0)), y0 = Clamp(std::round(y0)), x1 = Clamp(std::round(x1)), y1 = Clamp(std::round(y1));
  const TRect dest = Rect(int32_t(std::min(x0, x1)), int32_t(std::min(y0, y1)), int32_t(std::max(x0, x1)),
                          int32_t(std::max(y0, y1)));
  if (IsRectEmpty(dest)) return;
  TBlit b = blit;
  bool flip_x = x1 < x0, flip_y = y1 < y0;
  // A negative source extent mirrors too; its far edge becomes the origin.
  if (b.SrcW < 0) {
    const int64_t x = int64_t{b.SrcX} + b.SrcW, w = -int64_t{b.SrcW};
    if (!FitsInt32(x) || !FitsInt32(w)) return;
    b.SrcX = int32_t(x), b.SrcW = int32_t(w), flip_x = !flip_x;
  }
  if (b.SrcH < 0) {
    const int64_t y = int64_t{b.SrcY} + b.SrcH, h = -int64_t{b.SrcH};
    if (!FitsInt32(y) || !FitsInt32(h)) return;
    b.SrcY = int32_t(y), b.SrcH = int32_t(h), flip_y = !flip_y;
  }
  BlitPixels(b, dest, flip_x, flip_y);
}

// Raster operations other than a copy of the source are approximated by one here.
void TPlayer::BlitTransformed(const TBlit& blit) {
  ApplyClip();
  cairo_new_path(cr_);
  if (!UseLogical()) return;
  cairo_rectangle(cr_, blit.X, blit.Y, blit.W, blit.H);
  if (!blit.Source) {
    const uint32_t index = RopIndex(blit.Rop);
    UseTarget();
    if (index == RopIndex(kBlackness))
      SetColorSource(0);
    else if (index == RopIndex(kWhiteness))
      SetColorSource(0xFFFFFF);
    else if (!SetBrushSource(st_.Brush))
      return cairo_new_path(cr_);
    UseTarget();
    cairo_fill(cr_);
    return;
  }
  if (blit.W == 0 || blit.H == 0) return cairo_new_path(cr_);
  const uint32_t key = RefToColor(blit.TransparentColor);
  const TSurfacePtr image = SurfaceOfBitmap(*blit.Source, [&](uint32_t p) {
    if (blit.Kind == TBlit::TKind::Transparent && (p & 0xFFFFFF) == key) return 0u;
    if (blit.Kind != TBlit::TKind::Alpha || !blit.SourceAlpha) return p | kOpaqueAlpha;
    return p;  // premultiplied already
  });
  if (!SurfaceOk(image)) return cairo_new_path(cr_);
  const TPatternPtr p(cairo_pattern_create_for_surface(image.get()));
  cairo_matrix_t pm;  // logical units to source pixels
  cairo_matrix_init_translate(&pm, blit.SrcX, blit.SrcY);
  cairo_matrix_scale(&pm, double(blit.SrcW) / blit.W, double(blit.SrcH) / blit.H);
  cairo_matrix_translate(&pm, -blit.X, -blit.Y);
  if (Invertible(pm)) {
    cairo_pattern_set_matrix(p.get(), &pm);
    cairo_pattern_set_filter(p.get(), CAIRO_FILTER_NEAREST);
    cairo_set_source(cr_, p.get());
    if (blit.Kind == TBlit::TKind::Alpha && blit.ConstantAlpha != 255) {
      const TSavedState saved(cr_);
      cairo_clip(cr_);
      cairo_paint_with_alpha(cr_, blit.ConstantAlpha / 255.0);
    } else {
      cairo_fill(cr_);
    }
  }
  cairo_new_path(cr_);
}

}  // namespace pellavo::metafile
