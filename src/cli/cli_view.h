#pragma once
#include <string>
#include <vector>

#include "batch/run_view.h"

namespace pellavo {

// The run's view on a terminal: a line per finished file (unless quiet), failures on stderr,
// the summary at the end.
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
  void SetThreadsText(const std::string&) override {}
  void SetSummaryText(const std::string& text) override;
  void SetStopEnabled(bool) override {}
  void FileFinished(const TFileOutcome& outcome) override;

  int Failures() const { return failures_; }
  int Written() const { return written_; }
  bool RefusedToStart() const { return refused_; }

 private:
  TRunSettings settings_;
  std::vector<std::string> entries_;
  bool quiet_;
  int done_ = 0;
  int failures_ = 0;
  int written_ = 0;
  bool refused_ = false;
};

}  // namespace pellavo
