#pragma once
// A zlib stream of a whole buffer, made with libdeflate. A large buffer is deflated in two
// halves on two threads and the halves joined into one stream, as a parallel gzip joins its
// pieces: the first half's last block is made not-last and padded to a byte with an empty
// stored block, so the second half's blocks follow it. The second half starts without the
// first's history, which costs a few hundred bytes out of megabytes.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace pellavo::png_detail {

// Halves below this many bytes are not worth a thread.
inline constexpr size_t kMinParallelDeflateBytes = size_t{1} << 20;

// The zlib stream (header, deflate data, Adler-32) of data at libdeflate's level. Raises
// EPNGOutMemory when the memory cannot be had.
std::vector<uint8_t> ZlibCompress(const std::vector<uint8_t>& data, int level,
                                  size_t min_parallel = kMinParallelDeflateBytes);

}  // namespace pellavo::png_detail
