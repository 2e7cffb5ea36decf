#pragma once
// The inflated bytes of a PNG's image data, read across the run of IDAT chunks that holds them.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/stream.h"
#include "formats/png/inflater.h"

namespace pellavo {
class TChunk;
}

namespace pellavo::png_detail {

class TIdatReader {
 public:
  // The stream stands at the data of the first IDAT, whose length has been read; chunk checks
  // the CRCs (an IDAT of the image being read).
  TIdatReader(const TChunk& chunk, TStream& stream, uint32_t length);

  // Inflates up to n bytes into out, going on into the IDAT chunks that follow; returns how
  // many arrived (fewer only when the compressed stream ended). Raises the errors of a
  // damaged file: a CRC, a missing IDAT, inflate's own.
  size_t Read(uint8_t* out, size_t n);
  // Exactly n bytes, or EPNGMissingMultipleIDAT.
  void ReadExactly(uint8_t* out, size_t n);
  // Passes over what is left of the chunk the image ended in, checking its CRC.
  void End();
  // Bytes handed out so far, also by a call that then failed.
  uint64_t Delivered() const { return delivered_; }

 private:
  void NextChunk();

  const TChunk& chunk_;
  TStream& stream_;
  std::vector<uint8_t> in_;
  TInflate inflate_;
  bool ended_ = false;
  uint64_t delivered_ = 0;
};

}  // namespace pellavo::png_detail
