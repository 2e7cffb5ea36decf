#pragma once
// The JPEG library's contexts as owned C++ objects. Private to the JPEG codec.
//
// The library reports fatal errors by calling error_exit, which must not return; ours jumps
// back with longjmp. C++ frames with destructors must never lie between the setjmp and the
// longjmp, so every library call goes through Run(), whose callable may only call the library
// (and the managers below, which own nothing either). The error code is turned into an EJPEG
// only after Run's guarded frame has returned, and the contexts are destroyed by destructors,
// so every path releases them.
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

#include "core/decode_limits.h"
#include "core/limits.h"
#include "formats/jpeg/jpeg_blocks.h"

namespace pellavo::jpeg_detail {

struct TErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  // The source has run past the last byte and handed out a made-up end marker.
  bool input_ended = false;
};

struct TSource {
  jpeg_source_mgr pub;
  // Reading a file instead of bytes in memory: its descriptor and a buffer for its pieces.
  int fd = -1;
  std::vector<uint8_t> buffer;
};

struct TDestination {
  jpeg_destination_mgr pub;
  std::vector<uint8_t>* out;
};

// Calls f with the error manager's jump target set. Returns false when the library raised a
// fatal error; its code is then in err.pub.msg_code. f's frame must hold nothing that needs
// destroying.
template <class F>
bool Protected(TErrorManager& err, F& f) {
  if (setjmp(err.jump) != 0) return false;
  f();
  return true;
}

// EJPEG "JPEG error #<code>", with the library's message as its cause.
[[noreturn]] void ThrowLibraryError(const TErrorManager& err);
[[noreturn]] void ThrowLibraryError(int msg_code);

// A decompressor reading from bytes that outlive it.
class TDecompressor {
 public:
  // Creates the decompressor; throws EJPEG.
  TDecompressor(const uint8_t* data, size_t size);
  // Reads an open file from its current position, a piece at a time, so that a large file is
  // never held whole; the descriptor stays the caller's.
  explicit TDecompressor(int fd);
  ~TDecompressor();
  TDecompressor(const TDecompressor&) = delete;
  TDecompressor& operator=(const TDecompressor&) = delete;

  jpeg_decompress_struct& Info() { return handle_.info; }

  // Runs library calls; a fatal error becomes EJPEG once the guarded frame is gone.
  template <class F>
  void Run(F&& f) {
    if (!Protected(err_, f)) ThrowLibraryError(err_);
  }

  void ReadHeader();
  // The whole-image coefficient buffer the decompression set up so far will keep (a file of
  // several scans, or buffered-image output): 0 when it decodes row by row.
  uint64_t CoefficientBytes();
  // Admits the library's working storage and takes its coefficient blocks from the run's pool;
  // after the header is read and the output set up, before the decompression starts. The limit
  // is on the image: storage for a file whose decoded size is within it is never refused. For a
  // larger file read at a reduced scale, a coefficient buffer over the limit is refused with
  // EImageTooLarge in plain words.
  void Limit(const TDecodeLimits& limits);

 private:
  struct THandle {
    jpeg_decompress_struct info{};
    ~THandle() { jpeg_destroy_decompress(&info); }
  };

  TErrorManager err_;  // declared before the handle: it refers to them until it is destroyed
  TSource src_;
  TBlockArrays blocks_;
  THandle handle_;
};

// A compressor appending to a byte vector that outlives it.
class TCompressor {
 public:
  // Creates the compressor; throws EJPEG.
  explicit TCompressor(std::vector<uint8_t>& out);
  ~TCompressor();
  TCompressor(const TCompressor&) = delete;
  TCompressor& operator=(const TCompressor&) = delete;

  jpeg_compress_struct& Info() { return handle_.info; }

  template <class F>
  void Run(F&& f) {
    if (!Protected(err_, f)) ThrowLibraryError(err_);
  }

 private:
  struct THandle {
    jpeg_compress_struct info{};
    ~THandle() { jpeg_destroy_compress(&info); }
  };

  TErrorManager err_;
  TDestination dest_;
  THandle handle_;
};

}  // namespace pellavo::jpeg_detail
