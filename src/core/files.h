#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/stream.h"

namespace pellavo {

// True when something other than a folder exists at path.
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);

// A file's modification time, to the nanosecond.
struct TFileTime {
  int64_t Seconds = 0;      // since the epoch
  int64_t Nanoseconds = 0;  // 0 to 999999999
  friend bool operator==(const TFileTime&, const TFileTime&) = default;
};
// The modification time of the file at path; throws EFOpenError when it cannot be examined.
TFileTime FileModificationTime(const std::string& path);

// path with "[n]" put before its extension: a.jpg -> a[3].jpg.
std::string NumberedFileName(const std::string& path, int n);

// path itself when no file exists there, else the first free name[n].ext. Only a snapshot:
// the writers claim their name through TSafeOutput, which makes the pick and the creation one step.
std::string UniqueFileName(const std::string& path);

// The way every output file is written. The bytes go to a hidden temporary file in the target's
// folder and take the target's name only on Commit, so a failed write never leaves a truncated
// file behind nor damages a file that was there before (the source itself, when a run writes
// over its sources).
//
// With overwrite off, the constructor claims the first free name (path, then name[1].ext, ...)
// by creating it exclusively, so that two workers of one run never pick the same path.
class TSafeOutput {
 public:
  TSafeOutput(const std::string& path, bool overwrite);
  ~TSafeOutput();
  TSafeOutput(const TSafeOutput&) = delete;
  TSafeOutput& operator=(const TSafeOutput&) = delete;

  // The path the file will have once committed.
  const std::string& FinalName() const { return final_name_; }
  TFileStream& Stream() { return *stream_; }
  // The file is given this modification time when it is committed, after its last byte.
  void SetModificationTime(const TFileTime& time) { modification_time_ = time; }
  // Completes the file under FinalName; throws EWriteError (and leaves nothing) on failure.
  void Commit();

 private:
  void ClaimFreeName(const std::string& path);
  void Discard() noexcept;

  std::string final_name_;
  std::string replace_path_;  // what the rename replaces: FinalName, or the file a link names
  std::string temp_name_;
  bool claimed_ = false;      // we created an empty placeholder at FinalName
  bool replacing_ = false;    // a file of the user's is being replaced
  bool committed_ = false;
  std::optional<TFileTime> modification_time_;
  std::unique_ptr<TFileStream> stream_;
};

// Writes bytes to path through TSafeOutput; returns the final name.
std::string WriteFileSafely(const std::string& path, bool overwrite, const void* bytes, size_t count);

}  // namespace pellavo
