#include "core/memory_budget.h"

#include <unistd.h>

#include <algorithm>

namespace pellavo {

uint64_t TMemoryBudget::Held() const {
  const std::lock_guard lock(mutex_);
  return held_;
}

uint64_t TMemoryBudget::PeakHeld() const {
  const std::lock_guard lock(mutex_);
  return peak_held_;
}

int TMemoryBudget::Waiting() const {
  const std::lock_guard lock(mutex_);
  return waiting_;
}

void TMemoryBudget::Acquire(uint64_t bytes) {
  std::unique_lock lock(mutex_);
  const uint64_t ticket = next_ticket_++;
  ++waiting_;
  changed_.wait(lock, [&] {
    return ticket == serving_ && (holders_ == 0 || (held_ <= capacity_ && bytes <= capacity_ - held_));
  });
  --waiting_;
  ++serving_;
  ++holders_;
  held_ += bytes;
  peak_held_ = std::max(peak_held_, held_);
  // The next in line may fit as well.
  changed_.notify_all();
}

void TMemoryBudget::Grow(uint64_t bytes) {
  const std::lock_guard lock(mutex_);
  held_ += bytes;
  peak_held_ = std::max(peak_held_, held_);
}

void TMemoryBudget::Release(uint64_t bytes) {
  {
    const std::lock_guard lock(mutex_);
    held_ -= bytes;
    --holders_;
  }
  changed_.notify_all();
}

TMemoryClaim::~TMemoryClaim() {
  if (bytes_ > 0) budget_->Release(bytes_);
}

void TMemoryClaim::Cover(uint64_t bytes) {
  if (!budget_ || bytes <= bytes_) return;
  if (bytes_ == 0)
    budget_->Acquire(bytes);
  else
    budget_->Grow(bytes - bytes_);
  bytes_ = bytes;
}

uint64_t PhysicalMemoryBytes() {
  const long pages = sysconf(_SC_PHYS_PAGES), page_size = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page_size <= 0) return 0;
  return uint64_t(pages) * uint64_t(page_size);
}

uint64_t DefaultMemoryBudget() {
  const uint64_t physical = PhysicalMemoryBytes();
  return physical > 0 ? physical / 2 : uint64_t{1} << 30;
}

}  // namespace pellavo
