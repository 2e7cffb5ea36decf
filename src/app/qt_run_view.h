#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "batch/run_tally.h"
#include "batch/run_view.h"

class QMainWindow;

namespace Ui {
class TForm1;
}

namespace pellavo {

class TDialogs;
class TSourceListModel;

// The run as the window shows it: options read from the controls, the source list from its
// model, progress on the bar, the labels and the status bar, and each finished entry's outcome
// on the entry. While a run is active, Start and the list's removals are locked.
class TQtRunView final : public TRunView {
 public:
  TQtRunView(QMainWindow& window, Ui::TForm1& ui, TSourceListModel& list, TDialogs& dialogs);

  // The rows the next Start is for, all of them when none are given: their old outcomes go when
  // the run starts.
  void SetRequestedRows(std::optional<std::vector<int>> rows) { requested_ = std::move(rows); }
  // Called when a run has ended, after the summary.
  void SetOnRunEnded(std::function<void()> ended) { on_run_ended_ = std::move(ended); }

  // The last run's counts, its summary with them, and its destination (empty: beside the sources).
  const TRunTally& Tally() const { return tally_; }
  const std::string& Summary() const { return summary_; }
  const std::string& Destination() const { return destination_; }

  TRunSettings Settings() override;
  int EntryCount() override;
  std::string Entry(int index) override;
  std::string EntryFolder(int index) override;

  void ShowMessage(const std::string& text) override;
  bool ConfirmReplacingSources(int count) override;
  void ClearDestination() override;

  void SetStatusText(const std::string& text) override;
  void SetProgress(int maximum, int position) override;
  void SetThreadsText(const std::string& text) override;
  void SetSummaryText(const std::string& text) override;
  void SetStopEnabled(bool enabled) override;

  void SetRunning(bool running) override;
  void DrawAttention() override;
  void FileFinished(const TFileOutcome& outcome) override;
  void RunStopped(int not_launched) override;

 private:
  QMainWindow& window_;
  Ui::TForm1& ui_;
  TSourceListModel& list_;
  TDialogs& dialogs_;
  std::optional<std::vector<int>> requested_;
  std::function<void()> on_run_ended_;
  TRunTally tally_;
  std::string summary_;
  std::string destination_;
};

// "Replace N original files? The originals cannot be recovered."
std::string ReplaceSourcesQuestion(int count);

}  // namespace pellavo
