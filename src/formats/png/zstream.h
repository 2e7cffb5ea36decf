#pragma once
// zlib streams that end themselves on every path.
#include <zlib.h>

#include "formats/png/png_errors.h"

namespace pellavo::png_detail {

class TInflater {
 public:
  TInflater() {
    const int rc = inflateInit(&z_);
    if (rc != Z_OK) throw EPNGZLIBError(rc);
  }
  ~TInflater() { inflateEnd(&z_); }
  TInflater(const TInflater&) = delete;
  TInflater& operator=(const TInflater&) = delete;
  z_stream* operator->() { return &z_; }
  z_stream* get() { return &z_; }

 private:
  z_stream z_{};
};

class TDeflater {
 public:
  explicit TDeflater(int level) {
    const int rc = deflateInit(&z_, level);
    if (rc == Z_MEM_ERROR) throw EPNGOutMemory();
    if (rc != Z_OK) throw EPNGZLIBError(rc);
  }
  ~TDeflater() { deflateEnd(&z_); }
  TDeflater(const TDeflater&) = delete;
  TDeflater& operator=(const TDeflater&) = delete;
  z_stream* operator->() { return &z_; }
  z_stream* get() { return &z_; }

 private:
  z_stream z_{};
};

}  // namespace pellavo::png_detail
