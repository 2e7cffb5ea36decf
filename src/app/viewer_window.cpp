#include "app/viewer_window.h"

#include <QGuiApplication>
#include <QScreen>
#include <exception>

#include "app/desktop_actions.h"
#include "app/dialogs.h"
#include "app/picture_view.h"
#include "app/viewer_picture.h"
#include "core/errors.h"

namespace pellavo {

std::string FileErrorText(const std::string& path) {
  std::string text = CurrentErrorReason();
  if (text.find(path) == std::string::npos) text += "\n\n" + path;
  return text;
}

TViewerWindow::TViewerWindow(QWidget& main, TDialogs& dialogs, TDesktopActions& desktop)
    : QWidget(&main, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                         Qt::WindowStaysOnTopHint),
      main_(main),
      dialogs_(dialogs),
      desktop_(desktop),
      image_(new TPictureView(this)) {
  setObjectName(QStringLiteral("TForm2"));
  SetCaption(QStringLiteral("Viewer"));
  QFont small = font();
  small.setPixelSize(11);
  setFont(small);
  // Closing only hides: the viewer lives as long as the main window.
  setAttribute(Qt::WA_DeleteOnClose, false);
  resize(kViewerClientWidth, kViewerClientHeight);

  image_->setObjectName(QStringLiteral("Image1"));
  image_->setAccessibleName(QStringLiteral("Picture"));
  image_->setGeometry(rect());
  connect(image_, &TPictureView::DoubleClicked, this, &TViewerWindow::OpenExternally);

  frame_timer_.setSingleShot(true);
  // A coarse timer may fire early, and a frame must stay for its whole delay.
  frame_timer_.setTimerType(Qt::PreciseTimer);
  connect(&frame_timer_, &QTimer::timeout, this, &TViewerWindow::NextFrame);
}

TViewerWindow::~TViewerWindow() = default;

void TViewerWindow::ShowFile(const std::string& path) {
  file_name_ = path;
  const QScreen* screen = main_.screen();
  const QSize largest = screen ? screen->availableSize() * screen->devicePixelRatio() : size();
  const QColor window = palette().color(QPalette::Window);
  // Built whole before anything changes, so a failure leaves the viewer as it was.
  auto next = std::make_unique<TViewerPicture>(path, size(), largest, window.rgb());
  frame_timer_.stop();
  picture_ = std::move(next);
  SetCaption(QStringLiteral("Viewer -%1 x %2").arg(picture_->FullSize().width()).arg(picture_->FullSize().height()));
  ShowPicture();
  if (isVisible()) {
    StartFrameTimer();
    raise();
    return;
  }
  if (!placed_) {
    // The frame is not known before the first showing; the window manager gives it the main
    // window's margins.
    const QRect main = main_.frameGeometry();
    const QSize frame = size() + main.size() - main_.size();
    move(main.topLeft() + QPoint((main.width() - frame.width()) / 2, (main.height() - frame.height()) / 2));
    placed_ = true;
  }
  show();  // starts the frame timer
}

void TViewerWindow::SetCaption(const QString& caption) {
  setWindowTitle(caption);
  // Announced as shown.
  setAccessibleName(caption);
}

void TViewerWindow::ShowPicture() { image_->SetPicture(picture_->Image(), picture_->FullSize()); }

void TViewerWindow::StartFrameTimer() {
  if (!picture_) return;
  if (const std::optional<int> delay = picture_->FrameDelayMs()) frame_timer_.start(*delay);
}

void TViewerWindow::NextFrame() {
  try {
    picture_->NextFrame();
  } catch (const std::exception&) {
    // A frame that cannot be drawn ends the animation on the one before it.
    dialogs_.Message(FileErrorText(file_name_));
    return;
  }
  ShowPicture();
  emit FrameShown(picture_->Frame());
  StartFrameTimer();
}

void TViewerWindow::OpenExternally() { desktop_.OpenFile(file_name_); }

void TViewerWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  image_->setGeometry(rect());
  if (!picture_) return;
  try {
    if (picture_->ShowAt(size())) ShowPicture();
  } catch (const std::exception&) {
    // The picture stays as it was decoded before.
    dialogs_.Message(FileErrorText(file_name_));
  }
}

void TViewerWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!frame_timer_.isActive()) StartFrameTimer();
}

void TViewerWindow::hideEvent(QHideEvent* event) {
  // Nobody sees a hidden animation; it goes on from the same frame when shown again.
  frame_timer_.stop();
  QWidget::hideEvent(event);
}

}  // namespace pellavo
