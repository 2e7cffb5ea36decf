#include "raster/resamplers.h"

#include "raster/bitmap32.h"
#include "raster/mapping_table.h"
#include "raster/stretch_paths.h"

namespace pellavo {

void TBitmap32Resampler::SetPixelAccessMode(TPixelAccessMode mode) {
  if (mode == access_mode_) return;
  access_mode_ = mode;
  Changed();
}

void TBitmap32Resampler::Changed() {
  if (update_count_ != 0) return;
  TCustomResampler::Changed();
  owner_->Changed();
}

void TNearestResampler::Transfer(TBitmap32& Dst, TRect DstRect, TRect DstClip, const TBitmap32& Src, TRect SrcRect,
                                 TDrawMode CombineOp, const TPixelCombineEvent& CombineCallBack) const {
  NearestStretch(Dst, DstRect, DstClip, Src, SrcRect, CombineOp, CombineCallBack);
}

std::unique_ptr<TBitmap32Resampler> TNearestResampler::CloneFor(TBitmap32& owner) const {
  auto r = std::make_unique<TNearestResampler>(owner);
  CopySettingsTo(*r);
  return r;
}

void TLinearResampler::Transfer(TBitmap32& Dst, TRect DstRect, TRect DstClip, const TBitmap32& Src, TRect SrcRect,
                                TDrawMode CombineOp, const TPixelCombineEvent& CombineCallBack) const {
  const int64_t src_w = SrcRect.Width(), src_h = SrcRect.Height();
  const int64_t dst_w = int64_t(DstRect.Right) - DstRect.Left, dst_h = int64_t(DstRect.Bottom) - DstRect.Top;
  if (dst_w > src_w && dst_h > src_h && src_w > 1 && src_h > 1)
    BilinearStretch(Dst, DstRect, DstClip, Src, SrcRect, CombineOp, CombineCallBack);
  else
    Resample(Dst, DstRect, DstClip, Src, SrcRect, kernel_, CombineOp, CombineCallBack);
}

std::unique_ptr<TBitmap32Resampler> TLinearResampler::CloneFor(TBitmap32& owner) const {
  auto r = std::make_unique<TLinearResampler>(owner);
  CopySettingsTo(*r);
  return r;
}

void TDraftResampler::Transfer(TBitmap32& Dst, TRect DstRect, TRect DstClip, const TBitmap32& Src, TRect SrcRect,
                               TDrawMode CombineOp, const TPixelCombineEvent& CombineCallBack) const {
  const int64_t src_w = SrcRect.Width(), src_h = SrcRect.Height();
  const int64_t dst_w = int64_t(DstRect.Right) - DstRect.Left, dst_h = int64_t(DstRect.Bottom) - DstRect.Top;
  if (src_w < dst_w || src_h < dst_h) {
    if (src_w < 2 || src_h < 2)
      Resample(Dst, DstRect, DstClip, Src, SrcRect, LinearKernel(), CombineOp, CombineCallBack);
    else
      BilinearStretch(Dst, DstRect, DstClip, Src, SrcRect, CombineOp, CombineCallBack);
  } else {
    BlockAverageStretch(Dst, DstRect, DstClip, Src, SrcRect, CombineOp, CombineCallBack);
  }
}

std::unique_ptr<TBitmap32Resampler> TDraftResampler::CloneFor(TBitmap32& owner) const {
  auto r = std::make_unique<TDraftResampler>(owner);
  CopySettingsTo(*r);
  return r;
}

TKernelResampler::TKernelResampler(TBitmap32& owner)
    : TBitmap32Resampler(owner), kernel_(std::make_unique<TBoxKernel>()) {}

void TKernelResampler::Transfer(TBitmap32& Dst, TRect DstRect, TRect DstClip, const TBitmap32& Src, TRect SrcRect,
                                TDrawMode CombineOp, const TPixelCombineEvent& CombineCallBack) const {
  Resample(Dst, DstRect, DstClip, Src, SrcRect, *kernel_, CombineOp, CombineCallBack);
}

std::unique_ptr<TBitmap32Resampler> TKernelResampler::CloneFor(TBitmap32& owner) const {
  auto r = std::make_unique<TKernelResampler>(owner);
  CopySettingsTo(*r);
  r->kernel_ = kernel_->Clone();
  r->kernel_mode_ = kernel_mode_;
  r->table_size_ = table_size_;
  return r;
}

void TKernelResampler::SetKernel(std::unique_ptr<TCustomKernel> kernel) {
  if (!kernel || kernel.get() == kernel_.get()) return;
  kernel_ = std::move(kernel);
  Changed();
}

void TKernelResampler::SetKernelClassName(std::string_view name) {
  if (name == kernel_->ClassName()) return;
  if (auto k = CreateKernel(name)) SetKernel(std::move(k));
}

void TKernelResampler::SetKernelMode(TKernelMode mode) {
  if (mode == kernel_mode_) return;
  kernel_mode_ = mode;
  Changed();
}

void TKernelResampler::SetTableSize(int32_t size) {
  size = std::max(size, 2);
  if (size == table_size_) return;
  table_size_ = size;
  Changed();
}

}  // namespace pellavo
