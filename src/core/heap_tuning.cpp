#include "core/heap_tuning.h"

#include <malloc.h>

namespace pellavo {

void TuneHeapForBatches() {
  // Setting the trim threshold also fixes the mapping threshold at its default of 128 KB:
  // larger blocks are mapped for themselves and returned as soon as they are freed.
  constexpr int kKeptHeapTopBytes = 32 << 20;
  mallopt(M_TRIM_THRESHOLD, kKeptHeapTopBytes);
}

}  // namespace pellavo
