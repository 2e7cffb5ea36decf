#include "batch/output_folder.h"

#include <sys/stat.h>

#include <cerrno>

#include "core/errors.h"
#include "core/paths.h"

namespace pellavo {

std::optional<TOutputFolder> ChosenOutputFolder(const std::string& source, const std::string& relative_folder,
                                                const TOutputFolderRule& rule) {
  if (!rule.DestFolder.empty())
    return TOutputFolder{IncludeTrailingSeparator(rule.DestFolder), rule.KeepTree ? relative_folder : std::string()};
  if (rule.Subfolder) return TOutputFolder{ExtractFilePath(source), *rule.Subfolder + "/"};
  return std::nullopt;
}

std::string MakeFoldersBelow(const std::string& base, const std::string& relative) {
  std::string path = IncludeTrailingSeparator(base);
  size_t start = 0;
  while (start < relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    const std::string part = relative.substr(start, end - start);
    start = end + 1;
    if (part.empty()) continue;
    // Names that climb out are never made: the parts come from folder listings and checked names.
    if (part == "." || part == "..") return "The folder \"" + path + part + "\" would not lie in \"" + base + "\"";
    path += part;
    if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
      return "Cannot create the folder \"" + path + "\": " + SystemErrorText(errno);
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return "Cannot create the folder \"" + path + "\": " + SystemErrorText(errno);
    if (S_ISLNK(st.st_mode))
      return "\"" + path + "\" is a symbolic link: the outputs would not stay in \"" + base + "\"";
    if (!S_ISDIR(st.st_mode)) return "\"" + path + "\" exists and is not a folder";
    path += "/";
  }
  return {};
}

}  // namespace pellavo
