#include <gtest/gtest.h>

#include <limits>

#include "app/memory_counters.h"

namespace pellavo {
namespace {

TEST(MemoryCounters, LabelsShowWholeKilobytesRoundedToNearest) {
  const struct {
    uint64_t bytes;
    const char* usage;
  } cases[] = {
      {12345678, "Memory usage: 12056K"},
      {0, "Memory usage: 0K"},
      {511, "Memory usage: 0K"},
      {512, "Memory usage: 1K"},  // a half goes up
      {1535, "Memory usage: 1K"},
      {5368709120, "Memory usage: 5242880K"},  // 5 GiB: not wrapped at 32 bits
      {std::numeric_limits<uint64_t>::max(), "Memory usage: 18014398509481984K"},
  };
  for (const auto& c : cases) EXPECT_EQ(MemoryUsageText(c.bytes), c.usage) << c.bytes;
  EXPECT_EQ(PeakMemoryUsageText(12345678), "Peak memory usage: 12056K");
}

TEST(MemoryCounters, ProcStatusGivesTheResidentSetAndItsPeak) {
  const struct {
    const char* status;
    std::optional<uint64_t> current, peak;
  } cases[] = {
      {"Name:\tpellavo\nVmPeak:\t  999 kB\nVmHWM:\t    2048 kB\nVmRSS:\t    1024 kB\nThreads:\t3\n", 1048576, 2097152},
      {"VmRSS: 1 kB\nVmHWM: 3 kB", 1024, 3072},  // no final line break
      {"VmRSS:\t1024 kB\n", std::nullopt, std::nullopt},          // no peak
      {"VmRSS:\t10 MB\nVmHWM:\t20 kB\n", std::nullopt, std::nullopt},  // another unit
      {"VmRSS:\t\nVmHWM:\t20 kB\n", std::nullopt, std::nullopt},
      {"VmRSSx:\t1 kB\nVmHWM:\t2 kB\n", std::nullopt, std::nullopt},  // a longer name is another line
      {"", std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    const std::optional<TMemoryCounters> parsed = ParseProcStatus(c.status);
    ASSERT_EQ(parsed.has_value(), c.current.has_value()) << c.status;
    if (!parsed) continue;
    EXPECT_EQ(parsed->WorkingSetSize, *c.current) << c.status;
    EXPECT_EQ(parsed->PeakWorkingSetSize, *c.peak) << c.status;
  }

  const std::optional<TMemoryCounters> own = ReadMemoryCounters();
  ASSERT_TRUE(own.has_value());
  EXPECT_GT(own->WorkingSetSize, 0u);
  EXPECT_GE(own->PeakWorkingSetSize, own->WorkingSetSize);
}

}  // namespace
}  // namespace pellavo
