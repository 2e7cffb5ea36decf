#include "app/source_list_model.h"

#include <algorithm>
#include <functional>

#include "app/qt_paths.h"

namespace pellavo {

int TSourceListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : list_.Count(); }

QVariant TSourceListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= list_.Count()) return {};
  if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
    return FromPath(list_.Entries()[static_cast<size_t>(index.row())]);
  return {};
}

void TSourceListModel::AddSourcePaths(const std::vector<std::string>& paths, bool include_subfolders,
                                      const std::string& skipped_folder) {
  // The scan fills a list of its own so the view is told of the additions as one block.
  TSourceList found;
  found.IncludeSubfolders = include_subfolders;
  found.SkippedFolderName = skipped_folder;
  for (const std::string& path : paths) found.AddSourcePath(path);
  if (found.Count() == 0) return;
  const int first = list_.Count();
  beginInsertRows(QModelIndex(), first, first + found.Count() - 1);
  list_.Append(found);
  endInsertRows();
}

void TSourceListModel::AppendUnchecked(const std::vector<std::string>& paths) {
  if (paths.empty()) return;
  const int first = list_.Count();
  beginInsertRows(QModelIndex(), first, first + static_cast<int>(paths.size()) - 1);
  for (const std::string& path : paths) list_.Append(path);
  endInsertRows();
}

void TSourceListModel::ReplaceWithLines(const std::string& text) {
  beginResetModel();
  list_.ReplaceWithLines(text);
  endResetModel();
}

void TSourceListModel::RemoveRows(std::vector<int> rows) {
  // From the last to the first, so each position still means the entry it meant.
  std::sort(rows.begin(), rows.end(), std::greater<>());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  for (const int row : rows) {
    if (row < 0 || row >= list_.Count()) continue;
    beginRemoveRows(QModelIndex(), row, row);
    list_.Remove(row);
    endRemoveRows();
  }
}

}  // namespace pellavo
