#include "colour/icc_profile.h"

#include <lcms2.h>

#include <algorithm>

namespace pellavo {
namespace {

// Photographs are rendered perceptually; a matrix-shaper profile such as Adobe RGB has no
// perceptual table and LittleCMS falls back to the colorimetric mapping, which keeps in-gamut
// colours exact.
constexpr cmsUInt32Number kIntent = INTENT_PERCEPTUAL;
constexpr cmsUInt32Number kFlags = cmsFLAGS_BLACKPOINTCOMPENSATION;

// A grey sample at the first of four bytes, the three after it skipped.
constexpr cmsUInt32Number kGrayOfBgra = COLORSPACE_SH(PT_GRAY) | CHANNELS_SH(1) | BYTES_SH(1) | EXTRA_SH(3);

// Rows of this many pixels go through the grey path's scratch buffer at a time.
constexpr size_t kChunk = 1024;

struct TProfileCloser {
  void operator()(void* p) const { cmsCloseProfile(static_cast<cmsHPROFILE>(p)); }
};

cmsHTRANSFORM Transform(cmsHPROFILE from, cmsUInt32Number in_format, cmsUInt32Number out_format, cmsUInt32Number flags) {
  std::unique_ptr<void, TProfileCloser> srgb(cmsCreate_sRGBProfile());
  if (!srgb) throw EColourProfile("cannot create the sRGB profile");
  cmsHTRANSFORM t = cmsCreateTransform(from, in_format, srgb.get(), out_format, kIntent, kFlags | flags);
  if (!t) throw EColourProfile("the colour profile gives no conversion to sRGB");
  return t;
}

}  // namespace

TIccProfile::TIccProfile(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {
  if (bytes_.empty() || bytes_.size() > 0xFFFFFFFFu) throw EColourProfile("the colour profile is empty");
  handle_ = cmsOpenProfileFromMem(bytes_.data(), static_cast<cmsUInt32Number>(bytes_.size()));
  if (!handle_) throw EColourProfile("the colour profile is damaged");
  switch (cmsGetColorSpace(static_cast<cmsHPROFILE>(handle_))) {
    case cmsSigRgbData: space_ = TProfileSpace::Rgb; break;
    case cmsSigGrayData: space_ = TProfileSpace::Gray; break;
    case cmsSigCmykData: space_ = TProfileSpace::Cmyk; break;
    default:
      cmsCloseProfile(static_cast<cmsHPROFILE>(handle_));
      throw EColourProfile("the colour profile is for a colour space other than RGB, grey or CMYK");
  }
}

TIccProfile::~TIccProfile() { cmsCloseProfile(static_cast<cmsHPROFILE>(handle_)); }

TSrgbConversion::TSrgbConversion(const TIccProfile& profile) : space_(profile.Space()) {
  const auto from = static_cast<cmsHPROFILE>(profile.Handle());
  switch (space_) {
    case TProfileSpace::Rgb:
      transform_ = Transform(from, TYPE_BGRA_8, TYPE_BGRA_8, cmsFLAGS_COPY_ALPHA);
      break;
    case TProfileSpace::Gray:
      transform_ = Transform(from, kGrayOfBgra, TYPE_BGR_8, 0);
      break;
    case TProfileSpace::Cmyk:
      transform_ = Transform(from, TYPE_CMYK_8, TYPE_BGRA_8, 0);
      try {
        inverted_transform_ = Transform(from, TYPE_CMYK_8_REV, TYPE_BGRA_8, 0);
      } catch (...) {
        cmsDeleteTransform(static_cast<cmsHTRANSFORM>(transform_));
        throw;
      }
      break;
  }
}

TSrgbConversion::~TSrgbConversion() {
  cmsDeleteTransform(static_cast<cmsHTRANSFORM>(transform_));
  if (inverted_transform_) cmsDeleteTransform(static_cast<cmsHTRANSFORM>(inverted_transform_));
}

void TSrgbConversion::ApplyToPixels(TColor32* pixels, size_t count) const {
  const auto t = static_cast<cmsHTRANSFORM>(transform_);
  if (space_ == TProfileSpace::Rgb) {
    // LittleCMS converts in place when both sides have the same pixel size.
    for (size_t done = 0; done < count;) {
      const size_t n = std::min<size_t>(count - done, 0x7FFFFFFF);
      cmsDoTransform(t, pixels + done, pixels + done, static_cast<cmsUInt32Number>(n));
      done += n;
    }
    return;
  }
  if (space_ != TProfileSpace::Gray) return;
  uint8_t rgb[kChunk * 3];
  for (size_t done = 0; done < count; done += kChunk) {
    const size_t n = std::min(kChunk, count - done);
    cmsDoTransform(t, pixels + done, rgb, static_cast<cmsUInt32Number>(n));
    for (size_t i = 0; i < n; ++i)
      pixels[done + i] = (pixels[done + i] & 0xFF000000u) | TColor32{rgb[3 * i + 2]} << 16 |
                         TColor32{rgb[3 * i + 1]} << 8 | rgb[3 * i];
  }
}

void TSrgbConversion::ApplyToCmyk(uint8_t* samples, size_t count, bool inverted) const {
  if (space_ != TProfileSpace::Cmyk) return;
  const auto t = static_cast<cmsHTRANSFORM>(inverted ? inverted_transform_ : transform_);
  cmsDoTransform(t, samples, samples, static_cast<cmsUInt32Number>(count));
  // The fourth byte is left as LittleCMS found it: make it opaque.
  for (size_t i = 0; i < count; ++i) samples[4 * i + 3] = 255;
}

}  // namespace pellavo
