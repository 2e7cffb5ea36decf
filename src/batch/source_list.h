#pragma once
#include <sys/types.h>

#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace pellavo {

// The files the next run converts, in the order they were added. Every route but the
// open-file dialog admits a path through AddSourcePath: folders expand, files pass only when
// their extension belongs to a registered image format.
class TSourceList {
 public:
  // Adds path, or the files of the folder it names; returns how many entries were added.
  int AddSourcePath(const std::string& path);
  // Adds the admissible regular files of folder in name order, letter case ignored; descends
  // into sub-folders only when IncludeSubfolders is on at the moment one is met. Pipes, devices
  // and sockets are passed over, whatever their names.
  int ScanSourceFolder(const std::string& folder);
  // Replaces the whole list by the lines of text (CR, LF or CR LF), untested, then removes the
  // unsupported ones: the route of a pasted text.
  void ReplaceWithLines(const std::string& text);
  // Keeps only entries whose extension has at least three letters after the dot and occurs in
  // the filter string.
  void RemoveUnsupportedEntries();

  void Append(const std::string& path) { Add(path, {}); }
  // Every entry of other, with its folder, after the last.
  void Append(const TSourceList& other) {
    entries_.insert(entries_.end(), other.entries_.begin(), other.entries_.end());
    folders_.insert(folders_.end(), other.folders_.begin(), other.folders_.end());
  }
  void Remove(int index);
  void Clear() {
    entries_.clear();
    folders_.clear();
  }
  // The entries in list order, each followed by CR LF: what a copy puts on the clipboard.
  static std::string JoinLines(const std::vector<std::string>& entries);

  const std::vector<std::string>& Entries() const { return entries_; }
  int Count() const { return static_cast<int>(entries_.size()); }
  // The folder of the entry at index relative to the folder it was added with ("2019/summer/"),
  // empty for a file added alone or directly inside the folder added.
  const std::string& Folder(int index) const { return folders_[static_cast<size_t>(index)]; }

  bool IncludeSubfolders = false;
  // Sub-folders of this name are passed over by scans (empty: none): the folders a run writes
  // its outputs into beside their sources, which are no sources of the next run.
  std::string SkippedFolderName;
  // Told of every folder that a scan cannot read (the path given itself, when it names nothing
  // readable) and of every entry of a scanned folder that cannot be examined, with the errno.
  // The window leaves it unset: its scans drop such paths silently.
  std::function<void(const std::string& path, int error)> OnUnreadable;

 private:
  int ScanFolder(const std::string& folder, const std::string& relative, std::set<std::pair<dev_t, ino_t>>& visited);
  void Add(std::string path, std::string folder) {
    entries_.push_back(std::move(path));
    folders_.push_back(std::move(folder));
  }

  std::vector<std::string> entries_;
  std::vector<std::string> folders_;  // beside entries_, one for each
};

// True when the path names a folder, and also when nothing can be read at the path: a missing
// path then reaches the folder scan, which finds nothing.
bool IsFolderPath(const std::string& path);

// "Files: %d"
std::string FileCountText(int count);

}  // namespace pellavo
