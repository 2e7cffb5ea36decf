#include "core/chunk_pool.h"

#include <cstdlib>

namespace pellavo {

TChunkPool::TChunkPool(size_t max_kept_chunks) : max_kept_(max_kept_chunks) { kept_.reserve(max_kept_); }

TChunkPool::~TChunkPool() {
  for (void* chunk : kept_) std::free(chunk);
}

void* TChunkPool::Take() noexcept {
  {
    const std::lock_guard lock(mutex_);
    if (!kept_.empty()) {
      void* chunk = kept_.back();
      kept_.pop_back();
      return chunk;
    }
  }
  return std::malloc(kChunkBytes);
}

void TChunkPool::Give(void* chunk) noexcept {
  if (!chunk) return;
  {
    const std::lock_guard lock(mutex_);
    if (kept_.size() < max_kept_) {
      kept_.push_back(chunk);
      return;
    }
  }
  std::free(chunk);
}

size_t TChunkPool::Kept() const {
  const std::lock_guard lock(mutex_);
  return kept_.size();
}

}  // namespace pellavo
