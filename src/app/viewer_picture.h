#pragma once
#include <QImage>
#include <QSize>
#include <memory>
#include <optional>
#include <string>

#include "core/color.h"

namespace pellavo {

class TGifAnimation;
class TPicture;

// One file as the viewer shows it: decoded through the format registry, drawn into an image no
// larger than it can be shown, and animated when it is a GIF of several frames.
//
// A JPEG is decoded at the strongest reduction that still covers the size it is shown at, so a
// large photo appears at once; it is decoded again at a finer scale when it is shown larger.
// Every other picture is drawn once, at its own size or, when that is larger than `largest`
// (the screen), at the size that fits there: the viewer cannot show more pixels than that.
class TViewerPicture {
 public:
  // Loads the file and draws it for showing at `shown`. Throws the registry's or the decoder's
  // error, for drawing as much as for reading, so a picture that exists can always be shown.
  TViewerPicture(const std::string& path, QSize shown, QSize largest, TColor32 background);
  ~TViewerPicture();

  // The decoded picture's own size in pixels.
  QSize FullSize() const { return full_size_; }
  // What is shown now; for an animation, a view of its canvas.
  const QImage& Image() const { return image_; }

  // The picture is now shown at `shown`: a JPEG decoded smaller than that is decoded again.
  // Returns whether Image() changed. Throws the decoder's error.
  bool ShowAt(QSize shown);

  bool Animated() const { return animation_ != nullptr; }
  int Frame() const;
  // How long the current frame stays; none for a still picture or an animation that has ended.
  std::optional<int> FrameDelayMs() const;
  // Paints the next frame onto the canvas (Image() sees it). Throws GIFException for a frame
  // without a colour table.
  void NextFrame();

 private:
  std::unique_ptr<TPicture> picture_;
  std::unique_ptr<TGifAnimation> animation_;  // uses the picture's GIF, so it goes first
  QSize full_size_;
  TColor32 background_;
  QImage image_;
};

}  // namespace pellavo
