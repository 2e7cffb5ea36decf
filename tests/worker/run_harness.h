#pragma once
#include <stdexcept>
#include <string>
#include <vector>

#include "batch/batch_run.h"
#include "core/main_queue.h"
#include "worker/standard_workers.h"

namespace pellavo::test {

// A run of the real workers over files, as the command line drives it.
class TRunHarness : public TRunView {
 public:
  TRunSettings settings;
  std::vector<std::string> entries;
  std::vector<TFileOutcome> outcomes;
  std::vector<std::string> messages;

  TRunSettings Settings() override { return settings; }
  int EntryCount() override { return static_cast<int>(entries.size()); }
  std::string Entry(int i) override { return entries[size_t(i)]; }
  void ShowMessage(const std::string& t) override { messages.push_back(t); }
  void ClearDestination() override {}
  void SetStatusText(const std::string&) override {}
  void SetProgress(int, int) override {}
  void SetThreadsText(const std::string&) override {}
  void SetSummaryText(const std::string&) override {}
  void SetStopEnabled(bool) override {}
  void FileFinished(const TFileOutcome& o) override { outcomes.push_back(o); }

  void Run() {
    outcomes.clear();
    TLoopQueue queue;
    TBatchRun run(*this, queue, MakeStandardWorker);
    run.Start();
    while (run.Running()) queue.WaitAndProcess(100);
    queue.WaitForThreads();
  }
  const TFileOutcome& For(const std::string& source) const {
    for (const TFileOutcome& o : outcomes)
      if (o.Source == source) return o;
    throw std::runtime_error("no outcome for " + source);
  }
};

}  // namespace pellavo::test
