#include "formats/jpeg/jpeg.h"

#include <algorithm>
#include <string>

#include <jerror.h>

#include "formats/jpeg/jpeg_lib.h"
#include "formats/jpeg/jpeg_metadata.h"
#include "formats/jpeg/jpeg_plan.h"

namespace pellavo {

using jpeg_detail::TCompressor;
using jpeg_detail::TDecompressor;
using jpeg_detail::ThrowLibraryError;
using jpeg_detail::CmykToBgra;

namespace {

// The palette leaves room for the 20 static colours of an 8-bit display.
constexpr int kQuantizedColors = 236;
// Rows per library call where rows go through a buffer of ours.
constexpr int32_t kStripRows = 16;

// Reads the rest of the current output pass. where(y, rows, count) names the buffers for the
// rows from y on; done(y, count) is called once count rows have arrived there.
template <class Where, class Done>
void ReadScanlines(TDecompressor& d, Where&& where, Done&& done) {
  jpeg_decompress_struct& c = d.Info();
  while (c.output_scanline < c.output_height) {
    const JDIMENSION y = c.output_scanline;
    JSAMPARRAY rows = nullptr;
    JDIMENSION count = 0;
    where(y, rows, count);
    JDIMENSION got = 0;
    d.Run([&] { got = jpeg_read_scanlines(&c, rows, count); });
    // Our source never suspends; no progress would mean a loop without end.
    if (got == 0) ThrowLibraryError(JERR_CANT_SUSPEND);
    done(y, got);
  }
}

std::vector<TRGBQuad> ColormapPalette(const jpeg_decompress_struct& c) {
  std::vector<TRGBQuad> palette(static_cast<size_t>(std::max(c.actual_number_of_colors, 0)));
  for (size_t i = 0; i < palette.size(); ++i) {
    if (c.out_color_components == 1) {
      const uint8_t v = c.colormap[0][i];
      palette[i] = {v, v, v, 0};
    } else {
      palette[i] = {c.colormap[2][i], c.colormap[1][i], c.colormap[0][i], 0};
    }
  }
  return palette;
}

// Set up for a decode of the header's size: the output refused past the image limit (and claimed
// from the run's budget) before anything is allocated for it, and the library's own buffers (the
// coefficients of a progressive file are kept at full size) held to the same bound.
void AdmitDecode(TDecompressor& d, const TDecodeLimits& limits) {
  const jpeg_decompress_struct& c = d.Info();
  AdmitImage(limits, c.output_width, c.output_height);
  d.Limit(limits);
}

}  // namespace


PELLAVO_DEFINE_GRAPHIC(TJPEGImage, TGraphic)

const TJPEGSettings& JPEGDefaults() {
  static const TJPEGSettings defaults;
  return defaults;
}

TJPEGImage::TJPEGImage() : settings_(JPEGDefaults()) {}

TJPEGImage::~TJPEGImage() = default;

void TJPEGImage::SetJpegQuality(int quality) {
  const uint8_t q = static_cast<uint8_t>(std::clamp(quality, 1, 100));
  if (q == settings_.JpegQuality) return;
  settings_.JpegQuality = q;
  CompressionSettingChanged();
}

void TJPEGImage::SetGrayOutput(bool on) {
  if (on == settings_.GrayOutput) return;
  settings_.GrayOutput = on;
  CompressionSettingChanged();
}

void TJPEGImage::SetProgressiveOutput(bool on) {
  if (on == settings_.ProgressiveOutput) return;
  settings_.ProgressiveOutput = on;
  CompressionSettingChanged();
}

void TJPEGImage::SetDecodeScale(TJPEGScale scale) {
  if (scale == settings_.DecodeScale) return;
  settings_.DecodeScale = scale;
  scaled_valid_ = false;
  // A bitmap given to be compressed is the image itself, not a decoding of it: keep it.
  if (data_ && !data_->Bytes.empty()) {
    bitmap_.reset();
    data_from_bitmap_ = false;
  }
}

void TJPEGImage::SetMetadata(TImageMetadata metadata) {
  metadata_ = std::move(metadata);
  CompressionSettingChanged();
}

void TJPEGImage::SetCmykConverter(TCmykConverter converter) {
  cmyk_converter_ = std::move(converter);
  if (data_ && !data_->Bytes.empty()) {
    bitmap_.reset();
    data_from_bitmap_ = false;
  }
}

TImageMetadata TJPEGImage::EmbeddedMetadata() const {
  if (!data_ || data_from_bitmap_) return {};
  TImageMetadata metadata = ReadJpegMetadata(data_->Bytes.data(), data_->Bytes.size());
  metadata.Colours = data_->Cmyk ? TStoredColours::Cmyk : data_->Grayscale ? TStoredColours::Gray : TStoredColours::Rgb;
  return metadata;
}

void TJPEGImage::ConvertCmykRow(const TPlan& plan, uint8_t* row, int32_t width) const {
  // Grey output asks for the plain formula's grey values.
  if (cmyk_converter_ && !plan.gray)
    cmyk_converter_(row, width, plan.inverted);
  else
    CmykToBgra(row, width, plan.inverted, plan.gray);
}

void TJPEGImage::CompressionSettingChanged() {
  // Bytes compressed from the held bitmap are remade with the new setting; loaded bytes stay
  // what the file holds.
  if (data_from_bitmap_ && bitmap_) {
    data_.reset();
    data_from_bitmap_ = false;
  }
}

bool TJPEGImage::Empty() const {
  if (bitmap_) return bitmap_->Empty();
  return !data_ || data_->Bytes.empty();
}

int32_t TJPEGImage::Width() const {
  if (bitmap_) return bitmap_->Width();
  UpdateScaledSize();
  return scaled_width_;
}

int32_t TJPEGImage::Height() const {
  if (bitmap_) return bitmap_->Height();
  UpdateScaledSize();
  return scaled_height_;
}

void TJPEGImage::SetWidth(int32_t) { throw EInvalidGraphicOperation("Cannot change the size of a JPEG image"); }

void TJPEGImage::SetHeight(int32_t) { throw EInvalidGraphicOperation("Cannot change the size of a JPEG image"); }

void TJPEGImage::UpdateScaledSize() const {
  if (scaled_valid_) return;
  if (!data_ || data_->Bytes.empty()) {
    scaled_width_ = scaled_height_ = 0;
  } else if (settings_.DecodeScale == TJPEGScale::jsFullSize) {
    scaled_width_ = data_->Width;
    scaled_height_ = data_->Height;
  } else {
    TDecompressor d(data_->Bytes.data(), data_->Bytes.size());
    SetUpDecoder(d, false);
    scaled_width_ = static_cast<int32_t>(d.Info().output_width);
    scaled_height_ = static_cast<int32_t>(d.Info().output_height);
  }
  scaled_valid_ = true;
}

TJPEGImage::TPlan TJPEGImage::SetUpDecoder(TDecompressor& d, bool into_target) const {
  jpeg_decompress_struct& c = d.Info();
  d.ReadHeader();
  TPlan plan;
  c.scale_num = 1;
  c.scale_denom = 1u << static_cast<unsigned>(settings_.DecodeScale);
  c.do_block_smoothing = settings_.BlockSmoothing ? TRUE : FALSE;
  plan.cmyk = c.jpeg_color_space == JCS_CMYK || c.jpeg_color_space == JCS_YCCK;
  if (plan.cmyk) {
    // The library leaves CMYK to the application; YCCK it turns into CMYK.
    c.out_color_space = JCS_CMYK;
    plan.inverted = c.saw_Adobe_marker;
    plan.gray = settings_.GrayOutput;
  } else {
    if (settings_.GrayOutput) c.out_color_space = JCS_GRAYSCALE;
    plan.quantize = settings_.DecodeDepth == TJPEGPixelFormat::jf8Bit || c.out_color_space == JCS_GRAYSCALE;
    if (plan.quantize) {
      c.quantize_colors = TRUE;
      c.desired_number_of_colors = kQuantizedColors;
      if (c.out_color_space != JCS_GRAYSCALE) c.out_color_space = JCS_RGB;
    } else {
      // The order of bitmap rows; the fourth byte comes out as 255.
      c.out_color_space = into_target ? JCS_EXT_BGRA : JCS_EXT_BGR;
    }
  }
  if (settings_.DecodeSpeed == TJPEGPerformance::jpBestSpeed) {
    c.dct_method = JDCT_IFAST;
    c.two_pass_quantize = FALSE;
    c.dither_mode = JDITHER_ORDERED;
  }
  plan.dct = c.dct_method;
  plan.two_pass = c.two_pass_quantize;
  plan.dither = c.dither_mode;
  boolean multiple_scans = FALSE;
  d.Run([&] { multiple_scans = jpeg_has_multiple_scans(&c); });
  if (settings_.StagedDisplay && !into_target && multiple_scans) {
    plan.staged = true;
    c.buffered_image = TRUE;
    if (plan.quantize) {
      // The quick passes use the colour cube; the final pass may switch to a chosen palette.
      c.enable_1pass_quant = TRUE;
      c.enable_2pass_quant = plan.two_pass;
    }
  }
  d.Run([&] { jpeg_calc_output_dimensions(&c); });
  return plan;
}

void TJPEGImage::DecodeBitmap() const {
  if (bitmap_ || !data_ || data_->Bytes.empty()) return;
  TDecompressor d(data_->Bytes.data(), data_->Bytes.size());
  const TPlan plan = SetUpDecoder(d, false);
  AdmitDecode(d, DecodeLimits());
  jpeg_decompress_struct& c = d.Info();
  const int32_t w = static_cast<int32_t>(c.output_width), h = static_cast<int32_t>(c.output_height);
  auto bitmap = std::make_unique<TBitmap>(w, h, plan.quantize ? TPixelFormat::pf8bit : TPixelFormat::pf24bit);
  std::vector<JSAMPROW> rows(static_cast<size_t>(h));
  for (int32_t y = 0; y < h; ++y) rows[static_cast<size_t>(y)] = bitmap->ScanLine(y);
  // CMYK rows take 4 bytes a pixel: they pass through a strip and are converted from there.
  std::vector<uint8_t> strip;
  std::vector<JSAMPROW> strip_rows;
  if (plan.cmyk) {
    strip.resize(static_cast<size_t>(w) * 4 * kStripRows);
    for (int32_t i = 0; i < kStripRows; ++i) strip_rows.push_back(strip.data() + static_cast<size_t>(i) * w * 4);
  }

  const auto read_pass = [&] {
    if (!plan.cmyk) {
      ReadScanlines(
          d,
          [&](JDIMENSION y, JSAMPARRAY& at, JDIMENSION& count) {
            at = rows.data() + y;
            count = c.output_height - y;
          },
          [](JDIMENSION, JDIMENSION) {});
      return;
    }
    ReadScanlines(
        d,
        [&](JDIMENSION y, JSAMPARRAY& at, JDIMENSION& count) {
          at = strip_rows.data();
          count = std::min<JDIMENSION>(kStripRows, c.output_height - y);
        },
        [&](JDIMENSION y, JDIMENSION got) {
          for (JDIMENSION i = 0; i < got; ++i) {
            uint8_t* src = strip_rows[i];
            ConvertCmykRow(plan, src, w);
            uint8_t* dst = rows[y + i];
            for (int32_t x = 0; x < w; ++x) {
              dst[3 * x] = src[4 * x];
              dst[3 * x + 1] = src[4 * x + 1];
              dst[3 * x + 2] = src[4 * x + 2];
            }
          }
        });
  };

  d.Run([&] { jpeg_start_decompress(&c); });
  if (!plan.staged) {
    read_pass();
  } else {
    // Each scan that arrives is shown with the quick settings; once the whole file is in, the
    // last pass uses the chosen ones.
    for (;;) {
      boolean final_pass = FALSE;
      d.Run([&] { final_pass = jpeg_input_complete(&c); });
      c.dct_method = final_pass ? plan.dct : JDCT_IFAST;
      if (plan.quantize) {
        c.two_pass_quantize = final_pass ? plan.two_pass : FALSE;
        c.dither_mode = final_pass ? plan.dither : JDITHER_ORDERED;
        c.colormap = nullptr;  // makes the library set up the quantiser chosen above
      }
      d.Run([&] { jpeg_start_output(&c, c.input_scan_number); });
      read_pass();
      if (plan.quantize) bitmap->SetPalette(ColormapPalette(c));
      d.Run([&] { jpeg_finish_output(&c); });
      if (on_stage_) on_stage_(*bitmap);
      if (final_pass) break;
    }
  }
  if (plan.quantize) bitmap->SetPalette(ColormapPalette(c));
  d.Run([&] { jpeg_finish_decompress(&c); });
  bitmap_ = std::move(bitmap);
}

bool TJPEGImage::DecodeInto(const TPixels32& target, const TRect& rect) {
  if (!target.Bits || rect.Left < 0 || rect.Top < 0 || rect.Right > target.Width || rect.Bottom > target.Height)
    return false;
  TDecompressor d(data_->Bytes.data(), data_->Bytes.size());
  const TPlan plan = SetUpDecoder(d, true);
  jpeg_decompress_struct& c = d.Info();
  if (plan.quantize || int64_t{c.output_width} != rect.Width() || int64_t{c.output_height} != rect.Height())
    return false;
  AdmitDecode(d, DecodeLimits());
  const int32_t w = rect.Width(), h = rect.Height();
  std::vector<JSAMPROW> rows(static_cast<size_t>(h));
  for (int32_t y = 0; y < h; ++y)
    rows[static_cast<size_t>(y)] = reinterpret_cast<JSAMPROW>(target.Row(rect.Top + y) + rect.Left);
  d.Run([&] { jpeg_start_decompress(&c); });
  ReadScanlines(
      d,
      [&](JDIMENSION y, JSAMPARRAY& at, JDIMENSION& count) {
        at = rows.data() + y;
        count = c.output_height - y;
      },
      [&](JDIMENSION y, JDIMENSION got) {
        // CMYK rows have the size of the target's: convert them where they landed.
        if (plan.cmyk)
          for (JDIMENSION i = 0; i < got; ++i) ConvertCmykRow(plan, rows[y + i], w);
      });
  d.Run([&] { jpeg_finish_decompress(&c); });
  return true;
}

void TJPEGImage::Draw(const TPixels32& target, const TRect& rect) {
  if (!bitmap_ && data_ && !data_->Bytes.empty() && DecodeInto(target, rect)) return;
  DecodeBitmap();
  if (bitmap_) bitmap_->Draw(target, rect);
}

void TJPEGImage::Assign(const TGraphic& source) {
  if (&source == this) return;
  if (source.Is(TJPEGImage::StaticClass())) {
    const auto& other = static_cast<const TJPEGImage&>(source);
    std::unique_ptr<TBitmap> copy = other.bitmap_ ? std::make_unique<TBitmap>(*other.bitmap_) : nullptr;
    data_ = other.data_;
    data_from_bitmap_ = other.data_from_bitmap_;
    bitmap_ = std::move(copy);
    scaled_valid_ = false;
    return;
  }
  if (source.Is(TBitmap::StaticClass())) {
    bitmap_ = std::make_unique<TBitmap>(static_cast<const TBitmap&>(source));
    data_.reset();
    data_from_bitmap_ = false;
    scaled_valid_ = false;
    return;
  }
  TGraphic::Assign(source);
}

void TJPEGImage::TakeBitmap(TBitmap&& bitmap) {
  bitmap_ = std::make_unique<TBitmap>(std::move(bitmap));
  data_.reset();
  data_from_bitmap_ = false;
  scaled_valid_ = false;
}

bool TJPEGImage::AssignTo(TGraphic& dest) const {
  if (!dest.Is(TBitmap::StaticClass())) return false;
  DecodeBitmap();
  dest.Assign(bitmap_ ? *bitmap_ : TBitmap());
  return true;
}

void TJPEGImage::LoadFromStream(TStream& stream) {
  auto data = std::make_shared<TJPEGData>();
  data->Bytes = stream.ReadToEnd();
  boolean progressive = FALSE;
  if (!data->Bytes.empty()) {
    TDecompressor d(data->Bytes.data(), data->Bytes.size());
    d.ReadHeader();
    jpeg_decompress_struct& c = d.Info();
    data->Width = static_cast<int32_t>(c.image_width);
    data->Height = static_cast<int32_t>(c.image_height);
    data->Grayscale = c.jpeg_color_space == JCS_GRAYSCALE;
    data->Cmyk = c.jpeg_color_space == JCS_CMYK || c.jpeg_color_space == JCS_YCCK;
    d.Run([&] { progressive = jpeg_has_multiple_scans(&c); });
    settings_.ProgressiveOutput = progressive;
  }
  data_ = std::move(data);
  data_from_bitmap_ = false;
  bitmap_.reset();
  scaled_valid_ = false;
}

void TJPEGImage::Compress() {
  if (data_) return;
  auto data = std::make_shared<TJPEGData>();
  if (bitmap_ && !bitmap_->Empty()) {
    const TBitmap& b = *bitmap_;
    const int32_t w = b.Width(), h = b.Height();
    TCompressor comp(data->Bytes);
    jpeg_compress_struct& c = comp.Info();
    c.image_width = static_cast<JDIMENSION>(w);
    c.image_height = static_cast<JDIMENSION>(h);
    // 24- and 32-bit rows go to the library as they are stored; the fourth byte is skipped.
    const bool direct = b.PixelFormat() == TPixelFormat::pf24bit || b.PixelFormat() == TPixelFormat::pf32bit;
    const bool rgb24 = b.PixelFormat() == TPixelFormat::pf24bit;
    c.input_components = rgb24 ? 3 : 4;
    c.in_color_space = rgb24 ? JCS_EXT_BGR : JCS_EXT_BGRX;
    const int quality = settings_.JpegQuality;
    const bool gray = settings_.GrayOutput, progressive = settings_.ProgressiveOutput;
    // A colour profile describes colour samples; a grey file would misread it.
    TImageMetadata metadata = metadata_;
    if (gray) metadata.IccProfile.clear();
    const std::vector<TJpegSegment> segments = JpegMetadataSegments(metadata);
    comp.Run([&] {
      jpeg_set_defaults(&c);
      jpeg_set_quality(&c, quality, TRUE);
      if (gray) jpeg_set_colorspace(&c, JCS_GRAYSCALE);
      if (progressive) jpeg_simple_progression(&c);
      jpeg_start_compress(&c, TRUE);
      for (const TJpegSegment& s : segments)
        jpeg_write_marker(&c, s.Marker, s.Payload.data(), static_cast<unsigned>(s.Payload.size()));
    });
    const auto write = [&](JSAMPARRAY rows, JDIMENSION count) {
      JDIMENSION done = 0;
      comp.Run([&] { done = jpeg_write_scanlines(&c, rows, count); });
      if (done != count) ThrowLibraryError(JERR_CANT_SUSPEND);
    };
    if (direct) {
      // The library only reads input rows; its interface just lacks the const.
      std::vector<JSAMPROW> rows(static_cast<size_t>(h));
      for (int32_t y = 0; y < h; ++y) rows[static_cast<size_t>(y)] = const_cast<JSAMPROW>(b.ScanLine(y));
      write(rows.data(), static_cast<JDIMENSION>(h));
    } else {
      // Other depths are widened a strip at a time.
      std::vector<TColor32> strip(static_cast<size_t>(w) * kStripRows);
      std::vector<JSAMPROW> rows(kStripRows);
      for (int32_t i = 0; i < kStripRows; ++i)
        rows[static_cast<size_t>(i)] = reinterpret_cast<JSAMPROW>(strip.data() + static_cast<size_t>(i) * w);
      for (int32_t y = 0; y < h; y += kStripRows) {
        const int32_t n = std::min(kStripRows, h - y);
        for (int32_t i = 0; i < n; ++i) b.ReadRow32(y + i, strip.data() + static_cast<size_t>(i) * w);
        write(rows.data(), static_cast<JDIMENSION>(n));
      }
    }
    comp.Run([&] { jpeg_finish_compress(&c); });
    data->Width = w;
    data->Height = h;
    data->Grayscale = gray;
  }
  data_from_bitmap_ = bitmap_ != nullptr;
  data_ = std::move(data);
}

void TJPEGImage::SaveToStream(TStream& stream) {
  Compress();
  if (!data_->Bytes.empty()) stream.WriteBuffer(data_->Bytes.data(), data_->Bytes.size());
}

}  // namespace pellavo
