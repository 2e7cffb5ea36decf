#pragma once
#include <QListView>
#include <functional>
#include <string>
#include <vector>

class QMimeData;

namespace pellavo {

class TSourceListModel;

// The local files a drop or a paste offers as a file list (text/uri-list), in order; other
// addresses are left out.
std::vector<std::string> LocalFilePaths(const QMimeData& mime);

// The source list's view, ListBox1: extended multi-selection and the list's keys — Ctrl+C
// copies the selected entries as lines of text, Ctrl+V appends a file list or replaces the
// list by lines of text, Ctrl+A selects all, Delete removes the caret entry and Ctrl+Delete
// the selected ones.
class TSourceListView final : public QListView {
  Q_OBJECT
 public:
  // Admits paths the way every route but the open-file dialog does.
  using TAddRoute = std::function<void(const std::vector<std::string>& paths)>;

  explicit TSourceListView(QWidget* parent = nullptr);

  void SetSourceModel(TSourceListModel* model, TAddRoute add_route);
  // While a run reads the list by position, nothing may be taken out of it.
  void SetRemovalsLocked(bool locked) { removals_locked_ = locked; }

 signals:
  // A double click anywhere in the list, on an entry or not; the caret entry is the one meant.
  void DoubleClicked();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  void CopySelection();
  void Paste();
  void RemoveCurrent();
  void RemoveSelected();

  TSourceListModel* model_ = nullptr;
  TAddRoute add_route_;
  bool removals_locked_ = false;
};

}  // namespace pellavo
