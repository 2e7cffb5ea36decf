#pragma once
#include <chrono>
#include <string>

#include "batch/batch_worker.h"
#include "batch/output_naming.h"
#include "batch/run_view.h"
#include "core/main_queue.h"

namespace pellavo {

// The main-thread side of a run: Start checks the destination, fixes the run-wide options and
// launches one worker per entry under the worker limit; each worker's completion is handled
// here, on the main thread, and the last one ends the run. Every wait processes the main queue,
// which is how completions arrive.
class TBatchRun {
 public:
  TBatchRun(TRunView& view, TMainQueue& queue, TWorkerFactory factory);

  // The Start button. Returns when every entry has been launched (or STOP was pressed); the
  // run then goes on in the workers. Ignored while a run is active.
  void Start();
  // The STOP button: no further entry is launched.
  void Stop() { stop_requested_ = true; }

  bool Running() const { return running_; }
  int ActiveWorkers() const { return active_workers_; }
  int FinishedFiles() const { return finished_files_; }
  int WorkerLimit() const { return worker_limit_; }

 private:
  void LaunchLoop(int count);
  void LaunchOne(int index);
  void WaitPumping(int ms);
  void WorkerStarted();
  void WorkerFinished(TThread& worker);
  bool RunIsOver() const;
  void EndRun();

  TRunView& view_;
  TMainQueue& queue_;
  TWorkerFactory factory_;

  // Run state; touched on the main thread only.
  bool running_ = false;
  bool launching_ = false;
  bool stop_requested_ = false;
  int entry_count_ = 0;
  int active_workers_ = 0;
  int finished_files_ = 0;
  int worker_limit_ = 1;
  int size_value_ = 0;
  std::string name_prefix_;
  std::string name_postfix_;
  std::chrono::steady_clock::time_point run_start_;
};

// "Files processed: %d in %f secs": the seconds from whole milliseconds, two decimals, with
// the given decimal separator.
std::string SummaryText(int files, int64_t milliseconds, char decimal_separator);
// The decimal separator of the user's locale settings, '.' when they cannot be read.
char UserDecimalSeparator();

}  // namespace pellavo
