#pragma once
// The inflated bytes of a PNG's image data, read across the run of IDAT chunks that holds them.
#include <cstddef>
#include <cstdint>
#include <deque>
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
  // One chunk's data in the input: where it ends, counted over all the image data, and whether
  // its CRC matched. A mismatch counts once the inflater has moved past the chunk, or at End
  // for the chunk the image ended in, as when chunks are read one at a time.
  struct TPiece {
    uint64_t end;
    bool crc_ok;
  };

  // Appends the data of a chunk whose head has been read, and reads its CRC.
  void Append(uint32_t length);
  // Appends the whole IDAT chunks that follow while little input waits: the inflater then
  // works through hundreds of kilobytes a call instead of one small chunk. A chunk that is not
  // an IDAT, or not complete, is left where it is for NextChunk to meet.
  void ReadAhead();
  // The input is used up: the next chunk must be an IDAT.
  void NextChunk();
  // Raises the CRC error of a chunk the inflater has moved past.
  void CheckPassed();
  uint64_t Consumed() const { return base_ + (in_.size() - inflate_.AvailIn()); }

  const TChunk& chunk_;
  TStream& stream_;
  std::vector<uint8_t> in_;  // the input not yet used up, from the image data's byte base_ on
  uint64_t base_ = 0;
  std::deque<TPiece> pieces_;
  bool read_ahead_ = true;  // false once a chunk was left for NextChunk
  TInflate inflate_;
  bool ended_ = false;
  uint64_t delivered_ = 0;
};

}  // namespace pellavo::png_detail
