#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace pellavo {

class TCoreGate;

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
  // What else the reader noticed that the user should hear of, though the image was read (the
  // further pages of a multi-page file that were left out), in words for a warning.
  std::vector<std::string> Warnings;
  // The frames of an animation of which only the first was read; 0 for any other image. The
  // converter words the warning, which a user who asked for the first frame does not need.
  int LeftOutFramesOf = 0;

  bool Empty() const { return IccProfile.empty() && Exif.empty() && Xmp.empty(); }
};

// The TIFF-structured EXIF block inside a container's EXIF payload, from its byte-order mark
// ("II*\0" or "MM\0*") on, skipping an "Exif\0\0" prefix; empty when there is none.
std::vector<uint8_t> ExifFromPayload(const uint8_t* data, size_t size);

// What an encoder is asked to keep beyond the pixels.
struct TEncodeOptions {
  // Blocks to embed, in formats that carry them (JPEG, PNG, WebP, AVIF, TIFF); the rest ignore them.
  TImageMetadata Metadata;
  // The bitmap's fourth byte is alpha to keep where the format can: PNG, WebP and AVIF as an alpha
  // channel, GIF as a transparent index. Off, encoders treat the bitmap as opaque, as they always did.
  bool KeepAlpha = false;
  // 1 to 100, for the lossy formats that take it (JPEG, WebP, AVIF); the others ignore it.
  int Quality = 90;
  // The run's turns at the cores, from which an encoder that splits its work borrows spare turns
  // for its helper threads; none outside a run. Not owned.
  TCoreGate* Cores = nullptr;
};

}  // namespace pellavo
