#include "app/source_list_model.h"

#include <algorithm>
#include <functional>

#include "app/qt_paths.h"
#include "batch/run_tally.h"

namespace pellavo {

int TSourceListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : list_.Count(); }

QVariant TSourceListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= list_.Count()) return {};
  const QString path = FromPath(list_.Entries()[static_cast<size_t>(index.row())]);
  const std::optional<TFileOutcome>& outcome = outcomes_[static_cast<size_t>(index.row())];
  switch (role) {
    case Qt::DisplayRole:
      return path;
    case Qt::ToolTipRole:
      return outcome ? FromPath(OutcomeLine(*outcome)) : path;
    case Qt::AccessibleDescriptionRole:
      return outcome ? FromPath(OutcomeLine(*outcome)) : QVariant();
    case Qt::DecorationRole:
      return outcome ? QVariant(marks_[static_cast<size_t>(outcome->Status())]) : QVariant();
    default:
      return {};
  }
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
  outcomes_.resize(static_cast<size_t>(list_.Count()));
  endInsertRows();
}

void TSourceListModel::AppendUnchecked(const std::vector<std::string>& paths) {
  if (paths.empty()) return;
  const int first = list_.Count();
  beginInsertRows(QModelIndex(), first, first + static_cast<int>(paths.size()) - 1);
  for (const std::string& path : paths) list_.Append(path);
  outcomes_.resize(static_cast<size_t>(list_.Count()));
  endInsertRows();
}

void TSourceListModel::ReplaceWithLines(const std::string& text) {
  beginResetModel();
  list_.ReplaceWithLines(text);
  outcomes_.assign(static_cast<size_t>(list_.Count()), std::nullopt);
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
    outcomes_.erase(outcomes_.begin() + row);
    endRemoveRows();
  }
}

void TSourceListModel::SetOutcome(int row, const TFileOutcome& outcome) {
  if (row < 0 || row >= list_.Count()) return;
  outcomes_[static_cast<size_t>(row)] = outcome;
  emit dataChanged(index(row), index(row), {Qt::DecorationRole, Qt::ToolTipRole, Qt::AccessibleDescriptionRole});
}

void TSourceListModel::ClearOutcomes(const std::optional<std::vector<int>>& rows) {
  if (!rows) {
    outcomes_.assign(outcomes_.size(), std::nullopt);
    if (!outcomes_.empty()) emit dataChanged(index(0), index(list_.Count() - 1));
    return;
  }
  for (const int row : *rows) {
    if (row < 0 || row >= list_.Count()) continue;
    outcomes_[static_cast<size_t>(row)].reset();
    emit dataChanged(index(row), index(row));
  }
}

std::vector<int> TSourceListModel::RowsWith(TFileStatus status) const {
  std::vector<int> rows;
  for (size_t i = 0; i < outcomes_.size(); ++i)
    if (outcomes_[i] && outcomes_[i]->Status() == status) rows.push_back(static_cast<int>(i));
  return rows;
}

}  // namespace pellavo
