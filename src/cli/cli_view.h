#pragma once
#include <string>
#include <vector>

#include "batch/run_view.h"

namespace pellavo {

// The run's view on a terminal: a line per finished file (its output path, or
// "failed: SOURCE: REASON"), a progress bar while stdout is a terminal, the summary last.
class TCliView final : public TRunView {
 public:
  TCliView(TRunSettings settings, std::vector<std::string> entries, bool quiet);

  TRunSettings Settings() override { return settings_; }
  int EntryCount() override { return static_cast<int>(entries_.size()); }
  std::string Entry(int index) override { return entries_[static_cast<size_t>(index)]; }

  void ShowMessage(const std::string& text) override;
  void ClearDestination() override { settings_.DestFolder.clear(); }
  void SetStatusText(const std::string&) override {}
  void SetProgress(int maximum, int position) override;
  void SetThreadsText(const std::string& text) override;
  void SetSummaryText(const std::string& text) override;
  void SetStopEnabled(bool) override {}
  void FileFinished(const TFileOutcome& outcome) override;
  // An error outside any one file (a worker that could not be started, say): "pellavo-cli: ..."
  // on stderr; it counts as a failure.
  void ShowError(const std::string& text);

  int Failures() const { return failures_; }
  bool RefusedToStart() const { return refused_; }

 private:
  void ClearBar();
  void DrawBar();

  TRunSettings settings_;
  std::vector<std::string> entries_;
  bool quiet_;
  bool bar_ = false;  // a progress bar is drawn on the terminal
  bool bar_drawn_ = false;
  int done_ = 0;
  std::string threads_;
  int failures_ = 0;
  bool refused_ = false;
};

}  // namespace pellavo
