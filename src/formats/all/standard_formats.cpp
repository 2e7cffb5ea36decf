#include "formats/all/standard_formats.h"

#include <mutex>

#include "formats/bmp/bitmap.h"
#include "formats/gif/gif_image.h"
#include "formats/ico/icon.h"
#include "formats/registry.h"

namespace pellavo {

void RegisterStandardFormats() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterFormat("ico", "Icons", TIcon::StaticClass());
    RegisterFormat("bmp", "Bitmaps", TBitmap::StaticClass());
    RegisterFormat("gif", "GIF Image", TGIFImage::StaticClass());
  });
}

}  // namespace pellavo
