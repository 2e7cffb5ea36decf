#pragma once
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>

#include "core/color.h"
#include "core/rect.h"
#include "formats/bmp/bitmap.h"
#include "formats/picture.h"
#include "raster/color32.h"
#include "raster/draw_types.h"
#include "raster/notifiable.h"
#include "raster/resamplers.h"

namespace pellavo {

// The 32-bit raster surface: Width x Height TColor32 values in one block, top row first with
// no padding, zero when allocated. It owns the resampler its StretchFilter selects.
class TBitmap32 : public TCustomMap {
 public:
  using TAreaChangedEvent = std::function<void(TBitmap32& sender, const TRect& area, uint32_t info)>;

  TBitmap32();
  ~TBitmap32() override;

  bool Empty() const override { return !bits_ || TCustomMap::Empty(); }
  TRect BoundsRect() const { return TRect{0, 0, width_, height_}; }
  // Drawing is always clipped to the whole surface.
  TRect ClipRect() const { return clip_rect_; }

  TColor32* Bits() { return bits_.get(); }
  const TColor32* Bits() const { return bits_.get(); }
  TColor32* ScanLine(int32_t y) { return bits_.get() + static_cast<size_t>(y) * static_cast<size_t>(width_); }
  const TColor32* ScanLine(int32_t y) const {
    return bits_.get() + static_cast<size_t>(y) * static_cast<size_t>(width_);
  }
  // The pixels as an area a graphic can draw into.
  TPixels32 Pixels() { return TPixels32{bits_.get(), bits_ ? width_ : 0, bits_ ? height_ : 0}; }

  // Every pixel := c; nothing at all on an empty surface.
  void Clear(TColor32 c);
  // Every alpha byte := 255.
  void ResetAlpha();

  // Takes the image of a picture, a graphic, a bitmap or another surface, with the alpha rules
  // of each kind. The update bracket is closed and Changed runs also when it fails.
  void Assign(const TPicture& picture);
  void Assign(const TGraphic& graphic);
  void Assign(const TBitmap& bitmap);
  void Assign(const TBitmap32& source);
  // The picture's graphic becomes a 32-bit TBitmap holding the pixels as they are.
  void AssignTo(TPicture& picture) const;
  void AssignTo(TBitmap& bitmap) const;

  TDrawMode DrawMode() const { return draw_mode_; }
  void SetDrawMode(TDrawMode v);
  TCombineMode CombineMode() const { return combine_mode_; }
  void SetCombineMode(TCombineMode v);
  TWrapMode WrapMode() const { return wrap_mode_; }
  void SetWrapMode(TWrapMode v);
  uint32_t MasterAlpha() const { return master_alpha_; }
  void SetMasterAlpha(uint32_t v);
  TColor32 OuterColor() const { return outer_color_; }
  void SetOuterColor(TColor32 v) { outer_color_ = v; }

  // Selecting a different filter replaces the resampler (see resamplers.h).
  TStretchFilter StretchFilter() const { return stretch_filter_; }
  void SetStretchFilter(TStretchFilter f);
  TCustomResampler& Resampler() const { return *resampler_; }
  // Installs a resampler bound to this surface; the previous one is released.
  void SetResampler(std::unique_ptr<TBitmap32Resampler> resampler);

  // Stretches srcRect of this surface into dstRect of dst with this surface's resampler.
  void DrawTo(TBitmap32& dst, const TRect& dstRect, const TRect& srcRect) const;

  // Rectangle decorations; all clip to ClipRect. Lines take inclusive end points in either
  // order; the blended ones lay each pixel under BlendOver.
  void FillRectClipped(int32_t x1, int32_t y1, int32_t x2, int32_t y2, TColor32 c);
  void FillRectClipped(const TRect& r, TColor32 c) { FillRectClipped(r.Left, r.Top, r.Right, r.Bottom, c); }
  void FrameRectClipped(const TRect& r, TColor32 c);
  void RaiseRectBlended(const TRect& r, int32_t contrast);
  void HorzLineClipped(int32_t x1, int32_t y, int32_t x2, TColor32 c);
  void VertLineClipped(int32_t x, int32_t y1, int32_t y2, TColor32 c);
  void HorzLineBlended(int32_t x1, int32_t y, int32_t x2, TColor32 c);
  void VertLineBlended(int32_t x, int32_t y1, int32_t y2, TColor32 c);

  // Reports the whole surface (OnAreaChanged), then OnChange, unless an update bracket is open.
  void Changed() override;
  // Reports an area that a drawing operation touched.
  virtual void AreaChanged(const TRect& area, uint32_t info);

  TAreaChangedEvent OnAreaChanged;
  TNotifyEvent OnHandleChanged;
  TPixelCombineEvent OnPixelCombine;

 protected:
  void ChangeSize(int32_t width, int32_t height) override;
  virtual void HandleChanged();

 private:
  struct TFreeDeleter {
    void operator()(TColor32* p) const { std::free(p); }
  };

  void AssignFromBitmap(const TBitmap& b);
  void AssignFromGraphic(TGraphic& g, int32_t w, int32_t h);
  void AssignByCoverage(TGraphic& g, int32_t w, int32_t h);
  void CopyMapTo(TBitmap32& dst) const;
  void CopyPropertiesTo(TBitmap32& dst) const;
  template <class F>
  void WithinUpdate(F&& f);

  std::unique_ptr<TColor32[], TFreeDeleter> bits_;
  TRect clip_rect_;
  TDrawMode draw_mode_ = dmOpaque;
  TCombineMode combine_mode_ = cmBlend;
  TWrapMode wrap_mode_ = wmClamp;
  uint32_t master_alpha_ = 255;
  TColor32 outer_color_ = 0;
  TStretchFilter stretch_filter_ = sfNearest;
  std::unique_ptr<TBitmap32Resampler> resampler_;
};

}  // namespace pellavo

#include "raster/transfer.h"
