#pragma once
// Edits of the boxes of HEIF and AVIF files, for fixtures that encoders no longer write.
#include <cstdint>
#include <vector>

namespace pellavo::test {

// The file with its item property associations ('ipma') given twice, as an older encoder wrote
// them: a second copy right after the first, every size and item location moved to match.
// Empty when the file is not laid out as meta/iprp/ipma with 32-bit box sizes.
std::vector<uint8_t> WithDuplicatedIpma(const std::vector<uint8_t>& file);

// The file with the horizontal offset of its clean aperture ('clap') set to num/den, which
// encoders refuse to write when it falls between pixels. Empty when it has no 'clap' box.
std::vector<uint8_t> WithCleanApertureOffset(const std::vector<uint8_t>& file, int32_t num, uint32_t den);

}  // namespace pellavo::test
