#include "core/decode_limits.h"

#include <algorithm>

#include "core/memory_budget.h"

namespace pellavo {

std::string ImageTooLargeText(uint64_t width, uint64_t height, uint64_t limit_bytes) {
  return "image too large: " + std::to_string(width) + " \u00D7 " + std::to_string(height) + " exceeds the limit of " +
         std::to_string(limit_bytes >> 20) + " MB";
}

void CheckImageSize(const TDecodeLimits& limits, int64_t width, int64_t height) {
  const uint64_t w = uint64_t(std::max<int64_t>(width, 0)), h = uint64_t(std::max<int64_t>(height, 0));
  // Sides above 2^31 would overflow the product; no decoder here gives such sides, and they are
  // too large anyway.
  if (w > 0x7FFFFFFF || h > 0x7FFFFFFF || DecodedImageBytes(w, h) > limits.MaxImageBytes)
    throw EImageTooLarge(ImageTooLargeText(w, h, limits.MaxImageBytes));
}

void AdmitImage(const TDecodeLimits& limits, int64_t width, int64_t height) {
  CheckImageSize(limits, width, height);
  ClaimBytes(limits, DecodedImageBytes(uint64_t(std::max<int64_t>(width, 0)), uint64_t(std::max<int64_t>(height, 0))));
}

void ClaimBytes(const TDecodeLimits& limits, uint64_t bytes) {
  if (limits.Claim) limits.Claim->Cover(bytes);
}

}  // namespace pellavo
