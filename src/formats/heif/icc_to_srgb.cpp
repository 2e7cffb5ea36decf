#include "formats/heif/icc_to_srgb.h"

#include <lcms2.h>

namespace pellavo {
namespace {

struct TProfileDeleter {
  void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using TProfile = std::unique_ptr<void, TProfileDeleter>;

}  // namespace

void TIccToSrgb::TTransformDeleter::operator()(void* transform) const { cmsDeleteTransform(transform); }

TIccToSrgb::TIccToSrgb(const std::vector<uint8_t>& icc, bool alpha) : alpha_(alpha) {
  if (icc.empty()) return;
  const TProfile source(cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size())));
  if (!source || cmsGetColorSpace(source.get()) != cmsSigRgbData) return;
  const TProfile srgb(cmsCreate_sRGBProfile());
  if (!srgb) return;
  // Perceptual, as a photo is meant to look; the alpha bytes are carried over unchanged.
  transform_.reset(cmsCreateTransform(source.get(), alpha ? TYPE_RGBA_8 : TYPE_RGB_8, srgb.get(),
                                      alpha ? TYPE_BGRA_8 : TYPE_BGR_8, INTENT_PERCEPTUAL,
                                      alpha ? cmsFLAGS_COPY_ALPHA : 0));
}

TIccToSrgb::~TIccToSrgb() = default;

void TIccToSrgb::Row(const uint8_t* rgb, uint8_t* bgr, int width) const {
  if (transform_) {
    cmsDoTransform(transform_.get(), rgb, bgr, static_cast<cmsUInt32Number>(width));
    return;
  }
  const int n = alpha_ ? 4 : 3;
  for (int x = 0; x < width; ++x, rgb += n, bgr += n) {
    bgr[0] = rgb[2];
    bgr[1] = rgb[1];
    bgr[2] = rgb[0];
    if (alpha_) bgr[3] = rgb[3];
  }
}

}  // namespace pellavo
