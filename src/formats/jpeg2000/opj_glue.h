#pragma once
// Ownership and in-memory streams for OpenJPEG objects, so that every object the codec hands
// out is released on every path and no codec message reaches the terminal.
#include <openjpeg.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pellavo::jp2detail {

struct TCodecDeleter {
  void operator()(opj_codec_t* codec) const { opj_destroy_codec(codec); }
};
struct TStreamDeleter {
  void operator()(opj_stream_t* stream) const { opj_stream_destroy(stream); }
};
struct TImageDeleter {
  void operator()(opj_image_t* image) const { opj_image_destroy(image); }
};
using TCodecPtr = std::unique_ptr<opj_codec_t, TCodecDeleter>;
using TStreamPtr = std::unique_ptr<opj_stream_t, TStreamDeleter>;
using TImagePtr = std::unique_ptr<opj_image_t, TImageDeleter>;

// Collects what the codec reports (errors, warnings, information) instead of printing it.
class TCodecLog {
 public:
  // The messages go to text, which is emptied first.
  explicit TCodecLog(std::string& text) : text_(text) { text_.clear(); }
  // Routes the codec's three message channels here; the log must outlive the codec's use.
  void Attach(opj_codec_t* codec);

 private:
  static void Append(std::string& text, const char* kind, const char* message) noexcept;
  static void OnError(const char* message, void* log);
  static void OnWarning(const char* message, void* log);
  static void OnInfo(const char* message, void* log);
  std::string& text_;
};

// A read-only codec stream over bytes the caller keeps alive.
class TMemoryInput {
 public:
  TMemoryInput(const uint8_t* data, size_t size);
  TMemoryInput(const TMemoryInput&) = delete;
  TMemoryInput& operator=(const TMemoryInput&) = delete;

  opj_stream_t* Stream() const { return stream_.get(); }
  // How far the codec has read: the furthest position it took bytes from.
  size_t Consumed() const { return furthest_; }

 private:
  static OPJ_SIZE_T Read(void* buffer, OPJ_SIZE_T count, void* self);
  static OPJ_OFF_T Skip(OPJ_OFF_T count, void* self);
  static OPJ_BOOL Seek(OPJ_OFF_T position, void* self);

  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
  size_t furthest_ = 0;
  TStreamPtr stream_;
};

// A write-only codec stream into a growing buffer; the codec may seek back to patch lengths.
class TMemoryOutput {
 public:
  TMemoryOutput();
  TMemoryOutput(const TMemoryOutput&) = delete;
  TMemoryOutput& operator=(const TMemoryOutput&) = delete;

  opj_stream_t* Stream() const { return stream_.get(); }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  static OPJ_SIZE_T Write(void* buffer, OPJ_SIZE_T count, void* self);
  static OPJ_OFF_T Skip(OPJ_OFF_T count, void* self);
  static OPJ_BOOL Seek(OPJ_OFF_T position, void* self);

  std::vector<uint8_t> bytes_;
  size_t position_ = 0;
  TStreamPtr stream_;
};

}  // namespace pellavo::jp2detail
