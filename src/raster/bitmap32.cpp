#include "raster/bitmap32.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "core/limits.h"
#include "raster/raster_errors.h"
#include "raster/simd/routines.h"

namespace pellavo {

TBitmap32::TBitmap32() : resampler_(std::make_unique<TNearestResampler>(*this)) {}

TBitmap32::~TBitmap32() = default;

void TBitmap32::ChangeSize(int32_t width, int32_t height) {
  bits_.reset();
  width_ = 0;
  height_ = 0;
  clip_rect_ = TRect{};
  if (width > 0 && height > 0) {
    const uint64_t count = uint64_t(width) * uint64_t(height);
    TColor32* p = nullptr;
    if (count * sizeof(TColor32) <= kMaxPixelBlockBytes)
      p = static_cast<TColor32*>(std::calloc(static_cast<size_t>(count), sizeof(TColor32)));
    if (!p) {
      HandleChanged();
      throw EOutOfResources(kCantAllocDib, "not enough memory for " + std::to_string(width) + " × " +
                                               std::to_string(height) + " pixels (" +
                                               std::to_string((count * sizeof(TColor32)) >> 20) + " MB)");
    }
    bits_.reset(p);
  }
  width_ = width;
  height_ = height;
  clip_rect_ = BoundsRect();
  HandleChanged();
}

void TBitmap32::HandleChanged() {
  if (OnHandleChanged) OnHandleChanged(*this);
}

void TBitmap32::Changed() {
  if (update_count_ != 0) return;
  if (OnAreaChanged) OnAreaChanged(*this, BoundsRect(), AREAINFO_RECT);
  if (OnChange) OnChange(*this);
}

void TBitmap32::AreaChanged(const TRect& area, uint32_t info) {
  if (update_count_ != 0) return;
  if (OnAreaChanged) OnAreaChanged(*this, area, info);
  if (OnChange) OnChange(*this);
}

void TBitmap32::Clear(TColor32 c) {
  if (Empty()) return;
  simd::Routines().Fill(bits_.get(), size_t(width_) * size_t(height_), c);
  Changed();
}

void TBitmap32::ResetAlpha() {
  if (bits_) simd::Routines().OpaqueAlpha(bits_.get(), size_t(width_) * size_t(height_));
  Changed();
}

template <class F>
void TBitmap32::WithinUpdate(F&& f) {
  BeginUpdate();
  try {
    f();
  } catch (...) {
    EndUpdate();
    Changed();
    throw;
  }
  EndUpdate();
  Changed();
}

void TBitmap32::Assign(const TPicture& picture) {
  WithinUpdate([&] {
    TGraphic* g = picture.Graphic();
    if (!g) {
      SetSize(0, 0);
    } else if (g->Is(TBitmap::StaticClass())) {
      AssignFromBitmap(static_cast<const TBitmap&>(*g));
    } else if (g->UsesCoverageAlpha()) {
      AssignByCoverage(*g, picture.Width(), picture.Height());
    } else {
      AssignFromGraphic(*g, picture.Width(), picture.Height());
    }
  });
}

void TBitmap32::Assign(const TGraphic& graphic) {
  WithinUpdate([&] {
    if (graphic.Is(TBitmap::StaticClass())) {
      AssignFromBitmap(static_cast<const TBitmap&>(graphic));
    } else {
      // Drawing is logically const: a graphic only caches what it decodes on first need.
      AssignFromGraphic(const_cast<TGraphic&>(graphic), graphic.Width(), graphic.Height());
    }
  });
}

void TBitmap32::Assign(const TBitmap& bitmap) {
  WithinUpdate([&] { AssignFromBitmap(bitmap); });
}

void TBitmap32::Assign(const TBitmap32& source) {
  if (&source == this) return;
  WithinUpdate([&] {
    source.CopyMapTo(*this);
    source.CopyPropertiesTo(*this);
  });
}

void TBitmap32::AssignFromBitmap(const TBitmap& b) {
  SetSize(b.Width(), b.Height());
  if (Empty()) return;
  // ReadRow32 gives a 32-bit bitmap's fourth byte as it is and every other format opaque, which
  // is what copying the bits and then resetting alpha for those formats gives.
  for (int32_t y = 0; y < height_; ++y) b.ReadRow32(y, ScanLine(y));
  if (b.Transparent()) {
    const TColor32 t = Color32(b.TransparentColor()) & 0x00FFFFFFu;
    TColor32* p = bits_.get();
    for (size_t i = 0, n = size_t(width_) * size_t(height_); i < n; ++i)
      if ((p[i] & 0x00FFFFFFu) == t) p[i] &= 0x00FFFFFFu;
  }
}

void TBitmap32::AssignFromGraphic(TGraphic& g, int32_t w, int32_t h) {
  // A surface that already had this size keeps its pixels through SetSize; clear them so the
  // graphic always lands on transparent black, as it does on a fresh surface.
  if (!SetSize(w, h) && !Empty()) simd::Routines().Fill(bits_.get(), size_t(width_) * size_t(height_), 0);
  if (Empty()) return;
  g.Draw(Pixels(), TRect{0, 0, w, h});
  ResetAlpha();
}

void TBitmap32::AssignByCoverage(TGraphic& g, int32_t w, int32_t h) {
  SetSize(w, h);
  if (Empty()) return;
  // Drawn once on opaque white and once on opaque red: a pixel that comes out the same on both
  // was painted.
  Clear(0xFFFFFFFFu);
  g.Draw(Pixels(), TRect{0, 0, w, h});
  TBitmap32 probe;
  probe.SetSize(width_, height_);
  probe.Clear(0xFFFF0000u);
  g.Draw(probe.Pixels(), TRect{0, 0, w, h});
  TColor32* p = bits_.get();
  const TColor32* q = probe.Bits();
  for (size_t i = 0, n = size_t(width_) * size_t(height_); i < n; ++i) {
    const TColor32 c = p[i] & 0x00FFFFFFu;
    p[i] = (q[i] & 0x00FFFFFFu) == c ? (c | kOpaque) : c;
  }
}

void TBitmap32::CopyMapTo(TBitmap32& dst) const {
  dst.SetSize(width_, height_);
  if (!Empty() && !dst.Empty())
    std::memcpy(dst.bits_.get(), bits_.get(), size_t(width_) * size_t(height_) * sizeof(TColor32));
}

void TBitmap32::CopyPropertiesTo(TBitmap32& dst) const {
  dst.SetDrawMode(draw_mode_);
  dst.SetCombineMode(combine_mode_);
  dst.SetWrapMode(wrap_mode_);
  dst.SetMasterAlpha(master_alpha_);
  dst.SetOuterColor(outer_color_);
  dst.stretch_filter_ = stretch_filter_;
  dst.SetResampler(resampler_->CloneFor(dst));
}

void TBitmap32::AssignTo(TPicture& picture) const { AssignTo(picture.Bitmap()); }

void TBitmap32::AssignTo(TBitmap& b) const {
  // Drop the old image first so that changing the format converts nothing.
  if (b.PixelFormat() != TPixelFormat::pf32bit) {
    b.SetSize(0, 0);
    b.SetPixelFormat(TPixelFormat::pf32bit);
  }
  b.SetSize(width_, height_);
  if (Empty()) return;
  for (int32_t y = 0; y < height_; ++y)
    std::memcpy(b.ScanLine(y), ScanLine(y), size_t(width_) * sizeof(TColor32));
}

void TBitmap32::SetDrawMode(TDrawMode v) {
  if (v == draw_mode_) return;
  draw_mode_ = v;
  Changed();
}

void TBitmap32::SetCombineMode(TCombineMode v) {
  if (v == combine_mode_) return;
  combine_mode_ = v;
  Changed();
}

void TBitmap32::SetWrapMode(TWrapMode v) {
  if (v == wrap_mode_) return;
  wrap_mode_ = v;
  Changed();
}

void TBitmap32::SetMasterAlpha(uint32_t v) {
  if (v == master_alpha_) return;
  master_alpha_ = v;
  Changed();
}

void TBitmap32::SetStretchFilter(TStretchFilter f) {
  if (f == stretch_filter_) return;
  stretch_filter_ = f;
  switch (f) {
    case sfNearest: SetResampler(std::make_unique<TNearestResampler>(*this)); break;
    case sfDraft: SetResampler(std::make_unique<TDraftResampler>(*this)); break;
    case sfLinear: SetResampler(std::make_unique<TLinearResampler>(*this)); break;
    default: {
      auto r = std::make_unique<TKernelResampler>(*this);
      TKernelResampler& k = *r;
      SetResampler(std::move(r));
      switch (f) {
        case sfCosine: k.SetKernel(std::make_unique<TCosineKernel>()); break;
        case sfSpline: k.SetKernel(std::make_unique<TSplineKernel>()); break;
        case sfLanczos: k.SetKernel(std::make_unique<TLanczosKernel>()); break;
        case sfMitchell: k.SetKernel(std::make_unique<TMitchellKernel>()); break;
        default: break;  // keeps its box kernel
      }
    }
  }
  Changed();
}

void TBitmap32::SetResampler(std::unique_ptr<TBitmap32Resampler> resampler) {
  if (!resampler || resampler.get() == resampler_.get()) return;
  resampler_ = std::move(resampler);
  Changed();
}

void TBitmap32::DrawTo(TBitmap32& dst, const TRect& dstRect, const TRect& srcRect) const {
  StretchTransfer(&dst, dstRect, dst.ClipRect(), this, srcRect, resampler_.get(), draw_mode_, OnPixelCombine);
}

}  // namespace pellavo
