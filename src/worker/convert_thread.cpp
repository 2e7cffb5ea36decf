#include "worker/convert_thread.h"

#include <algorithm>
#include <optional>

#include "core/errors.h"
#include "core/files.h"
#include "core/muldiv.h"
#include "core/paths.h"
#include "formats/all/output_writers.h"
#include "formats/jpeg/jpeg.h"
#include "formats/picture.h"
#include "formats/registry.h"
#include "raster/bitmap32.h"
#include "worker/geometry.h"

namespace pellavo {
namespace {

constexpr TColor32 kFrameColor = 0xFFBFBFBF;
constexpr int32_t kRaiseContrast = 60;

}  // namespace

tThumbThrd::tThumbThrd(TMainQueue& queue, std::string source, std::string output, TSizeMode size_mode,
                       int32_t size_value, uint8_t filter_index, bool overwrite)
    : TBatchWorker(queue),
      SourceName(std::move(source)),
      OutputName(std::move(output)),
      SizeValue(size_value),
      SizeMode(size_mode),
      Overwrite(overwrite),
      FilterIndex(filter_index) {
  SetFreeOnTerminate(true);
}

tThumbThrd::~tThumbThrd() = default;

int ReducedDecodeScale(int32_t target, int32_t larger) {
  const int32_t p = MulDiv(target, 100, larger);
  if (p > 50) return 0;
  if (p > 25) return 1;
  if (p > 13) return 2;
  return 3;
}

void tThumbThrd::ConvertFile() {
  if (!IsImageFileName(SourceName)) {
    skipped_ = true;
    return;
  }
  Picture = std::make_unique<TPicture>();
  Picture->ReadFromFile(SourceName);

  const int32_t w = Picture->Width(), h = Picture->Height();
  if (SizeMode == TSizeMode::Percent) SizeValue = MulDiv(SizeValue, std::max(w, h), 100);
  DstRect = ComputeTarget(TTargetRule{SizeMode, SizeValue, WideMode}, w, h);

  if (auto* jpeg = dynamic_cast<TJPEGImage*>(Picture->Graphic())) {
    DecodeScale = ReducedDecodeScale(std::max(DstRect.Right, DstRect.Bottom), std::max(w, h));
    jpeg->SetDecodeScale(static_cast<TJPEGScale>(DecodeScale));
  }
  RenderAndSave();
}

void tThumbThrd::RenderAndSave() {
  TargetSurface = std::make_unique<TBitmap32>();
  SourceSurface = std::make_unique<TBitmap32>();
  try {
    RenderImage(DstRect.Right, DstRect.Bottom);
  } catch (const std::exception& e) {
    // Writing the unrendered picture would give an empty file for most formats, or an image of
    // the wrong size; nothing is written, and nothing that exists is touched.
    Picture.reset();
    SourceSurface.reset();
    TargetSurface.reset();
    throw EInvalidGraphic("Cannot render \"" + SourceName + "\": " + e.what());
  }
  SourceSurface.reset();
  try {
    SaveImage();
  } catch (...) {
    TargetSurface.reset();
    throw;
  }
  TargetSurface.reset();
}

void tThumbThrd::RenderImage(int32_t width, int32_t height) {
  SourceSurface->Assign(*Picture);
  // A source of width or height 0 would come out as an image of the fix-up's size holding nothing.
  if (SourceSurface->Empty()) throw EInvalidGraphic("the image has no pixels");
  DecodedWidth = SourceSurface->Width();
  DecodedHeight = SourceSurface->Height();
  SrcRect = SourceSurface->BoundsRect();
  TargetSurface->SetSize(width, height);
  if (UseWide(TTargetRule{SizeMode, SizeValue, WideMode}, Picture->Width(), Picture->Height()))
    SrcRect = WideCrop(DecodedWidth, DecodedHeight, width, height);
  SourceSurface->SetStretchFilter(FilterIndex);
  if (BorderOn) {
    TargetSurface->FillRectClipped(0, 0, width, height, Color32(BorderColor));
    InflateRect(DstRect, -BorderWidth, -BorderWidth);
  }
  SourceSurface->DrawTo(*TargetSurface, DstRect, SrcRect);
  if (BorderOn) TargetSurface->FrameRectClipped(DstRect, kFrameColor);
  if (FrameOn) TargetSurface->RaiseRectBlended(TargetSurface->BoundsRect(), kRaiseContrast);
  TargetSurface->AssignTo(*Picture);
}

void tThumbThrd::SaveImage() {
  // The picture goes whatever happens here.
  std::unique_ptr<TPicture> picture = std::move(Picture);

  const std::string ext = LowerAscii(ExtractFileExt(OutputName));
  const std::optional<TOutputFormat> format = OutputFormatOfExtension(ext);
  // A name that ends in an alias (photo.JPEG) is written under the format's own extension; one
  // that ends in that extension keeps its letter case (IMG.JPG).
  if (format && OutputFormatInfo(*format).Extension != ext)
    OutputName = ChangeFileExt(OutputName, OutputFormatInfo(*format).Extension);
  const TOutputWriter writer = format ? OutputWriter(*format) : nullptr;
  if (!writer) {
    FinalName = Overwrite ? OutputName : UniqueFileName(OutputName);
    throw EInvalidGraphic("No image format writes files ending in \"" + ext + "\"");
  }

  TBitmap& bitmap = picture->Bitmap();
  TSafeOutput out(OutputName, Overwrite);
  OutputName = out.FinalName();
  FinalName = OutputName;
  writer(bitmap, out.Stream());
  out.Commit();
  written_ = true;
}

TFileOutcome tThumbThrd::Outcome() const {
  TFileOutcome o;
  o.Source = SourceName;
  o.Output = FinalName;
  o.Error = FatalError();
  o.Written = written_;
  o.Skipped = skipped_;
  return o;
}

}  // namespace pellavo
