#include "core/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "core/errors.h"
#include "core/paths.h"

namespace pellavo {
namespace {

[[noreturn]] void ThrowCreate(const std::string& path, int err) {
  throw EFCreateError("Cannot create file \"" + path + "\". " + SystemErrorText(err));
}

// Unique enough among the threads and processes that may write into one folder at once;
// O_EXCL settles any collision.
std::string TempSuffix() {
  static std::atomic<uint64_t> counter{0};
  thread_local std::mt19937_64 random{std::random_device{}()};
  char text[48];
  std::snprintf(text, sizeof text, "%d-%llx-%llx", static_cast<int>(::getpid()),
                static_cast<unsigned long long>(counter.fetch_add(1)),
                static_cast<unsigned long long>(random() & 0xFFFFFF));
  return text;
}

}  // namespace

TFileTime FileModificationTime(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0)
    throw EFOpenError("Cannot open file \"" + path + "\". " + SystemErrorText(errno));
  return TFileTime{static_cast<int64_t>(st.st_mtim.tv_sec), static_cast<int64_t>(st.st_mtim.tv_nsec)};
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string NumberedFileName(const std::string& path, int n) {
  return ChangeFileExt(path, "[" + std::to_string(n) + "]" + ExtractFileExt(path));
}

std::string UniqueFileName(const std::string& path) {
  if (!FileExists(path)) return path;
  for (int n = 1;; ++n) {
    std::string candidate = NumberedFileName(path, n);
    if (!FileExists(candidate)) return candidate;
  }
}

TSafeOutput::TSafeOutput(const std::string& path, bool overwrite) {
  mode_t mode = 0666;
  if (overwrite) {
    final_name_ = path;
    replace_path_ = path;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) ThrowCreate(path, EISDIR);
      replacing_ = true;
      mode = st.st_mode & 07777;
      // Replace the file a link names, not the link.
      char resolved[PATH_MAX];
      if (::realpath(path.c_str(), resolved)) replace_path_ = resolved;
    }
  } else {
    ClaimFreeName(path);
    replace_path_ = final_name_;
  }

  // Created with 0666 so that the umask applies as for any new file; a replaced file keeps its mode.
  const std::string stem = ExtractFilePath(replace_path_) + "." + ExtractFileName(replace_path_) + ".pellavo-";
  int fd = -1;
  for (int attempt = 0; fd < 0; ++attempt) {
    std::string temp = stem + TempSuffix();
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      temp_name_ = std::move(temp);
    } else if (errno != EEXIST || attempt > 100) {
      const int err = errno;
      Discard();
      ThrowCreate(final_name_, err);
    }
  }
  if (replacing_) (void)::fchmod(fd, mode);
  stream_ = std::make_unique<TFileStream>(fd, final_name_);
}

void TSafeOutput::ClaimFreeName(const std::string& path) {
  for (int n = 0;; ++n) {
    std::string candidate = n == 0 ? path : NumberedFileName(path, n);
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      final_name_ = std::move(candidate);
      claimed_ = true;
      return;
    }
    if (errno != EEXIST) ThrowCreate(candidate, errno);
    if (n == INT_MAX) ThrowCreate(path, EEXIST);
  }
}

void TSafeOutput::Commit() {
  try {
    if (modification_time_) {
      // Set on the finished temporary file: the rename keeps it, and a failure leaves nothing.
      stream_->Flush();
      const timespec times[2] = {{0, UTIME_OMIT},
                                 {static_cast<time_t>(modification_time_->Seconds),
                                  static_cast<long>(modification_time_->Nanoseconds)}};
      if (::futimens(stream_->Descriptor(), times) != 0)
        throw EWriteError("Cannot set the date of file \"" + final_name_ + "\". " + SystemErrorText(errno));
    }
    if (replacing_) {
      stream_->Flush();
      // The old file is only as safe as the new one is durable.
      if (::fsync(stream_->Descriptor()) != 0)
        throw EWriteError("Cannot write file \"" + final_name_ + "\". " + SystemErrorText(errno));
    }
    stream_->Close();
    if (::rename(temp_name_.c_str(), replace_path_.c_str()) != 0)
      throw EWriteError("Cannot write file \"" + final_name_ + "\". " + SystemErrorText(errno));
  } catch (...) {
    Discard();
    throw;
  }
  committed_ = true;
  temp_name_.clear();
}

void TSafeOutput::Discard() noexcept {
  stream_.reset();
  if (!temp_name_.empty()) ::unlink(temp_name_.c_str());
  temp_name_.clear();
  if (claimed_) ::unlink(final_name_.c_str());
  claimed_ = false;
}

TSafeOutput::~TSafeOutput() {
  if (!committed_) Discard();
}

std::string WriteFileSafely(const std::string& path, bool overwrite, const void* bytes, size_t count) {
  TSafeOutput out(path, overwrite);
  out.Stream().Write(bytes, count);
  out.Commit();
  return out.FinalName();
}

}  // namespace pellavo
