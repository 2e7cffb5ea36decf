// Reads any bytes as a GIF; whatever is read is drawn frame by frame and written back. The same
// bytes go through the frame reader an animation is converted with, which composes each frame
// onto the canvas after the disposal of the one before.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/decode_limits.h"
#include "core/errors.h"
#include "formats/gif/gif_frames.h"
#include "formats/gif/gif_image.h"

namespace {

void ReadFrames(const uint8_t* data, size_t size) {
  using namespace pellavo;
  // A canvas of at most 4 MB: the limit is checked before the canvas is allocated.
  const TDecodeLimits limits{uint64_t{4} << 20};
  try {
    const std::unique_ptr<TFrameSource> frames = OpenGIFFrames(std::vector<uint8_t>(data, data + size), limits);
    if (!frames) return;
    TAnimationFrame frame;
    uint64_t checksum = 0;
    for (int i = 0; i < 64 && frames->Next(frame); ++i)
      checksum += frame.Pixels[size_t(frame.Width) * size_t(frame.Height) - 1] + uint64_t(frame.DelayMs);
    (void)checksum;
  } catch (const Exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace pellavo;
  ReadFrames(data, size);
  TGIFImage image;
  try {
    TMemoryStream in(std::vector<uint8_t>(data, data + size));
    image.LoadFromStream(in);
  } catch (const Exception&) {
    return 0;
  }
  // A small canvas: the screen may claim 65535 x 65535 pixels.
  const int32_t w = std::clamp(image.Width(), 1, 64), h = std::clamp(image.Height(), 1, 64);
  std::vector<TColor32> canvas(size_t(w) * size_t(h), 0);
  const TPixels32 target{canvas.data(), w, h};
  for (int i = 0; i < image.FrameCount(); ++i) {
    try {
      image.DrawFrame(i, target, TRect{0, 0, w, h});
      // Also off-screen and mirrored-size rectangles.
      image.DrawFrame(i, target, TRect{-3, -5, w * 2, h + 7});
    } catch (const Exception&) {
    }
  }
  // Writing back codes every pixel, which for a claimed 65535 x 65535 frame is slow, not wrong.
  uint64_t pixels = 0;
  for (int i = 0; i < image.FrameCount(); ++i)
    pixels += uint64_t(image.Frame(i).Width()) * uint64_t(image.Frame(i).Height());
  if (pixels > (1u << 20)) return 0;
  try {
    TMemoryStream out;
    image.SaveToStream(out);
    out.Seek(0);
    TGIFImage again;
    again.LoadFromStream(out);
  } catch (const Exception&) {
  }
  return 0;
}
