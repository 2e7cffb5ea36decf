#include "app/memory_counters.h"

#include <charconv>
#include <fstream>
#include <limits>
#include <sstream>

namespace pellavo {
namespace {

// The value of a "Name:   1234 kB" line in bytes; none when the line is absent or not in kB.
std::optional<uint64_t> KilobyteField(std::string_view status, std::string_view name) {
  size_t at = 0;
  while (at < status.size()) {
    const size_t end = std::min(status.find('\n', at), status.size());
    std::string_view line = status.substr(at, end - at);
    at = end + 1;
    if (!line.starts_with(name) || line.size() <= name.size() || line[name.size()] != ':') continue;
    line.remove_prefix(name.size() + 1);
    line.remove_prefix(std::min(line.find_first_not_of(" \t"), line.size()));
    uint64_t kilobytes = 0;
    const auto [rest, error] = std::from_chars(line.data(), line.data() + line.size(), kilobytes);
    if (error != std::errc() || std::string_view(rest, line.data() + line.size()) != " kB") return std::nullopt;
    if (kilobytes > std::numeric_limits<uint64_t>::max() / 1024) return std::nullopt;
    return kilobytes * 1024;
  }
  return std::nullopt;
}

std::string KilobyteText(std::string_view caption, uint64_t bytes) {
  // (bytes + 512) / 1024 would overflow for the last 512 values; the quotient and remainder
  // give the same rounding without it.
  const uint64_t kilobytes = bytes / 1024 + (bytes % 1024 >= 512 ? 1 : 0);
  return std::string(caption) + std::to_string(kilobytes) + "K";
}

}  // namespace

std::optional<TMemoryCounters> ParseProcStatus(std::string_view status) {
  const std::optional<uint64_t> current = KilobyteField(status, "VmRSS");
  const std::optional<uint64_t> peak = KilobyteField(status, "VmHWM");
  if (!current || !peak) return std::nullopt;
  return TMemoryCounters{*current, *peak};
}

std::optional<TMemoryCounters> ReadMemoryCounters() {
  std::ifstream file("/proc/self/status");
  if (!file) return std::nullopt;
  std::ostringstream text;
  text << file.rdbuf();
  return ParseProcStatus(text.str());
}

std::string MemoryUsageText(uint64_t bytes) { return KilobyteText("Memory usage: ", bytes); }

std::string PeakMemoryUsageText(uint64_t bytes) { return KilobyteText("Peak memory usage: ", bytes); }

}  // namespace pellavo
