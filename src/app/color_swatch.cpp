#include "app/color_swatch.h"

#include <QMouseEvent>
#include <QPainter>

namespace pellavo {

TColorSwatch::TColorSwatch(QWidget* parent) : QWidget(parent) {}

void TColorSwatch::SetColor(const QColor& color) {
  const QColor rgb = QColor(color.rgb());  // an RGB value, whatever colour model or alpha it came with
  if (rgb == color_) return;
  color_ = rgb;
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

void TColorSwatch::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) emit ColorDialogRequested();
  // Any other press ends a pick; the window system keeps sending a left press's moves and its
  // release here, even from outside the window, until the button comes up.
  picking_ = event->button() == Qt::LeftButton;
  event->accept();
}

void TColorSwatch::mouseMoveEvent(QMouseEvent* event) {
  if (!picking_) return;
  // Where the screen gives no pixel, the swatch keeps its colour.
  if (const std::optional<QColor> color = source_(event->globalPosition().toPoint())) SetColor(*color);
}

void TColorSwatch::mouseReleaseEvent(QMouseEvent*) { picking_ = false; }

}  // namespace pellavo
