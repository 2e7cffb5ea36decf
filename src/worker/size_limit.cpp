#include "worker/size_limit.h"

namespace pellavo {

std::optional<TFittedEncoding> EncodeWithin(const std::function<std::vector<uint8_t>(int quality)>& encode,
                                            int quality, int floor, uint64_t max_bytes) {
  // Most pictures fit at the quality asked for: one encode.
  std::vector<uint8_t> bytes = encode(quality);
  if (bytes.size() <= max_bytes) return TFittedEncoding{std::move(bytes), quality};

  std::optional<TFittedEncoding> best;
  int low = floor, high = quality - 1;  // the answer, if any, lies in low .. high
  while (low <= high) {
    const int middle = low + (high - low + 1) / 2;
    bytes = encode(middle);
    if (bytes.size() <= max_bytes) {
      best = TFittedEncoding{std::move(bytes), middle};
      low = middle + 1;
    } else {
      high = middle - 1;
    }
  }
  return best;
}

}  // namespace pellavo
