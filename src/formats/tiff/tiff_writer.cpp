#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "formats/tiff/tiff_file.h"
#include "formats/tiff/tiff_image.h"
#include "metadata/exif_blocks.h"

namespace pellavo {
namespace {

using tiff_detail::TTiffFile;

// Strips of about this many bytes before compression: large enough that Deflate finds its
// matches, small enough that a reader holds little at a time.
constexpr size_t kStripBytes = size_t{256} << 10;
// zlib's level 6: the usual balance of time and size.
constexpr int kDeflateLevel = 6;

}  // namespace

void TTiffImage::SaveToStream(TStream& stream) {
  const int32_t w = Width(), h = Height();
  if (w <= 0 || h <= 0) throw ETiffError("Cannot write an empty image as TIFF");
  std::optional<TBitmap> converted;
  const TBitmap& source = RgbOrRgbaPixels(*this, converted);
  const int in_bytes = source.BitsPerPixel() / 8;
  const int samples = in_bytes == 4 && KeepAlpha && !source.AllOpaque() ? 4 : 3;

  std::vector<uint8_t> bytes;
  std::string error;
  {
    const std::unique_ptr<TTiffFile> file = TTiffFile::OpenWrite(bytes, error);
    if (!file) throw ETiffError("Cannot write TIFF: " + error);
    TIFF* tif = file->Handle();
    const size_t row_bytes = size_t(w) * size_t(samples);
    const uint32_t rows_per_strip = uint32_t(std::clamp<size_t>(kStripBytes / row_bytes, 1, size_t(h)));
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(w));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(h));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tif, TIFFTAG_ZIPQUALITY, kDeflateLevel);
    // Differences from the left neighbour compress photographs far better than the samples.
    TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rows_per_strip);
    if (samples == 4) {
      const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
      TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    if (!Metadata.IccProfile.empty())
      TIFFSetField(tif, TIFFTAG_ICCPROFILE, uint32_t(Metadata.IccProfile.size()), Metadata.IccProfile.data());
    if (!Metadata.Xmp.empty()) TIFFSetField(tif, TIFFTAG_XMLPACKET, uint32_t(Metadata.Xmp.size()), Metadata.Xmp.data());

    std::vector<uint8_t> row(row_bytes);
    for (int32_t y = 0; y < h; ++y) {
      const uint8_t* in = source.ScanLine(y);
      for (int32_t x = 0; x < w; ++x, in += in_bytes) {
        uint8_t* out = row.data() + size_t(x) * size_t(samples);
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
        if (samples == 4) out[3] = in[3];
      }
      if (TIFFWriteScanline(tif, row.data(), uint32_t(y), 0) != 1)
        throw ETiffError("Cannot write TIFF: " + file->FirstError());
    }
    if (!file->Close()) throw ETiffError("Cannot write TIFF: " + file->FirstError());
  }
  if (!Metadata.Exif.empty()) {
    try {
      bytes = TiffWithExif(bytes, Metadata.Exif);
    } catch (const EMetadata&) {
      // As a JPEG leaves out a block too large for its segment: the image matters more.
    }
  }
  stream.Write(bytes.data(), bytes.size());
}

}  // namespace pellavo
