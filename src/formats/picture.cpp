#include "formats/picture.h"

#include "core/errors.h"
#include "core/paths.h"
#include "formats/registry.h"

namespace pellavo {

void TPicture::ReadFromFile(const std::string& path, const TDecodeLimits& limits) {
  std::string ext = ExtractFileExt(path);
  if (!ext.empty()) ext.erase(0, 1);
  const TGraphicClass* cls = FindByExtension(ext);
  if (!cls) throw EInvalidGraphic("Unknown picture file extension (." + ext + ")");
  std::unique_ptr<TGraphic> graphic = cls->Create();
  graphic->SetDecodeLimits(limits);
  graphic->ReadFromFile(path);
  graphic_ = std::move(graphic);
}

TBitmap& TPicture::Bitmap() {
  if (!graphic_ || !graphic_->Is(TBitmap::StaticClass())) graphic_ = std::make_unique<TBitmap>();
  return static_cast<TBitmap&>(*graphic_);
}

void TPicture::Assign(const TGraphic& source) {
  std::unique_ptr<TGraphic> copy = source.Class().Create();
  copy->Assign(source);
  graphic_ = std::move(copy);
}

}  // namespace pellavo
