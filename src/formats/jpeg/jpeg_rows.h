#pragma once
#include <memory>
#include <string>

#include "formats/row_image.h"

namespace pellavo {

// A JPEG file decoded row by row (TRowImage) at the DecodeScale set on it, read from the disk a
// piece at a time; nullptr for an empty file and for set-ups the library serves only through
// a whole image (8-bit colour output, staged display), which the whole-image reader handles.
// Its rows are those TJPEGImage draws with the program's default settings.
std::unique_ptr<TRowImage> OpenJpegRows(const std::string& path, const TDecodeLimits& limits);

}  // namespace pellavo
