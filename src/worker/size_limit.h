#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace pellavo {

// One picture encoded at the quality that a size limit allowed.
struct TFittedEncoding {
  std::vector<uint8_t> Bytes;
  int Quality = 0;
};

// The encoding at the highest quality from floor up to quality whose size is at most
// max_bytes: a trial at quality itself, then a bisection of floor .. quality - 1, so at most
// 1 + floor(log2(quality - floor)) + 1 encodes; none when even floor is too large. encode
// gives the file's bytes at a quality. Sizes that do not grow with quality everywhere still
// give an encoding within the limit, though perhaps not the highest such quality.
std::optional<TFittedEncoding> EncodeWithin(const std::function<std::vector<uint8_t>(int quality)>& encode,
                                            int quality, int floor, uint64_t max_bytes);

}  // namespace pellavo
