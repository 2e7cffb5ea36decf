#pragma once

namespace pellavo {

// Sets the C library's heap up for a run of conversions; called once at the start of main,
// before any worker thread exists. Each file allocates and frees buffers of much the same sizes
// as the last: with the library's default, the freed top of the heap went back to the system
// after each file and the next file faulted the same pages in again, and the threshold for
// giving a block its own mapping rose with every large block freed, so that decoder buffers of
// many megabytes (a progressive JPEG's coefficients) stayed in a worker's heap after their file.
void TuneHeapForBatches();

}  // namespace pellavo
