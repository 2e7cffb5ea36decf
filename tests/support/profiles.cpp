#include "support/profiles.h"

#include <lcms2.h>

namespace pellavo::test {
namespace {

// The profile's bytes as a file would embed them; the profile is closed.
std::vector<uint8_t> SavedProfile(cmsHPROFILE profile) {
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(profile, nullptr, &size);
  std::vector<uint8_t> bytes(size);
  cmsSaveProfileToMem(profile, bytes.data(), &size);
  cmsCloseProfile(profile);
  return bytes;
}

}  // namespace

std::vector<uint8_t> AdobeRgbProfile() {
  const cmsCIExyY white{0.3127, 0.3290, 1.0};
  const cmsCIExyYTRIPLE primaries{{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
  cmsToneCurve* gamma = cmsBuildGamma(nullptr, 563.0 / 256.0);
  cmsToneCurve* curves[3] = {gamma, gamma, gamma};
  cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
  cmsFreeToneCurve(gamma);
  cmsMLU* description = cmsMLUalloc(nullptr, 1);
  cmsMLUsetASCII(description, "en", "US", "Adobe RGB (1998) compatible");
  cmsWriteTag(profile, cmsSigProfileDescriptionTag, description);
  cmsMLUfree(description);
  return SavedProfile(profile);
}

std::vector<uint8_t> PaddedAdobeRgbProfile(size_t size) {
  const std::vector<uint8_t> base = AdobeRgbProfile();
  cmsHPROFILE profile = cmsOpenProfileFromMem(base.data(), static_cast<cmsUInt32Number>(base.size()));
  const std::vector<uint8_t> zeros(size > base.size() ? size - base.size() : 0);
  cmsWriteRawTag(profile, static_cast<cmsTagSignature>(0x70616420), zeros.data(),  // 'pad '
                 static_cast<cmsUInt32Number>(zeros.size()));
  return SavedProfile(profile);
}

// An ICC profile with sRGB's primaries and white but linear tone curves.
std::vector<uint8_t> LinearRgbProfile() {
  cmsCIExyY white;
  cmsWhitePointFromTemp(&white, 6504);
  const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
  cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
  cmsToneCurve* curves[3] = {linear, linear, linear};
  cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
  cmsFreeToneCurve(linear);
  return SavedProfile(profile);
}

// A CMYK input profile in which only the black ink darkens: cyan, magenta and yellow are ignored.
std::vector<uint8_t> BlackInkOnlyProfile() {
  cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
  cmsSetProfileVersion(profile, 4.3);
  cmsSetDeviceClass(profile, cmsSigInputClass);
  cmsSetColorSpace(profile, cmsSigCmykData);
  cmsSetPCS(profile, cmsSigLabData);
  cmsPipeline* lut = cmsPipelineAlloc(nullptr, 4, 3);
  cmsStage* clut = cmsStageAllocCLut16bit(nullptr, 2, 4, 3, nullptr);
  cmsStageSampleCLut16bit(
      clut,
      [](const cmsUInt16Number in[], cmsUInt16Number out[], void*) -> cmsInt32Number {
        const cmsCIELab lab{100.0 * (1.0 - in[3] / 65535.0), 0, 0};
        cmsFloat2LabEncoded(out, &lab);
        return TRUE;
      },
      nullptr, 0);
  // The lutAtoBType a version 4 profile stores needs curves around its table; identity ones.
  cmsPipelineInsertStage(lut, cmsAT_END, cmsStageAllocToneCurves(nullptr, 4, nullptr));
  cmsPipelineInsertStage(lut, cmsAT_END, clut);
  cmsPipelineInsertStage(lut, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
  cmsWriteTag(profile, cmsSigAToB0Tag, lut);
  cmsPipelineFree(lut);
  cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ());
  return SavedProfile(profile);
}

}  // namespace pellavo::test
