#include "app/outcome_marks.h"

#include <QPainter>
#include <QPixmap>
#include <array>

namespace pellavo {
namespace {

QIcon DrawMark(TFileStatus status) {
  // Drawn at twice the size, so a screen scaled by 2 gets sharp lines too.
  constexpr int kSize = 32;
  QPixmap pixmap(kSize, kSize);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  QPen pen;
  pen.setWidthF(kSize / 7.0);
  pen.setCapStyle(Qt::RoundCap);
  pen.setJoinStyle(Qt::RoundJoin);
  switch (status) {
    case TFileStatus::Written:
      pen.setColor(QColor(0x1E, 0x8E, 0x3E));
      painter.setPen(pen);
      painter.drawPolyline(QPolygonF({QPointF(6, 17), QPointF(13, 24), QPointF(26, 8)}));
      break;
    case TFileStatus::Failed:
      pen.setColor(QColor(0xD0, 0x1C, 0x1C));
      painter.setPen(pen);
      painter.drawLine(QPointF(8, 8), QPointF(24, 24));
      painter.drawLine(QPointF(24, 8), QPointF(8, 24));
      break;
    case TFileStatus::Skipped:
      pen.setColor(QColor(0x80, 0x80, 0x80));
      painter.setPen(pen);
      painter.drawLine(QPointF(8, 16), QPointF(24, 16));
      break;
  }
  painter.end();
  return QIcon(pixmap);
}

}  // namespace

std::array<QIcon, 3> OutcomeIcons() {
  return {DrawMark(TFileStatus::Written), DrawMark(TFileStatus::Failed), DrawMark(TFileStatus::Skipped)};
}

}  // namespace pellavo
