#pragma once
#include <QImage>
#include <QWidget>

namespace pellavo {

// Image1: shows a picture at the top left, at its own size when it fits and scaled down to fit
// otherwise (FitPicture), again on every resize. Scaling is smooth, from whatever image it is
// given: a picture decoded or drawn smaller than its own size is shown as if it had its own.
class TPictureView final : public QWidget {
  Q_OBJECT
 public:
  explicit TPictureView(QWidget* parent = nullptr);

  // image holds the picture of size picture_size, possibly at a smaller size. An image that is a
  // view of pixels that change must be given again after each change.
  void SetPicture(const QImage& image, QSize picture_size);
  // The image last given.
  const QImage& Image() const { return image_; }
  // Where the picture is drawn, in the view's coordinates.
  QRect PictureRect() const;

 signals:
  void DoubleClicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  QImage image_;
  QSize picture_size_;
  QImage scaled_;  // image_ at the size last drawn, so that a repaint does not scale again
};

}  // namespace pellavo
