#pragma once
#include <functional>
#include <memory>
#include <string>

#include "batch/run_settings.h"
#include "batch/run_view.h"
#include "core/chunk_pool.h"
#include "core/core_gate.h"
#include "core/free_names.h"
#include "core/memory_budget.h"
#include "core/thread.h"

namespace pellavo {

// Everything a worker is handed: one entry's job, complete before the worker exists.
struct TWorkerOrder {
  std::string Source;
  std::string Output;
  TRunSettings Settings;  // the per-file fields as read for this entry
  int SizeValue = 0;      // fixed for the run
  // The run's memory budget, shared with every worker of the run; none outside a run.
  std::shared_ptr<TMemoryBudget> Budget;
  // The run's large buffers that decoders hand on from file to file; none outside a run.
  std::shared_ptr<TChunkPool> Chunks;
  // The run's turns at the cores, which a conversion waits for before it decodes; none outside
  // a run.
  std::shared_ptr<TCoreGate> Cores;
  // Where the run's searches for free output names start; none outside a run.
  std::shared_ptr<TFreeNames> FreeNames;
};

// How a worker's entry ended, as the run's completion handler receives it.
struct TWorkerReport {
  // The status bar text: the written path of a conversion, the source path of a copy; empty when
  // the entry failed early.
  std::string StatusText;
  TFileOutcome Outcome;
};

// A worker of a run: converts or copies one entry and reports how it went.
class TBatchWorker : public TThread {
 public:
  using TFinished = std::function<void(TWorkerReport report)>;

  explicit TBatchWorker(TWorkerOrder order) : order_(std::move(order)) {}

  // Starts worker on a thread of its own, which owns it; on_finished receives its report on the
  // main thread. Throws, having released the worker, when no thread can be created.
  static void Launch(std::unique_ptr<TBatchWorker> worker, TMainQueue& queue, TFinished on_finished);

  const TWorkerOrder& Order() const { return order_; }

 protected:
  // The body, on the worker's thread: handles the entry and says how it went. Failures belong in
  // the report; an error that escapes anyway ends the entry as failed with that error.
  virtual TWorkerReport Work() = 0;

 private:
  void Execute() final;

  const TWorkerOrder order_;
  TWorkerReport report_;      // written by the body, moved out in the completion
  int64_t milliseconds_ = 0;  // the body's time
};

// Creates the worker for one entry, not yet started; the run launches it.
using TWorkerFactory = std::function<std::unique_ptr<TBatchWorker>(const TWorkerOrder& order)>;

}  // namespace pellavo
