#pragma once
#include <cstdint>

namespace pellavo {

// The instruction sets the pixel loops can use. Every level gives the same pixels; the scalar
// level is the reference.
enum class TSimdLevel : uint8_t { Scalar = 0, SSE2 = 1, AVX2 = 2 };

// The best level this processor and build offer.
TSimdLevel DetectedSimdLevel();
// The level in use: the detected one, or less when the environment variable PELLAVO_SIMD
// ("scalar", "sse2", "avx2") or SetSimdLevel asks for less.
TSimdLevel SimdLevel();
// Chooses the level, capped at the detected one; returns the level now in use. Meant for
// tests and benchmarks, before work starts on other threads.
TSimdLevel SetSimdLevel(TSimdLevel level);
const char* SimdLevelName(TSimdLevel level);

}  // namespace pellavo
