#include "formats/all/standard_formats.h"

#include <mutex>

#include "formats/bmp/bitmap.h"
#include "formats/gif/gif_image.h"
#include "formats/ico/icon.h"
#include "formats/jpeg/jpeg.h"
#include "formats/jpeg2000/jpeg2000_bitmap.h"
#include "formats/png/png_object.h"
#include "formats/metafile/metafile.h"
#include "formats/registry.h"

namespace pellavo {

void RegisterStandardFormats() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterFormat("wmf", "Metafiles", TMetafile::StaticClass());
    RegisterFormat("emf", "Enhanced Metafiles", TMetafile::StaticClass());
    RegisterFormat("ico", "Icons", TIcon::StaticClass());
    RegisterFormat("bmp", "Bitmaps", TBitmap::StaticClass());
    RegisterFormat("jpeg", "JPEG Image File", TJPEGImage::StaticClass());
    RegisterFormat("jpg", "JPEG Image File", TJPEGImage::StaticClass());
    RegisterFormat("jp2", "JPEG 2000 Image", TJpeg2000Bitmap::StaticClass());
    RegisterFormat("j2k", "JPEG 2000 Image", TJpeg2000Bitmap::StaticClass());
    RegisterFormat("jpc", "JPEG 2000 Image", TJpeg2000Bitmap::StaticClass());
    RegisterFormat("PNG", "Portable Network Graphics", TPNGObject::StaticClass());
    RegisterFormat("GIF", "GIF Image", TGIFImage::StaticClass());
  });
}

}  // namespace pellavo
