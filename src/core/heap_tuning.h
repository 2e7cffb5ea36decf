#pragma once

namespace pellavo {

// Sets the C library's heap up for a run of conversions; called once at the start of main,
// before any worker thread exists. Each file allocates and frees buffers of much the same sizes
// as the last: with the library's default, the freed top of the heap went back to the system
// after each file, and every block over 128 KB (a decoded photo, a target) had a mapping of its
// own, so the next file faulted the same pages in again. Blocks up to 8 MB now come from the
// heap and are reused; larger ones are still mapped for themselves and returned when freed.
void TuneHeapForBatches();

}  // namespace pellavo
