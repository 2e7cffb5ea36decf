#pragma once
// Small helpers that put PNG files together byte by byte and take them apart again.
#include <cstdint>
#include <string>
#include <vector>

#include "formats/png/png_object.h"

namespace pellavo::test {

using TBytes = std::vector<uint8_t>;

struct TRawChunk {
  std::string Name;
  TBytes Data;
};

TBytes Be32(uint32_t v);
// Length, name, data and the CRC of name and data.
TBytes Chunk(const std::string& name, const TBytes& data);
TBytes Ihdr(uint32_t w, uint32_t h, uint8_t depth, uint8_t type, uint8_t interlace = 0);
// The signature followed by the given chunks.
TBytes Png(const std::vector<TBytes>& chunks);
TBytes Deflate(const TBytes& data, int level = 6);
TBytes Inflate(const TBytes& data);
// Splits a file into its chunks (after the signature), checking lengths and CRCs.
std::vector<TRawChunk> ParseChunks(const TBytes& png);

TBytes Save(TPNGObject& png);
void Load(TPNGObject& png, const TBytes& bytes);
TBytes ReadFile(const std::string& path);

}  // namespace pellavo::test
