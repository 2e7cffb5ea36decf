#include "core/free_names.h"

#include <algorithm>

namespace pellavo {

int TFreeNames::FirstToTry(const std::string& path) {
  std::lock_guard lock(mutex_);
  const auto it = next_.find(path);
  return it == next_.end() ? 0 : it->second;
}

void TFreeNames::Published(const std::string& path, int n, int attempts) {
  std::lock_guard lock(mutex_);
  attempts_ += static_cast<uint64_t>(attempts);
  // Another writer may have moved past n meanwhile; the hint never goes back.
  int& next = next_[path];
  next = std::max(next, n + 1);
}

uint64_t TFreeNames::Attempts() const {
  std::lock_guard lock(mutex_);
  return attempts_;
}

}  // namespace pellavo
