#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/image_metadata.h"

namespace pellavo {

// The segments of a JPEG file that carry metadata, read from the markers before its first scan:
// APP1 "Exif", APP1 XMP and the APP2 "ICC_PROFILE" chain, put back together in sequence order.
// Only the first EXIF and XMP segments count. A damaged marker structure ends the search with
// what was found so far; a chain with a missing, repeated or inconsistent piece gives no profile
// and a problem instead.
TImageMetadata ReadJpegMetadata(const uint8_t* data, size_t size);

// The segments an encoder writes for metadata, each with its identifier, in file order (EXIF,
// XMP, then the profile's APP2 chain): marker code and payload. A block beyond
// kJpegMetadataCapacity is left out, since readers take no other form of it; the converter
// checks the sizes first and says so.
struct TJpegSegment {
  int Marker;
  std::vector<uint8_t> Payload;
};
std::vector<TJpegSegment> JpegMetadataSegments(const TImageMetadata& metadata);

}  // namespace pellavo
