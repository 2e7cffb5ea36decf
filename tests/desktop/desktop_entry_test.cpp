// The desktop entry's MimeType= decides which files a file manager offers to open with Pellavo.
// Checked against the format registry through the system's MIME database (shared-mime-info), so
// that a reader added without its type, or a type listed that nothing reads, is found here.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "formats/all/standard_formats.h"

namespace pellavo {
namespace {

constexpr const char* kDesktopEntry = "desktop/pellavo.desktop";
constexpr const char* kMimeGlobs = "/usr/share/mime/globs2";
constexpr const char* kMimeAliases = "/usr/share/mime/aliases";
constexpr const char* kFolderType = "inode/directory";

std::set<std::string> ListedMimeTypes() {
  std::ifstream in(kDesktopEntry);
  EXPECT_TRUE(in) << "cannot read " << kDesktopEntry;
  std::set<std::string> types;
  for (std::string line; std::getline(in, line);) {
    if (!line.starts_with("MimeType=")) continue;
    std::istringstream list(line.substr(line.find('=') + 1));
    for (std::string type; std::getline(list, type, ';');)
      if (!type.empty()) types.insert(type);
  }
  return types;
}

// Extension (lower case, no dot) to the types the MIME database gives files named *.ext.
std::map<std::string, std::set<std::string>> TypesByExtension() {
  std::ifstream in(kMimeGlobs);
  EXPECT_TRUE(in) << "cannot read " << kMimeGlobs << " (package shared-mime-info)";
  std::map<std::string, std::set<std::string>> types;
  // weight:type:glob[:flags...]
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string weight, type, glob;
    if (!std::getline(fields, weight, ':') || !std::getline(fields, type, ':') || !std::getline(fields, glob, ':'))
      continue;
    if (glob.starts_with("*.") && glob.find_first_of("*?[", 2) == std::string::npos)
      types[glob.substr(2)].insert(type);
  }
  return types;
}

// Alias to its canonical type ("image/x-icon" -> "image/vnd.microsoft.icon").
std::map<std::string, std::string> CanonicalTypes() {
  std::ifstream in(kMimeAliases);
  EXPECT_TRUE(in) << "cannot read " << kMimeAliases;
  std::map<std::string, std::string> canonical;
  for (std::string alias, type; in >> alias >> type;) canonical[alias] = type;
  return canonical;
}

TEST(DesktopEntry, MimeTypesAreExactlyTheRegisteredFormats) {
  const std::set<std::string> listed = ListedMimeTypes();
  const auto by_extension = TypesByExtension();
  const auto canonical = CanonicalTypes();

  const TFileFormatsList formats = StandardFormats();
  std::set<std::string> readable;  // canonical types of every registered extension
  for (const TFileFormat& format : formats.Entries()) {
    SCOPED_TRACE("." + format.FileExt);
    const auto found = by_extension.find(format.FileExt);
    ASSERT_NE(found, by_extension.end()) << "the MIME database has no type for this extension";
    for (const std::string& type : found->second) {
      EXPECT_TRUE(listed.contains(type)) << type << " is missing from " << kDesktopEntry;
      readable.insert(type);
    }
  }

  EXPECT_TRUE(listed.contains(kFolderType)) << "a folder from the file manager must open too";
  for (const std::string& type : listed) {
    if (type == kFolderType) continue;
    const auto alias = canonical.find(type);
    const std::string& name = alias == canonical.end() ? type : alias->second;
    EXPECT_TRUE(readable.contains(name)) << type << " is listed but no registered format reads it";
  }
}

}  // namespace
}  // namespace pellavo
