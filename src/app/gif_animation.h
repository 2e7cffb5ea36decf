#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "core/color.h"
#include "core/rect.h"

namespace pellavo {

class TGIFImage;

// Plays a GIF of several frames onto a canvas: each frame is painted at its place on the logical
// screen, mapped onto the canvas the way a still GIF is drawn, after the frame before it has
// been disposed of as that frame asks. The canvas may be smaller than the logical screen, so a
// huge screen never needs a canvas of its size.
//
// Timing and looping, which the file format leaves to the viewer:
// - a frame stays for its delay; a delay of 0 or 1 hundredths is shown as kShortDelayMs,
//   because files carrying it were made for viewers that wait that long, and showing them at
//   full speed would keep the window busy repainting;
// - without a looping extension, or with a count of 0, the animation loops for ever; a count
//   n repeats it n times after it was first shown, and it then stays on its last frame;
// - every loop starts over on a clear canvas.
class TGifAnimation {
 public:
  static constexpr int kShortDelayMs = 100;

  // Shows the first frame. The canvas starts as background, and "restore to background" brings
  // background back, so a transparent animation shows what lies behind the canvas. image must
  // outlive the animation. Throws GIFException for a frame without a colour table.
  TGifAnimation(const TGIFImage& image, int32_t width, int32_t height, TColor32 background);

  // The canvas, top row first. The pixels stay at this address for the animation's life and
  // change in place as frames advance.
  const TColor32* Pixels() const { return pixels_.data(); }
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  int Frame() const { return frame_; }
  // How long the current frame stays before the next one, in milliseconds; none once the
  // animation has ended on it.
  std::optional<int> DelayMs() const;
  // Disposes of the current frame and paints the next, starting over after the last one.
  void Advance();

 private:
  TPixels32 Target() { return TPixels32{pixels_.data(), width_, height_}; }
  TRect PlacedRect(int frame) const;
  void Paint(int frame);

  const TGIFImage& image_;
  const int32_t width_, height_;
  const TColor32 background_;
  const int frame_count_;
  const std::optional<int> showings_;  // none: for ever
  std::vector<TColor32> pixels_;
  std::vector<TColor32> before_frame_;  // the canvas before the current frame, when it restores it
  int frame_ = 0;
  int shown_ = 1;  // showings begun, the current one included
};

}  // namespace pellavo
