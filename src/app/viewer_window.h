#pragma once
#include <QTimer>
#include <QWidget>
#include <memory>
#include <string>

namespace pellavo {

class TDesktopActions;
class TDialogs;
class TPictureView;
class TViewerPicture;

// The viewer's client area at 96 dots per inch: its outer size of 308 x 259 less the classic
// frame of 4 pixels on each side and a 30-pixel title bar. The window manager adds its own frame.
inline constexpr int kViewerClientWidth = 300;
inline constexpr int kViewerClientHeight = 225;

// The error being handled, for a message box about the file at path: its text and cause, then
// the file's path unless the text already names it. Call it inside a catch block only.
std::string FileErrorText(const std::string& path);

// TForm2, the viewer: shows one list entry at a time with its pixel size in the caption, plays a
// GIF of several frames, and opens the file in the desktop's program for it on a double click
// on the picture. Made hidden with the main window and only shown and hidden afterwards; the
// first showing centres it on the main window, later ones leave it where the user put it.
class TViewerWindow final : public QWidget {
  Q_OBJECT
 public:
  // main is the main window, which owns the viewer and keeps it above itself.
  TViewerWindow(QWidget& main, TDialogs& dialogs, TDesktopActions& desktop);
  ~TViewerWindow() override;

  // Loads the file and shows it, bringing the viewer up. On failure the error propagates and
  // the viewer keeps its caption, its picture and its visibility; only the file name is new.
  void ShowFile(const std::string& path);

  // ViewerFileName: the file last sent to the viewer, shown or not.
  const std::string& FileName() const { return file_name_; }

 signals:
  // A frame of an animation was painted.
  void FrameShown(int frame);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void ShowPicture();
  void NextFrame();
  void StartFrameTimer();
  void OpenExternally();
  void SetCaption(const QString& caption);

  QWidget& main_;
  TDialogs& dialogs_;
  TDesktopActions& desktop_;
  TPictureView* image_;  // Image1, owned by this window as a Qt child
  QTimer frame_timer_;
  std::unique_ptr<TViewerPicture> picture_;
  std::string file_name_;
  bool placed_ = false;
};

}  // namespace pellavo
