#pragma once
#include <memory>
#include <string>

#include "formats/row_image.h"

namespace pellavo {

// The file as a TRowImage when its format (chosen by extension, as TPicture chooses) can be
// decoded row by row and this file allows it; nullptr otherwise, for the whole-image reader.
// Errors of the file's header are raised as that reader raises them.
std::unique_ptr<TRowImage> OpenRowImage(const std::string& path, const TDecodeLimits& limits);

}  // namespace pellavo
