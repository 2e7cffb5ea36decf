#pragma once
// What the still WebP codec and the animation's frame reader and writer share, so that a frame
// is encoded exactly as a still image is.
#include <webp/encode.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/stream.h"
#include "formats/bmp/bitmap.h"
#include "formats/image_metadata.h"
#include "formats/webp/webp_image.h"

namespace pellavo {

// The profile, EXIF and XMP chunks of an extended file; none for a simple one.
TImageMetadata WebPMetadataOf(const std::vector<uint8_t>& bytes);
// The frames of an animation; 1 for a still image, 0 for a file the demuxer refuses.
int WebPFrameCount(const std::vector<uint8_t>& bytes);

std::string WebPEncodingErrorText(WebPEncodingError error);
// Refuses with EWebPError what the format cannot hold.
void CheckWebPSize(int32_t width, int32_t height);
// The encoder's settings for a lossy image of that quality (1 to 100).
WebPConfig WebPConfigOf(uint8_t quality);

// An encoder picture, released in every case.
struct TWebPPicture {
  WebPPicture pic;
  TWebPPicture() {
    if (!WebPPictureInit(&pic)) throw EWebPError("WebP encoder version mismatch");
  }
  ~TWebPPicture() { WebPPictureFree(&pic); }
  TWebPPicture(const TWebPPicture&) = delete;
  TWebPPicture& operator=(const TWebPPicture&) = delete;
};

// Takes the bitmap's pixels into pic: with keep_alpha, a 32-bit bitmap's fourth byte as alpha
// unless every pixel is opaque.
void ImportWebPPicture(const TBitmap& bitmap, bool keep_alpha, WebPPicture& pic);

// Writes an encoded file, with the metadata's chunks added when there are any.
void WriteWebPWithMetadata(TStream& stream, const uint8_t* bytes, size_t size, const TImageMetadata& metadata);

}  // namespace pellavo
