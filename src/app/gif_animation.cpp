#include "app/gif_animation.h"

#include <algorithm>

#include "core/muldiv.h"
#include "formats/gif/gif_image.h"

namespace pellavo {
namespace {

std::optional<int> Showings(const TGIFImage& image) {
  const std::optional<uint16_t> loops = image.LoopCount();
  if (!loops || *loops == 0) return std::nullopt;
  return int{*loops} + 1;
}

}  // namespace

TGifAnimation::TGifAnimation(const TGIFImage& image, int32_t width, int32_t height, TColor32 background)
    : image_(image),
      width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      background_(background),
      frame_count_(image.FrameCount()),
      showings_(Showings(image)),
      pixels_(size_t(width_) * size_t(height_), background) {
  if (frame_count_ > 0) Paint(0);
}

std::optional<int> TGifAnimation::DelayMs() const {
  if (frame_count_ < 2) return std::nullopt;
  if (frame_ == frame_count_ - 1 && showings_ && shown_ >= *showings_) return std::nullopt;
  const int hundredths = image_.Frame(frame_).Delay();
  return hundredths < 2 ? kShortDelayMs : hundredths * 10;
}

void TGifAnimation::Advance() {
  if (!DelayMs()) return;
  if (frame_ == frame_count_ - 1) {
    std::fill(pixels_.begin(), pixels_.end(), background_);
    ++shown_;
    Paint(0);
    return;
  }
  switch (image_.Frame(frame_).Disposal()) {
    case TGIFDisposal::dmBackground: {
      TRect area;
      if (IntersectRect(area, PlacedRect(frame_), Rect(0, 0, width_, height_)))
        for (int32_t y = area.Top; y < area.Bottom; ++y)
          std::fill_n(pixels_.begin() + y * ptrdiff_t{width_} + area.Left, area.Width(), background_);
      break;
    }
    case TGIFDisposal::dmPrevious:
      std::copy(before_frame_.begin(), before_frame_.end(), pixels_.begin());
      break;
    default:  // none, leave in place, and the undefined values 4 to 7
      break;
  }
  Paint(frame_ + 1);
}

TRect TGifAnimation::PlacedRect(int frame) const {
  // The mapping a still GIF is drawn with, so a frame lands where DrawFrame paints it.
  const TGIFSubImage& f = image_.Frame(frame);
  const int32_t sw = image_.Width(), sh = image_.Height();
  return Rect(MulDiv(f.Left(), width_, sw), MulDiv(f.Top(), height_, sh), MulDiv(f.Left() + f.Width(), width_, sw),
              MulDiv(f.Top() + f.Height(), height_, sh));
}

void TGifAnimation::Paint(int frame) {
  frame_ = frame;
  if (image_.Frame(frame).Disposal() == TGIFDisposal::dmPrevious)
    before_frame_ = pixels_;
  else
    before_frame_.clear();
  image_.DrawFrame(frame, Target(), Rect(0, 0, width_, height_));
}

}  // namespace pellavo
