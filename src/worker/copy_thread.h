#pragma once
#include "batch/batch_worker.h"

namespace pellavo {

// The body of a fast copy, run on the worker's thread: the entry's bytes, unchanged, to its
// output path. The status text is the source path once the source has been read. A failure ends
// the entry and is recorded in the report's outcome instead of being thrown.
TWorkerReport CopyOneFile(const TWorkerOrder& order);

// Copies one entry byte for byte on a thread of its own: the worker of fast-copy runs.
class tCopyStrmThrd final : public TBatchWorker {
 public:
  using TBatchWorker::TBatchWorker;

 protected:
  TWorkerReport Work() override { return CopyOneFile(Order()); }
};

}  // namespace pellavo
