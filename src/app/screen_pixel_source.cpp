#include "app/screen_pixel_source.h"

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

namespace pellavo {

std::optional<QColor> ReadScreenPixel(const QPoint& global) {
  QScreen* screen = QGuiApplication::screenAt(global);
  if (!screen) return std::nullopt;
  // Window 0 is the whole screen, addressed from the screen's own top left corner.
  const QPoint at = global - screen->geometry().topLeft();
  const QImage pixel = screen->grabWindow(0, at.x(), at.y(), 1, 1).toImage();
  if (pixel.isNull() || pixel.width() < 1 || pixel.height() < 1) return std::nullopt;
  // Only the colour counts: the swatch holds an RGB value.
  return QColor(pixel.pixel(0, 0)).toRgb();
}

}  // namespace pellavo
