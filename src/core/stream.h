#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pellavo {

// A byte stream with a position, the way every codec reads and writes.
class TStream {
 public:
  virtual ~TStream() = default;
  // Reads up to count bytes; returns how many were read (0 at the end).
  virtual size_t Read(void* buffer, size_t count) = 0;
  // Writes count bytes or throws EWriteError.
  virtual void Write(const void* buffer, size_t count) = 0;
  virtual int64_t Position() = 0;
  virtual void Seek(int64_t position) = 0;
  virtual int64_t Size() = 0;

  // Reads exactly count bytes or throws EReadError("Stream read error").
  void ReadBuffer(void* buffer, size_t count);
  void WriteBuffer(const void* buffer, size_t count) { Write(buffer, count); }
  int64_t Remaining() { return Size() - Position(); }
  // Every byte from the position to the end.
  std::vector<uint8_t> ReadToEnd();
  void CopyFrom(TStream& source, int64_t count);
};

class TMemoryStream final : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

  size_t Read(void* buffer, size_t count) override;
  void Write(const void* buffer, size_t count) override;
  int64_t Position() override { return static_cast<int64_t>(position_); }
  void Seek(int64_t position) override;
  int64_t Size() override { return static_cast<int64_t>(bytes_.size()); }

  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  std::vector<uint8_t>& Bytes() { return bytes_; }
  std::vector<uint8_t> Take() { position_ = 0; return std::move(bytes_); }
  void Clear() { bytes_.clear(); position_ = 0; }

 private:
  std::vector<uint8_t> bytes_;
  size_t position_ = 0;
};

// A file through a POSIX descriptor, with a write buffer so that codecs may write small pieces.
class TFileStream final : public TStream {
 public:
  // Opens an existing file for reading; throws EFOpenError naming the file and the reason.
  static TFileStream OpenRead(const std::string& path);
  // Takes ownership of an open descriptor; path is only for messages.
  TFileStream(int fd, std::string path);
  TFileStream(TFileStream&& other) noexcept;
  TFileStream& operator=(TFileStream&&) = delete;
  ~TFileStream() override;

  size_t Read(void* buffer, size_t count) override;
  void Write(const void* buffer, size_t count) override;
  int64_t Position() override;
  void Seek(int64_t position) override;
  int64_t Size() override;

  // Writes out the buffer; throws EWriteError.
  void Flush();
  // Flushes and closes; throws when either fails. The destructor closes quietly.
  void Close();
  int Descriptor() const { return fd_; }
  const std::string& Path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
  std::vector<uint8_t> pending_;  // bytes written but not yet handed to the system
};

// The whole content of a file; throws EFOpenError or EReadError naming the file.
std::vector<uint8_t> ReadWholeFile(const std::string& path);

}  // namespace pellavo
