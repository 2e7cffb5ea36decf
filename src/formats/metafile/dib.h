#pragma once
// Device-independent bitmaps out of records, and bitmaps into Cairo image surfaces.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "formats/bmp/bitmap.h"
#include "formats/metafile/cairo_handles.h"

namespace pellavo::metafile {

// Decodes a device-independent bitmap (information header, colour table, bits) through the BMP
// reader; nullopt when it is not valid. bits may follow bmi directly or lie elsewhere.
std::optional<TBitmap> DecodeDib(const uint8_t* bmi, size_t bmi_size, const uint8_t* bits, size_t bits_size);

// A 32-bit image surface of the bitmap, each pixel as pixel(the bitmap's 32-bit pixel) makes it;
// check it with SurfaceOk.
template <class Pixel>
TSurfacePtr SurfaceOfBitmap(const TBitmap& b, Pixel&& pixel) {
  TSurfacePtr s = ImageSurface(b.Width(), b.Height());
  if (!SurfaceOk(s)) return s;
  cairo_surface_flush(s.get());
  for (int32_t y = 0; y < b.Height(); ++y) {
    uint32_t* row = ImageRow(s.get(), y);
    b.ReadRow32(y, row);
    for (int32_t x = 0; x < b.Width(); ++x) row[x] = pixel(row[x]);
  }
  cairo_surface_mark_dirty(s.get());
  return s;
}

}  // namespace pellavo::metafile
