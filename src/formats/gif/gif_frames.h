#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "core/decode_limits.h"
#include "core/stream.h"
#include "formats/animation.h"

namespace pellavo {

// The frames of a GIF file of at least two frames, composed one at a time onto a canvas of the
// logical screen's size (grown to hold every frame, as the still image is): each frame is
// painted over what the one before it left after its disposal. The canvas starts transparent,
// and "restore to background" makes the frame's area transparent again, as browsers show it.
// nullptr for a file of fewer frames or a screen without pixels, which the still image's reader
// answers. Throws what reading the whole file throws.
std::unique_ptr<TFrameSource> OpenGIFFrames(std::vector<uint8_t> bytes, const TDecodeLimits& limits);

// Writes a GIF89a animation frame by frame: a looping extension (left out when it plays once,
// which is what a file without one means), then each frame over the whole canvas with its own
// 256-colour table, reduced as a still image is, and a graphic control extension with its delay.
// With may_be_transparent each frame's area is restored to the background before the next one,
// whose transparent pixels must not show the frame before; otherwise frames stay in place.
std::unique_ptr<TFrameSink> MakeGIFFrameSink(TStream& out, int32_t width, int32_t height, TAnimationPlays plays,
                                             bool may_be_transparent);

}  // namespace pellavo
