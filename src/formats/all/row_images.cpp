#include "formats/all/row_images.h"

#include <array>

#include "core/paths.h"
#include "formats/jpeg/jpeg.h"
#include "formats/jpeg/jpeg_rows.h"
#include "formats/png/png_object.h"
#include "formats/png/png_rows.h"
#include "formats/registry.h"

namespace pellavo {
namespace {

struct TRowReaderOf {
  const TGraphicClass& (*Class)();
  std::unique_ptr<TRowImage> (*Open)(const std::string& path, const TDecodeLimits& limits);
};

// The graphic classes whose files can be read row by row.
const std::array<TRowReaderOf, 2> kRowReaders = {{
    {&TPNGObject::StaticClass, &OpenPngRows},
    {&TJPEGImage::StaticClass, &OpenJpegRows},
}};

}  // namespace

std::unique_ptr<TRowImage> OpenRowImage(const std::string& path, const TDecodeLimits& limits) {
  std::string ext = ExtractFileExt(path);
  if (!ext.empty()) ext.erase(0, 1);
  const TGraphicClass* cls = FindByExtension(ext);
  if (!cls) return nullptr;
  for (const TRowReaderOf& r : kRowReaders)
    if (cls == &r.Class()) return r.Open(path, limits);
  return nullptr;
}

}  // namespace pellavo
