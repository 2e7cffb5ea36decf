#include "formats/metafile/player.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/errors.h"
#include "core/stream.h"

namespace pellavo::metafile {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Coordinates beyond this (in target pixels) are outside any surface we draw on; Cairo's fixed
// point would wrap them, so shapes reaching that far are clamped first.
constexpr double kFar = 1 << 22;

enum : uint32_t { kPsNull = 5, kPsInsideFrame = 6, kPsUserStyle = 7, kPsStyleMask = 0x0F, kPsGeometric = 0x10000 };
enum : uint32_t { kBsSolid = 0, kBsNull = 1, kBsHatched = 2, kBsPattern = 3, kBsDibPattern = 5, kBsDibPatternPt = 6 };
enum : uint32_t { kRgnAnd = 1, kRgnOr = 2, kRgnXor = 3, kRgnDiff = 4, kRgnCopy = 5 };
enum : uint32_t { kEtoOpaque = 2, kEtoClipped = 4 };
enum : uint32_t { kTaUpdateCp = 1, kTaRight = 2, kTaCenter = 6, kTaBottom = 8, kTaBaseline = 24 };

bool Finite(double v) { return std::isfinite(v); }

double Clamp(double v) { return std::clamp(v, -kFar, kFar); }

// A rectangle read from a file: its extent may not fit 32 bits.
void RectPath(cairo_t* cr, const TRect& r) {
  cairo_rectangle(cr, r.Left, r.Top, double(r.Right) - r.Left, double(r.Bottom) - r.Top);
}

void RegionDeleter(cairo_region_t* r) { cairo_region_destroy(r); }

std::shared_ptr<cairo_region_t> Own(cairo_region_t* r) { return std::shared_ptr<cairo_region_t>(r, RegionDeleter); }

bool Invertible(const cairo_matrix_t& m) {
  if (!Finite(m.xx) || !Finite(m.yx) || !Finite(m.xy) || !Finite(m.yy) || !Finite(m.x0) || !Finite(m.y0))
    return false;
  const double det = m.xx * m.yy - m.xy * m.yx;
  return Finite(det) && std::fabs(det) > 1e-12;
}

cairo_matrix_t Multiply(const cairo_matrix_t& first, const cairo_matrix_t& then) {
  cairo_matrix_t r;
  cairo_matrix_multiply(&r, &first, &then);
  return r;
}

// The 24-bit colour of a COLORREF as a TColor32 colour part.
TColor32 RefToColor(TColorRef c) { return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF); }

// One ternary raster operation over 24 bits of colour, all bits at once: bit i of the code's
// index byte is the result for pattern, source, destination = bits 2, 1, 0 of i.
uint32_t Ternary(uint32_t rop, uint32_t p, uint32_t s, uint32_t d) {
  const uint32_t index = (rop >> 16) & 0xFF;
  uint32_t r = 0;
  for (uint32_t i = 0; i < 8; ++i) {
    if (!((index >> i) & 1)) continue;
    r |= ((i & 4) ? p : ~p) & ((i & 2) ? s : ~s) & ((i & 1) ? d : ~d);
  }
  return r & 0xFFFFFF;
}

// A Cairo image surface that is released with its owner.
struct TSurface {
  cairo_surface_t* s = nullptr;
  explicit TSurface(cairo_surface_t* surface) : s(surface) {}
  ~TSurface() {
    if (s) cairo_surface_destroy(s);
  }
  TSurface(const TSurface&) = delete;
  TSurface& operator=(const TSurface&) = delete;
  bool Ok() const { return s && cairo_surface_status(s) == CAIRO_STATUS_SUCCESS; }
  uint32_t* Row(int y) const {
    return reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s) + static_cast<size_t>(y) * cairo_image_surface_get_stride(s));
  }
};

// The 8 x 8 pattern of a hatched brush: 1 where the hatch line is.
bool HatchBit(uint32_t hatch, int x, int y) {
  switch (hatch) {
    case 0: return y == 4;                       // horizontal
    case 1: return x == 4;                       // vertical
    case 2: return x == y;                       // forward diagonal
    case 3: return x == 7 - y;                   // backward diagonal
    case 4: return x == 4 || y == 4;             // cross
    case 5: return x == y || x == 7 - y;         // diagonal cross
    default: return false;
  }
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xF0 | (c >> 18));
    out += char(0x80 | ((c >> 12) & 0x3F));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
}

char32_t Printable(char32_t c) {
  if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return 0xFFFD;
  return c;
}

}  // namespace

std::u32string FromWindows1252(const uint8_t* text, size_t count) {
  // 0x80 to 0x9F; 0 where the code page leaves a position unassigned.
  static constexpr char16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                         0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                         0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                         0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
  std::u32string s;
  s.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t c = text[i];
    s += c >= 0x80 && c < 0xA0 ? (kHigh[c - 0x80] ? char32_t(kHigh[c - 0x80]) : char32_t(0xFFFD)) : char32_t(c);
  }
  return s;
}

std::optional<TBitmap> DecodeDib(const uint8_t* bmi, size_t bmi_size, const uint8_t* bits, size_t bits_size) {
  if (!bmi || bmi_size < 12) return std::nullopt;
  const uint64_t total = 14 + uint64_t(bmi_size) + bits_size;
  if (total > 0xFFFFFFFFu) return std::nullopt;
  // The BMP reader takes a file; give it one, the pixel data right after the header.
  std::vector<uint8_t> file(static_cast<size_t>(total));
  file[0] = 'B';
  file[1] = 'M';
  const auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) file[at + i] = uint8_t(v >> (8 * i));
  };
  put32(2, static_cast<uint32_t>(total));
  put32(10, static_cast<uint32_t>(14 + bmi_size));
  std::memcpy(file.data() + 14, bmi, bmi_size);
  if (bits_size) std::memcpy(file.data() + 14 + bmi_size, bits, bits_size);
  try {
    TMemoryStream stream(std::move(file));
    TBitmap b;
    b.LoadFromStream(stream);
    if (b.Empty()) return std::nullopt;
    return b;
  } catch (const Exception&) {
    return std::nullopt;
  }
}

TPlayer::TPlayer(cairo_t* cr, const TRect& target, const cairo_matrix_t& base, double px_per_mm_x,
                 double px_per_mm_y)
    : cr_(cr), base_(base), px_per_mm_x_(px_per_mm_x), px_per_mm_y_(px_per_mm_y), target_(target) {
  cairo_matrix_init_identity(&st_.World);
  // Lines and fills land on whole pixels, as the formats' own drawing does; text keeps its
  // smoothing through the font options.
  cairo_set_antialias(cr_, CAIRO_ANTIALIAS_NONE);
  cairo_font_options_t* fo = cairo_font_options_create();
  cairo_font_options_set_antialias(fo, CAIRO_ANTIALIAS_GRAY);
  cairo_font_options_set_hint_style(fo, CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_hint_metrics(fo, CAIRO_HINT_METRICS_OFF);
  cairo_set_font_options(cr_, fo);
  cairo_font_options_destroy(fo);
}

TPlayer::~TPlayer() {
  if (path_) cairo_path_destroy(path_);
}

// ---- mapping -------------------------------------------------------------------------------

cairo_matrix_t TPlayer::PageMatrix() const {
  double sx = 1, sy = 1;
  const auto metric = [&](double mm_per_unit, bool) {
    sx = mm_per_unit * px_per_mm_x_;
    sy = -mm_per_unit * px_per_mm_y_;
  };
  switch (st_.MapMode) {
    case 2: metric(0.1, true); break;
    case 3: metric(0.01, true); break;
    case 4: metric(0.254, true); break;
    case 5: metric(0.0254, true); break;
    case 6: metric(25.4 / 1440, true); break;
    case 7:
    case 8:
      sx = st_.WinExtX != 0 ? st_.VpExtX / st_.WinExtX : 0;
      sy = st_.WinExtY != 0 ? st_.VpExtY / st_.WinExtY : 0;
      if (st_.MapMode == 7) {
        const double m = std::min(std::fabs(sx), std::fabs(sy));
        sx = std::copysign(m, sx);
        sy = std::copysign(m, sy);
      }
      break;
    default: break;
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
  if (mode >= 1 && mode <= 8) st_.MapMode = mode;
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
  st_.MapMode = 8;
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
    case 1: cairo_matrix_init_identity(&r); break;
    case 2: r = Multiply(w, st_.World); break;  // the new transform applies first
    case 3: r = Multiply(st_.World, w); break;
    case 4: r = w; break;
    default: return;
  }
  if (Invertible(r)) st_.World = r;
}

void TPlayer::SaveDC() {
  // A runaway file could save forever; past this depth the saves are dropped.
  if (saved_.size() < 4096) saved_.push_back(st_);
}

void TPlayer::RestoreDC(int32_t which) {
  const int64_t depth = static_cast<int64_t>(saved_.size());
  int64_t keep;  // states left on the stack after the restore
  if (which < 0)
    keep = depth + which;
  else
    keep = int64_t{which} - 1;
  if (keep < 0 || keep >= depth) return;
  st_ = saved_[static_cast<size_t>(keep)];
  saved_.resize(static_cast<size_t>(keep));
  clip_applied_ = false;
}

// ---- clipping ------------------------------------------------------------------------------

void TPlayer::SetClip(std::shared_ptr<cairo_region_t> region) {
  st_.Clip = std::move(region);
  clip_applied_ = false;
}

void TPlayer::ApplyClip() {
  if (clip_applied_) return;
  cairo_path_t* keep = nullptr;
  if (in_path_) {
    UseTarget();
    keep = cairo_copy_path(cr_);
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
  if (keep) {
    cairo_append_path(cr_, keep);
    cairo_path_destroy(keep);
  }
  clip_applied_ = true;
}

void TPlayer::CombineClip(cairo_region_t* with, uint32_t mode) {
  cairo_region_t* result;
  if (mode == kRgnCopy) {
    result = cairo_region_copy(with);
  } else {
    const cairo_rectangle_int_t all{target_.Left, target_.Top, target_.Width(), target_.Height()};
    result = st_.Clip ? cairo_region_copy(st_.Clip.get()) : cairo_region_create_rectangle(&all);
    switch (mode) {
      case kRgnAnd: cairo_region_intersect(result, with); break;
      case kRgnOr: cairo_region_union(result, with); break;
      case kRgnXor: cairo_region_xor(result, with); break;
      case kRgnDiff: cairo_region_subtract(result, with); break;
      default: break;
    }
  }
  SetClip(Own(result));
}

cairo_region_t* TPlayer::RegionOfPath(cairo_fill_rule_t rule) {
  cairo_region_t* region = cairo_region_create();
  UseTarget();
  // Only the part of the target the path reaches is rasterised.
  double x0, y0, x1, y1;
  cairo_path_extents(cr_, &x0, &y0, &x1, &y1);
  TRect box = Rect(int32_t(Clamp(std::floor(x0))), int32_t(Clamp(std::floor(y0))), int32_t(Clamp(std::ceil(x1))),
                   int32_t(Clamp(std::ceil(y1))));
  if (!IntersectRect(box, box, target_) || IsRectEmpty(box)) return region;
  const int w = box.Width(), h = box.Height();
  TSurface mask(cairo_image_surface_create(CAIRO_FORMAT_A8, w, h));
  if (!mask.Ok()) return region;
  cairo_path_t* path = cairo_copy_path(cr_);
  cairo_t* m = cairo_create(mask.s);
  cairo_set_antialias(m, CAIRO_ANTIALIAS_NONE);
  cairo_translate(m, -box.Left, -box.Top);
  cairo_append_path(m, path);
  cairo_set_fill_rule(m, rule);
  cairo_fill(m);
  cairo_destroy(m);
  cairo_path_destroy(path);
  cairo_surface_flush(mask.s);
  const unsigned char* data = cairo_image_surface_get_data(mask.s);
  const int stride = cairo_image_surface_get_stride(mask.s);
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
      cairo_region_union_rectangle(region, &r);
      x = e;
    }
  }
  return region;
}

cairo_region_t* TPlayer::RegionOfRect(double l, double t, double r, double b) {
  const cairo_matrix_t m = FullMatrix();
  if (std::fabs(m.xy) < 1e-9 && std::fabs(m.yx) < 1e-9) {
    // Upright: the rectangle's corners, rounded to whole pixels, bound it.
    double x0 = l, y0 = t, x1 = r, y1 = b;
    cairo_matrix_transform_point(&m, &x0, &y0);
    cairo_matrix_transform_point(&m, &x1, &y1);
    TRect box = Rect(int32_t(Clamp(std::round(std::min(x0, x1)))), int32_t(Clamp(std::round(std::min(y0, y1)))),
                     int32_t(Clamp(std::round(std::max(x0, x1)))), int32_t(Clamp(std::round(std::max(y0, y1)))));
    if (!Finite(x0) || !Finite(y0) || !Finite(x1) || !Finite(y1) || !IntersectRect(box, box, target_) ||
        IsRectEmpty(box))
      return cairo_region_create();
    const cairo_rectangle_int_t ri{box.Left, box.Top, box.Width(), box.Height()};
    return cairo_region_create_rectangle(&ri);
  }
  cairo_new_path(cr_);
  if (!UseLogical()) return cairo_region_create();
  cairo_rectangle(cr_, l, t, r - l, b - t);
  cairo_region_t* region = RegionOfPath(CAIRO_FILL_RULE_WINDING);
  cairo_new_path(cr_);
  return region;
}

void TPlayer::SelectClipRects(const TRects* device_rects, uint32_t mode) {
  if (!device_rects) {
    if (mode == kRgnCopy) SetClip(nullptr);
    return;
  }
  cairo_region_t* region = cairo_region_create();
  for (const TRect& r : *device_rects) {
    double x0 = r.Left, y0 = r.Top, x1 = r.Right, y1 = r.Bottom;
    cairo_matrix_transform_point(&base_, &x0, &y0);
    cairo_matrix_transform_point(&base_, &x1, &y1);
    const double l = Clamp(std::round(std::min(x0, x1))), t = Clamp(std::round(std::min(y0, y1)));
    const double rr = Clamp(std::round(std::max(x0, x1))), b = Clamp(std::round(std::max(y0, y1)));
    if (rr <= l || b <= t) continue;
    const cairo_rectangle_int_t ri{int(l), int(t), int(rr - l), int(b - t)};
    cairo_region_union_rectangle(region, &ri);
  }
  CombineClip(region, mode);
  cairo_region_destroy(region);
}

void TPlayer::IntersectClipRect(double l, double t, double r, double b) {
  if (in_path_ || !Invertible(FullMatrix())) return;
  cairo_region_t* region = RegionOfRect(l, t, r, b);
  CombineClip(region, kRgnAnd);
  cairo_region_destroy(region);
}

void TPlayer::ExcludeClipRect(double l, double t, double r, double b) {
  if (in_path_ || !Invertible(FullMatrix())) return;
  cairo_region_t* region = RegionOfRect(l, t, r, b);
  CombineClip(region, kRgnDiff);
  cairo_region_destroy(region);
}

void TPlayer::OffsetClip(double dx, double dy) {
  if (!st_.Clip) return;
  const TPointD a = ToTarget(0, 0), b = ToTarget(dx, dy);
  const double ox = Clamp(std::round(b.x - a.x)), oy = Clamp(std::round(b.y - a.y));
  if (!Finite(ox) || !Finite(oy)) return;
  cairo_region_t* moved = cairo_region_copy(st_.Clip.get());
  cairo_region_translate(moved, int(ox), int(oy));
  SetClip(Own(moved));
}

// ---- sources -------------------------------------------------------------------------------

void TPlayer::SetColorSource(TColorRef c) {
  cairo_set_source_rgb(cr_, (c & 0xFF) / 255.0, ((c >> 8) & 0xFF) / 255.0, ((c >> 16) & 0xFF) / 255.0);
}

bool TPlayer::SetBrushSource(const TBrush& brush) {
  switch (brush.Style) {
    case kBsSolid: SetColorSource(brush.Color); return true;
    case kBsHatched: {
      TSurface tile(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 8, 8));
      if (!tile.Ok()) return false;
      cairo_surface_flush(tile.s);
      const uint32_t line = 0xFF000000u | RefToColor(brush.Color);
      const uint32_t back = st_.BkMode == 2 ? 0xFF000000u | RefToColor(st_.BkColor) : 0;
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) tile.Row(y)[x] = HatchBit(brush.Hatch, x, y) ? line : back;
      cairo_surface_mark_dirty(tile.s);
      cairo_pattern_t* p = cairo_pattern_create_for_surface(tile.s);
      cairo_pattern_set_extend(p, CAIRO_EXTEND_REPEAT);
      cairo_pattern_set_filter(p, CAIRO_FILTER_NEAREST);
      cairo_set_source(cr_, p);
      cairo_pattern_destroy(p);
      return true;
    }
    case kBsPattern:
    case kBsDibPattern:
    case kBsDibPatternPt: {
      if (!brush.Pattern) {
        SetColorSource(brush.Color);
        return true;
      }
      const TBitmap& b = *brush.Pattern;
      TSurface tile(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, b.Width(), b.Height()));
      if (!tile.Ok()) return false;
      cairo_surface_flush(tile.s);
      for (int y = 0; y < b.Height(); ++y) {
        b.ReadRow32(y, tile.Row(y));
        for (int x = 0; x < b.Width(); ++x) tile.Row(y)[x] |= 0xFF000000u;
      }
      cairo_surface_mark_dirty(tile.s);
      cairo_pattern_t* p = cairo_pattern_create_for_surface(tile.s);
      cairo_pattern_set_extend(p, CAIRO_EXTEND_REPEAT);
      cairo_pattern_set_filter(p, CAIRO_FILTER_NEAREST);
      cairo_set_source(cr_, p);
      cairo_pattern_destroy(p);
      return true;
    }
    default: return false;
  }
}

// ---- shapes --------------------------------------------------------------------------------

void TPlayer::StartShape() {
  if (!in_path_) {
    ApplyClip();
    cairo_new_path(cr_);
  }
}

void TPlayer::FillCurrent(const TBrush& brush, bool preserve) {
  UseTarget();  // patterns are laid on the device's grid, whatever the page's transform
  if (SetBrushSource(brush)) {
    cairo_set_fill_rule(cr_, st_.PolyFill == 2 ? CAIRO_FILL_RULE_WINDING : CAIRO_FILL_RULE_EVEN_ODD);
    cairo_fill_preserve(cr_);
  }
  if (!preserve) cairo_new_path(cr_);
}

void TPlayer::StrokeCurrent(bool preserve) {
  const TPen& pen = st_.Pen;
  const uint32_t style = pen.Style & kPsStyleMask;
  if (style != kPsNull && st_.Rop2 != 11) {
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
    const uint32_t cap = pen.Style & 0x0F00, join = pen.Style & 0xF000;
    cairo_set_line_cap(cr_, thin || cap == 0x200 ? CAIRO_LINE_CAP_BUTT
                            : cap == 0x100       ? CAIRO_LINE_CAP_SQUARE
                                                 : CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr_, join == 0x1000   ? CAIRO_LINE_JOIN_BEVEL
                             : join == 0x2000 ? CAIRO_LINE_JOIN_MITER
                                              : (thin ? CAIRO_LINE_JOIN_MITER : CAIRO_LINE_JOIN_ROUND));
    cairo_set_miter_limit(cr_, std::clamp(st_.MiterLimit, 1.0, 100.0));
    std::vector<double> dashes;
    const double unit = std::max(1.0, width);
    // Only thin pens and geometric pens are dashed; a wide simple pen draws solid.
    const uint32_t dash_style = !thin && !(pen.Style & kPsGeometric) ? 0 : style;
    switch (dash_style) {
      case 1: dashes = {18, 6}; break;
      case 2: dashes = {3, 3}; break;
      case 3: dashes = {9, 6, 3, 6}; break;
      case 4: dashes = {9, 3, 3, 3, 3, 3}; break;
      case kPsUserStyle:
        for (double d : pen.Dashes) dashes.push_back(std::clamp(d * scale / unit, 0.0, kFar));
        break;
      default: break;
    }
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

void TPlayer::MoveTo(double x, double y) {
  st_.CurX = x, st_.CurY = y;
  if (in_path_ && UseLogical()) cairo_move_to(cr_, x, y);
}

void TPlayer::LineTo(double x, double y) {
  StartShape();
  if (UseLogical()) {
    if (!in_path_ || !cairo_has_current_point(cr_)) cairo_move_to(cr_, st_.CurX, st_.CurY);
    cairo_line_to(cr_, x, y);
    FinishShape(false, true);
  }
  st_.CurX = x, st_.CurY = y;
}

void TPlayer::AppendPolyline(const std::vector<TPointD>& pts, bool closed) {
  cairo_move_to(cr_, pts[0].x, pts[0].y);
  for (size_t i = 1; i < pts.size(); ++i) cairo_line_to(cr_, pts[i].x, pts[i].y);
  if (closed) cairo_close_path(cr_);
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
    if (!in_path_ || !cairo_has_current_point(cr_)) cairo_move_to(cr_, st_.CurX, st_.CurY);
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
    if (!in_path_ || !cairo_has_current_point(cr_)) cairo_move_to(cr_, st_.CurX, st_.CurY);
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
  if (!in_path_ || !cairo_has_current_point(cr_)) cairo_move_to(cr_, st_.CurX, st_.CurY);
  for (size_t i = 0; i < n; ++i) {
    const uint8_t t = types[i] & ~1u;
    if (t == 6) {
      cairo_move_to(cr_, pts[i].x, pts[i].y);
    } else if (t == 2) {
      cairo_line_to(cr_, pts[i].x, pts[i].y);
    } else if (t == 4 && i + 2 < n) {
      cairo_curve_to(cr_, pts[i].x, pts[i].y, pts[i + 1].x, pts[i + 1].y, pts[i + 2].x, pts[i + 2].y);
      i += 2;
    } else {
      break;
    }
    st_.CurX = pts[i].x, st_.CurY = pts[i].y;
    if (types[i] & 1) cairo_close_path(cr_);
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
      if (!in_path_ || !cairo_has_current_point(cr_)) cairo_move_to(cr_, st_.CurX, st_.CurY);
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
    if (!in_path_ || !cairo_has_current_point(cr_)) cairo_move_to(cr_, st_.CurX, st_.CurY);
    const double a1 = -start_deg * kPi / 180, a2 = -(start_deg + std::clamp(sweep_deg, -720.0, 720.0)) * kPi / 180;
    EllipseArc(cr_, x, y, radius, radius, a1, a2, sweep_deg > 0);
    double cxp, cyp;
    cairo_get_current_point(cr_, &cxp, &cyp);
    st_.CurX = cxp, st_.CurY = cyp;
    FinishShape(false, true);
  }
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
  const uint32_t fill = st_.PolyFill;
  st_.PolyFill = 2;
  FillCurrent(brush, false);
  st_.PolyFill = fill;
}

// ---- paths ---------------------------------------------------------------------------------

void TPlayer::BeginPath() {
  if (path_) cairo_path_destroy(path_);
  path_ = nullptr;
  ApplyClip();
  cairo_new_path(cr_);
  in_path_ = true;
}

void TPlayer::EndPath() {
  if (!in_path_) return;
  UseTarget();
  if (path_) cairo_path_destroy(path_);
  path_ = cairo_copy_path(cr_);
  cairo_new_path(cr_);
  in_path_ = false;
}

void TPlayer::AbortPath() {
  if (path_) cairo_path_destroy(path_);
  path_ = nullptr;
  cairo_new_path(cr_);
  in_path_ = false;
}

void TPlayer::CloseFigure() {
  if (in_path_) cairo_close_path(cr_);
}

// Loads the finished path into the context and paints it when it lies within reach; the path is
// used up either way.
template <class Paint>
void TPlayer::PaintRecordedPath(Paint&& paint) {
  if (in_path_) EndPath();
  if (!path_) return;
  ApplyClip();
  UseTarget();
  cairo_new_path(cr_);
  cairo_append_path(cr_, path_);
  cairo_path_destroy(path_);
  path_ = nullptr;
  if (!PathWithinReach()) {
    cairo_new_path(cr_);
    return;
  }
  paint();
}

void TPlayer::FillPath() {
  PaintRecordedPath([this] { FillCurrent(st_.Brush, false); });
}

void TPlayer::StrokePath() {
  PaintRecordedPath([this] { StrokeCurrent(false); });
}

void TPlayer::StrokeAndFillPath() {
  PaintRecordedPath([this] {
    FillCurrent(st_.Brush, true);
    StrokeCurrent(false);
  });
}

void TPlayer::SelectClipPath(uint32_t mode) {
  if (in_path_) EndPath();
  if (!path_) return;
  UseTarget();
  cairo_new_path(cr_);
  cairo_append_path(cr_, path_);
  if (!PathWithinReach()) {
    cairo_new_path(cr_);
    cairo_path_destroy(path_);
    path_ = nullptr;
    return;
  }
  cairo_region_t* region =
      RegionOfPath(st_.PolyFill == 2 ? CAIRO_FILL_RULE_WINDING : CAIRO_FILL_RULE_EVEN_ODD);
  cairo_new_path(cr_);
  CombineClip(region, mode);
  cairo_region_destroy(region);
  cairo_path_destroy(path_);
  path_ = nullptr;
}

// ---- bitmaps -------------------------------------------------------------------------------

void TPlayer::BlitPixels(const TBlit& blit, const TRect& dest, bool flip_x, bool flip_y) {
  TRect area;
  if (!IntersectRect(area, dest, target_) || IsRectEmpty(area)) return;
  TSurface tile(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, area.Width(), area.Height()));
  if (!tile.Ok()) return;
  cairo_surface_t* screen = cairo_get_target(cr_);
  cairo_surface_flush(screen);
  cairo_surface_flush(tile.s);
  const unsigned char* screen_data = cairo_image_surface_get_data(screen);
  const int screen_stride = cairo_image_surface_get_stride(screen);

  const TBitmap* src = blit.Source;
  const int32_t sw = src ? src->Width() : 0, sh = src ? src->Height() : 0;
  const int64_t dw = dest.Width(), dh = dest.Height();
  // Source column of each destination column, -1 outside the bitmap.
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
  const bool copy = ((rop >> 16) & 0xFF) == 0xCC;  // the common case: the source as it is
  std::vector<TColor32> line(static_cast<size_t>(std::max(sw, 1)));
  int32_t loaded = -1;
  for (int32_t y = area.Top; y < area.Bottom; ++y) {
    uint32_t* out = tile.Row(y - area.Top);
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
          v = 0xFF000000u | (copy ? s : Ternary(rop, pattern, s & 0xFFFFFF, under[x] & 0xFFFFFF));
          break;
        case TBlit::TKind::Transparent:
          if (have && (s & 0xFFFFFF) != key) v = 0xFF000000u | (s & 0xFFFFFF);
          break;
        case TBlit::TKind::Alpha: {
          if (!have) break;
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
  cairo_surface_mark_dirty(tile.s);
  ApplyClip();
  UseTarget();
  cairo_new_path(cr_);
  cairo_set_source_surface(cr_, tile.s, area.Left, area.Top);
  cairo_rectangle(cr_, area.Left, area.Top, area.Width(), area.Height());
  cairo_fill(cr_);
}

void TPlayer::Blit(const TBlit& blit) {
  if (in_path_) return;
  if (blit.Source && (blit.SrcW == 0 || blit.SrcH == 0)) return;
  const cairo_matrix_t m = FullMatrix();
  if (!Invertible(m)) return;
  if (std::fabs(m.xy) < 1e-9 && std::fabs(m.yx) < 1e-9) {
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
    const auto fits = [](int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; };
    if (b.SrcW < 0) {
      const int64_t x = int64_t{b.SrcX} + b.SrcW, w = -int64_t{b.SrcW};
      if (!fits(x) || !fits(w)) return;
      b.SrcX = int32_t(x), b.SrcW = int32_t(w), flip_x = !flip_x;
    }
    if (b.SrcH < 0) {
      const int64_t y = int64_t{b.SrcY} + b.SrcH, h = -int64_t{b.SrcH};
      if (!fits(y) || !fits(h)) return;
      b.SrcY = int32_t(y), b.SrcH = int32_t(h), flip_y = !flip_y;
    }
    BlitPixels(b, dest, flip_x, flip_y);
    return;
  }
  // Rotated or sheared: Cairo maps the bitmap; raster operations other than a copy of the
  // source are approximated by one.
  ApplyClip();
  cairo_new_path(cr_);
  if (!UseLogical()) return;
  cairo_rectangle(cr_, blit.X, blit.Y, blit.W, blit.H);
  if (!blit.Source) {
    const uint32_t index = (blit.Rop >> 16) & 0xFF;
    UseTarget();
    if (index == 0x00)
      SetColorSource(0);
    else if (index == 0xFF)
      SetColorSource(0xFFFFFF);
    else if (!SetBrushSource(st_.Brush))
      return cairo_new_path(cr_);
    UseTarget();
    cairo_fill(cr_);
    return;
  }
  const TBitmap& src = *blit.Source;
  TSurface image(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, src.Width(), src.Height()));
  if (!image.Ok() || blit.W == 0 || blit.H == 0) return cairo_new_path(cr_);
  cairo_surface_flush(image.s);
  for (int32_t y = 0; y < src.Height(); ++y) {
    uint32_t* row = image.Row(y);
    src.ReadRow32(y, row);
    for (int32_t x = 0; x < src.Width(); ++x) {
      if (blit.Kind == TBlit::TKind::Transparent && (row[x] & 0xFFFFFF) == RefToColor(blit.TransparentColor))
        row[x] = 0;
      else if (blit.Kind != TBlit::TKind::Alpha || !blit.SourceAlpha)
        row[x] |= 0xFF000000u;
    }
  }
  cairo_surface_mark_dirty(image.s);
  cairo_pattern_t* p = cairo_pattern_create_for_surface(image.s);
  cairo_matrix_t pm;  // logical units to source pixels
  cairo_matrix_init_translate(&pm, blit.SrcX, blit.SrcY);
  cairo_matrix_scale(&pm, double(blit.SrcW) / blit.W, double(blit.SrcH) / blit.H);
  cairo_matrix_translate(&pm, -blit.X, -blit.Y);
  if (Invertible(pm)) {
    cairo_pattern_set_matrix(p, &pm);
    cairo_pattern_set_filter(p, CAIRO_FILTER_NEAREST);
    cairo_set_source(cr_, p);
    if (blit.Kind == TBlit::TKind::Alpha && blit.ConstantAlpha != 255) {
      cairo_save(cr_);
      cairo_clip(cr_);
      cairo_paint_with_alpha(cr_, blit.ConstantAlpha / 255.0);
      cairo_restore(cr_);
    } else {
      cairo_fill(cr_);
    }
  }
  cairo_pattern_destroy(p);
  cairo_new_path(cr_);
}

// ---- text ----------------------------------------------------------------------------------

void TPlayer::TextOut(double x, double y, const std::u32string& text, uint32_t options,
                      const std::optional<TRect>& rect, const std::vector<double>& dx) {
  if (in_path_) return;
  ApplyClip();
  cairo_new_path(cr_);
  const cairo_matrix_t m = FullMatrix();
  if (!Invertible(m)) return;
  if ((options & kEtoOpaque) && rect && UseLogical()) {
    RectPath(cr_, *rect);
    SetColorSource(st_.BkColor);
    UseTarget();
    cairo_fill(cr_);
  }
  if (text.empty()) return;

  const TFont& font = st_.Font;
  const double sx = std::hypot(m.xx, m.yx), sy = std::hypot(m.xy, m.yy);
  const std::string face = font.Face.empty() ? std::string("DejaVu Sans") : font.Face;
  cairo_select_font_face(cr_, face.c_str(), font.Italic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                         font.Weight >= 600 ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  double em;
  if (font.Height < 0) {
    em = -font.Height * sy;
  } else if (font.Height > 0) {
    cairo_identity_matrix(cr_);
    cairo_set_font_size(cr_, 1);
    cairo_font_extents_t fe;
    cairo_font_extents(cr_, &fe);
    em = fe.ascent + fe.descent > 0 ? font.Height * sy / (fe.ascent + fe.descent) : font.Height * sy;
  } else {
    em = 16 * std::hypot(base_.xy, base_.yy);
  }
  if (!Finite(em) || em < 0.5 || em > 20000) return;

  const bool update_cp = st_.TextAlign & kTaUpdateCp;
  const TPointD origin = update_cp ? TPointD{st_.CurX, st_.CurY} : TPointD{x, y};
  const TPointD p = ToTarget(origin.x, origin.y);
  if (!Finite(p.x) || !Finite(p.y) || std::fabs(p.x) > kFar || std::fabs(p.y) > kFar) return;
  const double base_angle = m.xx >= 0 ? std::atan2(m.yx, m.xx) : std::atan2(-m.yx, -m.xx);
  const double angle = base_angle - font.Escapement * kPi / 1800;

  std::vector<std::string> glyphs;
  std::string all;
  for (char32_t c : text) {
    std::string g;
    AppendUtf8(g, Printable(c));
    all += g;
    glyphs.push_back(std::move(g));
  }

  cairo_identity_matrix(cr_);
  cairo_translate(cr_, p.x, p.y);
  cairo_rotate(cr_, angle);
  cairo_set_font_size(cr_, em);
  cairo_font_extents_t fe;
  cairo_font_extents(cr_, &fe);
  std::vector<double> offsets(glyphs.size() + 1, 0.0);
  for (size_t i = 0; i < glyphs.size(); ++i) {
    double adv;
    if (i < dx.size()) {
      adv = dx[i] * sx;
    } else {
      cairo_text_extents_t te;
      cairo_text_extents(cr_, glyphs[i].c_str(), &te);
      adv = te.x_advance;
    }
    offsets[i + 1] = offsets[i] + (Finite(adv) ? std::clamp(adv, -kFar, kFar) : 0);
  }
  const double width = offsets.back();
  double x0 = 0, y0 = 0;
  if ((st_.TextAlign & kTaCenter) == kTaCenter)
    x0 = -width / 2;
  else if (st_.TextAlign & kTaRight)
    x0 = -width;
  if ((st_.TextAlign & kTaBaseline) == kTaBaseline)
    y0 = 0;
  else if (st_.TextAlign & kTaBottom)
    y0 = -fe.descent;
  else
    y0 = fe.ascent;

  bool clipped = false;
  if ((options & kEtoClipped) && rect) {
    cairo_save(cr_);
    clipped = true;
    cairo_matrix_t keep;
    cairo_get_matrix(cr_, &keep);
    cairo_set_matrix(cr_, &m);
    RectPath(cr_, *rect);
    cairo_set_matrix(cr_, &keep);
    cairo_clip(cr_);
  }
  if (st_.BkMode == 2 && !(options & kEtoOpaque)) {
    cairo_rectangle(cr_, x0, y0 - fe.ascent, width, fe.ascent + fe.descent);
    SetColorSource(st_.BkColor);
    cairo_fill(cr_);
  }
  SetColorSource(st_.TextColor);
  if (dx.empty()) {
    cairo_move_to(cr_, x0, y0);
    cairo_show_text(cr_, all.c_str());
  } else {
    for (size_t i = 0; i < glyphs.size(); ++i) {
      cairo_move_to(cr_, x0 + offsets[i], y0);
      cairo_show_text(cr_, glyphs[i].c_str());
    }
  }
  const double thick = std::max(1.0, em / 14);
  if (font.Underline) {
    cairo_rectangle(cr_, x0, y0 + em / 10, width, thick);
    cairo_fill(cr_);
  }
  if (font.StrikeOut) {
    cairo_rectangle(cr_, x0, y0 - em * 0.3, width, thick);
    cairo_fill(cr_);
  }
  if (clipped) cairo_restore(cr_);
  cairo_new_path(cr_);
  if (update_cp && sx > 0) st_.CurX += width / sx * (m.xx >= 0 ? 1 : -1);
}

}  // namespace pellavo::metafile
