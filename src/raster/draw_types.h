#pragma once
#include <cstdint>
#include <functional>

#include "core/color.h"
#include "core/rect.h"
#include "core/stretch_filters.h"

namespace pellavo {

enum TDrawMode : uint8_t { dmOpaque = 0, dmBlend = 1, dmCustom = 2, dmTransparent = 3 };
enum TCombineMode : uint8_t { cmBlend = 0, cmMerge = 1 };
enum TWrapMode : uint8_t { wmClamp = 0, wmRepeat = 1, wmMirror = 2 };
enum TPixelAccessMode : uint8_t { pamUnsafe = 0, pamSafe = 1, pamWrap = 2 };
enum TKernelMode : uint8_t { kmDynamic = 0, kmTableNearest = 1, kmTableLinear = 2 };

// Foreground pixel, background pixel (written in place), master alpha.
using TPixelCombineEvent = std::function<void(TColor32 f, TColor32& b, uint32_t master)>;

// Info word of an area change that covers a rectangle.
inline constexpr uint32_t AREAINFO_RECT = 0x80000000u;

}  // namespace pellavo
