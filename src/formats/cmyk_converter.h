#pragma once
#include <cstdint>
#include <functional>

namespace pellavo {

// Replaces the plain ink formula for CMYK samples, e.g. by a conversion through the file's colour
// profile: called with each decoded row of width CMYK samples (stored inverted, as Adobe's files
// have them, when adobe_inverted), it writes blue, green, red and 255 over them in place.
using TCmykConverter = std::function<void(uint8_t* row, int32_t width, bool adobe_inverted)>;

}  // namespace pellavo
