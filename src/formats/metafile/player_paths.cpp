// The path bracket: figures recorded between BeginPath and EndPath, then filled, stroked or made
// the clip (player_clip.cpp). The recorded path is kept in target pixels.
#include "formats/metafile/player.h"

namespace pellavo::metafile {

void TPlayer::BeginPath() {
  path_.reset();
  ApplyClip();
  cairo_new_path(cr_);
  in_path_ = true;
}

void TPlayer::EndPath() {
  if (!in_path_) return;
  UseTarget();
  path_.reset(cairo_copy_path(cr_));
  cairo_new_path(cr_);
  in_path_ = false;
}

void TPlayer::AbortPath() {
  path_.reset();
  cairo_new_path(cr_);
  in_path_ = false;
}

void TPlayer::CloseFigure() {
  if (in_path_) cairo_close_path(cr_);
}

bool TPlayer::LoadRecordedPath() {
  const TPathPtr path = std::move(path_);
  UseTarget();
  cairo_new_path(cr_);
  cairo_append_path(cr_, path.get());
  if (!PathWithinReach()) {
    cairo_new_path(cr_);
    return false;
  }
  return true;
}

// Paints the finished path when it lies within reach; the path is used up either way.
template <class Paint>
void TPlayer::PaintRecordedPath(Paint&& paint) {
  if (in_path_) EndPath();
  if (!path_) return;
  ApplyClip();
  if (LoadRecordedPath()) paint();
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

}  // namespace pellavo::metafile
