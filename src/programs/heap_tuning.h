#pragma once
// The C library's heap set up for a run of conversions, by each program's main before any
// thread exists (the heap's settings are not meant to change under running threads). Only the
// programs choose this: the engine leaves the process's heap to whoever embeds it.
#include <cstdlib>
#include <cstring>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace pellavo {

// Each file allocates and frees buffers of much the same sizes as the last: with the library's
// defaults the freed top of a heap went back to the system after each file, and every block
// over 128 KB (a decoded photo, a target) had a mapping of its own, so the next file faulted
// the same pages in again. Blocks up to 8 MB now come from the heap and are reused; larger
// ones are still mapped for themselves and returned when freed. The thresholds are fixed: the
// library's sliding mapping threshold would otherwise rise with every large block freed and
// keep decoder buffers of many megabytes in a worker's heap. Malloc settings the user gave in
// GLIBC_TUNABLES are left as given (bench/heap_tuning.sh compares the two that way).
inline void TuneHeapForBatches() {
#ifdef __GLIBC__
  if (const char* tunables = std::getenv("GLIBC_TUNABLES"); tunables && std::strstr(tunables, "glibc.malloc."))
    return;
  constexpr int kKeptHeapTopBytes = 32 << 20;
  constexpr int kMappedBlockBytes = 8 << 20;
  mallopt(M_TRIM_THRESHOLD, kKeptHeapTopBytes);
  mallopt(M_MMAP_THRESHOLD, kMappedBlockBytes);
#endif
}

}  // namespace pellavo
