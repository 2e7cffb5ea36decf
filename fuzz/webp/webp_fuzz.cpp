// The WebP reader as a conversion worker meets it: any bytes, named *.webp, read as a still
// image and through the frame reader an animation is converted with. The library itself is not
// instrumented; what is searched is our side of it (size checks, animation, row order).
//
//   fuzz/make_modern_seeds.sh webp seeds
//   build-fuzz/fuzz/webp/webp_fuzz -dict=fuzz/webp/webp.dict -max_len=20000 -rss_limit_mb=2048 -timeout=10 corpus seeds
#include <memory>
#include <vector>

#include "core/decode_limits.h"
#include "core/errors.h"
#include "formats/webp/webp_frames.h"
#include "support/picture_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace pellavo;
  fuzz::ReadPictureFile(data, size, "webp");
  try {
    const TDecodeLimits limits{uint64_t{16} << 20};
    const std::unique_ptr<TFrameSource> frames = OpenWebPFrames(std::vector<uint8_t>(data, data + size), limits);
    TAnimationFrame frame;
    uint64_t checksum = 0;
    for (int i = 0; frames && i < 64 && frames->Next(frame); ++i)
      checksum += frame.Pixels[size_t(frame.Width) * size_t(frame.Height) - 1] + uint64_t(frame.DelayMs);
    (void)checksum;
  } catch (const Exception&) {
  }
  return 0;
}
