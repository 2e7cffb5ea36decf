#pragma once
#include <QAbstractListModel>
#include <QIcon>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "app/outcome_marks.h"
#include "batch/run_view.h"
#include "batch/source_list.h"

namespace pellavo {

// The source list as the list view shows it. Every change of the list goes through here, so
// the view (its selection and caret included) follows each one; the run reads the same list.
// An entry a run has finished shows how it ended (a mark, and the outcome in its tool tip and
// accessible description) until a new run takes it up or it leaves the list.
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

  // How the entry at row ended; rows that do not exist are ignored.
  void SetOutcome(int row, const TFileOutcome& outcome);
  // Forgets the outcomes of rows, of every row when none are given.
  void ClearOutcomes(const std::optional<std::vector<int>>& rows);
  // The outcome of the entry at row, when a run has finished it.
  const std::optional<TFileOutcome>& Outcome(int row) const { return outcomes_.at(static_cast<size_t>(row)); }
  // The rows whose entries ended with status, in list order.
  std::vector<int> RowsWith(TFileStatus status) const;

  const TSourceList& List() const { return list_; }

 private:
  TSourceList list_;
  std::vector<std::optional<TFileOutcome>> outcomes_;  // one per entry of list_
  const std::array<QIcon, 3> marks_ = OutcomeIcons();  // drawn once: the list asks at every repaint
};

}  // namespace pellavo
