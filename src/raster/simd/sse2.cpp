#include "raster/simd/routines.h"

namespace pellavo::simd {
const TPixelRoutines* Sse2Routines() { return nullptr; }
}  // namespace pellavo::simd
