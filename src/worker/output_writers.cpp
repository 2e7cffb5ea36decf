#include "worker/output_writers.h"

#include <array>
#include <utility>

#include "formats/gif/gif_image.h"
#include "formats/jpeg/jpeg.h"
#include "formats/jpeg2000/jpeg2000_bitmap.h"
#include "formats/metafile/metafile.h"
#include "formats/pdf/pdf_writer.h"
#include "formats/png/png_object.h"

namespace pellavo {
namespace {

// Each encoder object is new for the file and released after it, also when writing fails.

// The rendered image can sit in a class derived from the bitmap (a JPEG 2000 source's picture
// keeps its graphic), whose own SaveToStream writes its own format: a BMP is asked for here.
void WriteBmp(TBitmap& bitmap, TStream& out) { bitmap.TBitmap::SaveToStream(out); }

void WritePdfFile(TBitmap& bitmap, TStream& out) { WritePdf(bitmap, out); }

void WriteJp2(TBitmap& bitmap, TStream& out) {
  TJpeg2000Bitmap jp2;
  jp2.Jp2Lossless = false;
  jp2.Jp2Quality = 90;
  jp2.Assign(bitmap);
  jp2.SaveToStream(out);
}

void WriteJpeg(TBitmap& bitmap, TStream& out) {
  TJPEGImage jpeg;
  jpeg.SetJpegQuality(90);
  jpeg.Assign(bitmap);
  jpeg.SaveToStream(out);
}

void WritePng(TBitmap& bitmap, TStream& out) {
  TPNGObject png;
  png.SetRowFilters(FilterBit(pfSub) | FilterBit(pfUp));
  png.SetDeflateLevel(8);
  png.Assign(bitmap);
  png.SaveToStream(out);
}

void WriteGif(TBitmap& bitmap, TStream& out) {
  TGIFImage gif;
  gif.SetReductionMode(TGIFReductionMode::SystemOctreePalette);
  gif.Assign(bitmap);
  gif.SaveToStream(out);
}

void WriteEmf(TBitmap& bitmap, TStream& out) { SaveBitmapAsEmf(bitmap, out); }

}  // namespace

std::string MapOutputExtension(const std::string& ext) {
  if (ext == ".jpeg") return ".jpg";
  if (ext == ".jpc" || ext == ".j2k") return ".jp2";
  if (ext == ".ico") return ".bmp";
  if (ext == ".wmf") return ".emf";
  return ext;
}

TOutputWriter FindOutputWriter(std::string_view ext) {
  static constexpr std::array<std::pair<std::string_view, TOutputWriter>, 7> kWriters = {{
      {".pdf", WritePdfFile},
      {".bmp", WriteBmp},
      {".jp2", WriteJp2},
      {".jpg", WriteJpeg},
      {".png", WritePng},
      {".gif", WriteGif},
      {".emf", WriteEmf},
  }};
  for (const auto& [e, writer] : kWriters)
    if (e == ext) return writer;
  return nullptr;
}

}  // namespace pellavo
