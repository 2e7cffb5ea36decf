#include "formats/all/output_writers.h"

#include <algorithm>
#include <array>
#include <utility>

#include "formats/avif/avif_image.h"
#include "formats/gif/gif_image.h"
#include "formats/jpeg/jpeg.h"
#include "formats/jpeg2000/jpeg2000_bitmap.h"
#include "formats/jxl/jxl_image.h"
#include "formats/metafile/metafile.h"
#include "formats/pdf/pdf_writer.h"
#include "formats/png/png_object.h"
#include "formats/tiff/tiff_image.h"
#include "formats/webp/webp_image.h"

namespace pellavo {
namespace {

// Each encoder object is new for the file and released after it, also when writing fails.

// The rendered image can sit in a class derived from the bitmap (a JPEG 2000 source's picture
// keeps its graphic), whose own SaveToStream writes its own format: a BMP is asked for here.
// A 32-bit BMP and a JP2 keep the fourth byte whatever the options say, as they always did.
void WriteBmp(TBitmap&& bitmap, TStream& out, const TEncodeOptions&) { bitmap.TBitmap::SaveToStream(out); }

void WritePdfFile(TBitmap&& bitmap, TStream& out, const TEncodeOptions&) { WritePdf(bitmap, out); }

void WriteJp2(TBitmap&& bitmap, TStream& out, const TEncodeOptions&) {
  TJpeg2000Bitmap jp2;
  jp2.Jp2Lossless = false;
  jp2.Jp2Quality = 90;
  jp2.Assign(bitmap);
  jp2.SaveToStream(out);
}

void WriteJpeg(TBitmap&& bitmap, TStream& out, const TEncodeOptions& options) {
  TJPEGImage jpeg;
  jpeg.SetJpegQuality(options.Quality);
  jpeg.SetMetadata(options.Metadata);
  jpeg.TakeBitmap(std::move(bitmap));
  jpeg.SaveToStream(out);
}

void WritePng(TBitmap&& bitmap, TStream& out, const TEncodeOptions& options) {
  TPNGObject png;
  png.SetRowFilters(FilterBit(pfSub) | FilterBit(pfUp));
  png.SetDeflateLevel(8);
  png.SetCores(options.Cores);
  png.SetKeepAlpha(options.KeepAlpha);
  png.Assign(bitmap);
  if (png.HasHeader()) png.AddMetadata(options.Metadata);
  png.SaveToStream(out);
}

void WriteGif(TBitmap&& bitmap, TStream& out, const TEncodeOptions& options) {
  TGIFImage gif;
  gif.SetReductionMode(TGIFReductionMode::SystemOctreePalette);
  gif.SetKeepAlpha(options.KeepAlpha);
  gif.Assign(bitmap);
  gif.SaveToStream(out);
}

void WriteEmf(TBitmap&& bitmap, TStream& out, const TEncodeOptions&) { SaveBitmapAsEmf(bitmap, out); }

// Quality is clamped into the encoders' 1 to 100.
uint8_t QualityOf(const TEncodeOptions& options) { return uint8_t(std::clamp(options.Quality, 1, 100)); }

// WebP, AVIF and JPEG XL encoders take the same three settings.
template <class TEncoder>
void WriteWithQuality(TBitmap&& bitmap, TStream& out, const TEncodeOptions& options) {
  TEncoder encoder;
  encoder.Quality = QualityOf(options);
  encoder.KeepAlpha = options.KeepAlpha;
  encoder.Metadata = options.Metadata;
  encoder.Assign(bitmap);
  encoder.SaveToStream(out);
}

// Named functions, not the template's instances, go into the table: an instance's address is not
// a constant the table's check can read in every build.
void WriteWebp(TBitmap&& bitmap, TStream& out, const TEncodeOptions& options) {
  WriteWithQuality<TWebPImage>(std::move(bitmap), out, options);
}

void WriteAvif(TBitmap&& bitmap, TStream& out, const TEncodeOptions& options) {
  WriteWithQuality<TAvifImage>(std::move(bitmap), out, options);
}

void WriteJxl(TBitmap&& bitmap, TStream& out, const TEncodeOptions& options) {
  WriteWithQuality<TJxlImage>(std::move(bitmap), out, options);
}

void WriteTiff(TBitmap&& bitmap, TStream& out, const TEncodeOptions& options) {
  TTiffImage tiff;
  tiff.KeepAlpha = options.KeepAlpha;
  tiff.Metadata = options.Metadata;
  tiff.Assign(bitmap);
  tiff.SaveToStream(out);
}

// Bound by position so that a format added to the table without its writer does not compile.
constexpr std::array<std::pair<TOutputFormat, TOutputWriter>, kOutputFormats.size()> kWriters = {{
    {TOutputFormat::Source, nullptr},
    {TOutputFormat::Jpg, WriteJpeg},
    {TOutputFormat::Bmp, WriteBmp},
    {TOutputFormat::Png, WritePng},
    {TOutputFormat::Gif, WriteGif},
    {TOutputFormat::Emf, WriteEmf},
    {TOutputFormat::Jp2, WriteJp2},
    {TOutputFormat::Pdf, WritePdfFile},
    {TOutputFormat::Webp, WriteWebp},
    {TOutputFormat::Avif, WriteAvif},
    {TOutputFormat::Tif, WriteTiff},
    {TOutputFormat::Jxl, WriteJxl},
}};

static_assert(
    [] {
      for (size_t i = 0; i < kWriters.size(); ++i) {
        if (kWriters[i].first != kOutputFormats[i].Format) return false;
        if ((kWriters[i].first == TOutputFormat::Source) != (kWriters[i].second == nullptr)) return false;
      }
      return true;
    }(),
    "every output format needs its writer, in the order of the table");

}  // namespace

TOutputWriter OutputWriter(TOutputFormat format) { return kWriters[static_cast<size_t>(format)].second; }

}  // namespace pellavo
