#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "batch/batch_worker.h"
#include "batch/output_naming.h"
#include "batch/run_view.h"
#include "core/main_queue.h"

namespace pellavo {

// The main-thread side of a run, driven by events: Start checks the destination, fixes the
// run-wide options, launches entries up to the worker limit and returns. Each worker's
// completion, handled on the main thread, counts the file and launches the next entry in list
// order; a start delay is a delayed task on the main queue. The completion that leaves no worker
// active after the last entry (or after STOP) ends the run with the summary.
//
// Everything here runs on the main thread, and nothing waits or pumps the queue: that belongs to
// the front end's event loop.
//
// Lifetime. Completions and delayed launches reach the run through a liveness token: once the
// run is destroyed they do nothing, and the workers still end and are released. Shutting down a
// front end during a run:
//   1. Stop(), so that nothing more is launched;
//   2. keep running the queue's tasks until its LiveThreads() is 0 (TLoopQueue::WaitForThreads
//      does this), so that every worker gets its completion and releases itself;
//   3. destroy the run, the view and then the queue, which must outlive every worker thread.
// Destroying the run before step 2 is safe too; the queue must still be run until nothing is live.
class TBatchRun {
 public:
  // view and queue must outlive the run; the queue also every worker the run launched.
  TBatchRun(TRunView& view, TMainQueue& queue, TWorkerFactory factory);
  ~TBatchRun();
  TBatchRun(const TBatchRun&) = delete;
  TBatchRun& operator=(const TBatchRun&) = delete;

  // The Start button; ignored while a run is active. An empty list is said so in the status text.
  // With overwriting on, outputs that would replace the run's own sources are put to the view
  // once, before anything is launched. When a worker cannot be started (here or in a later
  // completion) the error propagates to the caller, and the run goes on as if STOP had been
  // pressed: the launched workers finish and the summary counts them.
  void Start();
  // Start for the given list positions only, in the given order (the entries that failed, to
  // try them again); each keeps its position's number in the output names. Positions that do
  // not exist are left out.
  void StartEntries(std::vector<int> positions);
  // The STOP button: no further entry is launched. With no worker active the run ends at once.
  void Stop();
  // Gives up the running files at once: each ends now as failed with the reason "interrupted",
  // nothing more is launched, and the run ends with its summary. Their workers go on until their
  // own end, unheard; what they would have written is the caller's to prevent (see
  // AbandonTempFiles).
  void Abandon();

  bool Running() const;
  int ActiveWorkers() const;
  int FinishedFiles() const;
  int WorkerLimit() const;

 private:
  class TState;
  std::shared_ptr<TState> state_;  // completions and delayed launches hold it weakly
};

// "Files processed: %d in %f secs": the seconds from whole milliseconds, two decimals, with
// the given decimal separator.
std::string SummaryText(int files, int64_t milliseconds, char decimal_separator);
// The decimal separator of the user's locale settings, '.' when they cannot be read.
char UserDecimalSeparator();

}  // namespace pellavo
