#include "formats/gif/gif_lzw.h"

#include <algorithm>
#include <cstring>

#include "formats/gif/gif_image.h"

namespace pellavo {

[[noreturn]] static void PrematureEnd() { throw GIFException("Premature end of data"); }

uint8_t TGIFByteReader::Byte() {
  if (pos_ >= size_) PrematureEnd();
  return data_[pos_++];
}

void TGIFByteReader::Read(void* out, size_t count) {
  if (count > Remaining()) PrematureEnd();
  if (count) std::memcpy(out, data_ + pos_, count);
  pos_ += count;
}

uint16_t TGIFByteReader::Word() {
  uint8_t b[2];
  Read(b, 2);
  return static_cast<uint16_t>(b[0] | b[1] << 8);
}

size_t TGIFByteReader::ReadSome(void* out, size_t count) {
  const size_t n = std::min(count, Remaining());
  if (n) std::memcpy(out, data_ + pos_, n);
  pos_ += n;
  return n;
}

void TGIFByteReader::Skip(size_t count) { pos_ += std::min(count, Remaining()); }

namespace {

constexpr int kMaxCodeWidth = 12;
constexpr int kTableSize = 1 << kMaxCodeWidth;

// Codes least significant bit first across the data sub-blocks of one frame.
class TCodeReader {
 public:
  TCodeReader(TGIFByteReader& in, const TGIFWarning& warn) : in_(in), warn_(warn) {}

  // The next code, or -1 once the data has ended.
  int Read(int width) {
    while (bit_count_ < width) {
      if (block_left_ == 0 && !NextBlock()) return -1;
      bits_ |= uint32_t{in_.Byte()} << bit_count_;
      bit_count_ += 8;
      --block_left_;
    }
    const int code = static_cast<int>(bits_ & ((1u << width) - 1));
    bits_ >>= width;
    bit_count_ -= width;
    return code;
  }

  // Passes over the rest of the frame's sub-blocks up to and including the zero-length block.
  void SkipRest() {
    if (ended_) return;
    in_.Skip(block_left_);
    block_left_ = 0;
    while (!in_.AtEnd()) {
      const size_t n = in_.Byte();
      if (n == 0) break;
      if (n > in_.Remaining()) Warn("Premature end of data");
      in_.Skip(n);
    }
    ended_ = true;
  }

 private:
  bool NextBlock() {
    if (ended_) return false;
    if (in_.AtEnd()) {
      Warn("Premature end of data");
      ended_ = true;
      return false;
    }
    size_t n = in_.Byte();
    if (n == 0) {
      Warn("Decoder bit buffer under-run");
      ended_ = true;
      return false;
    }
    if (n > in_.Remaining()) {
      Warn("Premature end of data");
      n = in_.Remaining();
      if (n == 0) {
        ended_ = true;
        return false;
      }
    }
    block_left_ = n;
    return true;
  }

  // A cut file is reported once, not again for every place that finds the data missing.
  void Warn(const char* text) {
    const bool short_data = std::strcmp(text, "Premature end of data") == 0;
    if (short_data && warned_short_) return;
    warned_short_ = warned_short_ || short_data;
    if (warn_) warn_(text);
  }

  TGIFByteReader& in_;
  const TGIFWarning& warn_;
  size_t block_left_ = 0;
  uint32_t bits_ = 0;
  int bit_count_ = 0;
  bool ended_ = false;
  bool warned_short_ = false;
};

}  // namespace

std::vector<uint8_t> DecodeGIFImageData(TGIFByteReader& in, uint64_t pixel_count, const TGIFWarning& warn) {
  std::vector<uint8_t> out;
  if (in.AtEnd()) return out;
  const int size = std::min<int>(in.Byte(), 8);
  const int clear = 1 << size;
  const int end = clear + 1;

  std::array<uint16_t, kTableSize> prefix{};
  std::array<uint8_t, kTableSize> suffix{};
  std::array<uint8_t, kTableSize> first{};
  for (int i = 0; i < clear; ++i) {
    suffix[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    first[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  }
  std::array<uint8_t, kTableSize> stack{};

  int width = size + 1;
  int next = clear + 2;
  int prev = -1;
  TCodeReader codes(in, warn);

  const auto emit = [&](int code) {
    size_t depth = 0;
    while (code >= clear) {
      stack[depth++] = suffix[static_cast<size_t>(code)];
      code = prefix[static_cast<size_t>(code)];
    }
    stack[depth++] = static_cast<uint8_t>(code);
    const size_t n = static_cast<size_t>(std::min<uint64_t>(depth, pixel_count - out.size()));
    if (out.size() + n > out.capacity()) {
      // Grow by doubling but never past the frame: memory follows the decoded data.
      const uint64_t want = std::max<uint64_t>({uint64_t{out.capacity()} * 2, 4096, out.size() + n});
      out.reserve(static_cast<size_t>(std::min<uint64_t>(want, pixel_count)));
    }
    for (size_t i = 0; i < n; ++i) out.push_back(stack[depth - 1 - i]);
  };

  for (;;) {
    if (out.size() >= pixel_count) {
      // One more code, so that an end code right after the last pixel is taken with the data.
      codes.Read(width);
      break;
    }
    const int code = codes.Read(width);
    if (code < 0) break;
    if (code == clear) {
      width = size + 1;
      next = clear + 2;
      prev = -1;
      continue;
    }
    if (code == end) break;
    if (prev < 0) {
      // Right after a clear only single colours exist; anything else names an entry that would
      // have to be built from itself.
      if (code > clear) throw GIFException("Circular decoder table entry");
      emit(code);
    } else if (code < next) {
      emit(code);
      if (next < kTableSize) {
        prefix[static_cast<size_t>(next)] = static_cast<uint16_t>(prev);
        suffix[static_cast<size_t>(next)] = first[static_cast<size_t>(code)];
        first[static_cast<size_t>(next)] = first[static_cast<size_t>(prev)];
        ++next;
      }
    } else if (code == next && next < kTableSize) {
      // The string being defined: the previous string and its own first colour.
      prefix[static_cast<size_t>(next)] = static_cast<uint16_t>(prev);
      suffix[static_cast<size_t>(next)] = first[static_cast<size_t>(prev)];
      first[static_cast<size_t>(next)] = first[static_cast<size_t>(prev)];
      ++next;
      emit(code);
    } else {
      throw GIFException("Circular decoder table entry");
    }
    if (next >= (1 << width) && width < kMaxCodeWidth) ++width;
    prev = code;
  }
  codes.SkipRest();
  return out;
}

void SkipGIFImageData(TGIFByteReader& in) {
  if (in.AtEnd()) return;
  in.Byte();  // the minimum code size
  // The decoder, wherever its codes end, passes over the rest of the sub-blocks up to and
  // including the zero-length one, or to the end of the file.
  while (!in.AtEnd()) {
    const size_t n = in.Byte();
    if (n == 0) return;
    in.Skip(n);
  }
}

TLZWEncoder::TLZWEncoder(TStream& out, int min_code_size, int color_count)
    : out_(out),
      min_code_size_(std::max(min_code_size, 2)),
      color_count_(color_count),
      clear_code_(1 << min_code_size_),
      end_code_(clear_code_ + 1),
      next_code_(clear_code_ + 2),
      width_(min_code_size_ + 1),
      table_(kHashSize) {
  const uint8_t size = static_cast<uint8_t>(min_code_size_);
  out_.WriteBuffer(&size, 1);
  ClearTable();
  EmitCode(clear_code_);
}

void TLZWEncoder::ClearTable() { std::fill(table_.begin(), table_.end(), 0xFFFFFFFFu); }

void TLZWEncoder::Add(uint8_t index) {
  if (index >= color_count_) throw GIFException("Color not in color table");
  if (!has_current_) {
    current_ = index;
    has_current_ = true;
    return;
  }
  const uint32_t key = static_cast<uint32_t>(current_) << 8 | index;
  int slot = static_cast<int>((key ^ (key >> 4)) % kHashSize);
  const int step = slot == 0 ? 1 : kHashSize - slot;
  for (;;) {
    const uint32_t entry = table_[static_cast<size_t>(slot)];
    if ((entry >> 12) == 0xFFFFFu) break;
    if ((entry >> 12) == key) {
      current_ = static_cast<int>(entry & 0xFFF);
      return;
    }
    slot -= step;
    if (slot < 0) slot += kHashSize;
  }
  EmitCode(current_);
  current_ = index;
  if (next_code_ < kMaxCode) {
    table_[static_cast<size_t>(slot)] = key << 12 | static_cast<uint32_t>(next_code_);
    ++next_code_;
  } else {
    EmitCode(clear_code_);
    ClearTable();
  }
}

void TLZWEncoder::EmitCode(int code) {
  bits_ |= uint64_t(code) << bit_count_;
  bit_count_ += width_;
  while (bit_count_ >= 8) {
    block_[1 + block_fill_++] = static_cast<uint8_t>(bits_);
    bits_ >>= 8;
    bit_count_ -= 8;
    if (block_fill_ == 255) FlushBlock();
  }
  if (code == clear_code_) {
    width_ = min_code_size_ + 1;
    next_code_ = clear_code_ + 2;
  } else if (next_code_ > (1 << width_) - 1 && width_ < kMaxCodeWidth) {
    ++width_;
  }
}

void TLZWEncoder::FlushBlock() {
  if (block_fill_ == 0) return;
  block_[0] = static_cast<uint8_t>(block_fill_);
  out_.WriteBuffer(block_.data(), block_fill_ + 1);
  block_fill_ = 0;
}

void TLZWEncoder::Finish() {
  if (has_current_) EmitCode(current_);
  EmitCode(end_code_);
  if (bit_count_ > 0) {
    block_[1 + block_fill_++] = static_cast<uint8_t>(bits_);
    bits_ = 0;
    bit_count_ = 0;
    if (block_fill_ == 255) FlushBlock();
  }
  FlushBlock();
  const uint8_t terminator = 0;
  out_.WriteBuffer(&terminator, 1);
}

}  // namespace pellavo
