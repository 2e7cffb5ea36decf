#pragma once
#include <QDialog>
#include <string>
#include <vector>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace pellavo {

// The last run's results, opened from the window after a run: its summary, and the entries that
// were not written with their reasons, one per line, to read or copy; "Retry failed" and "Open
// output folder" are the window's to carry out. Not modal: the window stays usable beside it.
class TResultsView final : public QDialog {
  Q_OBJECT
 public:
  explicit TResultsView(QWidget* parent);

  // lines: one per entry that was not written, as OutcomeLine gives it. can_retry: some entry
  // failed and no run is active.
  void SetResults(const std::string& summary, const std::vector<std::string>& lines, bool can_retry);
  // The text that Copy puts on the clipboard.
  QString Text() const;

 signals:
  void RetryRequested();
  void OpenFolderRequested();

 private:
  QLabel* summary_;
  QPlainTextEdit* lines_;
  QPushButton* retry_;
};

}  // namespace pellavo
