#include "batch/batch_run.h"

#include <cstdio>
#include <locale>

#include "core/files.h"

namespace pellavo {

TBatchRun::TBatchRun(TRunView& view, TMainQueue& queue, TWorkerFactory factory)
    : view_(view), queue_(queue), factory_(std::move(factory)) {}

void TBatchRun::Start() {
  if (running_) return;  // a second Start would reset counters under running workers
  const int count = view_.EntryCount();
  if (count == 0) return;

  TRunSettings settings = view_.Settings();
  if (settings.FastCopy) {
    if (settings.DestFolder.empty() || !DirectoryExists(settings.DestFolder)) {
      view_.ShowMessage("You must specify an existing destination folder");
      return;
    }
  } else if (!settings.DestFolder.empty() && !DirectoryExists(settings.DestFolder)) {
    view_.ShowMessage("You must specify an existing destination folder or leave blank");
    view_.ClearDestination();
    return;
  }

  worker_limit_ = WorkerLimitOf(settings, count);
  active_workers_ = 0;
  finished_files_ = 0;
  entry_count_ = count;
  view_.SetProgress(count, count);
  name_prefix_ = settings.NameAddition == TNameAddition::Prefix ? settings.AdditionText : std::string();
  name_postfix_ = settings.NameAddition == TNameAddition::PostFix ? settings.AdditionText : std::string();
  stop_requested_ = false;
  view_.SetStopEnabled(true);
  run_start_ = std::chrono::steady_clock::now();
  size_value_ = SizeValueOf(settings);
  running_ = true;
  view_.SetRunning(true);

  LaunchLoop(count);
}

void TBatchRun::LaunchLoop(int count) {
  launching_ = true;
  for (int i = 0; i < count; ++i) {
    // A freed slot is taken as soon as the completion that frees it has been handled.
    while (active_workers_ >= worker_limit_) queue_.WaitAndProcess(100);
    if (stop_requested_) break;
    LaunchOne(i);
    const int delay = view_.Settings().StartDelay;
    if (delay > 0) WaitPumping(delay);
  }
  launching_ = false;
  // After STOP with nothing running no completion will come to end the run.
  if (RunIsOver()) EndRun();
}

void TBatchRun::LaunchOne(int index) {
  TWorkerOrder order;
  order.Settings = view_.Settings();
  order.Source = view_.Entry(index);
  order.SizeValue = size_value_;
  order.Output = OutputFileName(order.Source, index,
                                TNamingRule{order.Settings.OutputFormat, order.Settings.DestFolder, name_prefix_,
                                            name_postfix_});
  TBatchWorker* worker = factory_(queue_, order);
  worker->SetOnTerminate([this](TThread& finished) { WorkerFinished(finished); });
  worker->Start();
  WorkerStarted();
}

void TBatchRun::WaitPumping(int ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    queue_.WaitAndProcess(static_cast<int>(left.count()));
  }
}

void TBatchRun::WorkerStarted() {
  ++active_workers_;
  view_.SetThreadsText("Threads:" + std::to_string(active_workers_));
  queue_.ProcessPending();
}

void TBatchRun::WorkerFinished(TThread& thread) {
  auto& worker = static_cast<TBatchWorker&>(thread);
  view_.SetStatusText(worker.StatusText());
  ++finished_files_;
  --active_workers_;
  view_.SetProgress(entry_count_, entry_count_ - finished_files_);
  view_.SetThreadsText("Threads:" + std::to_string(active_workers_));
  view_.FileFinished(worker.Outcome());
  if (RunIsOver()) EndRun();
}

bool TBatchRun::RunIsOver() const {
  if (!running_ || active_workers_ != 0) return false;
  return finished_files_ == entry_count_ || (stop_requested_ && !launching_);
}

void TBatchRun::EndRun() {
  running_ = false;
  view_.SetStopEnabled(false);
  view_.MinimizeAndRestore();
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - run_start_);
  view_.SetSummaryText(SummaryText(finished_files_, elapsed.count(), UserDecimalSeparator()));
  view_.SetRunning(false);
}

std::string SummaryText(int files, int64_t milliseconds, char decimal_separator) {
  char seconds[64];
  std::snprintf(seconds, sizeof seconds, "%.2f", static_cast<double>(milliseconds) / 1000.0);
  for (char* p = seconds; *p; ++p)
    if (*p == '.') *p = decimal_separator;
  return "Files processed: " + std::to_string(files) + " in " + seconds + " secs";
}

char UserDecimalSeparator() {
  try {
    return std::use_facet<std::numpunct<char>>(std::locale("")).decimal_point();
  } catch (const std::exception&) {
    return '.';
  }
}

}  // namespace pellavo
