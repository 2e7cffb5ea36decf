#include "batch/batch_worker.h"

namespace pellavo {

void TBatchWorker::Launch(std::unique_ptr<TBatchWorker> worker, TMainQueue& queue, TFinished on_finished) {
  TThread::Start(std::move(worker), queue, [on_finished = std::move(on_finished)](TThread& finished) {
    // Start was handed a TBatchWorker, and hands the same object back.
    auto& self = static_cast<TBatchWorker&>(finished);
    TWorkerReport report = std::move(self.report_);
    if (!self.FatalError().empty()) {
      report.Outcome.Source = self.order_.Source;
      report.Outcome.Error = self.FatalError();
      report.Outcome.Written = false;
    }
    if (on_finished) on_finished(std::move(report));
  });
}

}  // namespace pellavo
