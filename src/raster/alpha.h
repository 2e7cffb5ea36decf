#pragma once
// Transparency around the resampler. The resampler filters the four channels alike; filtering
// straight colour lets the colour of invisible pixels bleed into visible edges (the dark fringe
// of a transparent black background). So a source with transparency is multiplied by its alpha
// before it is resampled and divided again afterwards; opaque sources take none of these passes.
#include "core/color.h"
#include "core/rect.h"

namespace pellavo {

class TBitmap32;
class TPicture;

// Loads the picture's image into the surface with its transparency: straight colour and alpha,
// transparent pixels with alpha 0. Graphics that paint every pixel opaque come out exactly as
// through TBitmap32::Assign. A 32-bit bitmap whose fourth bytes are all 0 holds no alpha (old
// writers leave that byte unused) and comes out opaque.
void AssignWithAlpha(TBitmap32& surface, const TPicture& picture);

// Whether any pixel's alpha is below 255.
bool HasTransparency(const TBitmap32& surface);

// Colour := colour x alpha / 255, rounded.
void PremultiplyAlpha(TBitmap32& surface);
// The inverse, within r: colour := colour x 255 / alpha, rounded and held to 255 (a filter with
// negative lobes can leave colour above alpha); pixels of alpha 0 become transparent black.
void UnpremultiplyAlpha(TBitmap32& surface, const TRect& r);

// Lays the straight-colour pixels within r onto an opaque background colour; the result is
// opaque.
void ComposeOnto(TBitmap32& surface, const TRect& r, TColor32 background);

}  // namespace pellavo
