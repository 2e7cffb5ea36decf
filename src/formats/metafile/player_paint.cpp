// Pens and brushes as Cairo sources, and filling and stroking the current path with them.
#include <algorithm>
#include <cmath>
#include <vector>

#include "formats/metafile/dib.h"
#include "formats/metafile/player.h"
#include "formats/metafile/player_support.h"

namespace pellavo::metafile {
namespace {

constexpr uint32_t kOpaqueAlpha = 0xFF000000u;

// The 8 x 8 pattern of a hatched brush: 1 where the hatch line is.
bool HatchBit(uint32_t hatch, int x, int y) {
  switch (hatch) {
    case kHsHorizontal: return y == 4;
    case kHsVertical: return x == 4;
    case kHsFDiagonal: return x == y;
    case kHsBDiagonal: return x == 7 - y;
    case kHsCross: return x == 4 || y == 4;
    case kHsDiagCross: return x == y || x == 7 - y;
    default: return false;
  }
}

// A source that repeats the tile's pixels on the target's grid, without smoothing.
void SetTileSource(cairo_t* cr, cairo_surface_t* tile) {
  const TPatternPtr p(cairo_pattern_create_for_surface(tile));
  cairo_pattern_set_extend(p.get(), CAIRO_EXTEND_REPEAT);
  cairo_pattern_set_filter(p.get(), CAIRO_FILTER_NEAREST);
  cairo_set_source(cr, p.get());
}

// Dash lengths of the simple line styles, in pen widths.
std::vector<double> StyleDashes(uint32_t style) {
  switch (style) {
    case kPsDash: return {18, 6};
    case kPsDot: return {3, 3};
    case kPsDashDot: return {9, 6, 3, 6};
    case kPsDashDotDot: return {9, 3, 3, 3, 3, 3};
    default: return {};
  }
}

}  // namespace

void TPlayer::SetColorSource(TColorRef c) {
  cairo_set_source_rgb(cr_, (c & 0xFF) / 255.0, ((c >> 8) & 0xFF) / 255.0, ((c >> 16) & 0xFF) / 255.0);
}

bool TPlayer::SetBrushSource(const TBrush& brush) {
  switch (brush.Style) {
    case kBsSolid: SetColorSource(brush.Color); return true;
    case kBsHatched: {
      const TSurfacePtr tile = ImageSurface(8, 8);
      if (!SurfaceOk(tile)) return false;
      cairo_surface_flush(tile.get());
      const uint32_t line = kOpaqueAlpha | RefToColor(brush.Color);
      const uint32_t back = st_.BkMode == kBkOpaque ? kOpaqueAlpha | RefToColor(st_.BkColor) : 0;
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) ImageRow(tile.get(), y)[x] = HatchBit(brush.Hatch, x, y) ? line : back;
      cairo_surface_mark_dirty(tile.get());
      SetTileSource(cr_, tile.get());
      return true;
    }
    case kBsPattern:
    case kBsDibPattern:
    case kBsDibPatternPt: {
      if (!brush.Pattern) {
        SetColorSource(brush.Color);
        return true;
      }
      const TSurfacePtr tile = SurfaceOfBitmap(*brush.Pattern, [](uint32_t p) { return p | kOpaqueAlpha; });
      if (!SurfaceOk(tile)) return false;
      SetTileSource(cr_, tile.get());
      return true;
    }
    default: return false;  // kBsNull, and styles playback does not know
  }
}

cairo_fill_rule_t TPlayer::FillRule() const {
  return st_.PolyFill == kWinding ? CAIRO_FILL_RULE_WINDING : CAIRO_FILL_RULE_EVEN_ODD;
}

void TPlayer::FillCurrent(const TBrush& brush, bool preserve) {
  UseTarget();  // patterns are laid on the device's grid, whatever the page's transform
  if (SetBrushSource(brush)) {
    cairo_set_fill_rule(cr_, FillRule());
    cairo_fill_preserve(cr_);
  }
  if (!preserve) cairo_new_path(cr_);
}

void TPlayer::StrokeCurrent(bool preserve) {
  const TPen& pen = st_.Pen;
  const uint32_t style = pen.Style & kPsStyleMask;
  if (style != kPsNull && st_.Rop2 != kR2Nop) {
    const cairo_matrix_t m = FullMatrix();
    const double scale = std::sqrt(std::fabs(m.xx * m.yy - m.xy * m.yx));
    double width = pen.Width * scale;
    if (!Finite(width) || width < 1) width = 1;
    // A pen far wider than the target paints nothing more, but costs Cairo in proportion.
    width = std::min(width, 4.0 * (double(target_.Width()) + target_.Height()));
    const bool thin = width <= 1.0;
    UseTarget();
    SetColorSource(pen.Color);
    cairo_set_line_width(cr_, width);
    const uint32_t cap = pen.Style & kPsEndcapMask, join = pen.Style & kPsJoinMask;
    cairo_set_line_cap(cr_, thin || cap == kPsEndcapFlat ? CAIRO_LINE_CAP_BUTT
                            : cap == kPsEndcapSquare     ? CAIRO_LINE_CAP_SQUARE
                                                         : CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr_, join == kPsJoinBevel   ? CAIRO_LINE_JOIN_BEVEL
                             : join == kPsJoinMiter ? CAIRO_LINE_JOIN_MITER
                                                    : (thin ? CAIRO_LINE_JOIN_MITER : CAIRO_LINE_JOIN_ROUND));
    cairo_set_miter_limit(cr_, std::clamp(st_.MiterLimit, 1.0, 100.0));
    const double unit = std::max(1.0, width);
    // Only thin pens and geometric pens are dashed; a wide simple pen draws solid.
    const uint32_t dash_style = !thin && !(pen.Style & kPsGeometric) ? kPsSolid : style;
    std::vector<double> dashes = StyleDashes(dash_style);
    if (dash_style == kPsUserStyle)
      for (double d : pen.Dashes) dashes.push_back(std::clamp(d * scale / unit, 0.0, kFar));
    bool any = false;
    double period = 0;
    for (double& d : dashes) {
      d *= unit;
      any = any || d > 0;
      period += d;
    }
    if (any) {
      // Millions of dashes would take Cairo minutes; a line that long is drawn solid.
      double x0, y0, x1, y1;
      cairo_path_extents(cr_, &x0, &y0, &x1, &y1);
      if (!(2 * ((x1 - x0) + (y1 - y0)) / period < 1e6)) any = false;
    }
    if (any)
      cairo_set_dash(cr_, dashes.data(), static_cast<int>(dashes.size()), 0);
    else
      cairo_set_dash(cr_, nullptr, 0, 0);
    cairo_stroke_preserve(cr_);
    cairo_set_dash(cr_, nullptr, 0, 0);
  }
  if (!preserve) cairo_new_path(cr_);
}

}  // namespace pellavo::metafile
