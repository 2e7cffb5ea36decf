#pragma once
// An independent PNG reader and writer for the tests, over the system's libpng.
#include <cstdint>
#include <string>
#include <vector>

#include "core/color.h"

namespace pellavo::test {

struct TReferenceImage {
  uint32_t Width = 0, Height = 0;
  uint32_t Gamma = 0;           // the gAMA value, 0 when absent
  std::vector<TColor32> Pixels;  // top row first; tRNS and alpha as alpha, 16-bit samples cut to their high byte
};

// Decodes a PNG; throws std::runtime_error with libpng's message on failure.
TReferenceImage ReferenceDecode(const std::vector<uint8_t>& png);

// The same image, samples and palette unchanged, written Adam7-interlaced.
std::vector<uint8_t> ReferenceInterlacedCopy(const std::vector<uint8_t>& png);

}  // namespace pellavo::test
