#pragma once
#include <QImage>
#include <QSize>

#include "core/color.h"

namespace pellavo {

class TGraphic;

// Both hold a pixel as the 32-bit value 0xAARRGGBB, whatever the byte order, so the engine's
// pixels and Qt's images share one layout and need no conversion.
inline constexpr QImage::Format kPixelFormat = QImage::Format_RGB32;

// A new opaque image of size with graphic drawn into all of it over background. The graphic's
// decoder writes straight into the image's rows: a JPEG drawn at its decoded size is decoded
// into them, and nothing is copied afterwards. Throws the graphic's error; EOutOfMemory when the
// image cannot be had.
QImage DrawToImage(TGraphic& graphic, QSize size, TColor32 background);

// The pixels as a read-only image, without copying them: it sees their changes and must not
// outlive them.
QImage ImageView(const TColor32* pixels, int32_t width, int32_t height);

}  // namespace pellavo
