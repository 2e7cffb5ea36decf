#include "batch/run_settings.h"

namespace pellavo {

int SizeValueOf(const TRunSettings& s) { return s.SizeMode == TSizeMode::Percent ? s.PercentSize : s.PixelSize; }

int WorkerLimitOf(const TRunSettings& s, int entry_count) {
  const int limit = s.MaxThreadsOn ? s.MaxThreads : 1;
  return limit == 0 ? entry_count : limit;
}

}  // namespace pellavo
