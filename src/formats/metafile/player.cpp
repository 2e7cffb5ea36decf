// The drawing context's construction and its stack of saved states.
#include "formats/metafile/player.h"

namespace pellavo::metafile {

TPlayer::TPlayer(cairo_t* cr, const TRect& target, const cairo_matrix_t& base, double px_per_mm_x,
                 double px_per_mm_y)
    : cr_(cr), base_(base), px_per_mm_x_(px_per_mm_x), px_per_mm_y_(px_per_mm_y), target_(target) {
  cairo_matrix_init_identity(&st_.World);
  // Lines and fills land on whole pixels, as the formats' own drawing does; text keeps its
  // smoothing through the font options.
  cairo_set_antialias(cr_, CAIRO_ANTIALIAS_NONE);
  const TFontOptionsPtr fo(cairo_font_options_create());
  cairo_font_options_set_antialias(fo.get(), CAIRO_ANTIALIAS_GRAY);
  cairo_font_options_set_hint_style(fo.get(), CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_hint_metrics(fo.get(), CAIRO_HINT_METRICS_OFF);
  cairo_set_font_options(cr_, fo.get());
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

}  // namespace pellavo::metafile
