#pragma once
// A zlib inflate stream that ends itself on every path (text chunks; image data goes through
// inflater.h).
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

}  // namespace pellavo::png_detail
