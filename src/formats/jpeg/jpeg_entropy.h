#pragma once
// The entropy-coded data of a JPEG file as the DC decoder reads it: Huffman tables and a bit
// reader over the file. Private to the codec.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>  // before jpeglib.h, which needs it
#include <cstring>
#include <limits>
#include <memory>

#include <jpeglib.h>

namespace pellavo::jpeg_detail {

constexpr int kPeekBits = 11;

// A Huffman table as this decoder reads it: codes of up to kPeekBits bits from one look at the
// next bits, longer ones the canonical way.
struct THuffman {
  // length << 8 | symbol for the code the next kPeekBits bits start with; 0 for a longer code.
  std::array<uint16_t, 1 << kPeekBits> fast{};
  // For AC codes whose magnitude bits fit the same look: the bits code and magnitude take
  // together, and how far the coefficient index moves (0 ends the block). consume 0: the slow way.
  // And the same for the run of whole codes the look holds, up to and including an end of block
  // (kRunEnds): a block's coefficients are passed over a few codes at a time.
  struct TSkip {
    uint8_t consume = 0;
    uint8_t step = 0;
    uint8_t run_consume = 0;
    uint8_t run_step = 0;
  };
  static constexpr uint8_t kRunEnds = 0x80;
  std::array<TSkip, 1 << kPeekBits> skip{};
  int32_t maxcode[18] = {};    // the largest code of each length, -1 for none
  int32_t valoffset[18] = {};  // a code of that length plus this is its symbol's index
  int count = 0;
  uint8_t values[256] = {};

  // False for a table the library would refuse. A table may be built over one a scan before
  // used: no entry of the old one may stay where the new one has no short code.
  bool Build(const JHUFF_TBL& table, bool dc) {
    fast.fill(0);
    skip.fill({});
    count = 0;
    for (int l = 1; l <= 16; ++l) count += table.bits[l];
    if (count > 256) return false;
    std::copy(table.huffval, table.huffval + count, values);
    if (dc && std::any_of(values, values + count, [](uint8_t s) { return s > 15; })) return false;
    int p = 0;
    uint32_t code = 0;
    for (int l = 1; l <= 16; ++l) {
      // No code may be all ones.
      if (code + table.bits[l] >= (uint32_t{1} << l)) return false;
      valoffset[l] = p - int32_t(code);
      for (int i = 0; i < table.bits[l]; ++i, ++p, ++code) {
        if (l > kPeekBits) continue;
        const uint8_t symbol = values[p];
        const uint32_t first = code << (kPeekBits - l), last = (code + 1) << (kPeekBits - l);
        const int s = symbol & 15, r = symbol >> 4;
        for (uint32_t x = first; x < last; ++x) {
          fast[x] = uint16_t(l << 8 | symbol);
          if (l + s <= kPeekBits) skip[x] = {uint8_t(l + s), uint8_t(s ? r + 1 : r == 15 ? 16 : 0)};
        }
      }
      maxcode[l] = table.bits[l] ? int32_t(code) - 1 : -1;
      code <<= 1;
    }
    maxcode[17] = std::numeric_limits<int32_t>::max();
    if (!dc) BuildRuns();
    return true;
  }

  // Each look's run of codes, from the codes of up to kPeekBits bits. A run stops before a code
  // it cannot see whole and once it has moved past any block's end; bits past the look's end are
  // taken as zeros while the codes are found, so a code is only counted when it ends within it.
  void BuildRuns() {
    for (uint32_t x = 0; x < skip.size(); ++x) {
      int used = 0, steps = 0;
      bool ends = false;
      while (steps < DCTSIZE2) {
        const uint16_t e = fast[(x << used) & (skip.size() - 1)];
        if (!e) break;
        const int l = e >> 8, s = e & 15, r = (e >> 4) & 15;
        if (used + l + s > kPeekBits) break;
        used += l + s;
        if (s == 0 && r != 15) {
          ends = true;
          break;
        }
        steps += s ? r + 1 : 16;
      }
      skip[x].run_consume = uint8_t(used);
      skip[x].run_step = uint8_t(steps | (ends ? kRunEnds : 0));
    }
  }

  // The symbol a code longer than kPeekBits starts next16 with, and its length; -1 for none.
  int Slow(uint32_t next16, int& length) const {
    for (int l = kPeekBits + 1; l <= 16; ++l) {
      const int32_t code = int32_t(next16 >> (16 - l));
      if (code <= maxcode[l]) {
        const int32_t index = code + valoffset[l];
        if (index < 0 || index >= count) return -1;
        length = l;
        return values[index];
      }
    }
    return -1;
  }
};

// The bit reader's pieces of the file: a few hundred preads for the largest files, and little
// memory beside a decoder's records.
constexpr size_t kReadBytes = size_t{1} << 18;

// The entropy-coded bits of the file from an offset on, stuffed bytes taken out, read ahead in
// large pieces with pread. At a marker, or the end of the file, zero bits follow, as the library
// supplies them; Overrun tells when a decode has used any.
class TBitReader {
 public:
  TBitReader(int fd, int64_t offset) : fd_(fd), base_(offset), buffer_(new uint8_t[kReadBytes]), origin_(offset) {}

  // Starts over at a file offset, keeping what has been read that lies past it.
  void Restart(int64_t offset) {
    if (offset >= base_ && offset <= base_ + int64_t(size_)) {
      next_ = size_t(offset - base_);
    } else {
      base_ = offset;
      next_ = size_ = 0;
    }
    acc_ = 0;
    bits_ = fill_bits_ = 0;
    ended_ = false;
    marker_ = -1;
    loaded_ = 0;
    origin_ = offset;
    skipped_ = 0;
    skips_ = {};
  }

  // At least 32 bits wait.
  void Fill() {
    if (bits_ < 32) Load();
  }
  uint32_t Peek(int n) const { return uint32_t(acc_ >> (64 - n)); }
  // Passes over a block's AC codes, from the first: the hot loop of a decoder that needs only DC
  // values, with the unread bits kept in registers. False for a code the table lacks.
  bool SkipAcCodes(const THuffman& ac) {
    uint64_t acc = acc_;
    int bits = bits_;
    const auto sync = [&] { acc_ = acc, bits_ = bits; };
    for (int k = 1; k < DCTSIZE2;) {
      if (bits < 32 && !LoadWord(acc, bits)) {
        sync();
        LoadBytes();
        acc = acc_, bits = bits_;
      }
      const THuffman::TSkip t = ac.skip[acc >> (64 - kPeekBits)];
      // A run is taken whole only where none of its codes could pass the block's end.
      if (k + (t.run_step & ~THuffman::kRunEnds) < DCTSIZE2 && t.run_consume) {
        acc <<= t.run_consume;
        bits -= t.run_consume;
        if (t.run_step & THuffman::kRunEnds) break;
        k += t.run_step;
        continue;
      }
      if (t.consume) {
        acc <<= t.consume;
        bits -= t.consume;
        if (!t.step) break;
        k += t.step;
        continue;
      }
      // A long code, or one whose magnitude bits pass the look.
      sync();
      const int rs = NextSymbol(ac, Peek(kPeekBits));
      if (rs < 0) return false;
      acc = acc_, bits = bits_;
      const int r = rs >> 4, s = rs & 15;
      if (s) {
        acc <<= s;
        bits -= s;
        k += r + 1;
      } else {
        if (r != 15) break;
        k += 16;
      }
    }
    sync();
    return true;
  }

  // The symbol of the code that peek (the next kPeekBits bits of a filled reader) starts, with
  // the code dropped; -1 for a code the table lacks.
  int NextSymbol(const THuffman& table, uint32_t peek) {
    int length, symbol;
    if (const uint16_t e = table.fast[peek]) {
      length = e >> 8;
      symbol = e & 0xFF;
    } else {
      symbol = table.Slow(Peek(16), length);
      if (symbol < 0) return -1;
    }
    Drop(length);
    return symbol;
  }
  void Drop(int n) {
    acc_ <<= n;
    bits_ -= n;
  }
  // The file bit of the next unread bit (8 × byte offset + bits of it used); after Fill.
  uint64_t Position() const {
    const uint64_t bytes = uint64_t(bits_ + 7) / 8;
    const uint64_t index = loaded_ - bytes;
    int64_t offset;
    if (ended_ && index >= ended_at_) {
      offset = end_offset_;
    } else {
      // Bytes come from the file in order, each loaded or skipped: take away the skips that
      // came after this byte, all among the last few loaded.
      uint64_t skipped = skipped_;
      for (size_t i = 0; i < skips_.size(); ++i) {
        const TSkip& k = skips_[(skip_count_ - 1 - i) & (skips_.size() - 1)];
        if (k.bytes == 0 || k.after < index) break;
        skipped -= k.bytes;
      }
      offset = origin_ + int64_t(index + skipped);
    }
    return uint64_t(offset) * 8 + uint64_t((8 - (bits_ & 7)) & 7);
  }
  bool Overrun() const { return fill_bits_ > bits_; }
  // Where the marker (or the end of the file) the data ran into lies; once AtMarker.
  int64_t MarkerOffset() const { return marker_ < 0 ? -1 : end_offset_; }
  // Only the padding of the byte is left before a marker or the end of the file: where a restart
  // interval must end.
  bool AtMarker() {
    Fill();
    return ended_ && !Overrun() && bits_ - fill_bits_ < 8;
  }

 private:
  void Load() {
    if (!LoadWord(acc_, bits_)) LoadBytes();
  }

  // The bytes that fit at once into the unread bits (acc, bits: the reader's own, or a caller's
  // copy of them), when none of them is 0xFF: no stuffing or marker to look at. False where
  // LoadBytes must do it.
  bool LoadWord(uint64_t& acc, int& bits) {
    if (ended_ || size_ - next_ < 8) return false;
    const int n = (56 - bits) / 8 + 1;
    uint64_t word;
    std::memcpy(&word, buffer_.get() + next_, 8);
    if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
    // 0xFF bytes of word are zero bytes of x; the bytes past the n are made nonzero.
    const uint64_t x = ~word | (n == 8 ? 0 : (uint64_t{1} << (64 - 8 * n)) - 1);
    constexpr uint64_t kOnes = 0x0101010101010101, kHighs = 0x8080808080808080;
    if (((x - kOnes) & ~x & kHighs) != 0) return false;
    acc |= (word >> (64 - 8 * n)) << (64 - 8 * n - bits);
    loaded_ += uint64_t(n);
    next_ += size_t(n);
    bits += 8 * n;
    return true;
  }

  // A byte at a time, stuffing, markers and the end of the data taken care of.
  [[gnu::noinline]] void LoadBytes() {
    while (bits_ <= 56) {
      if (ended_) {
        ++loaded_;
        bits_ += 8;
        fill_bits_ += 8;
        continue;
      }
      const int64_t offset = base_ + int64_t(next_);
      int byte = Next();
      if (byte == 0xFF) {
        int after;
        do after = Next();
        while (after == 0xFF);
        if (after != 0) {
          ended_ = true;
          ended_at_ = loaded_;
          end_offset_ = offset;
          marker_ = after;  // -1 at the end of the file
          continue;
        }
      } else if (byte < 0) {
        ended_ = true;
        ended_at_ = loaded_;
        end_offset_ = offset;
        marker_ = -1;
        continue;
      }
      acc_ |= uint64_t(byte) << (56 - bits_);
      bits_ += 8;
      ++loaded_;
      if (const int64_t extra = base_ + int64_t(next_) - offset - 1) {
        // The byte's stuffing (and any fill before it) is passed over.
        skips_[skip_count_++ & (skips_.size() - 1)] = {loaded_ - 1, uint64_t(extra)};
        skipped_ += uint64_t(extra);
      }
    }
  }

  int Next() {
    if (next_ == size_) {
      base_ += int64_t(size_);
      next_ = size_ = 0;
      ssize_t got;
      do got = ::pread(fd_, buffer_.get(), kReadBytes, base_);
      while (got < 0 && errno == EINTR);
      if (got <= 0) return -1;
      size_ = size_t(got);
    }
    return buffer_[next_++];
  }

  const int fd_;
  int64_t base_;  // the file offset of buffer_[0]
  std::unique_ptr<uint8_t[]> buffer_;  // not cleared: only what was read is looked at
  size_t next_ = 0, size_ = 0;
  uint64_t acc_ = 0;  // unread bits from the top
  int bits_ = 0;
  int fill_bits_ = 0;  // zero bits added after the end, all of them still in acc_ unless overrun
  bool ended_ = false;
  int marker_ = -1;
  int64_t end_offset_ = 0;
  // Where the next unread bit lies: bytes loaded since the start, the file offset of the first,
  // how many were passed over (stuffing) in between, and the last few places where some were.
  uint64_t loaded_ = 0;
  int64_t origin_;
  uint64_t skipped_ = 0;
  struct TSkip {
    uint64_t after = 0;  // the byte loaded before them
    uint64_t bytes = 0;
  };
  std::array<TSkip, 8> skips_{};  // enough for the at most 8 bytes a position looks back over
  uint64_t skip_count_ = 0;
  uint64_t ended_at_ = 0;  // bytes loaded when the data ended
};

// The coefficient index of each place in the zigzag order, and 16 more places past the end
// where the library lets a run length that overshoots land.
constexpr std::array<uint8_t, 80> kNaturalOrder = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13,
    6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51, 58, 59, 52, 45, 38, 31,
    39, 46, 53, 60, 61, 54, 47, 55, 62, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63};

inline int Extend(uint32_t v, int s) { return v < (1u << (s - 1)) ? int(v) - (1 << s) + 1 : int(v); }

}  // namespace pellavo::jpeg_detail
