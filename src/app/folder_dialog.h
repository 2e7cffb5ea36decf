#pragma once
#include <QDialog>
#include <QTimer>

class QFileSystemModel;
class QLineEdit;
class QTreeView;

namespace pellavo {

// The classic folder chooser: a tree of the file system's folders and an edit line that holds
// the chosen folder. What is typed into the edit line is returned as it stands, whether or not
// it exists yet; the folder chooser decides what to do with a new one.
class TFolderDialog final : public QDialog {
  Q_OBJECT
 public:
  // Opens at start_folder, or at the current folder when that is empty or cannot be opened.
  TFolderDialog(const QString& start_folder, QWidget* parent);

  // The edit line's text as an absolute path.
  QString Folder() const;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Selects and reveals shown_ in the tree without touching the edit line.
  void ShowFolder();

  QFileSystemModel* model_;
  QTreeView* tree_;
  QLineEdit* edit_;
  QString shown_;  // the folder the tree opens at
  bool revealing_ = false;
  QTimer reveal_;
};

}  // namespace pellavo
