#include "worker/convert_thread.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>

#include "colour/icc_profile.h"
#include "core/color.h"
#include "core/errors.h"
#include "core/files.h"
#include "core/muldiv.h"
#include "core/paths.h"
#include "core/rect.h"
#include "formats/all/animations.h"
#include "formats/all/output_writers.h"
#include "formats/all/row_images.h"
#include "formats/picture.h"
#include "formats/registry.h"
#include "metadata/exif_blocks.h"
#include "raster/alpha.h"
#include "raster/bitmap32.h"
#include "raster/bitmap_rows.h"
#include "raster/color32.h"
#include "raster/orientation.h"
#include "raster/source_rows.h"
#include "raster/transfer.h"
#include "worker/geometry.h"
#include "worker/size_limit.h"

namespace pellavo {
namespace {

constexpr TColor32 kFrameColor = 0xFFBFBFBF;
constexpr int32_t kRaiseContrast = 60;
// A size limit stops shrinking a picture whose longer side is this small: what is left is the
// format's and the metadata's own size.
constexpr int32_t kSmallestFittedSide = 8;

// Even the lowest quality the size limit allows gives too large a file at this pixel size.
struct ETooLargeForLimit {};

// One conversion's working state, on the worker's thread. The job's fields are fixed; what the
// conversion finds out goes into `result_` as it goes, so that a failure keeps what was known.
class TConverter {
 public:
  // shrink_percent: the target's pixel size in percent of what the size rule gives, below 100
  // when a size limit needs a smaller picture.
  TConverter(const TWorkerOrder& order, TConversion& result, int shrink_percent)
      : SourceName(order.Source),
        OutputName(order.Output),
        settings_(order.Settings),
        shrink_percent_(shrink_percent),
        Cores(order.Cores),
        FreeNames(order.FreeNames),
        Chunks(order.Chunks),
        Claim(order.Budget),
        attempt_(order.SizeValue),
        result_(result),
        outcome_(result.Report.Outcome) {}

  void ConvertFile();

 private:
  // Tries the conversion from rows decoded as the stretch asks for them; false when the file
  // must be read whole instead, with nothing of the attempt left.
  bool ConvertStreamed(const TDecodeLimits& limits);
  // decoded_upright: the decoder has applied the recorded turn itself (see
  // TGraphic::DecodedUpright).
  void ReadSourceFacts(TImageMetadata metadata, bool decoded_upright);
  // The profile's conversion for CMYK samples, which runs in the decoder; none otherwise.
  TCmykConverter CmykConverter() const;
  // The picture's upright size and, for a JPEG, its reduced decoding scale; then the target.
  void SizeTarget(int32_t w, int32_t h, bool has_decode_scale);
  TTargetRule TargetRule() const {
    return TTargetRule{settings_.SizeMode, attempt_.SizeValue, settings_.WideMode, settings_.NoEnlarge};
  }
  // Whether the stretch may read these rows directly: a turn needs the whole image, and so does
  // finding out whether a source that may have transparency has any.
  bool RowsFeedTheStretch(const TRowImage& rows) const { return attempt_.Orientation == 1 && (!settings_.KeepAlpha || rows.Opaque()); }
  // Sizes the target for a source of sw × sh, picks the part of the source it shows, and draws
  // the border; the source surface carries the filter.
  void PrepareTarget(int32_t width, int32_t height, int32_t sw, int32_t sh);
  void Warn(const std::string& text) { outcome_.Warnings.push_back(text); }
  TEncodeOptions EncodeOptions(int32_t width, int32_t height);
  void RenderAndSave();
  void RenderImage(int32_t width, int32_t height);
  // The render step from the source surface on, for a still image and for each frame of an
  // animation alike.
  void RenderSurface(int32_t width, int32_t height);
  // Every frame rendered like a still image into an animation of the output's format.
  void ConvertAnimation(TFrameSource& frames);
  // What ConvertAnimation holds at most at once, for its claim.
  uint64_t AnimationPeakBytes(const TFrameSource& frames) const;
  // What RenderImage and SaveImage hold at most at once, for the whole-image path's claim.
  uint64_t WholeImagePeakBytes() const;
  // The render step from Rows, without the source surface ever holding the image; the same
  // pixels as RenderImage for an upright, opaque source (or any source without KeepAlpha).
  void RenderStreamed(int32_t width, int32_t height);
  // Alpha, colour profile and decorations on the resampled target, then the target into the
  // picture.
  void FinishTarget(int32_t width, int32_t height, bool alpha);
  void SaveImage();
  // Publishes a complete output and records what was written.
  void Publish(TSafeOutput& out, int32_t width, int32_t height, std::optional<int> quality);
  // Encodes bitmap into memory at the highest quality whose file fits MaxKb; throws
  // ETooLargeForLimit when none does.
  std::vector<uint8_t> EncodeWithinLimit(const TBitmap& bitmap, TOutputWriter writer, TEncodeOptions& options);
  void SetFinalName(const std::string& path) {
    outcome_.Output = path;
    result_.Report.StatusText = path;
  }

  const std::string& SourceName;
  std::string OutputName;  // the save step may change it
  // The worker's order outlives the conversion.
  const TRunSettings& settings_;
  const int shrink_percent_;
  // The source's modification time, taken before anything is written: the output may replace
  // the source itself.
  std::optional<TFileTime> SourceTime;
  // What the output is written as, from OutputName's extension; none when no format writes it.
  std::optional<TOutputFormat> Format;

  std::shared_ptr<TCoreGate> Cores;
  std::shared_ptr<TFreeNames> FreeNames;  // the run's, where the search for a free name starts
  // Held from before the decoding until the output is complete but not yet published: the
  // publishing may wait on the disk, which needs no core.
  TCoreGate::TTurn Turn;
  // The run's pool, kept alive while the decoders below may hold its chunks.
  std::shared_ptr<TChunkPool> Chunks;
  // This conversion's share of the run's memory budget, taken by the decoder from the image's
  // header. Declared before the attempt's picture and surfaces so that it is released after them.
  TMemoryClaim Claim;
  TDecodeLimits Limits() { return TDecodeLimits{settings_.MaxImageBytes, &Claim, Chunks.get(), Cores.get()}; }

  // What one attempt at the conversion finds out and holds. When the streamed attempt gives way
  // to the whole image, a fresh one replaces it: nothing of the first attempt is left to undo.
  struct TAttempt {
    explicit TAttempt(int32_t size_value) : SizeValue(size_value) {}
    int32_t SizeValue;  // a percentage in "Percent" mode until the picture's size is known
    // What the source carries besides its pixels, and what follows from it.
    TImageMetadata Metadata;
    int StoredOrientation = 1;  // as the EXIF block records it
    int Orientation = 1;        // the turn applied to the decoded pixels
    std::unique_ptr<TIccProfile> Profile;
    // Set when the profile's colours are converted to sRGB instead of being carried: for outputs
    // that hold no profile, and for profiles that describe anything but RGB. Declared before
    // the decoders below, whose CMYK converter may point at it.
    std::unique_ptr<TSrgbConversion> ToSrgb;
    bool AlphaKept = false;  // the rendered image has transparency the output keeps
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
  };
  TAttempt attempt_;

  TConversion& result_;
  TFileOutcome& outcome_;
};

void TConverter::ConvertFile() {
  if (!IsImageFileName(SourceName)) {
    outcome_.Skipped = true;
    return;
  }
  if (Cores) Turn = Cores->Enter();
  if (settings_.KeepDates) SourceTime = FileModificationTime(SourceName);
  Format = OutputFormatOfExtension(LowerAscii(ExtractFileExt(OutputName)));
  const TDecodeLimits limits = Limits();
  if (!settings_.FirstFrame && Format && WritesAnimations(*Format)) {
    if (const std::unique_ptr<TFrameSource> frames = OpenFrameSource(SourceName, limits)) {
      ConvertAnimation(*frames);
      return;
    }
  }
  if (ConvertStreamed(limits)) return;

  attempt_.Picture = std::make_unique<TPicture>();
  attempt_.Picture->ReadFromFile(SourceName, limits);
  ReadSourceFacts(attempt_.Picture->Graphic()->EmbeddedMetadata(), attempt_.Picture->Graphic()->DecodedUpright());
  TGraphic* g = attempt_.Picture->Graphic();
  if (TCmykConverter convert = CmykConverter(); g && convert) g->SetCmykConverter(std::move(convert));
  SizeTarget(attempt_.Picture->Width(), attempt_.Picture->Height(), g && g->HasDecodeScale());
  if (g && g->HasDecodeScale()) g->SetDecodeScale(result_.DecodeScale);
  if (g && g->Is(TBitmap::StaticClass())) {
    // A bitmap (a BMP, a JPEG 2000 file) is already decoded whole: the stretch reads its rows
    // instead of a copy of it on the source surface, where nothing is turned or made see-through.
    auto rows = std::make_unique<TBitmapRows>(static_cast<const TBitmap&>(*g));
    if (RowsFeedTheStretch(*rows)) attempt_.Rows = std::move(rows);
  }
  // The source surface takes the picture's size, which for a JPEG is only now its decoded size.
  if (!attempt_.Rows) {
    CheckImageSize(limits, attempt_.Picture->Width(), attempt_.Picture->Height());
    ClaimBytes(limits, WholeImagePeakBytes());
  }
  RenderAndSave();
}

bool TConverter::ConvertStreamed(const TDecodeLimits& limits) {
  const int32_t requested = attempt_.SizeValue;
  try {
    attempt_.Rows = OpenRowImage(SourceName, limits);
    if (attempt_.Rows) {
      // The row-by-row readers leave every turn to the converter.
      ReadSourceFacts(attempt_.Rows->EmbeddedMetadata(), false);
      if (RowsFeedTheStretch(*attempt_.Rows)) {
        if (TCmykConverter convert = CmykConverter()) attempt_.Rows->SetCmykConverter(std::move(convert));
        SizeTarget(attempt_.Rows->Width(), attempt_.Rows->Height(), attempt_.Rows->HasDecodeScale());
        if (result_.DecodeScale != 0) attempt_.Rows->SetDecodeScale(result_.DecodeScale);
        CheckImageSize(limits, attempt_.Rows->Width(), attempt_.Rows->Height());
        RenderAndSave();
        return true;
      }
    }
  } catch (const EWholeImageNeeded&) {
    // Something after the image data changes its look: start again from the whole image.
  }
  // The old attempt is destroyed as a whole, its decoders before the conversion they point at.
  std::exchange(attempt_, TAttempt(requested));
  result_ = TConversion{};
  result_.Report.Outcome.Source = SourceName;
  return false;
}

void TConverter::SizeTarget(int32_t w, int32_t h, bool has_decode_scale) {
  // Sizes apply to the picture as it stands upright.
  if (OrientationSwapsSides(attempt_.Orientation)) std::swap(w, h);
  if (settings_.SizeMode == TSizeMode::Percent) attempt_.SizeValue = MulDiv(attempt_.SizeValue, std::max(w, h), 100);
  attempt_.DstRect = ComputeTarget(TargetRule(), w, h);
  if (shrink_percent_ < 100)
    attempt_.DstRect = TRect{0, 0, std::max(MulDiv(attempt_.DstRect.Right, shrink_percent_, 100), 1),
                             std::max(MulDiv(attempt_.DstRect.Bottom, shrink_percent_, 100), 1)};
  // A JPEG, which still reports its full size, may decode near the target's size.
  if (has_decode_scale) result_.DecodeScale = ReducedDecodeScale(std::max(attempt_.DstRect.Right, attempt_.DstRect.Bottom), std::max(w, h));
}

void TConverter::ReadSourceFacts(TImageMetadata metadata, bool decoded_upright) {
  attempt_.Metadata = std::move(metadata);
  for (const std::string& warning : attempt_.Metadata.Warnings) Warn(warning);
  // Asked for, the first frame alone needs no warning.
  if (const int frames = attempt_.Metadata.LeftOutFramesOf; frames > 1 && !settings_.FirstFrame)
    Warn("the animation has " + std::to_string(frames) + " frames; only the first is converted");
  if (settings_.ColourManaged)
    for (const std::string& problem : attempt_.Metadata.ProfileProblems) Warn(problem + "; ignored");
  // An EXIF block that nothing asks for is not read, and so cannot be found damaged.
  if (!settings_.AutoRotate && !settings_.KeepMetadata) attempt_.Metadata.Exif.clear();
  if (!attempt_.Metadata.Exif.empty()) {
    try {
      const TExifOrientation exif = ExifOrientation(attempt_.Metadata.Exif);
      attempt_.StoredOrientation = exif.Value;
      if (!exif.Refused.empty()) {
        // Turned all the same, by the orientation read without exiv2; the rest cannot travel.
        Warn(exif.Refused + "; only its orientation is used" + (settings_.KeepMetadata ? ", and the EXIF block is left out" : ""));
        attempt_.Metadata.Exif.clear();
      }
    } catch (const EMetadata& e) {
      Warn(std::string(e.what()) + "; ignored");
      attempt_.Metadata.Exif.clear();
    }
  }
  // Such pixels are upright already, whatever the EXIF block says; outputs record them as upright.
  if (decoded_upright) attempt_.StoredOrientation = 1;
  attempt_.Orientation = settings_.AutoRotate ? attempt_.StoredOrientation : 1;

  if (!settings_.ColourManaged || attempt_.Metadata.IccProfile.empty()) return;
  try {
    attempt_.Profile = std::make_unique<TIccProfile>(attempt_.Metadata.IccProfile);
    const bool matches = (attempt_.Profile->Space() == TProfileSpace::Rgb && attempt_.Metadata.Colours == TStoredColours::Rgb) ||
                         (attempt_.Profile->Space() == TProfileSpace::Gray && attempt_.Metadata.Colours == TStoredColours::Gray) ||
                         (attempt_.Profile->Space() == TProfileSpace::Cmyk && attempt_.Metadata.Colours == TStoredColours::Cmyk);
    if (!matches) throw EColourProfile("the colour profile does not describe the image's colours");
    // Outputs are RGB: only an RGB profile can travel with them.
    bool carried = attempt_.Profile->Space() == TProfileSpace::Rgb && Format && OutputFormatInfo(*Format).CarriesMetadata;
    // A profile the output cannot hold must not leave its pixels uninterpreted.
    if (carried && attempt_.Profile->Bytes().size() > MetadataCapacityOf(*Format).IccProfile) {
      carried = false;
      Warn("the colour profile (" + std::to_string(attempt_.Profile->Bytes().size()) + " bytes) is too large for a " +
           std::string(OutputFormatInfo(*Format).Extension) + " file; the colours are converted to sRGB instead");
    }
    if (!carried) attempt_.ToSrgb = std::make_unique<TSrgbConversion>(*attempt_.Profile);
  } catch (const EColourProfile& e) {
    Warn(std::string(e.what()) + "; ignored");
    attempt_.Profile.reset();
    attempt_.ToSrgb.reset();
    return;
  }
}

TCmykConverter TConverter::CmykConverter() const {
  // CMYK samples become colour in the decoder, through the profile instead of the ink formula.
  if (!attempt_.ToSrgb || attempt_.ToSrgb->Space() != TProfileSpace::Cmyk) return nullptr;
  const TSrgbConversion* conversion = attempt_.ToSrgb.get();
  return [conversion](uint8_t* row, int32_t width, bool inverted) {
    conversion->ApplyToCmyk(row, size_t(width), inverted);
  };
}

TEncodeOptions TConverter::EncodeOptions(int32_t width, int32_t height) {
  TEncodeOptions options;
  options.KeepAlpha = attempt_.AlphaKept;
  options.Quality = settings_.Quality;
  options.Cores = Cores.get();
  if (!Format || !OutputFormatInfo(*Format).CarriesMetadata) return options;
  if (attempt_.Profile && !attempt_.ToSrgb) options.Metadata.IccProfile = attempt_.Profile->Bytes();
  if (!settings_.KeepMetadata) return options;
  // Pixels that were turned upright need no turn any more; unturned ones keep the one recorded.
  const int orientation = settings_.AutoRotate ? 1 : attempt_.StoredOrientation;
  try {
    if (!attempt_.Metadata.Exif.empty()) options.Metadata.Exif = ExifForOutput(attempt_.Metadata.Exif, orientation, width, height);
  } catch (const EMetadata& e) {
    Warn(std::string(e.what()) + "; left out");
  }
  try {
    if (!attempt_.Metadata.Xmp.empty()) options.Metadata.Xmp = XmpForOutput(attempt_.Metadata.Xmp, orientation, width, height);
  } catch (const EMetadata& e) {
    Warn(std::string(e.what()) + "; left out");
  }
  const TMetadataCapacity capacity = MetadataCapacityOf(*Format);
  const auto fits = [&](const char* what, size_t size, size_t most) {
    if (size <= most) return true;
    Warn(std::string(what) + " (" + std::to_string(size) + " bytes) is too large for a " +
         std::string(OutputFormatInfo(*Format).Extension) + " file; left out");
    return false;
  };
  if (!fits("the EXIF block", options.Metadata.Exif.size(), capacity.Exif)) options.Metadata.Exif.clear();
  if (!fits("the XMP packet", options.Metadata.Xmp.size(), capacity.Xmp)) options.Metadata.Xmp.clear();
  return options;
}

void TConverter::RenderAndSave() {
  attempt_.TargetSurface = std::make_unique<TBitmap32>();
  attempt_.SourceSurface = std::make_unique<TBitmap32>();
  try {
    if (attempt_.Rows)
      RenderStreamed(attempt_.DstRect.Right, attempt_.DstRect.Bottom);
    else
      RenderImage(attempt_.DstRect.Right, attempt_.DstRect.Bottom);
  } catch (const EWholeImageNeeded&) {
    throw;
  } catch (const Exception& e) {
    // A file that fails to decode part way fails as its reader says, as it does when read whole.
    if (attempt_.Streamed && attempt_.Streamed->ImageFailed()) throw;
    // Writing the unrendered picture would give an empty file for most formats, or an image of
    // the wrong size; nothing is written, and nothing that exists is touched.
    throw EInvalidGraphic("Cannot render \"" + SourceName + "\": " + e.what(), e.Cause());
  } catch (const std::exception& e) {
    if (attempt_.Streamed && attempt_.Streamed->ImageFailed()) throw;
    throw EInvalidGraphic("Cannot render \"" + SourceName + "\": " + e.what());
  }
  attempt_.SourceSurface.reset();
  attempt_.Streamed.reset();
  attempt_.Rows.reset();
  SaveImage();
}

uint64_t TConverter::WholeImagePeakBytes() const {
  const uint64_t w = uint64_t(std::max(attempt_.Picture->Width(), 0)), h = uint64_t(std::max(attempt_.Picture->Height(), 0));
  const TGraphic* g = attempt_.Picture->Graphic();
  const uint64_t picture = g ? g->HeldBytes() : 0;
  const uint64_t source = DecodedImageBytes(w, h);
  const uint64_t turned = OrientationSwapsSides(attempt_.Orientation) ? source : 0;
  const uint64_t target =
      DecodedImageBytes(uint64_t(std::max(attempt_.DstRect.Right, 0)), uint64_t(std::max(attempt_.DstRect.Bottom, 0)));
  // The steps of RenderImage and SaveImage, each with what it holds at once: the picture and the
  // surface it is copied onto; the surface and its turned copy; the surface and the target; the
  // target and the picture it is handed over in.
  return std::max({picture + source, source + turned, source + target, 2 * target});
}

void TConverter::RenderImage(int32_t width, int32_t height) {
  if (settings_.KeepAlpha)
    AssignWithAlpha(*attempt_.SourceSurface, *attempt_.Picture);
  else
    attempt_.SourceSurface->Assign(*attempt_.Picture);
  // The surface holds the image now; the decoded picture would be a second full copy.
  attempt_.Picture = std::make_unique<TPicture>();
  RenderSurface(width, height);
}

void TConverter::RenderSurface(int32_t width, int32_t height) {
  // A source of width or height 0 would come out as an image of the fix-up's size holding nothing.
  if (attempt_.SourceSurface->Empty()) throw EInvalidGraphic("the image has no pixels");
  OrientSurface(*attempt_.SourceSurface, attempt_.Orientation);
  result_.DecodedWidth = attempt_.SourceSurface->Width();
  result_.DecodedHeight = attempt_.SourceSurface->Height();
  PrepareTarget(width, height, result_.DecodedWidth, result_.DecodedHeight);
  // Opaque sources, and every source without KeepAlpha, are resampled as they always were.
  const bool alpha = settings_.KeepAlpha && HasTransparency(*attempt_.SourceSurface);
  if (alpha) PremultiplyAlpha(*attempt_.SourceSurface);
  attempt_.SourceSurface->DrawTo(*attempt_.TargetSurface, attempt_.DstRect, attempt_.SrcRect);
  // Resampled: the source's pixels are not needed while the target is finished.
  attempt_.SourceSurface->SetSize(0, 0);
  FinishTarget(width, height, alpha);
}

void TConverter::PrepareTarget(int32_t width, int32_t height, int32_t sw, int32_t sh) {
  attempt_.TargetSurface->SetSize(width, height);
  attempt_.SrcRect = UseWide(TargetRule(), sw, sh) ? WideCrop(sw, sh, width, height) : TRect{0, 0, sw, sh};
  attempt_.SourceSurface->SetStretchFilter(settings_.FilterIndex);
  if (settings_.BorderOn) {
    attempt_.TargetSurface->FillRectClipped(0, 0, width, height, Color32(settings_.BorderColor));
    InflateRect(attempt_.DstRect, -settings_.BorderWidth, -settings_.BorderWidth);
  }
}

void TConverter::RenderStreamed(int32_t width, int32_t height) {
  const int32_t sw = attempt_.Rows->Width(), sh = attempt_.Rows->Height();
  if (sw <= 0 || sh <= 0) throw EInvalidGraphic("the image has no pixels");
  result_.DecodedWidth = sw;
  result_.DecodedHeight = sh;
  // What this path holds: the target and the decoder, and the decoded bitmap when the rows are
  // read from one (a claim is raised to a total, not added to); the window of rows is claimed as
  // the stretch sizes it.
  const TGraphic* whole = attempt_.Picture ? attempt_.Picture->Graphic() : nullptr;
  const uint64_t bitmap = whole ? whole->HeldBytes() : 0;
  ClaimBytes(Limits(), bitmap + DecodedImageBytes(uint64_t(std::max(width, 0)), uint64_t(std::max(height, 0))) +
                           attempt_.Rows->WorkingBytes());
  // The source surface holds no pixels here; it carries the filter's resampler.
  PrepareTarget(width, height, sw, sh);
  attempt_.Streamed = std::make_unique<TStreamedRows>(*attempt_.Rows, Limits());
  StretchRows(*attempt_.TargetSurface, attempt_.DstRect, *attempt_.Streamed, attempt_.SrcRect, attempt_.SourceSurface->Resampler());
  attempt_.Streamed->Finish();
  // The rows may be a bitmap of the picture, which the rendered image now replaces.
  attempt_.Streamed.reset();
  attempt_.Rows.reset();
  attempt_.Picture = std::make_unique<TPicture>();
  // Rows are streamed only when they are opaque or their alpha is filtered like a colour.
  FinishTarget(width, height, false);
}

void TConverter::FinishTarget(int32_t width, int32_t height, bool alpha) {
  if (alpha) UnpremultiplyAlpha(*attempt_.TargetSurface, attempt_.DstRect);
  if (attempt_.ToSrgb && attempt_.ToSrgb->Space() != TProfileSpace::Cmyk) {
    const TRect image{std::max(attempt_.DstRect.Left, 0), std::max(attempt_.DstRect.Top, 0), std::min(attempt_.DstRect.Right, width),
                      std::min(attempt_.DstRect.Bottom, height)};
    for (int32_t y = image.Top; y < image.Bottom; ++y)
      attempt_.ToSrgb->ApplyToPixels(attempt_.TargetSurface->ScanLine(y) + image.Left, size_t(std::max(image.Width(), 0)));
  }
  attempt_.AlphaKept = alpha && Format && OutputFormatInfo(*Format).KeepsAlpha;
  // Before the decorations, which are drawn on the picture as it will be seen.
  if (alpha && !attempt_.AlphaKept) ComposeOnto(*attempt_.TargetSurface, attempt_.TargetSurface->BoundsRect(), Color32(settings_.BackgroundColor));
  if (settings_.BorderOn) attempt_.TargetSurface->FrameRectClipped(attempt_.DstRect, kFrameColor);
  if (settings_.FrameOn) attempt_.TargetSurface->RaiseRectBlended(attempt_.TargetSurface->BoundsRect(), kRaiseContrast);
  attempt_.TargetSurface->AssignTo(*attempt_.Picture);
  attempt_.TargetSurface.reset();  // the picture holds the image for the writer
}

void TConverter::SaveImage() {
  // The picture goes whatever happens here.
  const std::unique_ptr<TPicture> picture = std::move(attempt_.Picture);

  const std::string ext = LowerAscii(ExtractFileExt(OutputName));
  const std::optional<TOutputFormat>& format = Format;
  OutputName = WrittenFileName(OutputName);
  const TOutputWriter writer = format ? OutputWriter(*format) : nullptr;
  if (!writer) {
    SetFinalName(settings_.Overwrite ? OutputName : UniqueFileName(OutputName));
    throw EInvalidGraphic("No image format writes files ending in \"" + ext + "\"");
  }

  TBitmap& bitmap = picture->Bitmap();
  const int32_t width = bitmap.Width(), height = bitmap.Height();
  TEncodeOptions options = EncodeOptions(width, height);
  const bool limited = settings_.MaxKb > 0 && OutputFormatInfo(*format).TakesQuality;
  if (settings_.MaxKb > 0 && !limited)
    Warn("the " + ext + " format has no quality to lower; the size limit does not apply");
  std::vector<uint8_t> fitted;
  if (limited) fitted = EncodeWithinLimit(bitmap, writer, options);
  TSafeOutput out(OutputName, settings_.Overwrite, FreeNames.get());
  SetFinalName(OutputName);
  if (limited)
    out.Stream().Write(fitted.data(), fitted.size());
  else
    writer(std::move(bitmap), out.Stream(), options);  // the writer may take the pixels: not needed after it
  Publish(out, width, height, OutputFormatInfo(*format).TakesQuality ? std::optional(options.Quality) : std::nullopt);
}

void TConverter::Publish(TSafeOutput& out, int32_t width, int32_t height, std::optional<int> quality) {
  outcome_.Bytes = out.Stream().Size();
  if (SourceTime) out.SetModificationTime(*SourceTime);
  Turn.Release();
  out.Commit();
  // Without overwriting, the free name is taken only now.
  OutputName = out.FinalName();
  SetFinalName(OutputName);
  outcome_.Written = true;
  outcome_.Width = width;
  outcome_.Height = height;
  if (quality) outcome_.Quality = *quality;
}

uint64_t TConverter::AnimationPeakBytes(const TFrameSource& frames) const {
  const uint64_t source = DecodedImageBytes(uint64_t(frames.Width()), uint64_t(frames.Height()));
  const uint64_t turned = OrientationSwapsSides(attempt_.Orientation) ? source : 0;
  const uint64_t target =
      DecodedImageBytes(uint64_t(std::max(attempt_.DstRect.Right, 0)), uint64_t(std::max(attempt_.DstRect.Bottom, 0)));
  // Beside the reader's own: a frame's steps as RenderImage takes them, and what the writer keeps
  // from frame to frame (the WebP encoder compares each frame with the canvases before it).
  return frames.WorkingBytes() + std::max({source + turned, source + target, 2 * target}) + 4 * target;
}

void TConverter::ConvertAnimation(TFrameSource& frames) {
  ReadSourceFacts(frames.EmbeddedMetadata(), false);
  SizeTarget(frames.Width(), frames.Height(), false);
  // Each frame starts from the full target: the border step takes its width off the rectangle.
  const TRect target = attempt_.DstRect;
  const int32_t width = target.Right, height = target.Bottom;
  ClaimBytes(Limits(), AnimationPeakBytes(frames));
  if (settings_.MaxKb > 0) {
    const TOutputFormatInfo& info = OutputFormatInfo(*Format);
    Warn(info.TakesQuality ? "the size limit does not apply to animations; the " + std::to_string(frames.FrameCount()) +
                                 " frames are written at the quality set"
                           : "the " + std::string(info.Extension) + " format has no quality to lower; the size limit does not apply");
  }

  OutputName = WrittenFileName(OutputName);
  TSafeOutput out(OutputName, settings_.Overwrite, FreeNames.get());
  SetFinalName(OutputName);
  std::unique_ptr<TFrameSink> sink;
  TEncodeOptions options;
  TAnimationFrame frame;
  while (frames.Next(frame)) {
    attempt_.DstRect = target;
    attempt_.Picture = std::make_unique<TPicture>();
    attempt_.TargetSurface = std::make_unique<TBitmap32>();
    attempt_.SourceSurface = std::make_unique<TBitmap32>();
    TBitmap32& surface = *attempt_.SourceSurface;
    surface.SetSize(frame.Width, frame.Height);
    if (!surface.Empty()) std::copy_n(frame.Pixels, size_t(frame.Width) * size_t(frame.Height), surface.Bits());
    // Without transparency kept, transparent areas come out black, as in a still image.
    if (!settings_.KeepAlpha) surface.ResetAlpha();
    RenderSurface(width, height);
    const TBitmap& bitmap = attempt_.Picture->Bitmap();
    if (!sink) {
      options = EncodeOptions(bitmap.Width(), bitmap.Height());
      sink = MakeFrameSink(*Format, out.Stream(), bitmap.Width(), bitmap.Height(), frames.Plays(), options,
                           settings_.KeepAlpha);
    }
    sink->Add(bitmap, frame.DelayMs, attempt_.AlphaKept);
    attempt_.Picture.reset();
  }
  if (!sink) throw EInvalidGraphic("the animation has no frames");
  sink->Finish();
  Publish(out, width, height, OutputFormatInfo(*Format).TakesQuality ? std::optional(options.Quality) : std::nullopt);
}

std::vector<uint8_t> TConverter::EncodeWithinLimit(const TBitmap& bitmap, TOutputWriter writer,
                                                   TEncodeOptions& options) {
  const auto encode = [&](int quality) {
    TEncodeOptions trial = options;
    trial.Quality = quality;
    TBitmap copy = bitmap;  // the writer may take the pixels, which the next trial needs
    TMemoryStream stream;
    writer(std::move(copy), stream, trial);
    return stream.Take();
  };
  std::optional<TFittedEncoding> fitted =
      EncodeWithin(encode, settings_.Quality, kMaxKbQualityFloor, static_cast<uint64_t>(settings_.MaxKb) * 1024);
  if (!fitted) {
    if (std::max(bitmap.Width(), bitmap.Height()) <= kSmallestFittedSide)
      throw EInvalidGraphic("Cannot make \"" + SourceName + "\" as small as " + std::to_string(settings_.MaxKb) +
                            " KB: its format and metadata alone take more");
    throw ETooLargeForLimit{};
  }
  options.Quality = fitted->Quality;
  return std::move(fitted->Bytes);
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
  // A size limit that the lowest quality cannot meet takes the picture 10 % smaller each time,
  // from the source again, so that decorations keep their widths and the resampling its quality.
  for (int percent = 100;; percent = percent * kMaxKbShrinkPercent / 100) {
    TConversion result;
    result.Report.Outcome.Source = order.Source;
    try {
      // The converter's picture and surfaces are released here, also when it fails.
      TConverter(order, result, percent).ConvertFile();
    } catch (const ETooLargeForLimit&) {
      continue;
    } catch (...) {
      result.Report.Outcome.Error = CurrentErrorReason();
    }
    return result;
  }
}

}  // namespace pellavo
