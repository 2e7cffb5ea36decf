#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/stream.h"

namespace pellavo {

using TGIFWarning = std::function<void(const std::string&)>;

// A bounds-checked cursor over the bytes of a file being read.
class TGIFByteReader {
 public:
  TGIFByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool AtEnd() const { return pos_ >= size_; }
  size_t Position() const { return pos_; }
  size_t Remaining() const { return size_ - pos_; }
  // The next byte without taking it; -1 at the end.
  int Peek() const { return pos_ < size_ ? data_[pos_] : -1; }
  // Throws GIFException("Premature end of data") when the bytes are not there.
  uint8_t Byte();
  void Read(void* out, size_t count);
  uint16_t Word();
  // Takes up to count bytes; returns how many there were.
  size_t ReadSome(void* out, size_t count);
  void Skip(size_t count);
  void Seek(size_t position) { pos_ = position < size_ ? position : size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Decodes the LZW image data of one frame at the reader's position (the minimum code size byte
// and the data sub-blocks) into at most pixel_count indices, in the order the data stores them.
// Leaves the reader after the frame's zero-length block. The result grows with what the data
// actually decodes to, never to pixel_count up front.
std::vector<uint8_t> DecodeGIFImageData(TGIFByteReader& in, uint64_t pixel_count, const TGIFWarning& warn);

// Passes over the image data of one frame without decoding it, leaving the reader where
// DecodeGIFImageData leaves it when the data decodes without an error.
void SkipGIFImageData(TGIFByteReader& in);

// Writes LZW image data as GIF defines it: the minimum code size byte, the codes in sub-blocks of
// up to 255 bytes, and the zero-length block.
class TLZWEncoder {
 public:
  TLZWEncoder(TStream& out, int min_code_size, int color_count);
  // Throws GIFException("Color not in color table") for an index not below the colour count.
  void Add(uint8_t index);
  void Finish();

  // The table holds codes up to this; reaching it clears the table.
  static constexpr int kMaxCode = 4095;
  static constexpr int kHashSize = 8009;  // a prime above twice the table's entries

 private:
  void EmitCode(int code);
  void ClearTable();
  void FlushBlock();

  TStream& out_;
  int min_code_size_;
  int color_count_;
  int clear_code_;
  int end_code_;
  int next_code_;
  int width_;
  bool has_current_ = false;
  int current_ = 0;
  uint64_t bits_ = 0;
  int bit_count_ = 0;
  std::array<uint8_t, 256> block_{};  // length byte and up to 255 data bytes
  size_t block_fill_ = 0;
  std::vector<uint32_t> table_;  // key << 12 | code; upper 20 bits all set = free
};

}  // namespace pellavo
