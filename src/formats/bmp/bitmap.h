#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "formats/graphic.h"

namespace pellavo {

enum class TPixelFormat : uint8_t { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };

struct TRGBQuad {
  uint8_t Blue = 0, Green = 0, Red = 0, Reserved = 0;
  friend bool operator==(const TRGBQuad&, const TRGBQuad&) = default;
};

// A device-independent bitmap: the hand-over format of the program. Rows are stored bottom-up,
// each padded to a multiple of 4 bytes; ScanLine(0) is the top row. A 24-bit pixel is blue,
// green, red; a 32-bit pixel adds a fourth byte the bitmap does not interpret. 15-bit pixels
// are 5-5-5, 16-bit pixels 5-6-5.
class TBitmap : public TGraphic {
  PELLAVO_GRAPHIC_CLASS()

 public:
  TBitmap() = default;
  TBitmap(int32_t width, int32_t height, TPixelFormat format);
  TBitmap(const TBitmap&) = default;
  TBitmap& operator=(const TBitmap&) = default;
  TBitmap(TBitmap&&) noexcept = default;
  TBitmap& operator=(TBitmap&&) noexcept = default;

  TPixelFormat PixelFormat() const { return format_; }
  // Converts the image to format; the custom and device formats raise "Invalid pixel format".
  void SetPixelFormat(TPixelFormat format);
  static int BitsPerPixel(TPixelFormat format);
  int BitsPerPixel() const { return BitsPerPixel(format_); }

  // Reallocates the pixels, all zero. A negative size is taken as 0.
  void SetSize(int32_t width, int32_t height);
  int32_t Width() const override { return width_; }
  int32_t Height() const override { return height_; }
  void SetWidth(int32_t width) override { SetSize(width, height_); }
  void SetHeight(int32_t height) override { SetSize(width_, height); }
  bool Empty() const override { return width_ == 0 || height_ == 0; }

  size_t RowBytes() const { return row_bytes_; }
  // Row y, 0 being the top row. The writable form drops the kept file bytes.
  uint8_t* ScanLine(int32_t y);
  const uint8_t* ScanLine(int32_t y) const;
  // The whole pixel block as stored: bottom row first.
  const std::vector<uint8_t>& StoredRows() const { return pixels_; }
  // What the bitmap holds in memory: its rows, and the file it was read from while it is kept.
  uint64_t HeldBytes() const override { return pixels_.size() + (file_bytes_ ? file_bytes_->size() : 0); }

  const std::vector<TRGBQuad>& Palette() const { return palette_; }
  void SetPalette(std::vector<TRGBQuad> palette);

  bool Transparent() const { return transparent_; }
  void SetTransparent(bool on) { transparent_ = on; }
  TColor TransparentColor() const { return transparent_color_; }
  void SetTransparentColor(TColor color) { transparent_color_ = color; }

  // Row y as 32-bit pixels: a 32-bit bitmap gives its values unchanged, any other format its
  // colours with alpha 255.
  void ReadRow32(int32_t y, TColor32* out) const;
  // Whether a writer may leave the alpha out: every fourth byte of a 32-bit bitmap is 255, or the
  // bitmap has no fourth byte.
  bool AllOpaque() const;

  void Assign(const TGraphic& source) override;
  // Copies the pixels, replacing the target's (the fourth byte of a 32-bit bitmap included);
  // with the transparency flag set, pixels of the transparent colour are left out.
  void Draw(const TPixels32& target, const TRect& rect) override;

  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;

  // Whether SaveToStream would write back the bytes the bitmap was read from.
  bool HoldsFileBytes() const { return file_bytes_ != nullptr; }

 private:
  friend class TBmpReader;
  void Changed() { file_bytes_.reset(); }
  void Allocate(int32_t width, int32_t height, TPixelFormat format);

  TPixelFormat format_ = TPixelFormat::pf24bit;
  int32_t width_ = 0;
  int32_t height_ = 0;
  size_t row_bytes_ = 0;
  std::vector<uint8_t> pixels_;  // bottom-up rows
  std::vector<TRGBQuad> palette_;
  int32_t x_pels_per_meter_ = 0;
  int32_t y_pels_per_meter_ = 0;
  bool transparent_ = false;
  TColor transparent_color_ = 0;
  std::shared_ptr<const std::vector<uint8_t>> file_bytes_;  // the BMP file, until the image changes
};

// The bitmap itself when its pixels are 24 or 32 bits, else a 24-bit copy made in `holder`:
// what encoders that take packed RGB or RGBA rows read.
const TBitmap& RgbOrRgbaPixels(const TBitmap& bitmap, std::optional<TBitmap>& holder);

}  // namespace pellavo
