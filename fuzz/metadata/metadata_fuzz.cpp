// Feeds arbitrary bytes to the paths that lift metadata out of a file and hand it to exiv2 and
// LittleCMS: the JPEG segment walk, the PNG metadata chunks, the EXIF and XMP rewriting for an
// output, and colour profiles with their conversion to sRGB. Only the program's own exceptions
// may come out; anything else (another exception, a crash, a sanitizer report) is a finding.
//
// The first byte chooses how the rest is used:
//   0: as a JPEG file;   1: as a PNG file;   2: as an EXIF (TIFF) block;
//   3: as an XMP packet; 4: as an ICC profile.
// Whatever is found goes through what a conversion does with it, and back out through the
// JPEG and PNG metadata writers.
//
// Running it (from a fuzz build, see fuzz/CMakeLists.txt):
//   fuzz/metadata/make_seeds.py seeds
//   build-fuzz/fuzz/metadata/metadata_fuzz -dict=fuzz/metadata/metadata.dict -max_len=70000 corpus seeds
#include <cstdint>
#include <string>
#include <vector>

#include "colour/icc_profile.h"
#include "core/errors.h"
#include "core/stream.h"
#include "formats/bmp/bitmap.h"
#include "formats/jpeg/jpeg_metadata.h"
#include "formats/png/png_object.h"
#include "metadata/exif_blocks.h"

namespace {

using namespace pellavo;

void UseProfile(const std::vector<uint8_t>& bytes) {
  try {
    const TIccProfile profile(bytes);
    const TSrgbConversion conversion(profile);
    std::vector<TColor32> row{0xFF000000u, 0xFFFFFFFFu, 0x80FF8000u, 0x00123456u, 0xFF7F7F7Fu};
    conversion.ApplyToPixels(row.data(), row.size());
    std::vector<uint8_t> cmyk{0, 0, 0, 0, 255, 255, 255, 255, 10, 200, 30, 40};
    conversion.ApplyToCmyk(cmyk.data(), cmyk.size() / 4, false);
    conversion.ApplyToCmyk(cmyk.data(), cmyk.size() / 4, true);
  } catch (const EColourProfile&) {
  }
}

void UseMetadata(TImageMetadata m) {
  if (!m.Exif.empty()) {
    try {
      (void)ExifOrientation(m.Exif);
      m.Exif = ExifForOutput(m.Exif, 1, 640, 480);
      (void)ExifOrientation(m.Exif);  // what was written must read back
    } catch (const EMetadata&) {
      m.Exif.clear();
    }
  }
  if (!m.Xmp.empty()) {
    try {
      m.Xmp = XmpForOutput(m.Xmp, 1, 640, 480);
    } catch (const EMetadata&) {
      m.Xmp.clear();
    }
  }
  if (!m.IccProfile.empty()) UseProfile(m.IccProfile);

  // Written into both formats, and read back out of them.
  std::vector<uint8_t> jpeg{0xFF, 0xD8};
  for (const TJpegSegment& s : JpegMetadataSegments(m)) {
    const size_t length = s.Payload.size() + 2;
    jpeg.insert(jpeg.end(), {0xFF, uint8_t(s.Marker), uint8_t(length >> 8), uint8_t(length)});
    jpeg.insert(jpeg.end(), s.Payload.begin(), s.Payload.end());
  }
  jpeg.insert(jpeg.end(), {0xFF, 0xD9});
  (void)ReadJpegMetadata(jpeg.data(), jpeg.size());

  TPNGObject png;
  png.Assign(TBitmap(2, 2, TPixelFormat::pf24bit));
  png.AddMetadata(m);
  TMemoryStream out;
  png.SaveToStream(out);
  out.Seek(0);
  TPNGObject back;
  back.LoadFromStream(out);
  (void)back.EmbeddedMetadata();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  const std::vector<uint8_t> rest(data + 1, data + size);
  try {
    switch (mode % 5) {
      case 0:
        UseMetadata(ReadJpegMetadata(rest.data(), rest.size()));
        break;
      case 1: {
        TPNGObject png;
        TMemoryStream in(rest);
        try {
          png.LoadFromStream(in);
        } catch (const Exception&) {
          // Chunks read before the error are kept; their metadata still counts.
        }
        UseMetadata(png.EmbeddedMetadata());
        break;
      }
      case 2: {
        TImageMetadata m;
        m.Exif = rest;
        UseMetadata(std::move(m));
        break;
      }
      case 3: {
        TImageMetadata m;
        m.Xmp.assign(rest.begin(), rest.end());
        UseMetadata(std::move(m));
        break;
      }
      default:
        UseProfile(rest);
        break;
    }
  } catch (const Exception&) {
  }
  return 0;
}
