#include "formats/all/standard_formats.h"

#include <mutex>

#include "formats/bmp/bitmap.h"
#include "formats/ico/icon.h"
#include "formats/png/png_object.h"
#include "formats/registry.h"

namespace pellavo {

void RegisterStandardFormats() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterFormat("ico", "Icons", TIcon::StaticClass());
    RegisterFormat("bmp", "Bitmaps", TBitmap::StaticClass());

    RegisterFormat("PNG", "Portable Network Graphics", TPNGObject::StaticClass());
  });
}

}  // namespace pellavo
