#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "formats/bmp/bitmap.h"
#include "formats/graphic.h"

namespace pellavo {

// An enhanced (EMF) or Windows (WMF, with the placeable header) metafile. The content decides
// which one a stream holds. The size in pixels is the metafile's own size at 96 pixels per
// inch: the EMF frame, or the placeable bounding box in its units per inch.
//
// Drawing plays the records back onto the target's pixels and paints only what the records
// cover, so surfaces take its alpha from two passes (UsesCoverageAlpha).
class TMetafile : public TGraphic {
  PELLAVO_GRAPHIC_CLASS()

 public:
  TMetafile() = default;

  // On for new metafiles and ones read as EMF; decides what SaveToStream writes.
  bool Enhanced() const { return enhanced_; }
  void SetEnhanced(bool on) { enhanced_ = on; }

  // Size in 0.01 mm.
  int32_t MMWidth() const { return mm_width_; }
  int32_t MMHeight() const { return mm_height_; }

  int32_t Width() const override;
  int32_t Height() const override;
  // Before there are records the size is remembered in pixels; afterwards it sets the size
  // the records are played back at.
  void SetWidth(int32_t width) override;
  void SetHeight(int32_t height) override;
  bool Empty() const override { return !data_; }
  bool UsesCoverageAlpha() const override { return true; }

  void Assign(const TGraphic& source) override;
  void Draw(const TPixels32& target, const TRect& rect) override;

  // EMF when the content says so, otherwise a placeable WMF; anything else raises
  // EInvalidGraphic "Metafile is not valid".
  void LoadFromStream(TStream& stream) override;
  // An EMF when Enhanced, a placeable WMF otherwise.
  void SaveToStream(TStream& stream) override;
  // A placeable WMF for a ".wmf" path (any letter case), an EMF for any other; Enhanced is
  // left as it is.
  void WriteToFile(const std::string& path) override;

  void SaveAsEmf(TStream& stream);
  void SaveAsWmf(TStream& stream);

  // Whether the records held are EMF records (false: WMF records, read from a WMF file).
  bool HoldsEmf() const { return data_ && data_is_emf_; }
  // The records as held: a complete EMF, or a WMF without its placeable header.
  const std::vector<uint8_t>* Records() const { return data_.get(); }

 private:
  friend class TMetafileCanvas;
  void InstallEmf(std::vector<uint8_t> emf);
  void DrawArea(const TPixels32& target, const TRect& rect, const TRect& area);
  // The metafile played back onto white at its own pixel size.
  TBitmap Rasterize();

  std::shared_ptr<const std::vector<uint8_t>> data_;
  bool data_is_emf_ = true;
  bool enhanced_ = true;
  int32_t mm_width_ = 0, mm_height_ = 0;
  int32_t width_ = 0, height_ = 0;  // pixels, before there are records
  // WMF: the placeable bounding box and its units per inch.
  int16_t bbox_[4] = {0, 0, 0, 0};
  uint16_t inch_ = 96;
};

// Records what is drawn on it into a new enhanced metafile whose frame is the metafile's size,
// on a reference device of 96 pixels per inch; hands the result to the metafile when closed
// (or destroyed).
class TMetafileCanvas {
 public:
  explicit TMetafileCanvas(TMetafile& metafile);
  ~TMetafileCanvas();
  TMetafileCanvas(const TMetafileCanvas&) = delete;
  TMetafileCanvas& operator=(const TMetafileCanvas&) = delete;

  // Records bitmap at (x, y) at its own size: one stretch-blit with source copy.
  void Draw(int32_t x, int32_t y, const TBitmap& bitmap);
  // Records bitmap stretched to rect.
  void StretchDraw(const TRect& rect, const TBitmap& bitmap);
  // Ends the recording and installs it in the metafile; later drawing raises an error.
  void Close();

 private:
  TMetafile* metafile_;
  std::vector<uint8_t> records_;  // the header's place, then the records
  uint32_t count_ = 0;
  TRect bounds_{0, 0, -1, -1};
  bool any_ = false;
};

// The worker's ".emf" output: a new metafile of the bitmap's size, the bitmap recorded at
// (0, 0) through a TMetafileCanvas, written as EMF.
void SaveBitmapAsEmf(const TBitmap& bitmap, TStream& out);

}  // namespace pellavo
