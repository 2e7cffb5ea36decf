#include "formats/image_metadata.h"

#include <cstring>

namespace pellavo {

std::vector<uint8_t> ExifFromPayload(const uint8_t* data, size_t size) {
  constexpr size_t kPrefix = 6;  // "Exif\0\0"
  if (size >= kPrefix && std::memcmp(data, "Exif\0\0", kPrefix) == 0) {
    data += kPrefix;
    size -= kPrefix;
  }
  if (size < 8 || (std::memcmp(data, "II*\0", 4) != 0 && std::memcmp(data, "MM\0*", 4) != 0)) return {};
  return {data, data + size};
}

}  // namespace pellavo
