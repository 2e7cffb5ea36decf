#include "raster/simd/routines.h"

namespace pellavo::simd {
const TPixelRoutines* Avx2Routines() { return nullptr; }
}  // namespace pellavo::simd
