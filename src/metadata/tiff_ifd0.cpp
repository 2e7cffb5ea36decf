#include "metadata/tiff_ifd0.h"

namespace pellavo {
namespace {

constexpr uint16_t kOrientationTag = 0x0112;
constexpr uint16_t kShortType = 3;
constexpr size_t kEntryBytes = 12;

// Reads 16 and 32-bit numbers in the block's byte order; the caller checks the bounds.
struct TByteOrder {
  bool big_endian;
  uint16_t U16(const uint8_t* p) const {
    return big_endian ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]);
  }
  uint32_t U32(const uint8_t* p) const {
    return big_endian ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
                      : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
  }
};

}  // namespace

std::optional<TIfd0> ReadIfd0(const std::vector<uint8_t>& exif) {
  if (exif.size() < 8) return std::nullopt;
  const uint8_t* data = exif.data();
  TByteOrder order{};
  if (data[0] == 'I' && data[1] == 'I')
    order.big_endian = false;
  else if (data[0] == 'M' && data[1] == 'M')
    order.big_endian = true;
  else
    return std::nullopt;
  if (order.U16(data + 2) != 42) return std::nullopt;
  const uint64_t offset = order.U32(data + 4);
  if (offset < 8 || offset + 2 > exif.size()) return std::nullopt;
  const uint16_t count = order.U16(data + offset);
  if (offset + 2 + uint64_t{count} * kEntryBytes > exif.size()) return std::nullopt;

  TIfd0 ifd{count, 0};
  for (uint16_t i = 0; i < count; ++i) {
    const uint8_t* entry = data + offset + 2 + size_t{i} * kEntryBytes;
    if (order.U16(entry) != kOrientationTag) continue;
    if (order.U16(entry + 2) != kShortType || order.U32(entry + 4) < 1) break;
    const uint16_t value = order.U16(entry + 8);  // a SHORT sits at the start of the value field
    if (value >= 1 && value <= 8) ifd.Orientation = value;
    break;
  }
  return ifd;
}

}  // namespace pellavo
