#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "core/decode_limits.h"
#include "core/stream.h"
#include "formats/animation.h"
#include "formats/image_metadata.h"

namespace pellavo {

// The frames of an animated WebP file of at least two frames, each as the canvas shows it
// (the decoder composes them with their blending and disposal). nullptr for a still file or an
// animation of one frame. Throws EWebPError for a file that cannot be read, EImageTooLarge for a
// canvas over the limit.
std::unique_ptr<TFrameSource> OpenWebPFrames(std::vector<uint8_t> bytes, const TDecodeLimits& limits);

// Writes an animated WebP frame by frame, each frame encoded with the settings of a still image
// (options' quality; its metadata goes into the file), the frames' delays kept.
std::unique_ptr<TFrameSink> MakeWebPFrameSink(TStream& out, int32_t width, int32_t height, TAnimationPlays plays,
                                              const TEncodeOptions& options);

}  // namespace pellavo
