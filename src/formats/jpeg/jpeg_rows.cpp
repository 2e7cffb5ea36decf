#include "formats/jpeg/jpeg_rows.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include <jerror.h>

#include "core/memory_budget.h"
#include "core/stream.h"
#include "formats/jpeg/jpeg.h"
#include "formats/jpeg/jpeg_dc_scan.h"
#include "formats/jpeg/jpeg_grey_dither.h"
#include "formats/jpeg/jpeg_lib.h"
#include "formats/jpeg/jpeg_metadata.h"
#include "formats/jpeg/jpeg_plan.h"

namespace pellavo {

using jpeg_detail::TDecompressor;
using jpeg_detail::ThrowLibraryError;

class TJPEGRowImage final : public TRowImage {
 public:
  TJPEGRowImage(TFileStream file, const TDecodeLimits& limits) : file_(std::move(file)), limits_(limits) {}

  bool Open() {
    if (file_.Size() == 0 || image_.settings_.StagedDisplay) return false;
    TDecompressor d(Rewound());
    const TJPEGImage::TPlan plan = image_.SetUpDecoder(d, true);
    const jpeg_decompress_struct& c = d.Info();
    // Two-pass colour quantising needs the whole image before its first row.
    if (plan.quantize && c.out_color_components != 1) return false;
    colours_ = c.jpeg_color_space == JCS_CMYK || c.jpeg_color_space == JCS_YCCK ? TStoredColours::Cmyk
               : c.jpeg_color_space == JCS_GRAYSCALE                           ? TStoredColours::Gray
                                                                               : TStoredColours::Rgb;
    // The metadata segments all come before the first scan, where the header reading stopped:
    // the file up to there holds all the whole file would give.
    UpdateSize(d);  // while the file is where the header reading left it
    const int64_t head = ScanStart(d);
    head_.resize(size_t(std::clamp<int64_t>(head, 0, file_.Size())));
    file_.Seek(0);
    head_.resize(file_.Read(head_.data(), head_.size()));
    return true;
  }

  int32_t Width() const override { return width_; }
  int32_t Height() const override { return height_; }
  bool HasDecodeScale() const override { return true; }
  void SetDecodeScale(int scale) override {
    const auto s = static_cast<TJPEGScale>(std::clamp(scale, 0, 3));
    if (s == image_.settings_.DecodeScale) return;
    image_.settings_.DecodeScale = s;
    TDecompressor d(Rewound());
    image_.SetUpDecoder(d, true);
    UpdateSize(d);
  }
  bool Opaque() const override { return true; }
  TImageMetadata EmbeddedMetadata() const override {
    TImageMetadata metadata = ReadJpegMetadata(head_.data(), head_.size());
    metadata.Colours = colours_;
    return metadata;
  }
  void SetCmykConverter(TCmykConverter converter) override { image_.SetCmykConverter(std::move(converter)); }
  uint64_t WorkingBytes() const override {
    // The library's row groups and our strip, the file buffer, its tables; and what the decoder
    // that reads the file holds: the DC decoder's values when it is to take the file, else for a
    // progressive file the library's coefficients of the whole image.
    return uint64_t(width_) * 4 * kStripRows * 2 + (64u << 10) + (1u << 20) +
           (dc_scan_bytes_ ? dc_scan_bytes_ : coefficient_bytes_);
  }

  void ReadRows(TColor32* out, int32_t count) override {
    if (!decoder_ && !dc_scan_) Start();
    if (dc_scan_) {
      for (int32_t i = 0; i < count; ++i, ++next_row_) {
        TColor32* row = out + size_t(i) * size_t(width_);
        dc_scan_->ReadRow(next_row_, row);
        if (dither_) Quantize(row);
      }
      return;
    }
    jpeg_decompress_struct& c = decoder_->Info();
    for (int32_t done = 0; done < count;) {
      const int32_t n = std::min<int32_t>(count - done, kStripRows);
      for (int32_t i = 0; i < n; ++i)
        rows_[size_t(i)] = plan_.quantize ? strip_.data() + size_t(i) * size_t(width_)
                                          : reinterpret_cast<JSAMPROW>(out + size_t(done + i) * size_t(width_));
      JDIMENSION got = 0;
      decoder_->Run([&] { got = jpeg_read_scanlines(&c, rows_.data(), JDIMENSION(n)); });
      // Our source never suspends; no progress would mean a loop without end.
      if (got == 0) ThrowLibraryError(JERR_CANT_SUSPEND);
      for (JDIMENSION i = 0; i < got; ++i) {
        TColor32* row = out + size_t(done) * size_t(width_) + size_t(i) * size_t(width_);
        if (plan_.cmyk) {
          image_.ConvertCmykRow(plan_, reinterpret_cast<uint8_t*>(row), width_);
        } else if (plan_.quantize) {
          const uint8_t* index = rows_[i];
          for (int32_t x = 0; x < width_; ++x) row[x] = palette_[index[x]];
        }
      }
      done += int32_t(got);
    }
  }

  void Finish() override {
    if (!decoder_ && !dc_scan_) Start();
    if (dc_scan_) return;
    jpeg_decompress_struct& c = decoder_->Info();
    decoder_->Run([&] { jpeg_finish_decompress(&c); });
  }

 private:
  // Rows per library call where rows go through a buffer of ours.
  static constexpr int32_t kStripRows = 16;

  // A grey row of the DC decoder, in place, to the colours of its quantised levels.
  void Quantize(TColor32* row) {
    uint8_t* level = strip_.data();
    uint8_t* index = level + width_;
    for (int32_t x = 0; x < width_; ++x) level[x] = uint8_t(row[x]);
    dither_->Row(level, index);
    for (int32_t x = 0; x < width_; ++x) row[x] = palette_[index[x]];
  }

  int Rewound() {
    file_.Seek(0);
    return file_.Descriptor();
  }

  // Where the image data starts in the file, once d has read the header (and before the file is
  // read by anything else).
  int64_t ScanStart(TDecompressor& d) { return file_.Position() - int64_t(d.Info().src->bytes_in_buffer); }

  void UpdateSize(TDecompressor& d) {
    width_ = int32_t(d.Info().output_width);
    height_ = int32_t(d.Info().output_height);
    dc_scan_bytes_ = jpeg_detail::TDcScan::WorkingBytes(d.Info(), file_.Size() - ScanStart(d));
    coefficient_bytes_ = d.CoefficientBytes();
  }

  void Start() {
    decoder_ = std::make_unique<TDecompressor>(Rewound());
    plan_ = image_.SetUpDecoder(*decoder_, true);
    jpeg_decompress_struct& c = decoder_->Info();
    CheckImageSize(limits_, c.output_width, c.output_height);
    // Before the library's storage is admitted: the DC decoder keeps no coefficient buffer.
    dc_scan_ = jpeg_detail::TDcScan::Decode(c, file_.Descriptor(), ScanStart(*decoder_), {.cores = limits_.Cores});
    if (dc_scan_) {
      if (plan_.quantize) {
        // Grey levels, quantised here as the library would have.
        dither_.emplace(c.desired_number_of_colors, c.dither_mode, width_);
        strip_.resize(size_t(width_) * 2);
        palette_.fill(kOpaque);
        const std::vector<uint8_t>& ramp = dither_->Ramp();
        for (size_t i = 0; i < ramp.size(); ++i) palette_[i] = ArgbColor(255, ramp[i], ramp[i], ramp[i]);
      }
      decoder_.reset();
      return;
    }
    if (dc_scan_bytes_) {
      // The DC decoder gave up and its values are gone: the library's coefficients take their
      // place in the claim, which may have to grow for them.
      if (limits_.Claim && coefficient_bytes_ > dc_scan_bytes_)
        ClaimBytes(limits_, limits_.Claim->Bytes() + coefficient_bytes_ - dc_scan_bytes_);
      dc_scan_bytes_ = 0;
    }
    decoder_->Limit(limits_);
    decoder_->Run([&] { jpeg_start_decompress(&c); });
    rows_.resize(kStripRows);
    if (plan_.quantize) {
      // Grey output of the one-pass quantiser: its map is fixed from the start. Indices past
      // the map are black, as in the bitmap the whole-image reader would make.
      strip_.resize(size_t(width_) * kStripRows);
      palette_.fill(kOpaque);
      for (int i = 0; i < std::min(c.actual_number_of_colors, 256); ++i) {
        const uint8_t v = c.colormap[0][i];
        palette_[size_t(i)] = ArgbColor(255, v, v, v);
      }
    }
  }

  TFileStream file_;
  TDecodeLimits limits_;
  TJPEGImage image_;  // its settings, decoder set-up and CMYK converter; it holds no data
  TStoredColours colours_ = TStoredColours::Rgb;
  std::vector<uint8_t> head_;  // the file before its first scan
  int32_t width_ = 0, height_ = 0;
  uint64_t coefficient_bytes_ = 0;
  uint64_t dc_scan_bytes_ = 0;
  std::unique_ptr<TDecompressor> decoder_;
  // A large file at an eighth, decoded on several cores instead; its rows are handed out in turn.
  std::unique_ptr<jpeg_detail::TDcScan> dc_scan_;
  std::optional<jpeg_detail::TGreyDither> dither_;  // for its grey rows when they are quantised
  int32_t next_row_ = 0;
  TJPEGImage::TPlan plan_;
  std::vector<JSAMPROW> rows_;
  std::vector<uint8_t> strip_;
  std::array<TColor32, 256> palette_{};
};

std::unique_ptr<TRowImage> OpenJpegRows(const std::string& path, const TDecodeLimits& limits) {
  auto image = std::make_unique<TJPEGRowImage>(TFileStream::OpenRead(path), limits);
  if (!image->Open()) return nullptr;
  return image;
}

}  // namespace pellavo
