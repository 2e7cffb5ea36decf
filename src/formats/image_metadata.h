#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace pellavo {

// How a file stores its colours, which decides what kind of colour profile describes them.
enum class TStoredColours : uint8_t { Rgb, Gray, Cmyk };

// What a photo carries besides its pixels, as raw blocks lifted from its file. Readers only find
// and unwrap the blocks; what is inside them is judged where they are used.
struct TImageMetadata {
  TStoredColours Colours = TStoredColours::Rgb;
  std::vector<uint8_t> IccProfile;  // a whole ICC profile
  std::vector<uint8_t> Exif;        // a TIFF-structured EXIF block, from its byte-order mark on
  std::string Xmp;                  // an XMP packet
  // A colour profile that was there but could not be unwrapped (split over segments with one
  // missing, or not inflating), in words for a warning.
  std::vector<std::string> ProfileProblems;

  bool Empty() const { return IccProfile.empty() && Exif.empty() && Xmp.empty(); }
};

// What an encoder is asked to keep beyond the pixels.
struct TEncodeOptions {
  // Blocks to embed, in formats that carry them (JPEG and PNG); the rest ignore them.
  TImageMetadata Metadata;
  // The bitmap's fourth byte is alpha to keep where the format can: PNG as an alpha channel, GIF
  // as a transparent index. Off, encoders treat the bitmap as opaque, as they always did.
  bool KeepAlpha = false;
};

}  // namespace pellavo
