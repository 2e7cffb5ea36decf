#pragma once
#include <sys/types.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace pellavo {

// One entry of a run as Start plans it: its source and the path its output will be written to.
struct TPlannedOutput {
  std::string Source;
  std::string Output;
};

// The run's own source files as the file system knows them, however their paths are spelt
// (linked folders, "..", a doubled separator), and which of them the user agreed to replace.
// An output that is a link replaces the link, not its target. With copies, an output that is
// its own source replaces nothing: the copy rewrites the same bytes.
class TSourceReplacements {
 public:
  TSourceReplacements() = default;
  explicit TSourceReplacements(const std::vector<TPlannedOutput>& plan);

  // How many sources the plan's outputs would replace were they written with overwriting on;
  // each source counts once.
  int Count(const std::vector<TPlannedOutput>& plan, bool copies) const;
  // The user said yes to the replacements the plan makes.
  void Agree(const std::vector<TPlannedOutput>& plan, bool copies);
  // Whether entry's output may overwrite what is there. Overwriting, the destination and the
  // format are read again for each file, so an output can come to land on a source the user
  // was never asked about; that source must stay.
  bool MayReplace(const TPlannedOutput& entry, bool copies) const;

 private:
  using TFileId = std::pair<dev_t, ino_t>;
  std::set<TFileId> Replaced(const std::vector<TPlannedOutput>& plan, bool copies) const;

  std::set<TFileId> sources_;
  std::set<TFileId> agreed_;
};

// TSourceReplacements(plan).Count(plan, copies).
int ReplacedSourceCount(const std::vector<TPlannedOutput>& plan, bool copies);

}  // namespace pellavo
