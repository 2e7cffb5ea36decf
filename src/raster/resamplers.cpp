#include "raster/resamplers.h"

#include "raster/bitmap32.h"
#include "raster/mapping_table.h"
#include "raster/source_rows.h"
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

void TCustomResampler::Transfer(TBitmap32& Dst, TRect DstRect, TRect DstClip, const TBitmap32& Src, TRect SrcRect,
                                TDrawMode CombineOp, const TPixelCombineEvent& CombineCallBack) const {
  if (CombineOp == dmCustom && !CombineCallBack) CombineOp = dmOpaque;
  TSurfaceRows rows(Src);
  TransferRows(Dst, DstRect, DstClip, rows, SrcRect, TRowStore{&Src, CombineOp, &CombineCallBack});
}

void TNearestResampler::TransferRows(TBitmap32& Dst, TRect DstRect, TRect DstClip, TSourceRows& Src, TRect SrcRect,
                                     const TRowStore& Store) const {
  NearestStretch(Dst, DstRect, DstClip, Src, SrcRect, Store);
}

std::unique_ptr<TBitmap32Resampler> TNearestResampler::CloneFor(TBitmap32& owner) const {
  auto r = std::make_unique<TNearestResampler>(owner);
  CopySettingsTo(*r);
  return r;
}

void TLinearResampler::TransferRows(TBitmap32& Dst, TRect DstRect, TRect DstClip, TSourceRows& Src, TRect SrcRect,
                                    const TRowStore& Store) const {
  const int64_t src_w = SrcRect.Width(), src_h = SrcRect.Height();
  const int64_t dst_w = int64_t(DstRect.Right) - DstRect.Left, dst_h = int64_t(DstRect.Bottom) - DstRect.Top;
  if (dst_w > src_w && dst_h > src_h && src_w > 1 && src_h > 1)
    BilinearStretch(Dst, DstRect, DstClip, Src, SrcRect, Store);
  else
    Resample(Dst, DstRect, DstClip, Src, SrcRect, kernel_, Store);
}

std::unique_ptr<TBitmap32Resampler> TLinearResampler::CloneFor(TBitmap32& owner) const {
  auto r = std::make_unique<TLinearResampler>(owner);
  CopySettingsTo(*r);
  return r;
}

void TDraftResampler::TransferRows(TBitmap32& Dst, TRect DstRect, TRect DstClip, TSourceRows& Src, TRect SrcRect,
                                   const TRowStore& Store) const {
  const int64_t src_w = SrcRect.Width(), src_h = SrcRect.Height();
  const int64_t dst_w = int64_t(DstRect.Right) - DstRect.Left, dst_h = int64_t(DstRect.Bottom) - DstRect.Top;
  if (src_w < dst_w || src_h < dst_h) {
    if (src_w < 2 || src_h < 2)
      Resample(Dst, DstRect, DstClip, Src, SrcRect, LinearKernel(), Store);
    else
      BilinearStretch(Dst, DstRect, DstClip, Src, SrcRect, Store);
  } else {
    BlockAverageStretch(Dst, DstRect, DstClip, Src, SrcRect, Store);
  }
}

std::unique_ptr<TBitmap32Resampler> TDraftResampler::CloneFor(TBitmap32& owner) const {
  auto r = std::make_unique<TDraftResampler>(owner);
  CopySettingsTo(*r);
  return r;
}

TKernelResampler::TKernelResampler(TBitmap32& owner)
    : TBitmap32Resampler(owner), kernel_(std::make_unique<TBoxKernel>()) {}

void TKernelResampler::TransferRows(TBitmap32& Dst, TRect DstRect, TRect DstClip, TSourceRows& Src, TRect SrcRect,
                                    const TRowStore& Store) const {
  Resample(Dst, DstRect, DstClip, Src, SrcRect, *kernel_, Store);
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
