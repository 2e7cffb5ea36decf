#pragma once
#include <string>
#include <vector>

#include "batch/run_view.h"

namespace pellavo::test {

// Records what a run shows.
class TFakeView : public TRunView {
 public:
  TRunSettings settings;
  std::vector<std::string> entries;
  std::vector<std::string> messages;
  std::vector<std::string> statuses;
  std::vector<std::string> threads_texts;
  std::vector<TFileOutcome> outcomes;
  std::string summary;
  int progress_max = -1, progress_pos = -1;
  bool stop_enabled = false;
  bool destination_cleared = false;
  int minimised = 0;

  TRunSettings Settings() override { return settings; }
  int EntryCount() override { return static_cast<int>(entries.size()); }
  std::string Entry(int i) override { return entries[static_cast<size_t>(i)]; }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void ClearDestination() override {
    destination_cleared = true;
    settings.DestFolder.clear();
  }
  void SetStatusText(const std::string& text) override { statuses.push_back(text); }
  void SetProgress(int maximum, int position) override {
    progress_max = maximum;
    progress_pos = position;
  }
  void SetThreadsText(const std::string& text) override { threads_texts.push_back(text); }
  void SetSummaryText(const std::string& text) override { summary = text; }
  void SetStopEnabled(bool enabled) override { stop_enabled = enabled; }
  void MinimizeAndRestore() override { ++minimised; }
  void FileFinished(const TFileOutcome& o) override { outcomes.push_back(o); }
};

}  // namespace pellavo::test
