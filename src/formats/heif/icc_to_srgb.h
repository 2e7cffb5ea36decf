#pragma once
// Colour conversion of decoded rows from the image's ICC profile to sRGB. Private to the HEIF
// codec.
#include <cstdint>
#include <memory>
#include <vector>

namespace pellavo {

// Turns rows of red, green, blue (and alpha) bytes into the bitmap's blue, green, red (and
// alpha) order, converting the colours from an RGB ICC profile to sRGB on the way. Without a
// profile, or with one that is not RGB or that cannot be read, the colours are taken as sRGB
// already and only reordered.
class TIccToSrgb {
 public:
  TIccToSrgb(const std::vector<uint8_t>& icc, bool alpha);
  ~TIccToSrgb();
  TIccToSrgb(const TIccToSrgb&) = delete;
  TIccToSrgb& operator=(const TIccToSrgb&) = delete;

  // Whether colours are converted, not only reordered.
  bool Converts() const { return transform_ != nullptr; }
  void Row(const uint8_t* rgb, uint8_t* bgr, int width) const;

 private:
  struct TTransformDeleter {
    void operator()(void* transform) const;
  };
  std::unique_ptr<void, TTransformDeleter> transform_;
  bool alpha_;
};

}  // namespace pellavo
