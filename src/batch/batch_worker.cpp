#include "batch/batch_worker.h"

#include <chrono>

namespace pellavo {

void TBatchWorker::Execute() {
  const auto start = std::chrono::steady_clock::now();
  const auto elapsed = [start] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  };
  try {
    report_ = Work();
  } catch (...) {
    milliseconds_ = elapsed();  // the thread base reports the error
    throw;
  }
  milliseconds_ = elapsed();
}

void TBatchWorker::Launch(std::unique_ptr<TBatchWorker> worker, TMainQueue& queue, TFinished on_finished) {
  TThread::Start(std::move(worker), queue, [on_finished = std::move(on_finished)](TThread& finished) {
    // Start was handed a TBatchWorker, and hands the same object back.
    auto& self = static_cast<TBatchWorker&>(finished);
    TWorkerReport report = std::move(self.report_);
    report.Outcome.Milliseconds = self.milliseconds_;
    if (!self.FatalError().empty()) {
      report.Outcome.Source = self.order_.Source;
      report.Outcome.Error = self.FatalError();
      report.Outcome.Written = false;
    }
    if (on_finished) on_finished(std::move(report));
  });
}

}  // namespace pellavo
