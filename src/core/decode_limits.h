#pragma once
#include <cstdint>
#include <string>

#include "core/errors.h"
#include "core/limits.h"

namespace pellavo {

class TChunkPool;
class TCoreGate;
class TMemoryClaim;

// What decoding one image may cost, handed from the run's settings through the worker's order to
// the picture's load and on to its codec. A plain value: outside a run the defaults hold.
struct TDecodeLimits {
  // The largest decoded image, counted as 32-bit pixels: width x height x 4 bytes.
  uint64_t MaxImageBytes = kDefaultMaxImageBytes;
  // The worker's share of the run's memory budget, or none. Not owned: the worker that owns the
  // claim keeps it alive until its picture is released.
  TMemoryClaim* Claim = nullptr;
  // The run's pool of large buffers that decoders reuse from file to file, or none. Not owned:
  // the worker that hands it over keeps it alive until its picture is released.
  TChunkPool* Chunks = nullptr;
  // The run's turns at the cores, from which a decoder that splits a file borrows spare turns
  // for its helper threads; none outside a run. Not owned, like the pool.
  TCoreGate* Cores = nullptr;
};

// A header that claims more than the limit.
class EImageTooLarge : public EInvalidGraphic {
 public:
  using EInvalidGraphic::EInvalidGraphic;
};

// "image too large: 30000 × 30000 exceeds the limit of 1024 MB"
std::string ImageTooLargeText(uint64_t width, uint64_t height, uint64_t limit_bytes);

// The bytes of a width x height image of 32-bit pixels, without overflow for any 32-bit sides.
constexpr uint64_t DecodedImageBytes(uint64_t width, uint64_t height) { return width * height * 4; }

// Refuses an image over the limit with EImageTooLarge. Negative sides count as 0.
void CheckImageSize(const TDecodeLimits& limits, int64_t width, int64_t height);

// Called by a decoder right after reading a header and before allocating anything in proportion
// to the image: refuses an image over the limit with EImageTooLarge, then claims its size from
// the run's budget, which may wait until other workers have released theirs. Negative sides
// count as 0.
void AdmitImage(const TDecodeLimits& limits, int64_t width, int64_t height);

// AdmitImage for a reader whose header may state no pixels at all: such an image is refused
// with E(invalid + "it has no pixels"), invalid being the reader's "<format> image is not valid: ".
template <class E>
void AdmitImageWithPixels(const TDecodeLimits& limits, int64_t width, int64_t height, const std::string& invalid) {
  if (width <= 0 || height <= 0) throw E(invalid + "it has no pixels");
  AdmitImage(limits, width, height);
}

// Raises the worker's claim to at least bytes, for a reader that holds less than the whole
// image (rows decoded as they are needed); waits for room like AdmitImage.
void ClaimBytes(const TDecodeLimits& limits, uint64_t bytes);

}  // namespace pellavo
