#pragma once
#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "batch/batch_run.h"
#include "core/main_queue.h"
#include "support/threads.h"

namespace pellavo::test {

// A run's front end that records everything the run shows. Entry() checks its index, so a run
// that asks past the end of the list fails instead of reading stray memory.
class TFakeView : public TRunView {
 public:
  TRunSettings settings;
  std::vector<std::string> entries;
  std::vector<std::string> folders;  // EntryFolder's answers; none: every entry was added alone
  std::vector<std::string> messages;
  std::vector<std::string> statuses;
  std::vector<std::string> threads_texts;
  std::vector<TFileOutcome> outcomes;
  std::string summary;
  int progress_max = -1, progress_pos = -1;
  bool stop_enabled = false;
  bool destination_cleared = false;
  int alerted = 0;
  int not_launched = -1;  // what RunStopped said; -1 when it was not called
  // What ConfirmReplacingSources was asked, and the answer it gives: yes, as the command line's.
  std::vector<int> replace_questions;
  bool replace_answer = true;

  TRunSettings Settings() override { return settings; }
  int EntryCount() override { return static_cast<int>(entries.size()); }
  std::string Entry(int i) override { return entries.at(static_cast<size_t>(i)); }
  std::string EntryFolder(int i) override {
    return folders.empty() ? std::string() : folders.at(static_cast<size_t>(i));
  }
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
  bool ConfirmReplacingSources(int count) override {
    replace_questions.push_back(count);
    return replace_answer;
  }
  void DrawAttention() override { ++alerted; }
  void RunStopped(int left) override { not_launched = left; }
  void FileFinished(const TFileOutcome& o) override { outcomes.push_back(o); }

  // The largest count that "Threads:%d" showed.
  int MaxShownThreads() const {
    int most = 0;
    for (const std::string& t : threads_texts) most = std::max(most, std::stoi(t.substr(8)));
    return most;
  }
  const TFileOutcome& For(const std::string& source) const {
    for (const TFileOutcome& o : outcomes)
      if (o.Source == source) return o;
    throw std::runtime_error("no outcome for " + source);
  }

  // A whole run of the current entries and settings, as the command line drives it: Start, run
  // the queue until the run has ended, then the shutdown wait. Forgets the previous run's files.
  void Run(const TWorkerFactory& factory) {
    outcomes.clear();
    statuses.clear();
    TLoopQueue queue(FailOnQueueError());
    {
      TBatchRun run(*this, queue, factory);
      run.Start();
      while (run.Running()) queue.WaitAndProcess(100);
    }
    queue.WaitForThreads();
  }
};

}  // namespace pellavo::test
