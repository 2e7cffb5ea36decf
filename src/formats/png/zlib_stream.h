#pragma once
// A zlib stream of a whole buffer, made with libdeflate. A large buffer is deflated in pieces
// on as many threads as there are cores and the pieces joined into one stream, as a parallel
// gzip joins its pieces: each piece's last block but the final one's is made not-last and
// padded to a byte with an empty stored block, so the next piece's blocks follow it. A piece
// starts without the history of the one before, which costs a few hundred bytes out of
// megabytes.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace pellavo::png_detail {

// Pieces below this many bytes are not worth a thread; more pieces than this balance two or
// four cores no better.
inline constexpr size_t kMinParallelDeflateBytes = size_t{1} << 20;
inline constexpr size_t kMaxDeflatePieces = 8;

// The zlib stream (header, deflate data, Adler-32) of data at libdeflate's level. Raises
// EPNGOutMemory when the memory cannot be had.
std::vector<uint8_t> ZlibCompress(const std::vector<uint8_t>& data, int level,
                                  size_t min_piece = kMinParallelDeflateBytes);

}  // namespace pellavo::png_detail
