#include "app/version.h"

#include <algorithm>

#ifndef PELLAVO_VERSION
#define PELLAVO_VERSION ""
#endif

namespace pellavo {

std::string FourPartVersion(std::string_view version) {
  if (version.empty()) return {};
  std::string text(version);
  for (auto parts = std::count(text.begin(), text.end(), '.') + 1; parts < 4; ++parts) text += ".0";
  return text;
}

std::string WindowCaption(std::string_view version) { return "Pellavo (ver: " + FourPartVersion(version) + ")"; }

std::string BuildVersion() { return PELLAVO_VERSION; }

}  // namespace pellavo
