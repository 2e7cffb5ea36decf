#pragma once
#include "batch/batch_worker.h"

namespace pellavo {

// The conversion worker, or the copy worker in fast-copy runs, set up from the order.
TBatchWorker* MakeStandardWorker(TMainQueue& queue, const TWorkerOrder& order);

}  // namespace pellavo
