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

// An entry's output folder: a folder that exists and the folders below it that the run makes.
struct TOutputFolder {
  std::string Existing;  // the destination or the source's folder, with its trailing separator
  std::string Made;      // "2019/summer/", "small/"; empty when nothing is made
  std::string Path() const { return Existing + Made; }
};

// The folder for an entry, or none when the output goes beside its source as it always did.
// relative_folder is the entry's folder relative to the folder the user added ("2019/summer/";
// empty for a file added alone).
std::optional<TOutputFolder> ChosenOutputFolder(const std::string& source, const std::string& relative_folder,
                                                const TOutputFolderRule& rule);

// Creates the folders of relative (a path below base, "a/b/") that are missing, below base,
// which must exist. Returns why it cannot, or empty: a part that exists as anything but a
// folder, a symbolic link included (an output would leave base through it), or a failed mkdir.
std::string MakeFoldersBelow(const std::string& base, const std::string& relative);

}  // namespace pellavo
