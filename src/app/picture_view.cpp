#include "app/picture_view.h"

#include <QMouseEvent>
#include <QPainter>

#include "app/viewer_geometry.h"

namespace pellavo {

TPictureView::TPictureView(QWidget* parent) : QWidget(parent) {
  // Every pixel is painted, the picture's or the background's.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPictureView::SetPicture(const QImage& image, QSize picture_size) {
  image_ = image;
  picture_size_ = picture_size;
  scaled_ = QImage();
  update();
}

QRect TPictureView::PictureRect() const { return QRect(QPoint(0, 0), FitPicture(picture_size_, size())); }

void TPictureView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect shown = PictureRect();
  if (!image_.isNull() && !shown.isEmpty()) {
    if (image_.size() == shown.size()) {
      painter.drawImage(shown.topLeft(), image_);
    } else {
      if (scaled_.size() != shown.size())
        scaled_ = image_.scaled(shown.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
      painter.drawImage(shown.topLeft(), scaled_);
    }
  }
  // The rest of the area shows the window's background, as the picture's transparent parts do.
  const QRegion rest = QRegion(rect()).subtracted(image_.isNull() ? QRegion() : QRegion(shown));
  for (const QRect& r : rest) painter.fillRect(r, palette().color(QPalette::Window));
}

void TPictureView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) emit DoubleClicked();
  QWidget::mouseDoubleClickEvent(event);
}

}  // namespace pellavo
