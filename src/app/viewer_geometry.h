#pragma once
#include <QSize>

#include "formats/jpeg/jpeg.h"

namespace pellavo {

// The size a picture is shown at in an area: its own size when it fits; otherwise scaled down
// until it fits, its aspect ratio kept and the other side cut to a whole number (at least one
// pixel, so a thin picture never vanishes). Never enlarged. The ratio is taken exactly, so a
// 1024 x 768 picture fills a 300 x 225 area to the pixel.
QSize FitPicture(QSize picture, QSize area);

// The strongest reduction at which a JPEG of size full still decodes to at least shown in both
// directions (a reduction by n gives each side divided by n, rounded up).
TJPEGScale JpegScaleFor(QSize full, QSize shown);

}  // namespace pellavo
