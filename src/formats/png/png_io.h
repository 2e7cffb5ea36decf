#pragma once
// Big-endian fields and checked reads of chunk parts.
#include <cstdint>
#include <vector>

#include "core/stream.h"
#include "formats/png/png_errors.h"

namespace pellavo::png_detail {

inline constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
// Chunk lengths above this are not PNG (the format keeps them to 31 bits).
inline constexpr uint32_t kMaxChunkLength = 0x7FFFFFFFu;

inline uint32_t GetBE32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
inline uint16_t GetBE16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
inline void PutBE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

// Reads exactly count bytes; a short read is an unexpected end of the file.
inline void ReadExact(TStream& stream, void* buffer, size_t count) {
  if (count != 0 && stream.Read(buffer, count) != count) throw EPngUnexpectedEnd();
}

// Reads a chunk's data of the given length, refusing a length the stream cannot hold before
// anything is allocated.
inline std::vector<uint8_t> ReadChunkData(TStream& stream, uint32_t length) {
  if (length > kMaxChunkLength || int64_t{length} > stream.Remaining()) throw EPngUnexpectedEnd();
  std::vector<uint8_t> data(length);
  ReadExact(stream, data.data(), length);
  return data;
}

}  // namespace pellavo::png_detail
