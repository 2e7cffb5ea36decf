#include "formats/graphic.h"

#include <algorithm>

#include "core/errors.h"
#include "core/files.h"

namespace pellavo {

bool TGraphicClass::DerivesFrom(const TGraphicClass& base) const {
  for (const TGraphicClass* c = this; c; c = c->Parent)
    if (c == &base) return true;
  return false;
}

const TGraphicClass& TGraphic::StaticClass() {
  static const TGraphicClass cls{"TGraphic", nullptr, nullptr};
  return cls;
}

void TGraphic::Assign(const TGraphic& source) {
  if (source.AssignTo(*this)) return;
  throw EInvalidGraphic(std::string("Cannot assign a ") + source.Class().Name + " to a " + Class().Name);
}

bool TGraphic::AssignTo(TGraphic&) const { return false; }

uint64_t TGraphic::HeldBytes() const {
  return DecodedImageBytes(uint64_t(std::max(Width(), 0)), uint64_t(std::max(Height(), 0)));
}

void TGraphic::SetWidth(int32_t) {
  throw EInvalidGraphicOperation(std::string("Cannot change the size of a ") + Class().Name);
}

void TGraphic::SetHeight(int32_t) {
  throw EInvalidGraphicOperation(std::string("Cannot change the size of a ") + Class().Name);
}

void TGraphic::ReadFromFile(const std::string& path) {
  TFileStream file = TFileStream::OpenRead(path);
  LoadFromStream(file);
}

void TGraphic::WriteToFile(const std::string& path) {
  TSafeOutput out(path, true);
  SaveToStream(out.Stream());
  out.Commit();
}

}  // namespace pellavo
