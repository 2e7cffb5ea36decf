#pragma once
#include <QColor>
#include <QWidget>

namespace pellavo {

// Shape1: the border colour swatch, a small rounded rectangle with a silver outline, filled
// with the colour the run draws borders in.
class TColorSwatch final : public QWidget {
  Q_OBJECT
 public:
  explicit TColorSwatch(QWidget* parent = nullptr);

  QColor Color() const { return color_; }
  void SetColor(const QColor& color);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor color_ = Qt::white;
};

}  // namespace pellavo
