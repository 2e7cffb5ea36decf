#pragma once
#include <functional>
#include <string>

#include "batch/run_settings.h"
#include "batch/run_view.h"
#include "core/thread.h"

namespace pellavo {

// A worker of a run: converts or copies one entry and says how it went.
class TBatchWorker : public TThread {
 public:
  using TThread::TThread;
  // The status bar text when the worker has finished: the written path of a conversion, the
  // source path of a copy, empty when the entry failed early.
  virtual std::string StatusText() const = 0;
  virtual TFileOutcome Outcome() const = 0;
};

// Everything a worker is handed before it starts.
struct TWorkerOrder {
  std::string Source;
  std::string Output;
  TRunSettings Settings;  // the per-file fields as read for this entry
  int SizeValue = 0;      // fixed for the run
};

// Creates the worker for one entry, not yet started. The run installs its completion handler
// and starts it; the worker releases itself.
using TWorkerFactory = std::function<TBatchWorker*(TMainQueue& queue, const TWorkerOrder& order)>;

}  // namespace pellavo
