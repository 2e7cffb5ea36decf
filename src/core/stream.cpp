#include "core/stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/errors.h"

namespace pellavo {
namespace {

constexpr size_t kWriteBuffer = 256 * 1024;

[[noreturn]] void ThrowWrite(const std::string& path, int err) {
  throw EWriteError("Cannot write file \"" + path + "\". " + SystemErrorText(err));
}

}  // namespace

void TStream::ReadBuffer(void* buffer, size_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

std::vector<uint8_t> TStream::ReadToEnd() {
  const int64_t left = std::max<int64_t>(0, Remaining());
  std::vector<uint8_t> bytes(static_cast<size_t>(left));
  const size_t got = bytes.empty() ? 0 : Read(bytes.data(), bytes.size());
  bytes.resize(got);
  return bytes;
}

void TStream::CopyFrom(TStream& source, int64_t count) {
  std::vector<uint8_t> chunk(static_cast<size_t>(std::min<int64_t>(count, 1 << 20)));
  while (count > 0) {
    const size_t n = static_cast<size_t>(std::min<int64_t>(count, static_cast<int64_t>(chunk.size())));
    source.ReadBuffer(chunk.data(), n);
    Write(chunk.data(), n);
    count -= static_cast<int64_t>(n);
  }
}

size_t TMemoryStream::Read(void* buffer, size_t count) {
  if (position_ >= bytes_.size()) return 0;
  const size_t n = std::min(count, bytes_.size() - position_);
  std::memcpy(buffer, bytes_.data() + position_, n);
  position_ += n;
  return n;
}

void TMemoryStream::Write(const void* buffer, size_t count) {
  if (count == 0) return;
  if (position_ + count > bytes_.size()) bytes_.resize(position_ + count);
  std::memcpy(bytes_.data() + position_, buffer, count);
  position_ += count;
}

void TMemoryStream::Seek(int64_t position) { position_ = static_cast<size_t>(std::max<int64_t>(0, position)); }

TFileStream TFileStream::OpenRead(const std::string& path) {
  const auto fail = [&](const std::string& reason) {
    return EFOpenError("Cannot open file \"" + path + "\". " + reason);
  };
  // Non-blocking, so that a pipe named like an image cannot hold the open until a writer comes.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) throw fail(SystemErrorText(errno));
  TFileStream file(fd, path);
  struct stat st;
  if (::fstat(fd, &st) != 0) throw fail(SystemErrorText(errno));
  if (S_ISDIR(st.st_mode)) throw fail(SystemErrorText(EISDIR));
  // Pipes, devices and sockets would block or never end.
  if (!S_ISREG(st.st_mode)) throw fail("Not a regular file");
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return file;
}

TFileStream::TFileStream(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

TFileStream::TFileStream(TFileStream&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)), pending_(std::move(other.pending_)) {
  other.fd_ = -1;
}

TFileStream::~TFileStream() {
  if (fd_ >= 0) {
    try {
      Flush();
    } catch (...) {
      // Close() reports failures; a stream dropped on an error path has nothing left to say.
    }
    ::close(fd_);
  }
}

size_t TFileStream::Read(void* buffer, size_t count) {
  Flush();
  size_t done = 0;
  auto* out = static_cast<uint8_t*>(buffer);
  while (done < count) {
    const ssize_t n = ::read(fd_, out + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EReadError("Cannot read file \"" + path_ + "\". " + SystemErrorText(errno));
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

void TFileStream::Write(const void* buffer, size_t count) {
  const auto* in = static_cast<const uint8_t*>(buffer);
  if (pending_.size() + count <= kWriteBuffer) {
    pending_.insert(pending_.end(), in, in + count);
    return;
  }
  Flush();
  if (count < kWriteBuffer) {
    pending_.assign(in, in + count);
    return;
  }
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(fd_, in + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowWrite(path_, errno);
    }
    done += static_cast<size_t>(n);
  }
}

void TFileStream::Flush() {
  size_t done = 0;
  while (done < pending_.size()) {
    const ssize_t n = ::write(fd_, pending_.data() + done, pending_.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      pending_.clear();
      ThrowWrite(path_, errno);
    }
    done += static_cast<size_t>(n);
  }
  pending_.clear();
}

int64_t TFileStream::Position() {
  Flush();
  return ::lseek(fd_, 0, SEEK_CUR);
}

void TFileStream::Seek(int64_t position) {
  Flush();
  if (::lseek(fd_, position, SEEK_SET) < 0)
    throw EStreamError("Cannot seek in file \"" + path_ + "\". " + SystemErrorText(errno));
}

int64_t TFileStream::Size() {
  Flush();
  struct stat st;
  if (::fstat(fd_, &st) != 0) return 0;
  return st.st_size;
}

void TFileStream::Close() {
  if (fd_ < 0) return;
  Flush();
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) ThrowWrite(path_, errno);
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  TFileStream file = TFileStream::OpenRead(path);
  return file.ReadToEnd();
}

}  // namespace pellavo
