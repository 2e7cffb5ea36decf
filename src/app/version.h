#pragma once
#include <string>
#include <string_view>

namespace pellavo {

// "Pellavo (ver: a.b.c.d)"; without a version "Pellavo (ver: )".
std::string WindowCaption(std::string_view version);

}  // namespace pellavo
