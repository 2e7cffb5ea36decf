#pragma once
#include <cstdint>

#include "batch/run_settings.h"
#include "core/rect.h"

namespace pellavo {

// What decides the size of an output.
struct TTargetRule {
  TSizeMode SizeMode = TSizeMode::Largest;  // Percent sizes like Largest, its value turned into pixels
  int SizeValue = 0;                        // pixels
  TWideMode WideMode = TWideMode::None;
  // A target larger than the part of the source it shows becomes that part's own size.
  bool NoEnlarge = false;
};

// A square picture counts as landscape.
constexpr bool IsLandscape(int32_t w, int32_t h) { return w >= h; }
// Whether the output takes the 16:9 landscape shape.
bool UseWide(const TTargetRule& rule, int32_t w, int32_t h);

// The destination rectangle of a w x h picture; its right and bottom are the output's size.
// An empty result is grown by one pixel on every side, so the output is never empty. With
// NoEnlarge the output never has more pixels across or down than the source shows: a source
// already within the target keeps its size (a 16:9 output, the size of its band of the source).
TRect ComputeTarget(const TTargetRule& rule, int32_t w, int32_t h);

// The part of a sw x sh source that a 16:9 output of W x H shows: a centred band of the
// target's aspect ratio, full width when the source is narrower than that aspect, full height
// when it is wider.
TRect WideCrop(int32_t sw, int32_t sh, int32_t W, int32_t H);

}  // namespace pellavo
