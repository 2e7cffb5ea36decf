#include "worker/standard_workers.h"

#include "worker/convert_thread.h"
#include "worker/copy_thread.h"

namespace pellavo {

std::unique_ptr<TBatchWorker> MakeStandardWorker(const TWorkerOrder& order) {
  if (order.Settings.FastCopy) return std::make_unique<tCopyStrmThrd>(order);
  return std::make_unique<tThumbThrd>(order);
}

}  // namespace pellavo
