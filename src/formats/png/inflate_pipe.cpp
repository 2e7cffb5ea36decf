#include "formats/png/inflate_pipe.h"

#include <algorithm>
#include <stdexcept>
#include <system_error>

namespace pellavo::png_detail {
namespace {

// Blocks of about this many bytes, and how many of them: enough for the thread to run a block
// or two ahead without holding much.
constexpr size_t kBlockBytes = 1024 * 1024;
constexpr size_t kBlocks = 4;

}  // namespace

TInflatePipe::TInflatePipe(std::unique_ptr<TIdatReader> reader, size_t row_bytes, uint32_t rows, TCoreGate* cores)
    : reader_(std::move(reader)), row_bytes_(row_bytes), rows_(rows) {
  block_rows_ = std::max<size_t>(1, kBlockBytes / row_bytes_);
  // Three blocks at least: the reading thread may hold the last row of one block and the first
  // of the next while the thread fills a third.
  blocks_.resize(std::max<size_t>(3, std::min<size_t>(kBlocks, (rows_ + block_rows_ - 1) / block_rows_)));
  for (auto& b : blocks_) b.resize(block_rows_ * row_bytes_);
  std::vector<TCoreGate::TTurn> lent = LendSpareTurns(cores, 1);
  if (lent.empty()) return;
  try {
    thread_ = std::thread([this, turn = std::move(lent.front())]() mutable {
      Run();
      turn.Release();
    });
  } catch (const std::system_error&) {
    // No thread: the reading thread inflates.
  }
}

TInflatePipe::~TInflatePipe() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void TInflatePipe::InflateBlock(uint64_t& row) {
  const uint64_t block_end = std::min<uint64_t>((row / block_rows_ + 1) * block_rows_, rows_);
  // The whole block in one call: the inflater keeps a copy of the last 32 KiB it wrote after
  // every call, which row-sized calls would pay for again and again.
  uint8_t* at = blocks_[size_t(row / block_rows_ % blocks_.size())].data() + size_t(row % block_rows_) * row_bytes_;
  const uint64_t before = reader_->Delivered();
  try {
    reader_->ReadExactly(at, size_t(block_end - row) * row_bytes_);
  } catch (...) {
    // The rows inflated before the damage are delivered, then the error.
    Publish(row + (reader_->Delivered() - before) / row_bytes_);
    throw;
  }
  row = block_end;
  Publish(row);
}

void TInflatePipe::Run() {
  const uint64_t capacity = uint64_t(blocks_.size()) * block_rows_;
  uint64_t row = 0;
  try {
    while (row < rows_) {
      // The rest of row's block, once the reading thread has let go of what it held there
      // (row r lives where row r - capacity did).
      const uint64_t block_end = std::min<uint64_t>((row / block_rows_ + 1) * block_rows_, rows_);
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stop_ || block_end - released_ <= capacity; });
        if (stop_) return;
      }
      InflateBlock(row);
    }
    reader_->End();
  } catch (...) {
    const std::lock_guard lock(mutex_);
    error_ = std::current_exception();
  }
  {
    const std::lock_guard lock(mutex_);
    ended_ = true;
  }
  changed_.notify_all();
}

void TInflatePipe::InflateOnThisThread(uint64_t row) {
  // The rows before the one the reading thread holds are let go by then, and the one it holds
  // lives in the block before, so the block's room is free. After an error nothing more is read.
  if (ended_) return;
  try {
    while (own_row_ < rows_ && own_row_ <= row) InflateBlock(own_row_);
    if (own_row_ >= rows_ && row >= rows_ && !ended_) {
      reader_->End();
      ended_ = true;
    }
  } catch (...) {
    error_ = std::current_exception();
    ended_ = true;
  }
}

void TInflatePipe::Publish(uint64_t rows) {
  {
    const std::lock_guard lock(mutex_);
    inflated_ = rows;
  }
  changed_.notify_all();
}

uint8_t* TInflatePipe::NextRow() {
  const uint64_t row = next_;
  if (!Threaded() && row >= inflated_ && !ended_) InflateOnThisThread(row);
  {
    std::unique_lock lock(mutex_);
    // The row two back is free now; the one before this one stays readable.
    if (row >= 2) released_ = std::max(released_, row - 1);
    changed_.notify_all();
    changed_.wait(lock, [&] { return inflated_ > row || ended_; });
    if (inflated_ <= row) {
      if (error_) std::rethrow_exception(error_);
      throw std::logic_error("rows asked for past the image");
    }
  }
  ++next_;
  return blocks_[size_t(row / block_rows_ % blocks_.size())].data() + size_t(row % block_rows_) * row_bytes_;
}

void TInflatePipe::Finish() {
  if (thread_.joinable())
    thread_.join();
  else
    InflateOnThisThread(rows_);
  if (error_) std::rethrow_exception(error_);
}

}  // namespace pellavo::png_detail
