#pragma once
// Big-endian fields and checked reads of chunk parts.
#include <cstdint>
#include <vector>

#include "core/bytes.h"
#include "core/limits.h"
#include "core/stream.h"
#include "formats/png/png_errors.h"

namespace pellavo::png_detail {

inline constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};


// Reads exactly count bytes; a short read is an unexpected end of the file.
inline void ReadExact(TStream& stream, void* buffer, size_t count) {
  if (count != 0 && stream.Read(buffer, count) != count) throw EPngUnexpectedEnd();
}

// Reads a chunk's data of the given length, refusing a length the stream cannot hold before
// anything is allocated.
inline std::vector<uint8_t> ReadChunkData(TStream& stream, uint32_t length) {
  if (length > kMaxPngChunkLength || int64_t{length} > stream.Remaining()) throw EPngUnexpectedEnd();
  std::vector<uint8_t> data(length);
  ReadExact(stream, data.data(), length);
  return data;
}

}  // namespace pellavo::png_detail
