#pragma once
#include "formats/registry.h"

namespace pellavo {

// Every format the program reads, in the order that fixes the filter string.
TFileFormatsList StandardFormats();

// Installs StandardFormats as the process-wide registry. Call at program start, before any
// worker runs; later calls do nothing.
void RegisterStandardFormats();

}  // namespace pellavo
