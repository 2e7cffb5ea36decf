#include "app/source_list_view.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>
#include <algorithm>

#include "app/qt_paths.h"
#include "app/source_list_model.h"

namespace pellavo {

std::vector<std::string> LocalFilePaths(const QMimeData& mime) {
  std::vector<std::string> paths;
  for (const QUrl& url : mime.urls())
    if (url.isLocalFile()) paths.push_back(ToPath(url.toLocalFile()));
  return paths;
}

TSourceListView::TSourceListView(QWidget* parent) : QListView(parent) {
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setUniformItemSizes(true);
}

void TSourceListView::SetSourceModel(TSourceListModel* model, TAddRoute add_route) {
  model_ = model;
  add_route_ = std::move(add_route);
  setModel(model);
}

void TSourceListView::keyPressEvent(QKeyEvent* event) {
  // Ctrl counts whatever other modifiers are down with it.
  const bool ctrl = event->modifiers().testFlag(Qt::ControlModifier);
  switch (event->key()) {
    case Qt::Key_C:
      if (!ctrl) break;
      CopySelection();
      return;
    case Qt::Key_V:
      if (!ctrl) break;
      Paste();
      return;
    case Qt::Key_A:
      if (!ctrl) break;
      selectAll();
      return;
    case Qt::Key_Delete:
      if (ctrl)
        RemoveSelected();
      else
        RemoveCurrent();
      return;
    default:
      break;
  }
  QListView::keyPressEvent(event);
}

void TSourceListView::mouseDoubleClickEvent(QMouseEvent* event) {
  QListView::mouseDoubleClickEvent(event);
  if (event->button() == Qt::LeftButton) emit DoubleClicked();
}

void TSourceListView::CopySelection() {
  if (!model_) return;
  QModelIndexList selected = selectionModel()->selectedRows();
  std::sort(selected.begin(), selected.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  std::vector<std::string> entries;
  for (const QModelIndex& index : selected) entries.push_back(model_->List().Entries()[static_cast<size_t>(index.row())]);
  QGuiApplication::clipboard()->setText(FromPath(TSourceList::JoinLines(entries)));
}

void TSourceListView::Paste() {
  if (!model_) return;
  const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
  if (!mime) return;
  // A file manager offers a copied file list as text too: the list wins.
  if (mime->hasUrls()) {
    if (add_route_) add_route_(LocalFilePaths(*mime));
  } else if (mime->hasText() && !removals_locked_) {
    model_->ReplaceWithLines(ToPath(mime->text()));
  }
}

void TSourceListView::RemoveCurrent() {
  if (!model_ || removals_locked_) return;
  const QModelIndex caret = currentIndex();
  if (caret.isValid()) model_->RemoveRows({caret.row()});
}

void TSourceListView::RemoveSelected() {
  if (!model_ || removals_locked_) return;
  std::vector<int> rows;
  for (const QModelIndex& index : selectionModel()->selectedRows()) rows.push_back(index.row());
  model_->RemoveRows(std::move(rows));
}

}  // namespace pellavo
