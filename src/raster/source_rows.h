#pragma once
// Where the stretch paths read their source pixels: a whole surface, or rows decoded only as
// they are needed and dropped once no destination row needs them.
#include <cstdint>
#include <memory>

#include "core/color.h"
#include "core/decode_limits.h"
#include "formats/row_image.h"

namespace pellavo {

class TBitmap32;

class TSourceRows {
 public:
  virtual ~TSourceRows() = default;
  virtual int32_t Width() const = 0;
  virtual int32_t Height() const = 0;
  // Called once before the first Rows with the most rows one call will ask for.
  virtual void Plan(int32_t /*max_rows*/) {}
  // Rows first..last (inclusive, inside the image), Width() pixels each, one after another;
  // valid until the next call. Between calls neither first nor last decreases.
  virtual const TColor32* Rows(int32_t first, int32_t last) = 0;
};

class TSurfaceRows final : public TSourceRows {
 public:
  explicit TSurfaceRows(const TBitmap32& surface);
  int32_t Width() const override { return width_; }
  int32_t Height() const override { return height_; }
  const TColor32* Rows(int32_t first, int32_t /*last*/) override {
    return bits_ + static_cast<size_t>(first) * static_cast<size_t>(width_);
  }

 private:
  const TColor32* bits_;
  int32_t width_, height_;
};

// The rows of a TRowImage in a sliding window: rows are decoded when first asked for, kept
// while later calls may still ask for them, and moved to the front of the window when it runs
// out of room at its end. The window, sized by Plan, is claimed from the run's budget.
class TStreamedRows final : public TSourceRows {
 public:
  // What the worker's claim covers when the rows are set up (the target, the decoder) is kept,
  // and the window is claimed on top of it.
  TStreamedRows(TRowImage& image, const TDecodeLimits& limits);

  int32_t Width() const override { return image_.Width(); }
  int32_t Height() const override { return image_.Height(); }
  void Plan(int32_t max_rows) override;
  const TColor32* Rows(int32_t first, int32_t last) override;
  // Decodes the rows nobody asked for and lets the image read what follows them.
  void Finish();

  // The pixels the window holds room for.
  uint64_t WindowBytes() const { return uint64_t(capacity_) * uint64_t(Width()) * sizeof(TColor32); }
  // Whether a call to the image failed: its error is the file's, not the stretch's.
  bool ImageFailed() const { return image_failed_; }

 private:
  TColor32* Slot(int32_t index) { return window_.get() + static_cast<size_t>(index) * static_cast<size_t>(Width()); }
  void Decode(TColor32* out, int32_t count);
  void Skip(int32_t count);

  TRowImage& image_;
  TDecodeLimits limits_;
  uint64_t claimed_before_;  // the claim when the rows were set up
  std::unique_ptr<TColor32[]> window_;  // not zeroed: every row is decoded before it is read
  int32_t capacity_ = 0;   // rows of room
  int32_t start_ = 0;      // slot of row base_
  int32_t base_ = 0;       // first row held
  int32_t count_ = 0;      // rows held, base_ .. base_ + count_ - 1
  int32_t decoded_ = 0;    // rows taken from the image so far
  bool image_failed_ = false;
};

}  // namespace pellavo
