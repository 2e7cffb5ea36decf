#pragma once
#include <string>
#include <vector>

namespace pellavo {

// One entry of a run as Start plans it: its source and the path its output will be written to.
struct TPlannedOutput {
  std::string Source;
  std::string Output;
};

// How many of a run's own source files its outputs would replace, were they written with
// overwriting on: outputs that land on an existing file that is one of the plan's sources,
// however either path is spelt (linked folders, "..", a doubled separator); an output that is a
// link replaces the link, not its target. Each source counts once.
// With copies, an output that is its own source counts not: the copy rewrites the same bytes.
int ReplacedSourceCount(const std::vector<TPlannedOutput>& plan, bool copies);

}  // namespace pellavo
