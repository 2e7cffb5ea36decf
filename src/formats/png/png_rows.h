#pragma once
#include <memory>
#include <string>

#include "formats/row_image.h"

namespace pellavo {

// A PNG file decoded row by row (TRowImage), or nullptr when the file cannot be: an interlaced
// image (its last pass reaches the first row), or a palette image whose palette does not come
// before the image data. Reads the chunks before the image data at once, with the checks of
// TPNGObject; the limits' image size is checked, nothing is claimed.
std::unique_ptr<TRowImage> OpenPngRows(const std::string& path, const TDecodeLimits& limits);

}  // namespace pellavo
