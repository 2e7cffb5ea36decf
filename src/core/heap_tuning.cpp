#include "core/heap_tuning.h"

#include <malloc.h>

namespace pellavo {

void TuneHeapForBatches() {
  // Fixed thresholds: the library's sliding mapping threshold would otherwise rise with every
  // large block freed and keep decoder buffers of many megabytes in a worker's heap.
  constexpr int kKeptHeapTopBytes = 32 << 20;
  constexpr int kMappedBlockBytes = 8 << 20;
  mallopt(M_TRIM_THRESHOLD, kKeptHeapTopBytes);
  mallopt(M_MMAP_THRESHOLD, kMappedBlockBytes);
}

}  // namespace pellavo
