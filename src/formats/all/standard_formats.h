#pragma once

namespace pellavo {

// Registers every format of the program, in the order that fixes the filter string. Call once
// at program start, before any worker runs; later calls do nothing.
void RegisterStandardFormats();

}  // namespace pellavo
