#pragma once
#include <cstdint>
#include <vector>

#include "core/decode_limits.h"
#include "formats/gif/gif_image.h"
#include "formats/gif/gif_lzw.h"

namespace pellavo {

// Parses a GIF file an entry at a time: the header into the image's header, then each entry
// (extensions and normally an image) as it is asked for. Every count and size read from the file
// is checked against the bytes that are there before it is used.
class TGIFReader {
 public:
  // keeps_every_frame: the caller holds every entry read, so the indices of all frames together
  // count against the image limit; otherwise only one frame is held at a time.
  TGIFReader(TGIFImage& image, const std::vector<uint8_t>& bytes, const TDecodeLimits& limits,
             bool keeps_every_frame = true);

  // Reads the whole file into the image; returns how many bytes it took.
  size_t Read();

  void ReadHeader();
  // The next entry; false at the trailer, at the end of the data or at a block of no known
  // type (with a warning), after which Finish reads the trailer. Without decode the entry's
  // image keeps its place and size but no indices: for a pass that only looks at the frames.
  bool ReadEntry(TGIFSubImage& entry, bool decode = true);
  // Reads the trailer; returns how many bytes the file took.
  size_t Finish();

 private:
  void AdmitFrame(int32_t left, int32_t top, int32_t width, int32_t height);
  void ReadColorMap(TGIFColorMap& map, int size_bits);
  void SkipZeros();
  TGIFSubImage ReadFrame(bool decode);
  std::vector<std::vector<uint8_t>> ReadSubBlocks();
  std::vector<std::string> ReadLines();
  std::unique_ptr<TGIFExtension> ReadExtension(uint8_t label);
  void SkipBlocksQuietly();
  std::unique_ptr<TGIFExtension> ReadApplicationExtension();

  TGIFImage& image_;
  const TDecodeLimits& limits_;
  const bool keeps_every_frame_;
  int64_t screen_width_ = 0, screen_height_ = 0;  // the logical screen as the frames so far grow it
  uint64_t frame_bytes_ = 0;                      // indices of every frame so far, one byte a pixel
  TGIFByteReader in_;
  TGIFWarning warn_;
};

}  // namespace pellavo
