#include <atomic>
#include <cstdlib>
#include <cstring>

#include "raster/simd/routines.h"
#include "raster/simd_level.h"

namespace pellavo {
namespace {

const simd::TPixelRoutines* RoutinesFor(TSimdLevel level) {
  if (level == TSimdLevel::AVX2 && simd::Avx2Routines()) return simd::Avx2Routines();
  if (level >= TSimdLevel::SSE2 && simd::Sse2Routines()) return simd::Sse2Routines();
  return &simd::kScalarRoutines;
}

TSimdLevel Detect() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  if (simd::Avx2Routines() && __builtin_cpu_supports("avx2")) return TSimdLevel::AVX2;
  if (simd::Sse2Routines() && __builtin_cpu_supports("sse2")) return TSimdLevel::SSE2;
#endif
  return TSimdLevel::Scalar;
}

TSimdLevel FromEnvironment(TSimdLevel detected) {
  const char* v = std::getenv("PELLAVO_SIMD");
  if (!v) return detected;
  TSimdLevel wanted = detected;
  if (std::strcmp(v, "scalar") == 0) wanted = TSimdLevel::Scalar;
  else if (std::strcmp(v, "sse2") == 0) wanted = TSimdLevel::SSE2;
  else if (std::strcmp(v, "avx2") == 0) wanted = TSimdLevel::AVX2;
  return wanted < detected ? wanted : detected;
}

struct TState {
  TSimdLevel detected;
  std::atomic<TSimdLevel> level;
  std::atomic<const simd::TPixelRoutines*> routines;

  TState() : detected(Detect()), level(FromEnvironment(detected)), routines(RoutinesFor(level.load())) {}
};

// The routine table of the program: fixed on first use, changed only by SetSimdLevel.
TState& State() {
  static TState state;
  return state;
}

}  // namespace

TSimdLevel DetectedSimdLevel() { return State().detected; }

TSimdLevel SimdLevel() { return State().level.load(std::memory_order_relaxed); }

TSimdLevel SetSimdLevel(TSimdLevel level) {
  TState& s = State();
  if (level > s.detected) level = s.detected;
  s.routines.store(RoutinesFor(level), std::memory_order_release);
  s.level.store(level, std::memory_order_relaxed);
  return level;
}

const char* SimdLevelName(TSimdLevel level) {
  switch (level) {
    case TSimdLevel::AVX2: return "avx2";
    case TSimdLevel::SSE2: return "sse2";
    default: return "scalar";
  }
}

namespace simd {
const TPixelRoutines& Routines() { return *State().routines.load(std::memory_order_acquire); }
}  // namespace simd

}  // namespace pellavo
