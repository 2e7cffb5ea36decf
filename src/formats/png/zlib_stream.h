#pragma once
// A zlib stream of a whole buffer, made with libdeflate. A large buffer is deflated in pieces
// on as many threads as there are cores and the pieces joined into one stream, as a parallel
// gzip joins its pieces: each piece's last block but the final one's is made not-last and
// padded to a byte with an empty stored block, so the next piece's blocks follow it. A piece
// starts without the history of the one before, which costs a few hundred bytes out of
// megabytes.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "core/core_gate.h"

namespace pellavo::png_detail {

// Pieces below this many bytes are not worth a thread; more pieces than this balance two or
// four cores no better.
inline constexpr size_t kMinParallelDeflateBytes = size_t{1} << 20;
inline constexpr size_t kMaxDeflatePieces = 8;

// How much of a buffer its one writer has finished, for threads that read behind it.
class TFillLevel {
 public:
  // The first bytes are final from now on.
  void Set(size_t bytes);
  // The writer gave up: waiting ends.
  void Fail();
  // Blocks until at least bytes are final; false when the writer gave up first.
  bool Await(size_t bytes);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t filled_ = 0;
  bool failed_ = false;
};

// The zlib stream (header, deflate data, Adler-32) of data at libdeflate's level. Raises
// EPNGOutMemory when the memory cannot be had. Pieces are deflated on this thread and on one
// helper per spare turn of cores (see LendSpareTurns).
std::vector<uint8_t> ZlibCompress(const std::vector<uint8_t>& data, int level,
                                  size_t min_piece = kMinParallelDeflateBytes, TCoreGate* cores = nullptr);

// The same for a buffer of size bytes that fill writes from the front on the calling thread,
// telling its progress to the level it is given: the other threads deflate the pieces already
// written meanwhile. What fill throws is rethrown once they have stopped.
std::vector<uint8_t> ZlibCompressWhileFilled(const uint8_t* data, size_t size, int level,
                                             const std::function<void(TFillLevel&)>& fill,
                                             size_t min_piece = kMinParallelDeflateBytes,
                                             TCoreGate* cores = nullptr);

}  // namespace pellavo::png_detail
