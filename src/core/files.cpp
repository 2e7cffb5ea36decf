#include "core/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <random>
#include <set>

#include "core/errors.h"
#include "core/paths.h"

namespace pellavo {
namespace {

constexpr std::string_view kTempPrefix = ".pv-";
constexpr size_t kTempRandomLength = 6;
constexpr std::string_view kTempAlphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

[[noreturn]] void ThrowCreate(const std::string& path, const std::string& reason) {
  throw EFCreateError("Cannot create file \"" + path + "\". " + reason);
}

[[noreturn]] void ThrowWrite(const std::string& path, int err) {
  throw EWriteError("Cannot write file \"" + path + "\". " + SystemErrorText(err));
}

// The mark of a temporary file this program created: an extended attribute whose value is the
// file's own inode number. A name alone proves nothing (a user may call a file ".pv-notes1"), and
// a copy of one of our leftovers has another inode, so the sweep removes only files that we
// created and never published. A file system without extended attributes leaves its
// temporaries unmarked: a killed run's leftover there stays, which is the safe side.
constexpr char kTempMark[] = "user.pellavo.temporary";

std::string TempMarkOf(ino_t inode) { return std::to_string(static_cast<uintmax_t>(inode)); }

void MarkAsTemporary(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return;
  const std::string mark = TempMarkOf(st.st_ino);
  (void)::fsetxattr(fd, kTempMark, mark.data(), mark.size(), 0);
}

// Whether the regular file open as fd carries the mark of its own inode.
bool IsMarkedTemporary(int fd, const struct stat& st) {
  char value[32];
  const ssize_t n = ::fgetxattr(fd, kTempMark, value, sizeof value);
  return n > 0 && std::string_view(value, static_cast<size_t>(n)) == TempMarkOf(st.st_ino);
}

std::string RandomTempName() {
  thread_local std::mt19937_64 random{std::random_device{}()};
  std::uniform_int_distribution<size_t> pick(0, kTempAlphabet.size() - 1);
  std::string name(kTempPrefix);
  for (size_t i = 0; i < kTempRandomLength; ++i) name += kTempAlphabet[pick(random)];
  return name;
}

// The temporary files of this process. Process-wide by nature: an interrupt reaches the program,
// not one run or one writer, and must be able to find every file under way. Each creation,
// publication and removal of a temporary file happens under the lock, so a name in `live_`
// always names a file this process created and has not published: removing it can never hit
// a published output or another process's file.
class TTempRegistry {
 public:
  // Creates a new temporary file in folder; returns its descriptor and sets name, or returns
  // -1 with errno set.
  int Create(const std::string& folder, std::string& name) {
    std::lock_guard lock(mutex_);
    if (abandoned_) {
      errno = ECANCELED;
      return -1;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string candidate = folder + RandomTempName();
      // 0666, so that the umask applies as for any new file.
      const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0) {
        MarkAsTemporary(fd);
        live_.insert(candidate);
        name = std::move(candidate);
        return fd;
      }
      if (errno != EEXIST) return -1;
    }
    errno = EEXIST;
    return -1;
  }

  // Runs publish(), which gives the temporary file its real name, returning 0 or an errno;
  // on success the name is forgotten.
  template <class F>
  int Publish(const std::string& name, F&& publish) {
    std::lock_guard lock(mutex_);
    if (!live_.contains(name)) return ECANCELED;  // abandoned meanwhile
    const int err = publish();
    if (err == 0) live_.erase(name);
    return err;
  }

  void Remove(const std::string& name) noexcept {
    std::lock_guard lock(mutex_);
    if (live_.erase(name) > 0) ::unlink(name.c_str());
  }

  void Abandon() noexcept {
    std::lock_guard lock(mutex_);
    abandoned_ = true;
    for (const std::string& name : live_) ::unlink(name.c_str());
    live_.clear();
  }

 private:
  std::mutex mutex_;
  std::set<std::string> live_;
  bool abandoned_ = false;
};

TTempRegistry& TempFiles() {
  static TTempRegistry registry;
  return registry;
}

// rename that fails with EEXIST instead of replacing; 0 or the errno.
int RenameNoReplace(const std::string& temp, const std::string& target) {
  if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno == EINVAL || errno == ENOSYS) return files_detail::LinkNoReplace(temp, target);
  return errno;
}

// Owns a file descriptor.
struct TDescriptor {
  int fd = -1;
  TDescriptor() = default;
  TDescriptor(const TDescriptor&) = delete;
  TDescriptor& operator=(const TDescriptor&) = delete;
  ~TDescriptor() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

namespace files_detail {

int LinkNoReplace(const std::string& temp, const std::string& target) {
  if (::link(temp.c_str(), target.c_str()) != 0) return errno;
  ::unlink(temp.c_str());
  return 0;
}

}  // namespace files_detail


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

bool IsTempFileName(std::string_view name) {
  if (name.size() != kTempPrefix.size() + kTempRandomLength || !name.starts_with(kTempPrefix)) return false;
  return name.find_first_not_of(kTempAlphabet, kTempPrefix.size()) == std::string_view::npos;
}

TSafeOutput::TSafeOutput(const std::string& path, bool overwrite, TFreeNames* free_names)
    : final_name_(path), overwrite_(overwrite), free_names_(free_names) {
  mode_t mode = 0;
  if (overwrite) {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) ThrowCreate(path, SystemErrorText(EISDIR));
      // A link is replaced by the new file; a device or a pipe is no output file.
      if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) ThrowCreate(path, "Not a regular file");
      if (S_ISREG(st.st_mode)) {
        replacing_ = true;
        mode = st.st_mode & 07777;
      }
    }
  }
  const int fd = TempFiles().Create(ExtractFilePath(path), temp_name_);
  if (fd < 0) ThrowCreate(path, SystemErrorText(errno));
  if (replacing_) (void)::fchmod(fd, mode);
  stream_ = std::make_unique<TFileStream>(fd, path);
}

void TSafeOutput::Commit() {
  // The date is set on the published file through a second descriptor: set on the temporary
  // file, an old date would make it look abandoned to another run's sweep while it waits for its
  // name.
  TDescriptor dated;
  try {
    if (modification_time_) {
      stream_->Flush();
      dated.fd = ::dup(stream_->Descriptor());
      if (dated.fd < 0) ThrowWrite(final_name_, errno);
    }
    if (replacing_) {
      stream_->Flush();
      // The old file is only as safe as the new one is durable.
      if (::fsync(stream_->Descriptor()) != 0) ThrowWrite(final_name_, errno);
    }
    // The output is the user's file from now on: it must not look like a leftover of ours.
    (void)::fremovexattr(stream_->Descriptor(), kTempMark);
    stream_->Close();
    std::string published;
    const int err = TempFiles().Publish(temp_name_, [&]() -> int {
      if (overwrite_) return ::rename(temp_name_.c_str(), final_name_.c_str()) == 0 ? 0 : errno;
      const int first = free_names_ ? free_names_->FirstToTry(final_name_) : 0;
      for (int n = first; n < INT_MAX; ++n) {
        std::string candidate = n == 0 ? final_name_ : NumberedFileName(final_name_, n);
        const int e = RenameNoReplace(temp_name_, candidate);
        if (e != EEXIST) {
          if (e == 0) {
            published = std::move(candidate);
            if (free_names_) free_names_->Published(final_name_, n, n - first + 1);
          }
          return e;
        }
      }
      return EEXIST;
    });
    if (err != 0) ThrowWrite(final_name_, err);
    if (!overwrite_) final_name_ = std::move(published);
  } catch (...) {
    Discard();
    throw;
  }
  committed_ = true;
  temp_name_.clear();
  if (dated.fd >= 0) {
    const timespec times[2] = {{0, UTIME_OMIT},
                               {static_cast<time_t>(modification_time_->Seconds),
                                static_cast<long>(modification_time_->Nanoseconds)}};
    // The file is complete and stays; only its date is missing.
    if (::futimens(dated.fd, times) != 0)
      throw EWriteError("Cannot set the date of file \"" + final_name_ + "\". " + SystemErrorText(errno));
  }
}

void TSafeOutput::Discard() noexcept {
  stream_.reset();
  if (!temp_name_.empty()) TempFiles().Remove(temp_name_);
  temp_name_.clear();
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

void AbandonTempFiles() { TempFiles().Abandon(); }

int RemoveStaleTempFiles(const std::string& folder, std::chrono::seconds max_age) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.empty() ? "." : folder.c_str()), ::closedir);
  if (!dir) return 0;
  const int dir_fd = ::dirfd(dir.get());
  const std::time_t now = std::time(nullptr);
  int removed = 0;
  while (const dirent* e = ::readdir(dir.get())) {
    if (!IsTempFileName(e->d_name)) continue;
    // Opened without following a link and without waiting on a pipe, then examined through
    // the descriptor: what is checked is what is there.
    TDescriptor file;
    file.fd = ::openat(dir_fd, e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (file.fd < 0) continue;
    struct stat st;
    if (::fstat(file.fd, &st) != 0) continue;
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) continue;
    if (now - st.st_mtime < max_age.count()) continue;
    if (!IsMarkedTemporary(file.fd, st)) continue;
    if (::unlinkat(dir_fd, e->d_name, 0) == 0) ++removed;
  }
  return removed;
}

}  // namespace pellavo
