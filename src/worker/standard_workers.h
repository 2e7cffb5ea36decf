#pragma once
#include <memory>

#include "batch/batch_worker.h"

namespace pellavo {

// The conversion worker, or the copy worker in fast-copy runs, for the order.
std::unique_ptr<TBatchWorker> MakeStandardWorker(const TWorkerOrder& order);

}  // namespace pellavo
