#pragma once
#include <cstdint>

namespace pellavo {

// 0xAARRGGBB; in memory blue, green, red, alpha, the byte order of a 32-bit bitmap row.
using TColor32 = uint32_t;

// A window-system colour value: bits 0-7 red, 8-15 green, 16-23 blue. A negative value names
// a system colour by its low byte.
using TColor = int32_t;

constexpr TColor32 kOpaque = 0xFF000000u;

constexpr uint8_t AlphaOf(TColor32 c) { return static_cast<uint8_t>(c >> 24); }
constexpr uint8_t RedOf(TColor32 c) { return static_cast<uint8_t>(c >> 16); }
constexpr uint8_t GreenOf(TColor32 c) { return static_cast<uint8_t>(c >> 8); }
constexpr uint8_t BlueOf(TColor32 c) { return static_cast<uint8_t>(c); }
constexpr TColor32 ArgbColor(uint8_t a, uint8_t r, uint8_t g, uint8_t b) {
  return TColor32{a} << 24 | TColor32{r} << 16 | TColor32{g} << 8 | b;
}

// The system colour a negative TColor names, as a non-negative TColor. The values are fixed
// (the usual desktop defaults), so that a setting stored as a system colour renders the same on
// every desktop; the index is the low byte.
TColor SystemColor(int index);

// A 32-bit pixel area that graphics draw into: rows of Width values, top row first.
struct TPixels32 {
  TColor32* Bits = nullptr;
  int32_t Width = 0;
  int32_t Height = 0;

  TColor32* Row(int32_t y) const { return Bits + static_cast<int64_t>(y) * Width; }
};

}  // namespace pellavo
