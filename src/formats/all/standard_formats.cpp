#include "formats/all/standard_formats.h"

#include <mutex>

#include "formats/avif/avif_image.h"
#include "formats/bmp/bitmap.h"
#include "formats/gif/gif_image.h"
#include "formats/heif/heif_image.h"
#include "formats/ico/icon.h"
#include "formats/jpeg/jpeg.h"
#include "formats/jpeg2000/jpeg2000_bitmap.h"
#include "formats/jxl/jxl_image.h"
#include "formats/metafile/metafile.h"
#include "formats/png/png_object.h"
#include "formats/tiff/tiff_image.h"
#include "formats/webp/webp_image.h"

namespace pellavo {

TFileFormatsList StandardFormats() {
  return TFileFormatsList({
      // The newer formats stand first: the filter string lists the latest registered first, so
      // the text of the first formats keeps its order and these follow it.
      {"jxl", "JPEG XL Image", &TJxlImage::StaticClass()},
      {"tiff", "TIFF Image", &TTiffImage::StaticClass()},
      {"tif", "TIFF Image", &TTiffImage::StaticClass()},
      {"heif", "HEIF Image", &THeifImage::StaticClass()},
      {"heic", "HEIF Image", &THeifImage::StaticClass()},
      {"avif", "AVIF Image", &TAvifImage::StaticClass()},
      {"webp", "WebP Image", &TWebPImage::StaticClass()},
      {"wmf", "Metafiles", &TMetafile::StaticClass()},
      {"emf", "Enhanced Metafiles", &TMetafile::StaticClass()},
      {"ico", "Icons", &TIcon::StaticClass()},
      {"bmp", "Bitmaps", &TBitmap::StaticClass()},
      {"jpeg", "JPEG Image File", &TJPEGImage::StaticClass()},
      {"jpg", "JPEG Image File", &TJPEGImage::StaticClass()},
      {"jp2", "JPEG 2000 Image", &TJpeg2000Bitmap::StaticClass()},
      {"j2k", "JPEG 2000 Image", &TJpeg2000Bitmap::StaticClass()},
      {"jpc", "JPEG 2000 Image", &TJpeg2000Bitmap::StaticClass()},
      {"PNG", "Portable Network Graphics", &TPNGObject::StaticClass()},
      {"GIF", "GIF Image", &TGIFImage::StaticClass()},
  });
}

void RegisterStandardFormats() {
  static std::once_flag once;
  std::call_once(once, [] { InstallFileFormats(StandardFormats()); });
}

}  // namespace pellavo
