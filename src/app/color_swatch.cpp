#include "app/color_swatch.h"

#include <QPainter>

namespace pellavo {

TColorSwatch::TColorSwatch(QWidget* parent) : QWidget(parent) {}

void TColorSwatch::SetColor(const QColor& color) {
  if (color == color_) return;
  color_ = color;
  update();
}

void TColorSwatch::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QColor(0xC0, 0xC0, 0xC0));
  painter.setBrush(color_);
  const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  const qreal corner = std::min(box.width(), box.height()) / 4;
  painter.drawRoundedRect(box, corner, corner);
}

}  // namespace pellavo
