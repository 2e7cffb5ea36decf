#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/errors.h"
#include "formats/bmp/bitmap.h"
#include "formats/graphic.h"

namespace pellavo {

namespace jpeg_detail {
class TDecompressor;
}

// A fatal error of the JPEG library: "JPEG error #<the library's message code>", with the
// library's own message as its cause.
class EJPEG : public EInvalidGraphic {
 public:
  using EInvalidGraphic::EInvalidGraphic;
};

enum class TJPEGPerformance : uint8_t { jpBestQuality, jpBestSpeed };
enum class TJPEGPixelFormat : uint8_t { jf24Bit, jf8Bit };
// Decoding at 1/1, 1/2, 1/4 or 1/8 of the stored size.
enum class TJPEGScale : uint8_t { jsFullSize, jsHalf, jsQuarter, jsEighth };

// The compressed image. Never changed once made, so images share it without copying.
struct TJPEGData {
  std::vector<uint8_t> Bytes;  // the complete file
  int32_t Width = 0;           // from the file's header, or from the bitmap that was compressed
  int32_t Height = 0;
  bool Grayscale = false;
  bool Cmyk = false;  // CMYK or YCCK samples
};

struct TJPEGSettings {
  uint8_t JpegQuality = 90;  // 1 to 100
  bool GrayOutput = false;
  TJPEGPerformance DecodeSpeed = TJPEGPerformance::jpBestQuality;
  TJPEGPixelFormat DecodeDepth = TJPEGPixelFormat::jf24Bit;
  bool StagedDisplay = false;
  bool ProgressiveOutput = false;
  TJPEGScale DecodeScale = TJPEGScale::jsFullSize;
  bool BlockSmoothing = true;
};

// The settings every new TJPEGImage starts with.
const TJPEGSettings& JPEGDefaults();

// A JPEG file. A loaded image keeps the compressed bytes and decodes them only when it is first
// drawn or copied into a bitmap, at DecodeScale, so that a large photo can be decoded close to
// the size it is wanted at. An image given a bitmap compresses it when its bytes are first
// needed.
//
// Decoded pixels are 24-bit colour, or 8-bit with a palette of at most 236 entries when 8-bit
// depth or grey output is asked for (a greyscale file always gives grey output). CMYK and YCCK
// files are converted to colour, and to grey values when grey output is asked for; they always
// decode to 24 bits.
class TJPEGImage : public TGraphic {
  PELLAVO_GRAPHIC_CLASS()

 public:
  TJPEGImage();
  ~TJPEGImage() override;
  TJPEGImage(const TJPEGImage&) = delete;
  TJPEGImage& operator=(const TJPEGImage&) = delete;

  uint8_t JpegQuality() const { return settings_.JpegQuality; }
  // Clamped to 1..100.
  void SetJpegQuality(int quality);
  bool GrayOutput() const { return settings_.GrayOutput; }
  void SetGrayOutput(bool on);
  TJPEGPerformance DecodeSpeed() const { return settings_.DecodeSpeed; }
  void SetDecodeSpeed(TJPEGPerformance speed) { settings_.DecodeSpeed = speed; }
  TJPEGPixelFormat DecodeDepth() const { return settings_.DecodeDepth; }
  void SetDecodeDepth(TJPEGPixelFormat depth) { settings_.DecodeDepth = depth; }
  // Progressive files are decoded into the bitmap scan by scan, the early stages with the quick
  // settings; the stage handler sees the bitmap after each stage.
  bool StagedDisplay() const { return settings_.StagedDisplay; }
  void SetStagedDisplay(bool on) { settings_.StagedDisplay = on; }
  void SetStageHandler(std::function<void(const TBitmap& stage)> handler) { on_stage_ = std::move(handler); }
  // Loading sets it from the file; on, the encoder writes a progressive file.
  bool ProgressiveOutput() const { return settings_.ProgressiveOutput; }
  void SetProgressiveOutput(bool on);
  TJPEGScale DecodeScale() const { return settings_.DecodeScale; }
  // A new scale discards the decoded bitmap, so the next use decodes at that scale.
  void SetDecodeScale(TJPEGScale scale);
  bool HasDecodeScale() const override { return true; }
  void SetDecodeScale(int scale) override { SetDecodeScale(static_cast<TJPEGScale>(scale)); }
  bool BlockSmoothing() const { return settings_.BlockSmoothing; }
  void SetBlockSmoothing(bool on) { settings_.BlockSmoothing = on; }

  // Blocks the compressor writes into the file after its JFIF header: EXIF, XMP and an ICC
  // profile; none by default.
  void SetMetadata(TImageMetadata metadata);
  // A new converter discards a decoded bitmap.
  void SetCmykConverter(TCmykConverter converter) override;
  TImageMetadata EmbeddedMetadata() const override;

  // The compressed data, shared; null when there is none yet.
  const std::shared_ptr<const TJPEGData>& Data() const { return data_; }
  // Whether a bitmap is held: the decoded image, or the one given to be compressed.
  bool HasBitmap() const { return bitmap_ != nullptr; }
  // Compresses the held bitmap unless compressed data exists. Throws EJPEG.
  void Compress();

  // Another JPEG image: shares its compressed data and copies its bitmap. A bitmap: keeps a
  // copy to compress, dropping any compressed data.
  void Assign(const TGraphic& source) override;
  // Assign of a bitmap that is given up: its pixels are held without a copy.
  void TakeBitmap(TBitmap&& bitmap);
  // Decodes into a TBitmap.
  bool AssignTo(TGraphic& dest) const override;
  // Draws at DecodeScale. Drawn unscaled into a target that holds it whole, the image is
  // decoded straight into the target's rows, and no bitmap is kept.
  void Draw(const TPixels32& target, const TRect& rect) override;

  bool Empty() const override;
  // The bitmap's size when one is held, otherwise the size the file decodes to at DecodeScale.
  int32_t Width() const override;
  int32_t Height() const override;
  void SetWidth(int32_t width) override;
  void SetHeight(int32_t height) override;

  // Keeps every byte from the stream's position to its end and reads the header only.
  void LoadFromStream(TStream& stream) override;
  // Writes the compressed bytes unchanged, compressing the bitmap first when needed.
  void SaveToStream(TStream& stream) override;

 private:
  friend class TJPEGRowImage;
  struct TPlan;

  TPlan SetUpDecoder(jpeg_detail::TDecompressor& d, bool into_target) const;
  void ConvertCmykRow(const TPlan& plan, uint8_t* row, int32_t width) const;
  void UpdateScaledSize() const;
  void DecodeBitmap() const;
  bool DecodeInto(const TPixels32& target, const TRect& rect);
  // Drops compressed data made from the held bitmap, so that new settings take effect.
  void CompressionSettingChanged();

  TJPEGSettings settings_;
  std::function<void(const TBitmap&)> on_stage_;
  TImageMetadata metadata_;
  TCmykConverter cmyk_converter_;
  std::shared_ptr<const TJPEGData> data_;
  bool data_from_bitmap_ = false;  // data_ was compressed from bitmap_
  // The decoded image is made on first need, also from const members.
  mutable std::unique_ptr<TBitmap> bitmap_;
  mutable bool scaled_valid_ = false;
  mutable int32_t scaled_width_ = 0;
  mutable int32_t scaled_height_ = 0;
};

}  // namespace pellavo
