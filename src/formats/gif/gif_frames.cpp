#include "formats/gif/gif_frames.h"

#include <algorithm>
#include <optional>

#include "formats/gif/gif_reader.h"

namespace pellavo {
namespace {

// What a first pass over the file finds before any frame is composed: the canvas must have its
// final size from the first frame on. The pass decodes no image data, so a still image costs
// little more than its own reading.
struct TGIFSummary {
  int Frames = 0;
  int32_t Width = 0, Height = 0;
  std::optional<uint16_t> Loops;
};

TGIFSummary Summarize(const std::vector<uint8_t>& bytes, const TDecodeLimits& limits) {
  TGIFImage image;
  TGIFReader reader(image, bytes, limits, false);
  reader.ReadHeader();
  TGIFSummary s;
  s.Width = image.Header().ScreenWidth;
  s.Height = image.Header().ScreenHeight;
  TGIFSubImage entry;
  while (reader.ReadEntry(entry, false)) {
    for (const auto& e : entry.Extensions())
      if (const auto* loop = dynamic_cast<const TGIFAppExtNSLoop*>(e.get()); loop && !s.Loops) s.Loops = loop->Loops;
    if (!entry.HasImage()) continue;
    ++s.Frames;
    s.Width = std::max(s.Width, entry.Left() + entry.Width());
    s.Height = std::max(s.Height, entry.Top() + entry.Height());
  }
  return s;
}

class TGIFFrames final : public TFrameSource {
 public:
  TGIFFrames(std::vector<uint8_t> bytes, const TDecodeLimits& limits, const TGIFSummary& summary)
      : bytes_(std::move(bytes)),
        summary_(summary),
        limits_(limits),
        reader_(parsed_, bytes_, limits_, false),
        canvas_(size_t(summary.Width) * size_t(summary.Height), 0) {
    reader_.ReadHeader();
    // Frames are drawn onto the grown screen one to one.
    drawn_.Header() = parsed_.Header();
    drawn_.Header().ScreenWidth = summary.Width;
    drawn_.Header().ScreenHeight = summary.Height;
  }

  int32_t Width() const override { return summary_.Width; }
  int32_t Height() const override { return summary_.Height; }
  int FrameCount() const override { return summary_.Frames; }
  TAnimationPlays Plays() const override {
    // Without the extension a GIF plays once; the extension counts the showings after the first.
    if (!summary_.Loops) return 1;
    return *summary_.Loops == 0 ? 0 : int{*summary_.Loops} + 1;
  }
  uint64_t WorkingBytes() const override {
    // The file, the canvas and the copy a "restore to previous" frame keeps, and a frame's indices.
    const uint64_t pixels = uint64_t(summary_.Width) * uint64_t(summary_.Height);
    return bytes_.size() + 2 * DecodedImageBytes(uint64_t(summary_.Width), uint64_t(summary_.Height)) + pixels;
  }

  bool Next(TAnimationFrame& frame) override {
    TGIFSubImage entry;
    do {
      if (!reader_.ReadEntry(entry)) return false;
    } while (!entry.HasImage());
    DisposeOfLast();
    std::vector<TGIFSubImage>& images = drawn_.Images();
    images.clear();
    images.push_back(std::move(entry));
    const TGIFSubImage& current = images.front();
    if (current.Disposal() == TGIFDisposal::dmPrevious)
      saved_ = canvas_;
    else
      saved_.clear();
    drawn_.DrawFrame(0, Target(), TRect{0, 0, summary_.Width, summary_.Height});
    frame = TAnimationFrame{canvas_.data(), summary_.Width, summary_.Height, int{current.Delay()} * 10};
    return true;
  }

 private:
  TPixels32 Target() { return TPixels32{canvas_.data(), summary_.Width, summary_.Height}; }

  // What the last frame drawn asks to be done with it before the next one.
  void DisposeOfLast() {
    if (drawn_.Images().empty()) return;
    const TGIFSubImage& last = drawn_.Images().front();
    switch (last.Disposal()) {
      case TGIFDisposal::dmBackground: {
        const int32_t right = std::min(last.Left() + last.Width(), summary_.Width);
        const int32_t bottom = std::min(last.Top() + last.Height(), summary_.Height);
        for (int32_t y = last.Top(); y < bottom; ++y)
          if (last.Left() < right)
            std::fill(canvas_.begin() + y * ptrdiff_t{summary_.Width} + last.Left(),
                      canvas_.begin() + y * ptrdiff_t{summary_.Width} + right, TColor32{0});
        break;
      }
      case TGIFDisposal::dmPrevious:
        if (!saved_.empty()) canvas_.swap(saved_);
        break;
      default:  // none, leave in place, and the undefined values 4 to 7
        break;
    }
  }

  const std::vector<uint8_t> bytes_;
  const TGIFSummary summary_;
  const TDecodeLimits limits_;
  TGIFImage parsed_;  // the header and warnings of the reader
  TGIFReader reader_;
  TGIFImage drawn_;   // the grown screen and the frame being drawn
  std::vector<TColor32> canvas_;
  std::vector<TColor32> saved_;  // the canvas before a frame that restores it afterwards
};

}  // namespace

std::unique_ptr<TFrameSource> OpenGIFFrames(std::vector<uint8_t> bytes, const TDecodeLimits& limits) {
  const TGIFSummary summary = Summarize(bytes, limits);
  // A screen without pixels is refused as the still image is: there is nothing to animate.
  if (summary.Frames < 2 || summary.Width <= 0 || summary.Height <= 0) return nullptr;
  // The canvas is the still image's size, which the reader has admitted already.
  CheckImageSize(limits, summary.Width, summary.Height);
  return std::make_unique<TGIFFrames>(std::move(bytes), limits, summary);
}

}  // namespace pellavo
