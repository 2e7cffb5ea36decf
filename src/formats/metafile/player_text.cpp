// Text: ANSI text decoding, and text output with the selected font, alignment, background and
// advances, clipped or underlaid by the record's rectangle.
#include <algorithm>
#include <cmath>
#include <optional>

#include "formats/metafile/player.h"
#include "formats/metafile/player_support.h"

namespace pellavo::metafile {
namespace {

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

// Lone surrogates and values beyond Unicode cannot be encoded: they show as the replacement.
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

  // The font's size in target pixels: a negative height is the em, a positive one the cell.
  const TFont& font = st_.Font;
  const double sx = std::hypot(m.xx, m.yx), sy = std::hypot(m.xy, m.yy);
  const std::string face = font.Face.empty() ? std::string("DejaVu Sans") : font.Face;
  cairo_select_font_face(cr_, face.c_str(), font.Italic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                         font.Weight >= kFwSemiBold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
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

  // From here on user space is the text's own: origin at the reference point, x along the
  // baseline, in target pixels.
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

  std::optional<TSavedState> clip_scope;
  if ((options & kEtoClipped) && rect) {
    clip_scope.emplace(cr_);
    cairo_matrix_t keep;
    cairo_get_matrix(cr_, &keep);
    cairo_set_matrix(cr_, &m);
    RectPath(cr_, *rect);
    cairo_set_matrix(cr_, &keep);
    cairo_clip(cr_);
  }
  if (st_.BkMode == kBkOpaque && !(options & kEtoOpaque)) {
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
  cairo_new_path(cr_);
  if (update_cp && sx > 0) st_.CurX += width / sx * (m.xx >= 0 ? 1 : -1);
}

}  // namespace pellavo::metafile
