#include "raster/source_rows.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/memory_budget.h"
#include "raster/bitmap32.h"

namespace pellavo {

TSurfaceRows::TSurfaceRows(const TBitmap32& surface)
    : bits_(surface.Bits()), width_(surface.Width()), height_(surface.Height()) {}

TStreamedRows::TStreamedRows(TRowImage& image, const TDecodeLimits& limits)
    : image_(image), limits_(limits), claimed_before_(limits.Claim ? limits.Claim->Bytes() : 0) {}

void TStreamedRows::Plan(int32_t max_rows) {
  // Room for four times what one call needs: overlapping windows (a kernel taller than the
  // step between destination rows) then move their kept rows only every few calls.
  const int32_t rows = std::clamp(max_rows, 1, Height());
  capacity_ = static_cast<int32_t>(std::min<int64_t>(Height(), int64_t{rows} * 4 + 8));
  start_ = base_ = count_ = 0;
  // A claim is raised to a total: the window comes on top of what is held already, the decoder's
  // working memory included (counted here when nobody claimed it before).
  ClaimBytes(limits_, std::max(claimed_before_, image_.WorkingBytes()) + WindowBytes());
  window_.reset(new TColor32[static_cast<size_t>(capacity_) * static_cast<size_t>(Width())]);
}

void TStreamedRows::Decode(TColor32* out, int32_t count) {
  try {
    image_.ReadRows(out, count);
  } catch (...) {
    image_failed_ = true;
    throw;
  }
  decoded_ += count;
}

void TStreamedRows::Skip(int32_t count) {
  // Rows before the first one asked for are decoded through one slot of the window.
  if (!window_) Plan(1);
  for (int32_t i = 0; i < count; ++i) Decode(Slot(0), 1);
}

const TColor32* TStreamedRows::Rows(int32_t first, int32_t last) {
  if (!window_) Plan(last - first + 1);
  // Drop the rows before first, decoding (and dropping) any not reached yet.
  if (first > base_) {
    const int32_t drop = first - base_;
    if (drop >= count_) {
      start_ = count_ = 0;
      if (first > decoded_) Skip(first - decoded_);
    } else {
      start_ += drop;
      count_ -= drop;
    }
    base_ = first;
  }
  const int32_t need = last - base_ + 1;
  if (need > capacity_) throw EInvalidGraphicOperation("Source rows asked for beyond the planned window");
  if (start_ + need > capacity_) {
    std::memmove(Slot(0), Slot(start_), static_cast<size_t>(count_) * static_cast<size_t>(Width()) * sizeof(TColor32));
    start_ = 0;
  }
  if (need > count_) {
    Decode(Slot(start_ + count_), need - count_);
    count_ = need;
  }
  return Slot(start_);
}

void TStreamedRows::Finish() {
  if (decoded_ < Height()) Skip(Height() - decoded_);
  try {
    image_.Finish();
  } catch (...) {
    image_failed_ = true;
    throw;
  }
}

}  // namespace pellavo
