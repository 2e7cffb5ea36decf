#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pellavo {

// The process's physical memory in bytes: what it occupies now and the most it has occupied.
struct TMemoryCounters {
  uint64_t WorkingSetSize = 0;
  uint64_t PeakWorkingSetSize = 0;
};

// The figures of a /proc/<pid>/status text: its resident set (VmRSS) and the resident set's
// high-water mark (VmHWM), both given in kB. None when either line is missing or malformed.
std::optional<TMemoryCounters> ParseProcStatus(std::string_view status);
// This process's figures; none when they cannot be read.
std::optional<TMemoryCounters> ReadMemoryCounters();

// "Memory usage: 12056K" for 12345678 bytes: whole kilobytes, rounded to nearest with halves
// away from zero. The count is kept at 64 bits, so a process past 4 GiB is not shown wrapped.
std::string MemoryUsageText(uint64_t bytes);
// "Peak memory usage: 12056K", rounded the same way.
std::string PeakMemoryUsageText(uint64_t bytes);

}  // namespace pellavo
