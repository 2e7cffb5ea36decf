#include "batch/replaced_sources.h"

#include <sys/stat.h>

#include <optional>
#include <set>
#include <utility>

namespace pellavo {
namespace {

// A file as the file system knows it, whatever path leads to it. A link at the end of the path
// is the link itself: an output there replaces the link, never the file it points to.
using TFileId = std::pair<dev_t, ino_t>;

std::optional<TFileId> FileIdOf(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !(S_ISREG(st.st_mode) || S_ISLNK(st.st_mode))) return std::nullopt;
  return TFileId{st.st_dev, st.st_ino};
}

}  // namespace

int ReplacedSourceCount(const std::vector<TPlannedOutput>& plan, bool copies) {
  std::set<TFileId> sources;
  for (const TPlannedOutput& entry : plan)
    if (const auto id = FileIdOf(entry.Source)) sources.insert(*id);

  std::set<TFileId> replaced;
  for (const TPlannedOutput& entry : plan) {
    const auto target = FileIdOf(entry.Output);
    if (!target || !sources.contains(*target)) continue;
    if (copies && target == FileIdOf(entry.Source)) continue;
    replaced.insert(*target);
  }
  return static_cast<int>(replaced.size());
}

}  // namespace pellavo
