#include "app/color_swatch.h"

#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>

namespace pellavo {
namespace {

// A screen reader announces the swatch as a button named by its accessible name ("Border
// color"), and can press it.
class TSwatchAccessible final : public QAccessibleWidget {
 public:
  explicit TSwatchAccessible(TColorSwatch* swatch) : QAccessibleWidget(swatch, QAccessible::Button) {}

  QStringList actionNames() const override { return QAccessibleWidget::actionNames() << pressAction(); }
  void doAction(const QString& name) override {
    auto* swatch = static_cast<TColorSwatch*>(widget());
    if (name == pressAction()) {
      if (swatch->isEnabled()) emit swatch->ColorDialogRequested();
      return;
    }
    QAccessibleWidget::doAction(name);
  }
};

}  // namespace

QAccessibleInterface* ColorSwatchAccessible(const QString& class_name, QObject* object) {
  if (class_name != QLatin1String(TColorSwatch::staticMetaObject.className()) || !object->isWidgetType()) return nullptr;
  return new TSwatchAccessible(static_cast<TColorSwatch*>(object));
}

TColorSwatch::TColorSwatch(QWidget* parent) : QWidget(parent) {
  // Tab and a click both reach it, as they reach a button.
  setFocusPolicy(Qt::StrongFocus);
}

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
  if (hasFocus()) {
    // The focus shows as the highlight colour's outline, over the silver one.
    QPen pen(palette().color(QPalette::Highlight));
    pen.setWidthF(2);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const QRectF ring = QRectF(rect()).adjusted(1, 1, -1, -1);
    painter.drawRoundedRect(ring, corner, corner);
  }
}

void TColorSwatch::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (!event->isAutoRepeat()) emit ColorDialogRequested();
      event->accept();
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}

void TColorSwatch::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  update();
}

void TColorSwatch::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  update();
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
