#include "formats/all/standard_formats.h"

#include <mutex>

#include "formats/bmp/bitmap.h"
#include "formats/ico/icon.h"
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
  });
}

}  // namespace pellavo
