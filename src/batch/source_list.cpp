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
  Add(path, {});
  return 1;
}

int TSourceList::ScanSourceFolder(const std::string& folder) {
  std::set<std::pair<dev_t, ino_t>> visited;
  return ScanFolder(folder, {}, visited);
}

int TSourceList::ScanFolder(const std::string& folder, const std::string& relative,
                            std::set<std::pair<dev_t, ino_t>>& visited) {
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
        Add(full, relative);
        ++added;
      }
    } else if (S_ISDIR(st.st_mode) && IncludeSubfolders && name != SkippedFolderName) {
      added += ScanFolder(full, relative + name + "/", visited);
    }
  }
  return added;
}

void TSourceList::ReplaceWithLines(const std::string& text) {
  Clear();
  std::string line;
  bool pending = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      Add(line, {});
      line.clear();
      pending = false;
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      line += c;
      pending = true;
    }
  }
  if (pending) Add(line, {});
  RemoveUnsupportedEntries();
}

void TSourceList::RemoveUnsupportedEntries() {
  const std::string& filter = FileFormats().LowerFilter();
  size_t kept = 0;
  for (size_t i = 0; i < entries_.size(); ++i) {
    const std::string ext = LowerAscii(ExtractFileExt(entries_[i]));
    if (ext.size() < 4 || filter.find(ext) == std::string::npos) continue;
    if (kept != i) {
      entries_[kept] = std::move(entries_[i]);
      folders_[kept] = std::move(folders_[i]);
    }
    ++kept;
  }
  entries_.resize(kept);
  folders_.resize(kept);
}

void TSourceList::Remove(int index) {
  if (index < 0 || index >= Count()) return;
  entries_.erase(entries_.begin() + index);
  folders_.erase(folders_.begin() + index);
}

std::string TSourceList::JoinLines(const std::vector<std::string>& entries) {
  std::string text;
  for (const std::string& e : entries) text += e + "\r\n";
  return text;
}

}  // namespace pellavo
