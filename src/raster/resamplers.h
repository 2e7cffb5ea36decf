#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/rect.h"
#include "raster/draw_types.h"
#include "raster/kernels.h"
#include "raster/notifiable.h"

namespace pellavo {

class TBitmap32;
class TSourceRows;
struct TRowStore;

// The per-point sampling interface of geometric transformations; nothing in the program
// transforms, so only the class remains as the root of the resamplers.
class TCustomSampler : public TNotifiablePersistent {};

// Draws a source rectangle stretched into a destination rectangle.
class TCustomResampler : public TCustomSampler {
 public:
  virtual const char* ClassName() const = 0;
  virtual float GetWidth() const = 0;
  // Called by StretchTransfer once it has checked and clipped: DstClip lies inside Dst and
  // DstRect, SrcRect inside Src, and the two rectangles differ in size.
  virtual void Transfer(TBitmap32& Dst, TRect DstRect, TRect DstClip, const TBitmap32& Src, TRect SrcRect,
                        TDrawMode CombineOp, const TPixelCombineEvent& CombineCallBack) const;
  // The same from source rows, which a decoder may produce as they are asked for; Transfer
  // serves a surface's rows through it.
  virtual void TransferRows(TBitmap32& Dst, TRect DstRect, TRect DstClip, TSourceRows& Src, TRect SrcRect,
                            const TRowStore& Store) const = 0;
};

// A resampler that belongs to a surface; its changes are the surface's changes.
class TBitmap32Resampler : public TCustomResampler {
 public:
  explicit TBitmap32Resampler(TBitmap32& owner) : owner_(&owner) {}

  TBitmap32& Bitmap() const { return *owner_; }
  TPixelAccessMode PixelAccessMode() const { return access_mode_; }
  void SetPixelAccessMode(TPixelAccessMode mode);

  void Changed() override;
  // A resampler of the same class with the same settings, bound to owner.
  virtual std::unique_ptr<TBitmap32Resampler> CloneFor(TBitmap32& owner) const = 0;

 protected:
  void CopySettingsTo(TBitmap32Resampler& dst) const { dst.access_mode_ = access_mode_; }

 private:
  TBitmap32* owner_;
  TPixelAccessMode access_mode_ = pamSafe;
};

class TNearestResampler : public TBitmap32Resampler {
 public:
  using TBitmap32Resampler::TBitmap32Resampler;
  const char* ClassName() const override { return "TNearestResampler"; }
  float GetWidth() const override { return 1; }
  void TransferRows(TBitmap32& Dst, TRect DstRect, TRect DstClip, TSourceRows& Src, TRect SrcRect,
                    const TRowStore& Store) const override;
  std::unique_ptr<TBitmap32Resampler> CloneFor(TBitmap32& owner) const override;
};

// Bilinear when enlarging both ways from a source at least 2 x 2; otherwise kernel resampling
// with its own triangle kernel.
class TLinearResampler : public TBitmap32Resampler {
 public:
  using TBitmap32Resampler::TBitmap32Resampler;
  const char* ClassName() const override { return "TLinearResampler"; }
  float GetWidth() const override { return 1; }
  void TransferRows(TBitmap32& Dst, TRect DstRect, TRect DstClip, TSourceRows& Src, TRect SrcRect,
                    const TRowStore& Store) const override;
  std::unique_ptr<TBitmap32Resampler> CloneFor(TBitmap32& owner) const override;
  const TLinearKernel& LinearKernel() const { return kernel_; }

 private:
  TLinearKernel kernel_;
};

// Block averages when reducing (or keeping one axis); bilinear or the triangle kernel when
// enlarging.
class TDraftResampler : public TLinearResampler {
 public:
  using TLinearResampler::TLinearResampler;
  const char* ClassName() const override { return "TDraftResampler"; }
  void TransferRows(TBitmap32& Dst, TRect DstRect, TRect DstClip, TSourceRows& Src, TRect SrcRect,
                    const TRowStore& Store) const override;
  std::unique_ptr<TBitmap32Resampler> CloneFor(TBitmap32& owner) const override;
};

// Separable two-pass resampling with the owned Kernel (a TBoxKernel at first).
class TKernelResampler : public TBitmap32Resampler {
 public:
  explicit TKernelResampler(TBitmap32& owner);
  const char* ClassName() const override { return "TKernelResampler"; }
  float GetWidth() const override { return kernel_->GetWidth(); }
  void TransferRows(TBitmap32& Dst, TRect DstRect, TRect DstClip, TSourceRows& Src, TRect SrcRect,
                    const TRowStore& Store) const override;
  std::unique_ptr<TBitmap32Resampler> CloneFor(TBitmap32& owner) const override;

  TCustomKernel& Kernel() const { return *kernel_; }
  // Replaces the kernel; a null or identical kernel changes nothing.
  void SetKernel(std::unique_ptr<TCustomKernel> kernel);
  std::string KernelClassName() const { return kernel_->ClassName(); }
  // Replaces the kernel by a new one of the registered class of that name; an unknown or
  // unchanged name changes nothing.
  void SetKernelClassName(std::string_view name);

  // These two govern only per-point sampling, which the program never does; Transfer always
  // evaluates the kernel directly.
  TKernelMode KernelMode() const { return kernel_mode_; }
  void SetKernelMode(TKernelMode mode);
  int32_t TableSize() const { return table_size_; }
  void SetTableSize(int32_t size);

 private:
  std::unique_ptr<TCustomKernel> kernel_;
  TKernelMode kernel_mode_ = kmDynamic;
  int32_t table_size_ = 32;
};

}  // namespace pellavo
