#pragma once
#include <optional>
#include <string>

namespace pellavo {

// Where a run puts an entry's output, before the naming rule picks the name in it.
struct TOutputFolderRule {
  std::string DestFolder;                // empty: beside the source
  std::optional<std::string> Subfolder;  // with no destination: this folder beside the source
  bool KeepTree = false;                 // with a destination: the entry's own folder below it
};

// The folder for an entry (with its trailing separator), or empty when the output goes beside
// its source as it always did. relative_folder is the entry's folder relative to the folder the
// user added ("2019/summer/"; empty for a file added alone).
std::string ChosenOutputFolder(const std::string& source, const std::string& relative_folder,
                               const TOutputFolderRule& rule);

// Creates the folders of relative (a path below base, "a/b/") that are missing, below base,
// which must exist. Returns why it cannot, or empty: a part that exists as anything but a
// folder, a symbolic link included (an output would leave base through it), or a failed mkdir.
std::string MakeFoldersBelow(const std::string& base, const std::string& relative);

}  // namespace pellavo
