#pragma once
// Playback of the two record sets onto a Cairo context whose user space is the target pixels.
#include <cairo.h>

#include <cstdint>
#include <vector>

#include "core/rect.h"

namespace pellavo::metafile {

struct TEmfInfo {
  int32_t Bounds[4] = {0, 0, 0, 0};  // device units, inclusive
  int32_t Frame[4] = {0, 0, 0, 0};   // 0.01 mm
  double DevicePerHmmX = 96.0 / 2540, DevicePerHmmY = 96.0 / 2540;  // device units per 0.01 mm
  uint32_t HeaderSize = 0;
};

// Reads the header record of an EMF held whole in data; false when it is not one.
bool ParseEmfHeader(const uint8_t* data, size_t size, TEmfInfo& info);

// The picture's extent in 0.01 mm: the frame, or the bounds when the frame is empty.
void EmfSizeHmm(const TEmfInfo& info, int32_t& w, int32_t& h);

// Plays the records so that the picture fills rect; area is the part of the target that cr's
// surface holds.
void PlayEmf(const std::vector<uint8_t>& emf, cairo_t* cr, const TRect& area, const TRect& rect);
void PlayWmf(const std::vector<uint8_t>& wmf, const int16_t bbox[4], uint16_t inch, cairo_t* cr,
             const TRect& area, const TRect& rect);

}  // namespace pellavo::metafile
