#pragma once
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/free_names.h"
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
// TSafeOutput takes the free name and publishes the file in one step.
std::string UniqueFileName(const std::string& path);

// The way every output file is written. The bytes go to a short-named temporary file
// (".pv-XXXXXX") in the target's folder and take their real name only on Commit, so a failed
// or interrupted write never leaves a truncated file, nor an empty one under a real name, and
// never damages a file that was there before (the source itself, when a run writes over its
// sources).
//
// Without overwrite, Commit publishes under the first free name (path, name[1].ext, ...) with a
// rename that refuses to replace anything, stepping on when a name is taken; two writers, in
// one process or several, never get the same name. With overwrite, Commit replaces what is at
// path: a regular file keeps its mode; a symbolic link is replaced as a link, never written
// through, so the outputs stay in the folder the caller named.
class TSafeOutput {
 public:
  // Creates the temporary file; throws EFCreateError. With overwrite, a folder or any other
  // thing that is neither a regular file nor a link at path is refused here. Without overwrite,
  // free_names (the run's, when there is one; it must outlive Commit) says where the search for a
  // free name starts and learns the name taken.
  TSafeOutput(const std::string& path, bool overwrite, TFreeNames* free_names = nullptr);
  ~TSafeOutput();
  TSafeOutput(const TSafeOutput&) = delete;
  TSafeOutput& operator=(const TSafeOutput&) = delete;

  // The name the file is meant to get; once committed, the name it got.
  const std::string& FinalName() const { return final_name_; }
  TFileStream& Stream() { return *stream_; }
  // The file is given this modification time when it is committed, after its last byte.
  void SetModificationTime(const TFileTime& time) { modification_time_ = time; }
  // Completes the file under FinalName; throws EWriteError (and leaves nothing) on failure.
  void Commit();

 private:
  void Discard() noexcept;

  std::string final_name_;
  std::string temp_name_;
  bool overwrite_;
  TFreeNames* free_names_;
  bool replacing_ = false;  // a regular file of the user's is being replaced
  bool committed_ = false;
  std::optional<TFileTime> modification_time_;
  std::unique_ptr<TFileStream> stream_;
};

// Writes bytes to path through TSafeOutput; returns the final name.
std::string WriteFileSafely(const std::string& path, bool overwrite, const void* bytes, size_t count);

// Whether a file name has the temporary files' pattern: ".pv-" and six letters or digits.
bool IsTempFileName(std::string_view name);

// Removes the temporary files this process is still writing and refuses new ones from then
// on: the last step of a program that is interrupted with work under way. Any thread; not
// from a signal handler.
void AbandonTempFiles();

// Removes leftovers of killed runs from folder (empty: the current folder): regular files of
// the temporary pattern that carry the mark TSafeOutput gives its temporary files (and takes off
// its outputs), owned by this user, not changed for at least max_age. A file that merely has
// such a name is never touched. Returns how many went; a folder that cannot be read is left
// alone.
int RemoveStaleTempFiles(const std::string& folder, std::chrono::seconds max_age);
inline constexpr std::chrono::seconds kStaleTempAge = std::chrono::hours(24);

namespace files_detail {
// Publishes temp as target unless something exists there, for file systems whose rename cannot
// refuse to replace: a hard link, which fails when the name is taken, then temp's removal.
// Returns 0 or the errno.
int LinkNoReplace(const std::string& temp, const std::string& target);
}  // namespace files_detail

}  // namespace pellavo
