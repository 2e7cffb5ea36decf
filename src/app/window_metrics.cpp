#include "app/window_metrics.h"

#include <cfenv>
#include <cmath>

#include "core/muldiv.h"

namespace pellavo {

int WindowFontPointSize(int dpi) {
  if (dpi <= 0) dpi = 96;
  const int height = MulDiv(kButtonHeight, dpi, 96);
  // height / 2 * 72 / dpi; nearbyint rounds halves to even in the default rounding mode.
  return static_cast<int>(std::nearbyint(height * 36.0 / dpi));
}

}  // namespace pellavo
