#include "app/version.h"

namespace pellavo {

std::string WindowCaption(std::string_view version) { return "Pellavo (ver: " + std::string(version) + ")"; }

}  // namespace pellavo
