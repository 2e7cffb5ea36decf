// Reads any bytes as a GIF; whatever is read is drawn frame by frame and written back.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/errors.h"
#include "formats/gif/gif_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace pellavo;
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
