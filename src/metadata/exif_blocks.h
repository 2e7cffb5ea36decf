#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/errors.h"

namespace pellavo {

// An EXIF or XMP block that exiv2 cannot read or write back.
class EMetadata : public Exception {
 public:
  using Exception::Exception;
};

// The orientation a TIFF-structured EXIF block records.
struct TExifOrientation {
  int Value = 1;  // 1 to 8; 1 when the block records none or an impossible value
  // Empty when exiv2 read the block. Otherwise what it refused, in words (the block, or its first
  // directory of 5401 entries): the orientation then comes from a minimal reader of the first
  // directory, and the block cannot be carried into outputs (ExifForOutput refuses it).
  std::string Refused;
};
// Raises EMetadata for a block that neither exiv2 nor the minimal reader can read.
TExifOrientation ExifOrientation(const std::vector<uint8_t>& exif);

// The EXIF block an output of width x height pixels carries: orientation set to the given value
// where the block records one, the embedded preview and its tags dropped (the output is its own
// preview), the pixel dimensions set. Raises EMetadata for a block exiv2 cannot read or write,
// or of which it would drop a directory; the result may be too large for the output format
// (see MetadataCapacityOf).
std::vector<uint8_t> ExifForOutput(const std::vector<uint8_t>& exif, int orientation, int32_t width, int32_t height);

// The XMP packet for the same output: the orientation and pixel dimensions it records are set as
// above; a packet that records neither is kept as it is. Raises EMetadata for a packet exiv2
// cannot parse.
std::string XmpForOutput(const std::string& xmp, int orientation, int32_t width, int32_t height);

// The EXIF block of a TIFF file's own tags: the descriptive tags of its first directory (the
// orientation, camera, dates, resolution) with the EXIF and GPS directories it points to, but none
// of the tags that lay out its image data, nor its profile and XMP, which travel on their own.
// Empty when it holds no such tag. Raises EMetadata for a file exiv2 cannot read.
std::vector<uint8_t> ExifOfTiff(const uint8_t* data, size_t size);

// The TIFF file with the tags of an EXIF block added to its first directory (replacing those it
// had) and its EXIF and GPS directories; the block's own image-layout tags are left out, so the
// image data stays as it is. Raises EMetadata when exiv2 cannot read either or write the file.
std::vector<uint8_t> TiffWithExif(const std::vector<uint8_t>& tiff, const std::vector<uint8_t>& exif);

}  // namespace pellavo
