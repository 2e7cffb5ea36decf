#pragma once
#include <QColor>
#include <QWidget>

#include "app/screen_pixel_source.h"

class QAccessibleInterface;

namespace pellavo {

// Shape1: the border colour swatch, a small rounded rectangle with a silver outline, filled
// with the colour the run draws borders in.
//
// A left press starts a pick: while the button is held, every move of the mouse, over the
// swatch or anywhere on the screen, takes the colour of the screen pixel under the cursor; the
// release ends the pick. A click without a move changes nothing. A right press asks for the
// colour dialog (ColorDialogRequested), which the window runs; so do Space and Enter, as the
// swatch takes the keyboard focus like a button. A disabled swatch takes no input at all.
class TColorSwatch final : public QWidget {
  Q_OBJECT
 public:
  explicit TColorSwatch(QWidget* parent = nullptr);

  QColor Color() const { return color_; }
  void SetColor(const QColor& color);

  // Where picks read the screen; ReadScreenPixel unless replaced.
  void SetPixelSource(TScreenPixelSource source) { source_ = std::move(source); }
  // PickingColor: a left press has started a pick that no release has ended yet.
  bool Picking() const { return picking_; }

 signals:
  void ColorDialogRequested();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  QColor color_ = Qt::white;
  TScreenPixelSource source_ = ReadScreenPixel;
  bool picking_ = false;
};

// The accessibility factory that presents a swatch as a button whose press opens the colour
// dialog; the application installs it. Nothing for other objects.
QAccessibleInterface* ColorSwatchAccessible(const QString& class_name, QObject* object);

}  // namespace pellavo
