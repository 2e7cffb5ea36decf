#include "batch/replaced_sources.h"

#include <sys/stat.h>

#include <optional>

namespace pellavo {
namespace {

// A link at the end of the path is the link itself: an output there replaces the link, never
// the file it points to.
std::optional<std::pair<dev_t, ino_t>> FileIdOf(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !(S_ISREG(st.st_mode) || S_ISLNK(st.st_mode))) return std::nullopt;
  return std::pair{st.st_dev, st.st_ino};
}

}  // namespace

TSourceReplacements::TSourceReplacements(const std::vector<TPlannedOutput>& plan) {
  for (const TPlannedOutput& entry : plan)
    if (const auto id = FileIdOf(entry.Source)) sources_.insert(*id);
}

std::set<TSourceReplacements::TFileId> TSourceReplacements::Replaced(const std::vector<TPlannedOutput>& plan,
                                                                     bool copies) const {
  std::set<TFileId> replaced;
  for (const TPlannedOutput& entry : plan) {
    const auto target = FileIdOf(entry.Output);
    if (!target || !sources_.contains(*target)) continue;
    if (copies && target == FileIdOf(entry.Source)) continue;
    replaced.insert(*target);
  }
  return replaced;
}

int TSourceReplacements::Count(const std::vector<TPlannedOutput>& plan, bool copies) const {
  return static_cast<int>(Replaced(plan, copies).size());
}

void TSourceReplacements::Agree(const std::vector<TPlannedOutput>& plan, bool copies) {
  agreed_ = Replaced(plan, copies);
}

bool TSourceReplacements::MayReplace(const TPlannedOutput& entry, bool copies) const {
  const std::set<TFileId> replaced = Replaced({entry}, copies);
  return replaced.empty() || agreed_.contains(*replaced.begin());
}

int ReplacedSourceCount(const std::vector<TPlannedOutput>& plan, bool copies) {
  return TSourceReplacements(plan).Count(plan, copies);
}

}  // namespace pellavo
