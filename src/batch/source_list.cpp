#include "batch/source_list.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <set>
#include <utility>

#include "core/paths.h"
#include "formats/registry.h"

namespace pellavo {
bool IsFolderPath(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return true;
  return S_ISDIR(st.st_mode);
}

std::string FileCountText(int count) { return "Files: " + std::to_string(count); }

int TSourceList::AddSourcePath(const std::string& path) {
  if (IsFolderPath(path)) return ScanSourceFolder(path);
  if (!IsImageFileName(path)) return 0;
  entries_.push_back(path);
  return 1;
}

int TSourceList::ScanSourceFolder(const std::string& folder) {
  std::set<std::pair<dev_t, ino_t>> visited;
  return ScanFolder(folder, visited);
}

int TSourceList::ScanFolder(const std::string& folder, std::set<std::pair<dev_t, ino_t>>& visited) {
  const auto unreadable = [this](const std::string& path, int error) {
    if (OnUnreadable) OnUnreadable(path, error);
  };
  // A link back to a folder being scanned would otherwise add the same files without end.
  struct stat st;
  if (::stat(folder.c_str(), &st) == 0 && !visited.insert({st.st_dev, st.st_ino}).second) return 0;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
  if (!dir) {
    unreadable(folder, errno);
    return 0;
  }
  std::vector<std::string> names;
  for (;;) {
    errno = 0;
    const dirent* e = ::readdir(dir.get());
    if (!e) {
      if (errno != 0) unreadable(folder, errno);
      break;
    }
    if (e->d_name[0] == '.') continue;  // also every hidden file and folder
    names.emplace_back(e->d_name);
  }
  dir.reset();
  // By name, ignoring letter case, the way the platform the program comes from lists a folder, so
  // that "$" numbering is the same on every machine.
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const std::string la = LowerAscii(a), lb = LowerAscii(b);
    return la != lb ? la < lb : a < b;
  });

  int added = 0;
  for (const std::string& name : names) {
    const std::string full = IncludeTrailingSeparator(folder) + name;
    if (::stat(full.c_str(), &st) != 0) {
      // Gone since the listing, or a link to nothing: there is nothing to convert. Anything
      // else (a link loop, no permission to look) hides an image or a folder the scan would take.
      if (errno != ENOENT && (IncludeSubfolders || IsImageFileName(full))) unreadable(full, errno);
      continue;
    }
    if (S_ISREG(st.st_mode)) {
      if (IsImageFileName(full)) {
        entries_.push_back(full);
        ++added;
      }
    } else if (S_ISDIR(st.st_mode) && IncludeSubfolders) {
      added += ScanFolder(full, visited);
    }
  }
  return added;
}

void TSourceList::ReplaceWithLines(const std::string& text) {
  entries_.clear();
  std::string line;
  bool pending = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      entries_.push_back(line);
      line.clear();
      pending = false;
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      line += c;
      pending = true;
    }
  }
  if (pending) entries_.push_back(line);
  RemoveUnsupportedEntries();
}

void TSourceList::RemoveUnsupportedEntries() {
  const std::string& filter = FileFormats().LowerFilter();
  std::erase_if(entries_, [&](const std::string& entry) {
    const std::string ext = LowerAscii(ExtractFileExt(entry));
    return ext.size() < 4 || filter.find(ext) == std::string::npos;
  });
}

void TSourceList::Remove(int index) {
  if (index >= 0 && index < Count()) entries_.erase(entries_.begin() + index);
}

std::string TSourceList::JoinLines(const std::vector<std::string>& entries) {
  std::string text;
  for (const std::string& e : entries) text += e + "\r\n";
  return text;
}

}  // namespace pellavo
