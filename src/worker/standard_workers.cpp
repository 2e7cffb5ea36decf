#include "worker/standard_workers.h"

#include "worker/convert_thread.h"
#include "worker/copy_thread.h"

namespace pellavo {

TBatchWorker* MakeStandardWorker(TMainQueue& queue, const TWorkerOrder& order) {
  const TRunSettings& s = order.Settings;
  if (s.FastCopy) return new tCopyStrmThrd(queue, order.Source, order.Output, s.Overwrite);
  auto* worker =
      new tThumbThrd(queue, order.Source, order.Output, s.SizeMode, order.SizeValue, s.FilterIndex, s.Overwrite);
  worker->BorderOn = s.BorderOn;
  if (s.BorderOn) {
    worker->BorderWidth = s.BorderWidth;
    worker->BorderColor = s.BorderColor;
  }
  worker->FrameOn = s.FrameOn;
  worker->WideMode = s.WideMode;
  return worker;
}

}  // namespace pellavo
