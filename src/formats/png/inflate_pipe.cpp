#include "formats/png/inflate_pipe.h"

#include <algorithm>
#include <stdexcept>

namespace pellavo::png_detail {
namespace {

// Blocks of about this many bytes, and how many of them: enough for the thread to run a block
// or two ahead without holding much.
constexpr size_t kBlockBytes = 1024 * 1024;
constexpr size_t kBlocks = 4;

}  // namespace

TInflatePipe::TInflatePipe(std::unique_ptr<TIdatReader> reader, size_t row_bytes, uint32_t rows)
    : reader_(std::move(reader)), row_bytes_(row_bytes), rows_(rows) {
  block_rows_ = std::max<size_t>(1, kBlockBytes / row_bytes_);
  // Three blocks at least: the reading thread may hold the last row of one block and the first
  // of the next while the thread fills a third.
  blocks_.resize(std::max<size_t>(3, std::min<size_t>(kBlocks, (rows_ + block_rows_ - 1) / block_rows_)));
  for (auto& b : blocks_) b.resize(block_rows_ * row_bytes_);
  thread_ = std::thread([this] { Run(); });
}

TInflatePipe::~TInflatePipe() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void TInflatePipe::Run() {
  const uint64_t capacity = uint64_t(blocks_.size()) * block_rows_;
  uint64_t row = 0;
  try {
    while (row < rows_) {
      // The rest of row's block, once the reading thread has let go of what it held there
      // (row r lives where row r - capacity did).
      const size_t slot = size_t(row / block_rows_ % blocks_.size());
      const uint64_t block_end = std::min<uint64_t>((row / block_rows_ + 1) * block_rows_, rows_);
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stop_ || block_end - released_ <= capacity; });
        if (stop_) return;
      }
      // The whole block in one call: the inflater keeps a copy of the last 32 KiB it wrote
      // after every call, which row-sized calls would pay for again and again.
      uint8_t* at = blocks_[slot].data() + size_t(row % block_rows_) * row_bytes_;
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

void TInflatePipe::Publish(uint64_t rows) {
  {
    const std::lock_guard lock(mutex_);
    inflated_ = rows;
  }
  changed_.notify_all();
}

uint8_t* TInflatePipe::NextRow() {
  const uint64_t row = next_;
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
  if (thread_.joinable()) thread_.join();
  if (error_) std::rethrow_exception(error_);
}

}  // namespace pellavo::png_detail
