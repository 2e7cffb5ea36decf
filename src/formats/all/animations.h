#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "core/decode_limits.h"
#include "core/stream.h"
#include "formats/animation.h"
#include "formats/image_metadata.h"
#include "formats/output_formats.h"

namespace pellavo {

// The animation the file at path holds, read a frame at a time, when its format (by its
// extension, as the picture chooses its reader) has animations and the file has at least two
// frames; nullptr otherwise. Throws what the format's reader throws.
std::unique_ptr<TFrameSource> OpenFrameSource(const std::string& path, const TDecodeLimits& limits);

// Whether files of the format can hold an animation.
bool WritesAnimations(TOutputFormat format);

// A writer of an animation of width x height frames in the format; nullptr for a format without
// animations. may_be_transparent: some frames may have transparent pixels.
std::unique_ptr<TFrameSink> MakeFrameSink(TOutputFormat format, TStream& out, int32_t width, int32_t height,
                                          TAnimationPlays plays, const TEncodeOptions& options, bool may_be_transparent);

}  // namespace pellavo
