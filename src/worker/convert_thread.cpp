#include "worker/convert_thread.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "core/color.h"
#include "core/errors.h"
#include "core/files.h"
#include "core/muldiv.h"
#include "core/paths.h"
#include "core/rect.h"
#include "formats/all/output_writers.h"
#include "formats/all/row_images.h"
#include "formats/jpeg/jpeg.h"
#include "formats/picture.h"
#include "formats/registry.h"
#include "raster/bitmap32.h"
#include "raster/bitmap_rows.h"
#include "raster/source_rows.h"
#include "raster/transfer.h"
#include "worker/geometry.h"

namespace pellavo {
namespace {

constexpr TColor32 kFrameColor = 0xFFBFBFBF;
constexpr int32_t kRaiseContrast = 60;

// One conversion's working state, on the worker's thread. The job's fields are fixed; what the
// conversion finds out goes into `result_` as it goes, so that a failure keeps what was known.
class TConverter {
 public:
  TConverter(const TWorkerOrder& order, TConversion& result)
      : SourceName(order.Source),
        OutputName(order.Output),
        SizeValue(order.SizeValue),
        SizeMode(order.Settings.SizeMode),
        Overwrite(order.Settings.Overwrite),
        FilterIndex(order.Settings.FilterIndex),
        FrameOn(order.Settings.FrameOn),
        BorderOn(order.Settings.BorderOn),
        BorderWidth(order.Settings.BorderWidth),
        WideMode(order.Settings.WideMode),
        BorderColor(order.Settings.BorderColor),
        MaxImageBytes(order.Settings.MaxImageBytes),
        Claim(order.Budget),
        result_(result),
        outcome_(result.Report.Outcome) {}

  void ConvertFile();

 private:
  // The picture's size and, for a JPEG, its reduced decoding scale; then the target.
  void SizeTarget(int32_t w, int32_t h, bool has_decode_scale);
  void RenderAndSave();
  void RenderImage(int32_t width, int32_t height);
  // The render step from rows decoded as the stretch asks for them, without the source surface
  // ever holding the image; the same pixels as RenderImage.
  void RenderStreamed(int32_t width, int32_t height);
  // Border frame, raised frame, and the target into the picture.
  void Decorate();
  void SaveImage();
  void SetFinalName(const std::string& path) {
    outcome_.Output = path;
    result_.Report.StatusText = path;
  }

  const std::string& SourceName;
  std::string OutputName;  // the save step may change it
  int32_t SizeValue;       // a percentage in "Percent" mode until the picture's size is known
  const TSizeMode SizeMode;
  const bool Overwrite;
  const uint8_t FilterIndex;
  const bool FrameOn;
  const bool BorderOn;
  const int32_t BorderWidth;  // read only when BorderOn
  const TWideMode WideMode;
  const TColor BorderColor;  // read only when BorderOn
  const uint64_t MaxImageBytes;

  // This conversion's share of the run's memory budget, taken by the decoder from the image's
  // header. Declared before the picture and surfaces so that it is released after them.
  TMemoryClaim Claim;
  // The source's rows for the stretch: decoded as they are asked for when its format and the
  // file allow it, or read from Picture when that is a bitmap; none when the source surface
  // takes the picture.
  std::unique_ptr<TRowImage> Rows;
  std::unique_ptr<TStreamedRows> Streamed;
  std::unique_ptr<TPicture> Picture;
  std::unique_ptr<TBitmap32> SourceSurface;
  std::unique_ptr<TBitmap32> TargetSurface;
  TRect SrcRect;
  TRect DstRect;

  TConversion& result_;
  TFileOutcome& outcome_;
};

void TConverter::ConvertFile() {
  if (!IsImageFileName(SourceName)) {
    outcome_.Skipped = true;
    return;
  }
  const TDecodeLimits limits{MaxImageBytes, &Claim};
  const int32_t requested = SizeValue;
  Rows = OpenRowImage(SourceName, limits);
  if (Rows) {
    try {
      SizeTarget(Rows->Width(), Rows->Height(), Rows->HasDecodeScale());
      if (result_.DecodeScale != 0) Rows->SetDecodeScale(result_.DecodeScale);
      CheckImageSize(limits, Rows->Width(), Rows->Height());
      RenderAndSave();
      return;
    } catch (const EWholeImageNeeded&) {
      // Something after the image data changes its look: start again from the whole image.
      Streamed.reset();
      Rows.reset();
      TargetSurface.reset();
      SourceSurface.reset();
      Picture.reset();
      SizeValue = requested;
      result_ = TConversion{};
      result_.Report.Outcome.Source = SourceName;
    }
  }

  Picture = std::make_unique<TPicture>();
  Picture->ReadFromFile(SourceName, limits);
  SizeTarget(Picture->Width(), Picture->Height(), dynamic_cast<TJPEGImage*>(Picture->Graphic()) != nullptr);
  if (auto* jpeg = dynamic_cast<TJPEGImage*>(Picture->Graphic()))
    jpeg->SetDecodeScale(static_cast<TJPEGScale>(result_.DecodeScale));
  if (TGraphic* g = Picture->Graphic(); g && g->Is(TBitmap::StaticClass())) {
    // A bitmap (a BMP, a JPEG 2000 file) is already decoded whole: the stretch reads its rows
    // instead of a copy of it on the source surface.
    Rows = std::make_unique<TBitmapRows>(static_cast<const TBitmap&>(*g));
  } else {
    // The source surface takes the picture's size, which for a JPEG is only now its decoded size.
    AdmitImage(limits, Picture->Width(), Picture->Height());
  }
  RenderAndSave();
}

void TConverter::SizeTarget(int32_t w, int32_t h, bool has_decode_scale) {
  if (SizeMode == TSizeMode::Percent) SizeValue = MulDiv(SizeValue, std::max(w, h), 100);
  DstRect = ComputeTarget(TTargetRule{SizeMode, SizeValue, WideMode}, w, h);
  // A JPEG, which still reports its full size, may decode near the target's size.
  if (has_decode_scale) result_.DecodeScale = ReducedDecodeScale(std::max(DstRect.Right, DstRect.Bottom), std::max(w, h));
}

void TConverter::RenderAndSave() {
  TargetSurface = std::make_unique<TBitmap32>();
  SourceSurface = std::make_unique<TBitmap32>();
  try {
    if (Rows)
      RenderStreamed(DstRect.Right, DstRect.Bottom);
    else
      RenderImage(DstRect.Right, DstRect.Bottom);
  } catch (const EWholeImageNeeded&) {
    throw;
  } catch (const Exception& e) {
    // A file that fails to decode part way fails as its reader says, as it does when read whole.
    if (Streamed && Streamed->ImageFailed()) throw;
    // Writing the unrendered picture would give an empty file for most formats, or an image of
    // the wrong size; nothing is written, and nothing that exists is touched.
    throw EInvalidGraphic("Cannot render \"" + SourceName + "\": " + e.what(), e.Cause());
  } catch (const std::exception& e) {
    if (Streamed && Streamed->ImageFailed()) throw;
    throw EInvalidGraphic("Cannot render \"" + SourceName + "\": " + e.what());
  }
  SourceSurface.reset();
  Streamed.reset();
  Rows.reset();
  SaveImage();
}

void TConverter::RenderImage(int32_t width, int32_t height) {
  SourceSurface->Assign(*Picture);
  // A source of width or height 0 would come out as an image of the fix-up's size holding nothing.
  if (SourceSurface->Empty()) throw EInvalidGraphic("the image has no pixels");
  result_.DecodedWidth = SourceSurface->Width();
  result_.DecodedHeight = SourceSurface->Height();
  SrcRect = SourceSurface->BoundsRect();
  TargetSurface->SetSize(width, height);
  if (UseWide(TTargetRule{SizeMode, SizeValue, WideMode}, Picture->Width(), Picture->Height()))
    SrcRect = WideCrop(result_.DecodedWidth, result_.DecodedHeight, width, height);
  SourceSurface->SetStretchFilter(FilterIndex);
  if (BorderOn) {
    TargetSurface->FillRectClipped(0, 0, width, height, Color32(BorderColor));
    InflateRect(DstRect, -BorderWidth, -BorderWidth);
  }
  SourceSurface->DrawTo(*TargetSurface, DstRect, SrcRect);
  Decorate();
}

void TConverter::RenderStreamed(int32_t width, int32_t height) {
  const int32_t sw = Rows->Width(), sh = Rows->Height();
  if (sw <= 0 || sh <= 0) throw EInvalidGraphic("the image has no pixels");
  result_.DecodedWidth = sw;
  result_.DecodedHeight = sh;
  // What this path holds: the target and the decoder; the window of rows is claimed as the
  // stretch sizes it.
  ClaimBytes(TDecodeLimits{MaxImageBytes, &Claim},
             DecodedImageBytes(uint64_t(std::max(width, 0)), uint64_t(std::max(height, 0))) + Rows->WorkingBytes());
  SrcRect = TRect{0, 0, sw, sh};
  TargetSurface->SetSize(width, height);
  if (UseWide(TTargetRule{SizeMode, SizeValue, WideMode}, sw, sh)) SrcRect = WideCrop(sw, sh, width, height);
  // The source surface holds no pixels here; it carries the filter's resampler.
  SourceSurface->SetStretchFilter(FilterIndex);
  if (BorderOn) {
    TargetSurface->FillRectClipped(0, 0, width, height, Color32(BorderColor));
    InflateRect(DstRect, -BorderWidth, -BorderWidth);
  }
  Streamed = std::make_unique<TStreamedRows>(*Rows, TDecodeLimits{MaxImageBytes, &Claim});
  StretchRows(*TargetSurface, DstRect, *Streamed, SrcRect, SourceSurface->Resampler());
  Streamed->Finish();
  // The rows may be a bitmap of the picture, which the rendered image now replaces.
  Streamed.reset();
  Rows.reset();
  Picture = std::make_unique<TPicture>();
  Decorate();
}

void TConverter::Decorate() {
  if (BorderOn) TargetSurface->FrameRectClipped(DstRect, kFrameColor);
  if (FrameOn) TargetSurface->RaiseRectBlended(TargetSurface->BoundsRect(), kRaiseContrast);
  TargetSurface->AssignTo(*Picture);
}

void TConverter::SaveImage() {
  // The picture goes whatever happens here.
  const std::unique_ptr<TPicture> picture = std::move(Picture);

  const std::string ext = LowerAscii(ExtractFileExt(OutputName));
  const std::optional<TOutputFormat> format = OutputFormatOfExtension(ext);
  // A name that ends in an alias (photo.JPEG) is written under the format's own extension; one
  // that ends in that extension keeps its letter case (IMG.JPG).
  if (format && OutputFormatInfo(*format).Extension != ext)
    OutputName = ChangeFileExt(OutputName, OutputFormatInfo(*format).Extension);
  const TOutputWriter writer = format ? OutputWriter(*format) : nullptr;
  if (!writer) {
    SetFinalName(Overwrite ? OutputName : UniqueFileName(OutputName));
    throw EInvalidGraphic("No image format writes files ending in \"" + ext + "\"");
  }

  TBitmap& bitmap = picture->Bitmap();
  TSafeOutput out(OutputName, Overwrite);
  SetFinalName(OutputName);
  writer(bitmap, out.Stream());
  out.Commit();
  // Without overwriting, the free name is taken only now.
  OutputName = out.FinalName();
  SetFinalName(OutputName);
  outcome_.Written = true;
  outcome_.Width = bitmap.Width();
  outcome_.Height = bitmap.Height();
}

}  // namespace

int ReducedDecodeScale(int32_t target, int32_t larger) {
  const int32_t p = MulDiv(target, 100, larger);
  if (p > 50) return 0;
  if (p > 25) return 1;
  if (p > 13) return 2;
  return 3;
}

TConversion ConvertFile(const TWorkerOrder& order) {
  TConversion result;
  result.Report.Outcome.Source = order.Source;
  try {
    // The converter's picture and surfaces are released here, also when it fails.
    TConverter(order, result).ConvertFile();
  } catch (...) {
    result.Report.Outcome.Error = CurrentErrorReason();
  }
  return result;
}

}  // namespace pellavo
