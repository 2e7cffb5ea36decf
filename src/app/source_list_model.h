#pragma once
#include <QAbstractListModel>
#include <string>
#include <vector>

#include "batch/source_list.h"

namespace pellavo {

// The source list as the list view shows it. Every change of the list goes through here, so
// the view (its selection and caret included) follows each one; the run reads the same list.
class TSourceListModel final : public QAbstractListModel {
  Q_OBJECT
 public:
  using QAbstractListModel::QAbstractListModel;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;

  // Each path through the list's admission (folders expand, files pass by their extension);
  // scans pass over sub-folders named skipped_folder (empty: none).
  void AddSourcePaths(const std::vector<std::string>& paths, bool include_subfolders,
                      const std::string& skipped_folder = {});
  // The paths as they stand, without tests: the open-file dialog's route.
  void AppendUnchecked(const std::vector<std::string>& paths);
  // A pasted text: the lines replace the whole list, then the unsupported ones go.
  void ReplaceWithLines(const std::string& text);
  // rows in any order; positions that do not exist are ignored.
  void RemoveRows(std::vector<int> rows);

  const TSourceList& List() const { return list_; }

 private:
  TSourceList list_;
};

}  // namespace pellavo
