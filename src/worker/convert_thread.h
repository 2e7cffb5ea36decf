#pragma once
#include <cstdint>

#include "batch/batch_worker.h"

namespace pellavo {

// What a conversion did: the run's report, and how the source was decoded.
struct TConversion {
  TWorkerReport Report;  // the status text is the path the save step used
  // The scale a JPEG decoder was asked for (0 full, 1 half, 2 quarter, 3 eighth), and the size
  // of the image that was rendered from.
  int DecodeScale = 0;
  int32_t DecodedWidth = 0;
  int32_t DecodedHeight = 0;
};

// The body of a conversion, run on the worker's thread: accept the entry by its extension,
// decode, size, render into a 32-bit surface, decorate, encode. A failure ends the entry and is
// recorded in the report's outcome instead of being thrown.
TConversion ConvertFile(const TWorkerOrder& order);

// Converts one entry on a thread of its own.
class tThumbThrd final : public TBatchWorker {
 public:
  using TBatchWorker::TBatchWorker;

 protected:
  TWorkerReport Work() override { return ConvertFile(Order()).Report; }
};

// The decoder scale for a JPEG whose larger side is `larger` and whose output's larger side is
// `target`: the smallest reduction that stays near the target size.
int ReducedDecodeScale(int32_t target, int32_t larger);

}  // namespace pellavo
