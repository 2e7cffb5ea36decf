#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/color.h"
#include "core/errors.h"

namespace pellavo {

// A profile that LittleCMS cannot use: unreadable, or of a kind no conversion to sRGB is built
// for.
class EColourProfile : public Exception {
 public:
  using Exception::Exception;
};

// The colour spaces a profile can describe pixels in, for this program's purposes.
enum class TProfileSpace : uint8_t { Rgb, Gray, Cmyk };

// An ICC profile opened by LittleCMS. Opening checks the header and tags enough to build a
// transform from it; its bytes are kept so that an output can carry the profile unchanged.
class TIccProfile {
 public:
  // Raises EColourProfile for bytes LittleCMS refuses or a colour space other than RGB, grey
  // and CMYK.
  explicit TIccProfile(std::vector<uint8_t> bytes);
  ~TIccProfile();
  TIccProfile(const TIccProfile&) = delete;
  TIccProfile& operator=(const TIccProfile&) = delete;

  TProfileSpace Space() const { return space_; }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  void* Handle() const { return handle_; }  // the cmsHPROFILE

 private:
  std::vector<uint8_t> bytes_;
  void* handle_ = nullptr;
  TProfileSpace space_ = TProfileSpace::Rgb;
};

// Converts pixels from a profile's colour space to sRGB. Built once per image; Apply may run on
// any thread, and on several at once.
class TSrgbConversion {
 public:
  // Raises EColourProfile when no transform can be built from the profile.
  explicit TSrgbConversion(const TIccProfile& profile);
  ~TSrgbConversion();
  TSrgbConversion(const TSrgbConversion&) = delete;
  TSrgbConversion& operator=(const TSrgbConversion&) = delete;

  TProfileSpace Space() const { return space_; }
  // RGB and grey profiles: count 32-bit pixels in place, alpha kept. A grey profile reads the
  // blue byte, which a grey image holds in all three.
  void ApplyToPixels(TColor32* pixels, size_t count) const;
  // CMYK profiles: count pixels of four ink samples (inverted, as Adobe's JPEG files store them,
  // when inverted), overwritten in place with blue, green, red and 255.
  void ApplyToCmyk(uint8_t* samples, size_t count, bool inverted) const;

 private:
  TProfileSpace space_;
  void* transform_ = nullptr;           // from the profile's pixels to BGRA
  void* inverted_transform_ = nullptr;  // CMYK only: from inverted samples
};

}  // namespace pellavo
