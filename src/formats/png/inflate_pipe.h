#pragma once
// A large PNG's reader spends about as long inflating its image data as unfiltering and
// resampling the rows; on a thread of its own the inflating runs ahead, and on two cores the
// two halves overlap. The thread runs only on a spare turn at the cores; without one the
// reading thread inflates each block itself when it needs it.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "core/core_gate.h"
#include "formats/png/idat_reader.h"

namespace pellavo::png_detail {

// Inflates rows of row_bytes (filter byte included) into a few blocks of whole rows, which the
// reading thread takes in order. An error reaches the reading thread where the bytes it cost
// would have: after the rows inflated before it.
class TInflatePipe {
 public:
  // The reader (and the stream it reads) belong to the pipe until Finish. The pipe's thread
  // runs on a turn lent by cores (see LendSpareTurns), or not at all.
  TInflatePipe(std::unique_ptr<TIdatReader> reader, size_t row_bytes, uint32_t rows, TCoreGate* cores = nullptr);
  ~TInflatePipe();
  TInflatePipe(const TInflatePipe&) = delete;
  TInflatePipe& operator=(const TInflatePipe&) = delete;

  // The next row, for the caller to unfilter in place; the one before it stays valid until the
  // call after. Rethrows the reader's error when this row is where it failed.
  uint8_t* NextRow();
  // Waits for the thread to end and rethrows an error it met after the last row (the CRC of
  // the last chunk). The reader and its stream are the caller's again.
  void Finish();

  // The memory of the blocks.
  size_t Bytes() const { return blocks_.size() * block_rows_ * row_bytes_; }
  // Whether a thread of its own inflates ahead.
  bool Threaded() const { return thread_.joinable(); }

 private:
  void Run();
  // Inflates the rest of the block that row is in into its room and moves row past it.
  // Rethrows the reader's error after publishing the rows before it.
  void InflateBlock(uint64_t& row);
  // The reading thread's own inflating, without a thread: up to and including row.
  void InflateOnThisThread(uint64_t row);
  // Rows 0 .. rows - 1 are there to read.
  void Publish(uint64_t rows);

  std::unique_ptr<TIdatReader> reader_;
  const size_t row_bytes_;
  const uint32_t rows_;
  size_t block_rows_ = 1;
  std::vector<std::vector<uint8_t>> blocks_;

  std::mutex mutex_;
  std::condition_variable changed_;
  // Guarded by mutex_: rows inflated, rows the reading thread has let go, and the end.
  uint64_t inflated_ = 0;
  uint64_t released_ = 0;
  bool ended_ = false;
  bool stop_ = false;
  std::exception_ptr error_;

  uint64_t next_ = 0;  // the reading thread's next row
  uint64_t own_row_ = 0;  // without a thread: the next row to inflate
  bool own_ended_ = false;  // without a thread: the reader has been ended
  std::thread thread_;  // last: started once everything above exists
};

}  // namespace pellavo::png_detail
