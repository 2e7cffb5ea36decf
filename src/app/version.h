#pragma once
#include <string>
#include <string_view>

namespace pellavo {

// The build's version padded to the four parts a.b.c.d ("0.1" gives "0.1.0.0"); empty stays
// empty.
std::string FourPartVersion(std::string_view version);
// "Pellavo (ver: a.b.c.d)"; without a version "Pellavo (ver: )".
std::string WindowCaption(std::string_view version);
// The version the build system gave this program.
std::string BuildVersion();

}  // namespace pellavo
