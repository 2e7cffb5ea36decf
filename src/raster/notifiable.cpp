#include "raster/notifiable.h"

#include <algorithm>

#include "raster/raster_errors.h"

namespace pellavo {

void TNotifiablePersistent::Changed() {
  if (update_count_ == 0 && OnChange) OnChange(*this);
}

void TNotifiablePersistent::BeginUpdate() { ++update_count_; }

void TNotifiablePersistent::EndUpdate() {
  if (update_count_ <= 0) throw EAssertionFailed(kUnpairedEndUpdate);
  --update_count_;
}

void TThreadPersistent::Lock() {
  lock_count_.fetch_add(1);
  lock_.lock();
}

void TThreadPersistent::Unlock() {
  lock_.unlock();
  lock_count_.fetch_sub(1);
}

bool TCustomMap::SetSize(int32_t width, int32_t height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (width == width_ && height == height_) return false;
  ChangeSize(width, height);
  Changed();
  Resized();
  return true;
}

void TCustomMap::ChangeSize(int32_t width, int32_t height) {
  width_ = width;
  height_ = height;
}

void TCustomMap::Resized() {
  if (OnResize) OnResize(*this);
}

}  // namespace pellavo
