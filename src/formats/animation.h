#pragma once
#include <cstdint>

#include "core/color.h"
#include "formats/image_metadata.h"

namespace pellavo {

class TBitmap;

// How often an animation plays: 0 for ever, otherwise the number of times it is shown in all.
// GIF counts repetitions after the first showing and WebP showings, so each codec converts.
using TAnimationPlays = int;

// One frame of an animation as it is seen: the whole canvas, top row first, straight alpha
// (transparent pixels are 0), and how long it stays.
struct TAnimationFrame {
  const TColor32* Pixels = nullptr;
  int32_t Width = 0;
  int32_t Height = 0;
  int DelayMs = 0;
};

// An animation read one frame at a time: each frame is composed onto the canvas as the file
// says, so that only the canvas (and what the format needs to compose the next frame) is held,
// however many frames the file has.
class TFrameSource {
 public:
  virtual ~TFrameSource() = default;
  virtual int32_t Width() const = 0;
  virtual int32_t Height() const = 0;
  virtual int FrameCount() const = 0;
  virtual TAnimationPlays Plays() const = 0;
  // The next frame; false after the last. Its pixels stay valid until the next call.
  virtual bool Next(TAnimationFrame& frame) = 0;
  // What the source holds while frames are read: the file and its canvases.
  virtual uint64_t WorkingBytes() const = 0;
  // The colour profile, EXIF and XMP the file carries.
  virtual TImageMetadata EmbeddedMetadata() const { return {}; }
};

// An animation written one frame at a time. Every frame has the size of the first; a sink that
// has not been finished leaves its output incomplete.
class TFrameSink {
 public:
  virtual ~TFrameSink() = default;
  // frame: a rendered 32-bit bitmap; keep_alpha as in TEncodeOptions, for this frame.
  virtual void Add(const TBitmap& frame, int delay_ms, bool keep_alpha) = 0;
  virtual void Finish() = 0;
};

}  // namespace pellavo
