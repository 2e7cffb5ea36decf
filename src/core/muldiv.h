#pragma once
#include <cstdint>

namespace pellavo {

// a * b / c through a 64-bit intermediate, rounded to nearest with halves away from zero.
// Returns -1 when c is 0 or the result does not fit in 32 bits; callers rely on -1 to
// produce an empty rectangle rather than a huge one.
int32_t MulDiv(int32_t a, int32_t b, int32_t c);

}  // namespace pellavo
