#include "formats/jpeg/jpeg_dc_scan.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>
#include <thread>

#include "core/core_gate.h"
#include "formats/jpeg/jpeg_grey_dither.h"

namespace pellavo::jpeg_detail {
namespace {

constexpr int kPeekBits = 11;
// Guesses a part may try after bad codes before it leaves its share to the part before it: real
// data falls into step within a guess or two, noise may never.
constexpr int kMaxGuesses = 64;
// Blocks in an MCU of a file this decoder takes: four luma and two chroma blocks at most.
constexpr int kMaxBlocks = 6;

// A Huffman table as this decoder reads it: codes of up to kPeekBits bits from one look at the
// next bits, longer ones the canonical way.
struct THuffman {
  // length << 8 | symbol for the code the next kPeekBits bits start with; 0 for a longer code.
  std::array<uint16_t, 1 << kPeekBits> fast{};
  // For AC codes whose magnitude bits fit the same look: the bits code and magnitude take
  // together, and how far the coefficient index moves (0 ends the block). consume 0: the slow way.
  struct TSkip {
    uint8_t consume = 0;
    uint8_t step = 0;
  };
  std::array<TSkip, 1 << kPeekBits> skip{};
  int32_t maxcode[18] = {};    // the largest code of each length, -1 for none
  int32_t valoffset[18] = {};  // a code of that length plus this is its symbol's index
  int count = 0;
  uint8_t values[256] = {};

  // False for a table the library would refuse.
  bool Build(const JHUFF_TBL& table, bool dc) {
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
    return true;
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

// The entropy-coded bits of the file from an offset on, stuffed bytes taken out, read ahead in
// large pieces with pread. At a marker, or the end of the file, zero bits follow, as the library
// supplies them; Overrun tells when a decode has used any.
// The bit reader's pieces of the file.
constexpr size_t kReadBytes = size_t{1} << 20;

class TBitReader {
 public:
  TBitReader(int fd, int64_t offset) : fd_(fd), base_(offset), buffer_(new uint8_t[kReadBytes]) {}

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
  }

  // At least 32 bits wait.
  void Fill() {
    if (bits_ < 32) Load();
  }
  uint32_t Peek(int n) const { return uint32_t(acc_ >> (64 - n)); }
  void Drop(int n) {
    acc_ <<= n;
    bits_ -= n;
  }
  // The file bit of the next unread bit (8 × byte offset + bits of it used); after Fill.
  uint64_t Position() const {
    const uint64_t bytes = uint64_t(bits_ + 7) / 8;
    return uint64_t(offsets_[(loaded_ - bytes) & 7]) * 8 + uint64_t((8 - (bits_ & 7)) & 7);
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
    while (bits_ <= 56) {
      if (ended_) {
        offsets_[loaded_++ & 7] = end_offset_;
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
          end_offset_ = offset;
          marker_ = after;  // -1 at the end of the file
          continue;
        }
      } else if (byte < 0) {
        ended_ = true;
        end_offset_ = offset;
        marker_ = -1;
        continue;
      }
      acc_ |= uint64_t(byte) << (56 - bits_);
      bits_ += 8;
      offsets_[loaded_++ & 7] = offset;
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
  std::array<int64_t, 8> offsets_{};  // the file offsets of the last bytes loaded
  uint64_t loaded_ = 0;
};

// The symbol of the code that peek (the next kPeekBits bits of a filled reader) starts, with the
// code dropped; -1 for a code the table lacks.
inline int NextSymbol(TBitReader& in, const THuffman& table, uint32_t peek) {
  int length, symbol;
  if (const uint16_t e = table.fast[peek]) {
    length = e >> 8;
    symbol = e & 0xFF;
  } else {
    symbol = table.Slow(in.Peek(16), length);
    if (symbol < 0) return -1;
  }
  in.Drop(length);
  return symbol;
}

// The coefficient index of each place in the zigzag order, and 16 more places past the end
// where the library lets a run length that overshoots land.
constexpr std::array<uint8_t, 80> kNaturalOrder = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13,
    6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51, 58, 59, 52, 45, 38, 31,
    39, 46, 53, 60, 61, 54, 47, 55, 62, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63};

// The library's 2 × 2 reduced inverse DCT (its jpeg_idct_2x2), which makes the four pixels of a
// chroma block of a 4:2:0 file at an eighth, split at the DC coefficient: the part every other
// coefficient adds is worked out here, while the DC value waits for its predictor. With the
// dequantised DC d, pixel (x, y) is the range-limited
//   ((4 d + e[y]) << 15 + (x ? -u[y] : u[y]) + 2^19) >> 20.
// Its columns 2, 4 and 6 and rows 2, 4 and 6 count for nothing. False when a part leaves 32 bits,
// which only made-up coefficients do.
struct TIdct2Part {
  int32_t e[2];
  int32_t u[2];
};

// The coefficients it reads besides the DC: rows and columns 0, 1, 3, 5 and 7. With none of them,
// every part is 0.
constexpr std::array<bool, DCTSIZE2> Idct2Reads() {
  std::array<bool, DCTSIZE2> t{};
  for (int i = 1; i < DCTSIZE2; ++i) {
    const int row = i / 8, col = i % 8;
    t[size_t(i)] = (row < 2 || row % 2 == 1) && (col < 2 || col % 2 == 1);
  }
  return t;
}
constexpr std::array<bool, DCTSIZE2> kIdct2Reads = Idct2Reads();

constexpr int64_t Descale(int64_t x, int n) { return (x + (int64_t{1} << (n - 1))) >> n; }

// The library's fixed point: constants with 13 fraction bits, 2 more bits kept after pass 1.
constexpr int kConstBits = 13, kPass1Bits = 2;

// The library runs this transform in vector code with 16-bit coefficients and work values and
// 32-bit sums, which agrees with its plain code only while nothing overflows and every sample
// before its limit lies within [-512, 511]. Real images stay far inside; made-up coefficients are
// left to the library.
constexpr int64_t kInt16 = 32767, kSum = (int64_t{1} << 31) - 1;

// False as well where the work values leave the range the library's vector code holds.
bool Idct2Part(const int16_t* coef, const uint16_t* quant, TIdct2Part& out) {
  const auto q = [&](int i) { return int64_t(coef[i]) * quant[i]; };
  const auto odd = [](int64_t v1, int64_t v3, int64_t v5, int64_t v7) {
    return v7 * -5906 + v5 * 6967 + v3 * -10426 + v1 * 29692;
  };
  for (int i : {1, 3, 5, 7})
    for (int j : {0, 1, 3, 5, 7})
      if (std::abs(q(i * 8 + j)) > kInt16 || std::abs(q(j * 8 + i)) > kInt16) return false;
  // Pass 1, down the columns: two values a column, kept with two more bits.
  int64_t ws[2][8] = {};
  for (int c : {0, 1, 3, 5, 7}) {
    const int64_t t = odd(q(8 + c), q(24 + c), q(40 + c), q(56 + c));
    const int64_t even = c == 0 ? 0 : q(c) << (kConstBits + 2);
    if (std::abs(even) + std::abs(t) > kSum) return false;
    ws[0][c] = Descale(even + t, kConstBits - kPass1Bits + 2);
    ws[1][c] = Descale(even - t, kConstBits - kPass1Bits + 2);
    if (c != 0 && (std::abs(ws[0][c]) > kInt16 || std::abs(ws[1][c]) > kInt16)) return false;
  }
  // Pass 2, along the rows; column 0 holds all but the DC's 4 d.
  for (int r = 0; r < 2; ++r) {
    const int64_t u = odd(ws[r][1], ws[r][3], ws[r][5], ws[r][7]);
    if (std::abs(ws[r][0]) > kInt16 || std::abs(u) > kSum) return false;
    out.e[r] = int32_t(ws[r][0]);
    out.u[r] = int32_t(u);
  }
  return true;
}

// Whether the block with its DC dequantised as d stays where the library's vector code and its
// plain code agree (see above).
bool Idct2Agrees(const TIdct2Part& p, int64_t d) {
  if (std::abs(d) > kInt16) return false;
  for (int y = 0; y < 2; ++y) {
    // Pass 1 of column 0 summed d << 15 and what e came from, within a step of e << 13.
    if (std::abs(d) * (1 << (kConstBits + 2)) + (std::abs(int64_t(p.e[y])) + 1) * (1 << kConstBits) > kSum) return false;
    const int64_t w = 4 * d + p.e[y];
    if (std::abs(w) > kInt16 || std::abs(w) * (1 << (kConstBits + 2)) + std::abs(int64_t(p.u[y])) > kSum) return false;
    for (const int64_t sum : {w * (1 << (kConstBits + 2)) + p.u[y], w * (1 << (kConstBits + 2)) - p.u[y]}) {
      const int64_t x = Descale(sum, kConstBits + kPass1Bits + 3 + 2);
      if (x < -512 || x > 511) return false;
    }
  }
  return true;
}

// The library's sample limit after its inverse DCT, indexed by the value masked to 10 bits.
constexpr std::array<uint8_t, 1024> IdctRangeLimit() {
  std::array<uint8_t, 1024> t{};
  for (int i = 0; i < 1024; ++i) t[size_t(i)] = uint8_t(i < 128 ? i + 128 : i < 512 ? 255 : i < 896 ? 0 : i - 896);
  return t;
}
constexpr std::array<uint8_t, 1024> kIdctRangeLimit = IdctRangeLimit();

// Pixel (x, y) of a chroma block through the 2 × 2 transform, its DC dequantised as d.
inline int Idct2Sample(const TIdct2Part& p, int64_t d, int x, int y) {
  const int64_t even = (4 * d + p.e[y]) << (kConstBits + 2);
  return kIdctRangeLimit[size_t(Descale(x ? even - p.u[y] : even + p.u[y], kConstBits + kPass1Bits + 3 + 2)) & 1023];
}

inline int Extend(uint32_t v, int s) { return v < (1u << (s - 1)) ? int(v) - (1 << s) + 1 : int(v); }

}  // namespace

// The scan as this decoder reads it: its components in scan order with their tables, and where
// each block's values go in an MCU's record.
struct TDcScan::TScan {
  struct TComponent {
    const THuffman* dc;
    const THuffman* ac;
    int frame_index;
    int blocks;  // in an MCU
    // Natural order; for blocks that go through the 2 × 2 transform, none for DC-only blocks.
    const uint16_t* quant;
  };
  std::array<THuffman, NUM_HUFF_TBLS> dc_tables, ac_tables;
  std::array<TComponent, 3> components{};
  int count = 0;
  int dc_per_mcu = 0;      // one DC value a block
  int parts_per_mcu = 0;   // one TIdct2Part a transformed block
  int first_dc[3] = {};    // per component in frame order: its first block's place in the record
  int last_dc[3] = {};     // and its last one's, whose value is its predictor after the MCU
  int first_part[3] = {};  // and its first transformed block's
  uint16_t quant[3][DCTSIZE2] = {};
};

namespace {

using TScan = TDcScan::TScan;

// Decodes one MCU, updating the DC predictors, into one DC value a block and the transformed
// blocks' parts; false for a code no table has.
bool DecodeMcu(TBitReader& in, const TScan& scan, uint16_t* predictors, uint16_t* dc, TIdct2Part* parts) {
  for (int i = 0; i < scan.count; ++i) {
    const TScan::TComponent& component = scan.components[size_t(i)];
    for (int b = 0; b < component.blocks; ++b) {
      in.Fill();
      int s = NextSymbol(in, *component.dc, in.Peek(kPeekBits));
      if (s < 0) return false;
      if (s) {
        const int diff = Extend(in.Peek(s), s);
        in.Drop(s);
        predictors[component.frame_index] = uint16_t(predictors[component.frame_index] + uint16_t(diff));
      }
      *dc++ = predictors[component.frame_index];
      const THuffman& ac = *component.ac;
      if (!component.quant) {
        // Only the DC counts: the AC codes are stepped over.
        for (int k = 1; k < DCTSIZE2;) {
          in.Fill();
          const uint32_t peek = in.Peek(kPeekBits);
          const THuffman::TSkip t = ac.skip[peek];
          if (t.consume) {
            in.Drop(t.consume);
            if (!t.step) break;
            k += t.step;
            continue;
          }
          const int rs = NextSymbol(in, ac, peek);
          if (rs < 0) return false;
          const int r = rs >> 4;
          s = rs & 15;
          if (s) {
            in.Drop(s);
            k += r + 1;
          } else {
            if (r != 15) break;
            k += 16;
          }
        }
        continue;
      }
      int16_t coef[DCTSIZE2 + 16] = {};
      // Whether a coefficient the 2 × 2 transform reads came: most chroma blocks have none.
      bool read = false;
      for (int k = 1; k < DCTSIZE2; ++k) {
        in.Fill();
        const int rs = NextSymbol(in, ac, in.Peek(kPeekBits));
        if (rs < 0) return false;
        const int r = rs >> 4;
        s = rs & 15;
        if (s) {
          k += r;
          const int at = kNaturalOrder[size_t(k)];
          coef[at] = int16_t(Extend(in.Peek(s), s));
          read |= kIdct2Reads[size_t(at)];
          in.Drop(s);
        } else {
          if (r != 15) break;
          k += 15;
        }
      }
      if (!read) {
        *parts++ = TIdct2Part{};
      } else if (!Idct2Part(coef, scan.quant[component.frame_index], *parts++)) {
        return false;
      }
    }
  }
  return true;
}

// The library's YCbCr to RGB tables (16-bit fixed point).
struct TYccTables {
  int cr_r[256], cb_b[256], cr_g[256], cb_g[256];
  constexpr TYccTables() : cr_r(), cb_b(), cr_g(), cb_g() {
    constexpr int kHalf = 1 << 15;
    for (int i = 0; i < 256; ++i) {
      const int x = i - 128;
      cr_r[i] = (91881 * x + kHalf) >> 16;
      cb_b[i] = (116130 * x + kHalf) >> 16;
      cr_g[i] = -46802 * x;
      cb_g[i] = -22554 * x + kHalf;
    }
  }
};
constexpr TYccTables kYcc;

// Whether the image ends at the bit position: the rest of its byte is padding, then comes the
// end-of-image marker (after fill bytes) or the end of the file.
bool EndsImage(int fd, uint64_t position) {
  uint8_t bytes[16];
  ssize_t got;
  do got = ::pread(fd, bytes, sizeof bytes, off_t(position / 8));
  while (got < 0 && errno == EINTR);
  if (got < 0) return false;
  const size_t n = size_t(got);
  size_t i = 0;
  if (position % 8 != 0) {
    if (n == 0) return false;
    // A padded last byte of all ones is stuffed like any other.
    i = bytes[0] == 0xFF ? 2 : 1;
    if (bytes[0] == 0xFF && (n < 2 || bytes[1] != 0)) return false;
  }
  if (i >= n) return true;
  if (bytes[i] != 0xFF) return false;
  while (i < n && bytes[i] == 0xFF) ++i;
  return i < n ? bytes[i] == JPEG_EOI : n < sizeof bytes;
}

inline uint32_t Clamp255(int v) { return uint32_t(std::clamp(v, 0, 255)); }

// Runs work(i) for each part i, on this thread and on one helper for each lent turn, each
// thread taking the next part not yet taken; the number of threads it ran on.
template <class TWork>
int RunParts(int parts, size_t helpers, const TWork& work) {
  std::atomic<int> next{0};
  const auto take = [&]() noexcept {
    for (int i; (i = next.fetch_add(1)) < parts;) work(i);
  };
  std::vector<std::thread> threads;
  try {
    threads.reserve(helpers);
    for (size_t t = 0; t < helpers; ++t) threads.emplace_back(take);
  } catch (...) {
    // Fewer threads: the ones there are take more parts.
  }
  take();
  for (std::thread& t : threads) t.join();
  return 1 + int(threads.size());
}

}  // namespace

struct TDcScan::TPart {
  std::unique_ptr<TBitReader> in;
  bool exact = false;  // starts where the scan starts, or at a restart: its guess is no guess
  uint16_t predictors[3] = {};
  std::vector<uint16_t> dc;         // the DC value of each block of each MCU it decoded
  std::vector<TIdct2Part> idct;     // the transformed blocks' parts
  std::vector<uint64_t> starts;     // the bits its first MCUs started at
  uint64_t end_position = 0;        // the bit after its last MCU
  bool failed = false;              // a bad code in true data, or no memory
  bool stopped = false;             // ran into the end of the data
  size_t dc_per_mcu = 1;

  uint64_t Records() const { return dc.size() / dc_per_mcu; }

  // Decodes the next MCU and records it; false when this part cannot go on.
  bool Step(const TScan& scan) {
    uint16_t dc_values[kMaxBlocks];
    TIdct2Part parts[kMaxBlocks];
    if (!DecodeMcu(*in, scan, predictors, dc_values, parts)) {
      failed = true;
      return false;
    }
    if (in->Overrun()) {
      stopped = true;
      return false;
    }
    dc.insert(dc.end(), dc_values, dc_values + scan.dc_per_mcu);
    idct.insert(idct.end(), parts, parts + scan.parts_per_mcu);
    in->Fill();
    end_position = in->Position();
    return true;
  }

  // Back to a fresh guess at a byte offset.
  void Restart(int64_t offset) {
    failed = false;
    in->Restart(offset);
    dc.clear();
    idct.clear();
    starts.clear();
    std::fill(std::begin(predictors), std::end(predictors), uint16_t{0});
  }
};

TDcScan::TDcScan() = default;
TDcScan::~TDcScan() = default;

bool TDcScan::Takes(const jpeg_decompress_struct& c) {
  if (c.arith_code || c.data_precision != 8 || c.min_DCT_scaled_size != 1) return false;
  if (c.output_width != (c.image_width + 7) / 8 || c.output_height != (c.image_height + 7) / 8) return false;
  if (c.num_components == 1 && c.jpeg_color_space == JCS_GRAYSCALE) {
    // Grey as BGRA, or as grey levels for the caller to quantise (see TGreyDither).
    if (!(c.out_color_space == JCS_EXT_BGRA && !c.quantize_colors) && !TGreyDither::Serves(c)) return false;
    const jpeg_component_info& k = c.comp_info[0];
    if (k.h_samp_factor != 1 || k.v_samp_factor != 1 || k.DCT_scaled_size != 1) return false;
    if (k.quant_tbl_no < 0 || k.quant_tbl_no >= NUM_QUANT_TBLS || !c.quant_tbl_ptrs[k.quant_tbl_no]) return false;
    if (c.progressive_mode) return c.restart_interval == 0;
    const jpeg_component_info* s = c.cur_comp_info[0];
    return c.comps_in_scan == 1 && s && s->component_index == 0 && s->dc_tbl_no >= 0 &&
           s->dc_tbl_no < NUM_HUFF_TBLS && s->ac_tbl_no >= 0 && s->ac_tbl_no < NUM_HUFF_TBLS &&
           c.dc_huff_tbl_ptrs[s->dc_tbl_no] && c.ac_huff_tbl_ptrs[s->ac_tbl_no];
  }
  if (c.num_components != 3 || c.jpeg_color_space != JCS_YCbCr) return false;
  if (c.out_color_space != JCS_EXT_BGRA || c.quantize_colors) return false;
  // 4:4:4, 4:2:2 or 4:2:0: the luma first in the frame, chroma at one block an MCU. The library
  // gives 4:2:0 chroma blocks 2 × 2 pixels through its reduced transform, and repeats the one
  // pixel of a 4:2:2 chroma block.
  const int h = c.comp_info[0].h_samp_factor, v = c.comp_info[0].v_samp_factor;
  if (!((h == 1 && v == 1) || (h == 2 && v == 1) || (h == 2 && v == 2))) return false;
  for (int i = 0; i < 3; ++i) {
    const jpeg_component_info& k = c.comp_info[i];
    if (i > 0 && (k.h_samp_factor != 1 || k.v_samp_factor != 1)) return false;
    if (k.DCT_scaled_size != (i > 0 && h == 2 && v == 2 ? 2 : 1)) return false;
    if (k.quant_tbl_no < 0 || k.quant_tbl_no >= NUM_QUANT_TBLS || !c.quant_tbl_ptrs[k.quant_tbl_no]) return false;
    for (uint16_t q : c.quant_tbl_ptrs[k.quant_tbl_no]->quantval)
      if (q > 32767) return false;
  }
  // A progressive file is read by its DC scans alone: only where the DC gives every pixel, and
  // without restart markers, which its scans rarely have.
  if (c.progressive_mode) return !(h == 2 && v == 2) && c.restart_interval == 0;
  if (c.comps_in_scan != 3) return false;
  for (int i = 0; i < 3; ++i) {
    const jpeg_component_info* s = c.cur_comp_info[i];
    if (!s || s->dc_tbl_no < 0 || s->dc_tbl_no >= NUM_HUFF_TBLS || s->ac_tbl_no < 0 || s->ac_tbl_no >= NUM_HUFF_TBLS)
      return false;
    if (!c.dc_huff_tbl_ptrs[s->dc_tbl_no] || !c.ac_huff_tbl_ptrs[s->ac_tbl_no]) return false;
  }
  // Each of the frame's components once.
  int seen = 0;
  for (int i = 0; i < 3; ++i)
    if (c.cur_comp_info[i]->component_index >= 0 && c.cur_comp_info[i]->component_index < 3)
      seen |= 1 << c.cur_comp_info[i]->component_index;
  return seen == 7;
}

int TDcScan::PartsFor(int64_t data_bytes, const TDcScanSplit& split) {
  const int wanted = split.parts > 0 ? split.parts : UsableCores();
  const int parts =
      int(std::clamp<int64_t>(std::min<int64_t>(wanted, data_bytes / std::max<int64_t>(split.min_part_bytes, 1)), 1, 64));
  // On one core the library is as fast, and it has judged far more files.
  return parts < 2 && split.parts == 0 ? 0 : parts;
}

namespace {

// Blocks of each kind in an MCU of a file Takes takes.
struct TMcuShape {
  int h = 1, v = 1;  // the luma's blocks across and down, and the output pixels an MCU gives
  int components = 3;
  uint64_t cols = 0, rows = 0;
  int Blocks() const { return h * v + components - 1; }
  int Transformed() const { return h == 2 && v == 2 ? 2 : 0; }
};

TMcuShape McuShape(const jpeg_decompress_struct& c) {
  TMcuShape shape;
  shape.h = c.comp_info[0].h_samp_factor;
  shape.v = c.comp_info[0].v_samp_factor;
  shape.components = c.num_components;
  shape.cols = (uint64_t(c.image_width) + 8 * shape.h - 1) / (8 * shape.h);
  shape.rows = (uint64_t(c.image_height) + 8 * shape.v - 1) / (8 * shape.v);
  return shape;
}

}  // namespace

uint64_t TDcScan::WorkingBytes(const jpeg_decompress_struct& header, int64_t data_bytes, const TDcScanSplit& split) {
  if (!Takes(header)) return 0;
  const int parts = PartsFor(data_bytes, split);
  const TMcuShape shape = McuShape(header);
  const uint64_t record = uint64_t(shape.Blocks()) * sizeof(uint16_t) + uint64_t(shape.Transformed()) * sizeof(TIdct2Part);
  // A restart marker's offset is kept for each interval.
  const uint64_t intervals =
      header.restart_interval ? (shape.cols * shape.rows + header.restart_interval - 1) / header.restart_interval : 0;
  return shape.cols * shape.rows * record + intervals * sizeof(int64_t) +
         uint64_t(parts) * (kReadBytes + split.tracked_starts * sizeof(uint64_t));
}

std::unique_ptr<TDcScan> TDcScan::Decode(const jpeg_decompress_struct& c, int fd, int64_t scan_start,
                                         const TDcScanSplit& split) {
  if (!Takes(c)) return nullptr;
  std::unique_ptr<TDcScan> result(new TDcScan);
  TDcScan& self = *result;
  self.width_ = int32_t(c.output_width);
  self.height_ = int32_t(c.output_height);
  const TMcuShape shape = McuShape(c);
  self.mcu_w_ = shape.h;
  self.mcu_h_ = shape.v;
  self.mcu_cols_ = shape.cols;
  self.groups_ = shape.cols * shape.rows;
  self.components_ = shape.components;

  if (c.progressive_mode) {
    struct stat file {};
    if (::fstat(fd, &file) != 0 || file.st_size < scan_start) return nullptr;
    // No split: the DC scans are a small part of the file, and everything else is passed over.
    if (int64_t(file.st_size) - scan_start < split.min_part_bytes) return nullptr;
    try {
      if (!self.DecodeProgressive(c, fd, scan_start)) return nullptr;
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
    return result;
  }

  auto scan = std::make_unique<TScan>();
  int dc_place = 0, part_place = 0;
  for (int i = 0; i < self.components_; ++i) {
    const jpeg_component_info& s = *c.cur_comp_info[i];
    const int f = s.component_index;
    if (!scan->dc_tables[size_t(s.dc_tbl_no)].Build(*c.dc_huff_tbl_ptrs[s.dc_tbl_no], true)) return nullptr;
    if (!scan->ac_tables[size_t(s.ac_tbl_no)].Build(*c.ac_huff_tbl_ptrs[s.ac_tbl_no], false)) return nullptr;
    const JQUANT_TBL& q = *c.quant_tbl_ptrs[c.comp_info[f].quant_tbl_no];
    std::copy(std::begin(q.quantval), std::end(q.quantval), scan->quant[f]);
    self.quant_[f] = q.quantval[0];
    const int blocks = c.comp_info[f].h_samp_factor * c.comp_info[f].v_samp_factor;
    const bool transformed = c.comp_info[f].DCT_scaled_size == 2;
    scan->components[size_t(i)] = {&scan->dc_tables[size_t(s.dc_tbl_no)], &scan->ac_tables[size_t(s.ac_tbl_no)], f,
                                   blocks, transformed ? scan->quant[f] : nullptr};
    scan->first_dc[f] = dc_place;
    scan->last_dc[f] = dc_place + blocks - 1;
    dc_place += blocks;
    scan->first_part[f] = part_place;
    if (transformed) part_place += blocks;
  }
  scan->count = self.components_;
  scan->dc_per_mcu = dc_place;
  scan->parts_per_mcu = part_place;
  if (dc_place != shape.Blocks() || part_place != shape.Transformed()) return nullptr;
  self.scan_ = std::move(scan);

  struct stat file {};
  if (::fstat(fd, &file) != 0 || file.st_size < scan_start) return nullptr;
  const int64_t data = int64_t(file.st_size) - scan_start;
  int parts = PartsFor(data, split);
  if (parts == 0) return nullptr;
  // Helpers only on cores that are idle now; without one the library is as fast on this thread.
  std::vector<TCoreGate::TTurn> lent = LendSpareTurns(split.cores, parts - 1);
  if (split.parts == 0) {
    parts = 1 + int(lent.size());
    if (parts < 2) return nullptr;
  }
  try {
    const bool done = c.restart_interval
                          ? self.DecodeIntervals(c.restart_interval, fd, scan_start, data, parts, lent)
                          : self.DecodeGuessed(fd, scan_start, data, parts, split, lent);
    if (!done) return nullptr;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return result;
}

bool TDcScan::DecodeGuessed(int fd, int64_t scan_start, int64_t data, int parts, const TDcScanSplit& split,
                            std::vector<TCoreGate::TTurn>& lent) {
  const TScan& scan = *scan_;
  const uint64_t groups = groups_;
  std::vector<int64_t> begin(size_t(parts) + 1);
  for (int i = 0; i <= parts; ++i) begin[size_t(i)] = scan_start + data * i / parts;
  for (int i = 0; i < parts; ++i) {
    auto part = std::make_unique<TPart>();
    part->in = std::make_unique<TBitReader>(fd, begin[size_t(i)]);
    part->exact = i == 0;
    part->dc_per_mcu = size_t(scan.dc_per_mcu);
    // An MCU takes six bits at least: a header that claims more than the data can hold
    // reserves no more than the data could fill. A part's share of the MCUs is a guess, and it
    // runs on a little past its share until the next part is met: room for that as well, so
    // that its records are not copied into a vector twice the size.
    const uint64_t share = uint64_t(begin[size_t(i) + 1] - begin[size_t(i)]);
    const uint64_t mcus = std::min(groups / uint64_t(parts) + groups / 16 + 64, share * 8 / 6 + 64);
    part->dc.reserve(size_t(mcus) * size_t(scan.dc_per_mcu));
    part->idct.reserve(size_t(mcus) * size_t(scan.parts_per_mcu));
    parts_.push_back(std::move(part));
  }

  // Every part decodes its share at once. A part that is a guess restarts past a code no table
  // has: that is not where an MCU begins, unless only the padding before the image's end is
  // left, where the part has simply reached the end.
  const auto decode_share = [&](int i) noexcept {
    TPart& part = *parts_[size_t(i)];
    const uint64_t end = i + 1 < parts ? uint64_t(begin[size_t(i) + 1]) * 8 : std::numeric_limits<uint64_t>::max();
    int guesses = 0;
    try {
      while (part.Records() < groups) {
        part.in->Fill();
        const uint64_t at = part.in->Position();
        if (at >= end) break;
        if (!part.exact && part.starts.size() == part.Records() && part.starts.size() < split.tracked_starts)
          part.starts.push_back(at);
        if (part.Step(scan)) continue;
        if (part.starts.size() > part.Records()) part.starts.pop_back();  // no MCU starts there
        if (part.exact || part.stopped) break;
        if (part.Records() > 0 && EndsImage(fd, at)) {
          part.failed = false;
          part.stopped = true;
          break;
        }
        if (++guesses > kMaxGuesses) break;
        part.Restart(int64_t(at / 8 + 1));
      }
    } catch (const std::bad_alloc&) {
      part.failed = true;
    }
  };
  threads_ = RunParts(parts, lent.size(), decode_share);
  lent.clear();  // the joining below is this thread's alone

  // Then, from the first part on, each true decoder runs on until it meets a later part's guess
  // at an MCU's start, and the rest of the image comes from that part.
  size_t current = 0;
  uint64_t first_record = 0, first_group = 0;
  uint16_t offset[3] = {};
  size_t next = 1;
  for (;;) {
    TPart& part = *parts_[current];
    if (part.failed) return false;
    if (first_group + part.Records() - first_record >= groups) break;
    if (part.stopped) return false;
    part.in->Fill();
    const uint64_t at = part.in->Position();
    // Later parts whose guesses this decoder has passed cannot be met any more.
    while (next < parts_.size() &&
           (parts_[next]->failed || parts_[next]->starts.empty() || at > parts_[next]->starts.back()))
      ++next;
    if (next < parts_.size()) {
      const TPart& guess = *parts_[next];
      const auto found = std::lower_bound(guess.starts.begin(), guess.starts.end(), at);
      if (found != guess.starts.end() && *found == at) {
        const uint64_t index = uint64_t(found - guess.starts.begin());
        pieces_.push_back({&part, first_record, first_group, {offset[0], offset[1], offset[2]}});
        first_group += part.Records() - first_record;
        for (int k = 0; k < components_; ++k) {
          const uint16_t before = index ? guess.dc[(index - 1) * guess.dc_per_mcu + size_t(scan.last_dc[k])] : uint16_t{0};
          offset[k] = uint16_t(part.predictors[k] + offset[k] - before);
        }
        first_record = index;
        current = next++;
        continue;
      }
    }
    if (!part.Step(scan) && part.failed) return false;
  }
  TPart& last = *parts_[current];
  pieces_.push_back({&last, first_record, first_group, {offset[0], offset[1], offset[2]}});
  // MCUs past the image, or anything but the end of the image after its last one, are for the
  // library to judge.
  return first_group + last.Records() - first_record == groups && EndsImage(fd, last.end_position) &&
         TransformsAgree();
}

bool TDcScan::TransformsAgree() const {
  const TScan& scan = *scan_;
  if (scan.parts_per_mcu == 0) return true;
  for (size_t p = 0; p < pieces_.size(); ++p) {
    const TPiece& piece = pieces_[p];
    const uint64_t end = p + 1 < pieces_.size() ? pieces_[p + 1].first_group : groups_;
    for (uint64_t g = piece.first_group; g < end; ++g) {
      const uint64_t record = piece.first_record + (g - piece.first_group);
      const uint16_t* dc = piece.part->dc.data() + record * size_t(scan.dc_per_mcu);
      const TIdct2Part* parts = piece.part->idct.data() + record * size_t(scan.parts_per_mcu);
      for (int f = 1; f < 3; ++f) {
        const int64_t d = int64_t(int16_t(uint16_t(dc[scan.first_dc[f]] + piece.offset[f]))) * quant_[f];
        if (!Idct2Agrees(parts[scan.first_part[f]], d)) return false;
      }
    }
  }
  return true;
}

namespace {

// The markers in [from, to) of the file (a marker's code may lie at to): their offsets and codes,
// stuffed zeros and fill bytes left out; false when the file cannot be read.
bool FindMarkers(int fd, int64_t from, int64_t to, std::vector<std::pair<int64_t, uint8_t>>& markers) {
  std::vector<uint8_t> buffer(kReadBytes + 1);
  for (int64_t at = from; at < to;) {
    const size_t want = size_t(std::min<int64_t>(int64_t(kReadBytes), to - at)) + 1;
    ssize_t got;
    do got = ::pread(fd, buffer.data(), want, at);
    while (got < 0 && errno == EINTR);
    if (got < 0) return false;
    if (got == 0) break;
    const size_t n = size_t(got), scanned = std::min(n, want - 1);
    for (const uint8_t* p = buffer.data(); (p = static_cast<const uint8_t*>(std::memchr(p, 0xFF, scanned - size_t(p - buffer.data()))));
         ++p) {
      const size_t i = size_t(p - buffer.data());
      if (i + 1 < n && buffer[i + 1] != 0 && buffer[i + 1] != 0xFF) markers.emplace_back(at + int64_t(i), buffer[i + 1]);
      if (i + 1 >= scanned) break;
    }
    at += int64_t(scanned);
  }
  return true;
}

}  // namespace

bool TDcScan::DecodeIntervals(unsigned interval, int fd, int64_t scan_start, int64_t data, int parts,
                              std::vector<TCoreGate::TTurn>& lent) {
  const TScan& scan = *scan_;
  const uint64_t groups = groups_;
  const uint64_t count = (groups + interval - 1) / interval;

  // Every restart marker is a place where decoding starts afresh: found in each part's share of
  // the file, then counted through.
  std::vector<std::vector<std::pair<int64_t, uint8_t>>> found(static_cast<size_t>(parts));
  std::vector<char> read(static_cast<size_t>(parts), 0);
  {
    const auto find = [&](int i) noexcept {
      try {
        read[size_t(i)] = FindMarkers(fd, scan_start + data * i / parts, scan_start + data * (i + 1) / parts,
                                      found[size_t(i)]);
      } catch (const std::bad_alloc&) {
      }
    };
    threads_ = RunParts(parts, lent.size(), find);
  }
  // start[j]: where interval j's data begins; start[count]: the marker that ends the scan.
  std::vector<int64_t> start{scan_start};
  start.reserve(size_t(count) + 1);
  bool ended = false;
  for (int i = 0; i < parts && !ended; ++i) {
    if (!read[size_t(i)]) return false;
    for (const auto& [offset, code] : found[size_t(i)]) {
      const bool restart = code >= JPEG_RST0 && code <= JPEG_RST0 + 7;
      if (!restart || start.size() == count) {
        start.push_back(offset);
        ended = true;
        break;
      }
      // Restart markers count through 0 to 7 over and over; anything else is for the library.
      if (code != JPEG_RST0 + (start.size() - 1) % 8) return false;
      start.push_back(offset + 2);
    }
  }
  if (!ended) start.push_back(scan_start + data);  // the file ends without a marker
  if (start.size() != count + 1 || !EndsImage(fd, uint64_t(start.back()) * 8)) return false;
  found.clear();

  // Each part is a run of whole intervals of about the same length in bytes.
  std::vector<uint64_t> first(size_t(parts) + 1, count);
  first[0] = 0;
  for (int i = 1; i < parts; ++i) {
    const int64_t target = scan_start + data * i / parts;
    first[size_t(i)] = std::max<uint64_t>(
        first[size_t(i) - 1], uint64_t(std::lower_bound(start.begin(), start.end() - 1, target) - start.begin()));
  }
  for (int i = 0; i < parts; ++i) {
    auto part = std::make_unique<TPart>();
    part->in = std::make_unique<TBitReader>(fd, start[size_t(first[size_t(i)])]);
    part->exact = true;
    part->dc_per_mcu = size_t(scan.dc_per_mcu);
    const uint64_t mcus = std::min(groups, (first[size_t(i) + 1] - first[size_t(i)]) * interval);
    part->dc.reserve(size_t(mcus) * size_t(scan.dc_per_mcu));
    part->idct.reserve(size_t(mcus) * size_t(scan.parts_per_mcu));
    parts_.push_back(std::move(part));
  }
  const auto decode_intervals = [&](int i) noexcept {
    TPart& part = *parts_[size_t(i)];
    try {
      for (uint64_t j = first[size_t(i)]; j < first[size_t(i) + 1] && !part.failed; ++j) {
        part.in->Restart(start[size_t(j)]);
        std::fill(std::begin(part.predictors), std::end(part.predictors), uint16_t{0});
        const uint64_t mcus = std::min<uint64_t>(interval, groups - j * interval);
        for (uint64_t m = 0; m < mcus && !part.failed; ++m)
          if (!part.Step(scan)) part.failed = true;
        // The interval's data ends with its last MCU, but for the padding of a byte.
        if (!part.failed && !part.in->AtMarker()) part.failed = true;
      }
    } catch (const std::bad_alloc&) {
      part.failed = true;
    }
  };
  threads_ = std::max(threads_, RunParts(parts, lent.size(), decode_intervals));
  lent.clear();
  for (int i = 0; i < parts; ++i) {
    if (parts_[size_t(i)]->failed) return false;
    if (first[size_t(i)] < first[size_t(i) + 1])
      pieces_.push_back({parts_[size_t(i)].get(), 0, first[size_t(i)] * interval, {0, 0, 0}});
  }
  return TransformsAgree();
}

namespace {

bool ReadAt(int fd, int64_t offset, uint8_t* out, size_t n) {
  while (n > 0) {
    ssize_t got;
    do got = ::pread(fd, out, n, offset);
    while (got < 0 && errno == EINTR);
    if (got <= 0) return false;
    out += got;
    n -= size_t(got);
    offset += got;
  }
  return true;
}

// The offset of the first marker from offset on that is no stuffed byte, fill or restart marker,
// which a scan without restart intervals must not hold; -1 for none, or a restart marker.
int64_t NextMarker(int fd, int64_t offset) {
  std::vector<uint8_t> buffer(kReadBytes + 1);
  for (;;) {
    ssize_t got;
    do got = ::pread(fd, buffer.data(), buffer.size(), offset);
    while (got < 0 && errno == EINTR);
    if (got < 2) return -1;
    const size_t n = size_t(got);
    for (const uint8_t* p = buffer.data(); (p = static_cast<const uint8_t*>(std::memchr(p, 0xFF, n - 1 - size_t(p - buffer.data()))));
         ++p) {
      const uint8_t code = p[1];
      if (code == 0 || code == 0xFF) continue;
      if (code >= JPEG_RST0 && code <= JPEG_RST0 + 7) return -1;
      return offset + (p - buffer.data());
    }
    offset += int64_t(n - 1);
  }
}

// What a scan header says, with its components as indices into the frame.
struct TScanHeader {
  int count = 0;
  int component[4] = {};
  int dc_table[4] = {}, ac_table[4] = {};
  int ss = 0, se = 0, ah = 0, al = 0;
};

// The DC difference the next code gives; false for a code the table lacks.
bool DecodeDc(TBitReader& in, const THuffman& table, int& diff) {
  in.Fill();
  const int s = NextSymbol(in, table, in.Peek(kPeekBits));
  if (s < 0) return false;
  diff = 0;
  if (s) {
    diff = Extend(in.Peek(s), s);
    in.Drop(s);
  }
  return true;
}

}  // namespace

bool TDcScan::DecodeProgressive(const jpeg_decompress_struct& c, int fd, int64_t scan_start) {
  // The record of an MCU: the luma's blocks, then one block of each chroma component.
  auto scan = std::make_unique<TScan>();
  const int luma_blocks = mcu_w_ * mcu_h_;
  scan->dc_per_mcu = luma_blocks + components_ - 1;
  for (int f = 0; f < components_; ++f) {
    scan->first_dc[f] = f == 0 ? 0 : luma_blocks + f - 1;
    scan->last_dc[f] = f == 0 ? luma_blocks - 1 : scan->first_dc[f];
    quant_[f] = c.quant_tbl_ptrs[c.comp_info[f].quant_tbl_no]->quantval[0];
  }
  scan_ = std::move(scan);
  const TScan& layout = *scan_;
  auto part = std::make_unique<TPart>();
  part->exact = true;
  part->dc_per_mcu = size_t(layout.dc_per_mcu);
  part->dc.assign(size_t(groups_) * part->dc_per_mcu, 0);
  part->in = std::make_unique<TBitReader>(fd, scan_start);
  TBitReader& in = *part->in;

  // The DC tables as each scan finds them; AC tables only have to be ones the library takes.
  std::array<THuffman, NUM_HUFF_TBLS> dc_tables;
  std::array<bool, NUM_HUFF_TBLS> dc_defined{}, ac_defined{};
  for (int t = 0; t < NUM_HUFF_TBLS; ++t) {
    if (c.dc_huff_tbl_ptrs[t]) {
      if (!dc_tables[size_t(t)].Build(*c.dc_huff_tbl_ptrs[t], true)) return false;
      dc_defined[size_t(t)] = true;
    }
    if (c.ac_huff_tbl_ptrs[t]) {
      THuffman ac;
      if (!ac.Build(*c.ac_huff_tbl_ptrs[t], false)) return false;
      ac_defined[size_t(t)] = true;
    }
  }
  // How precisely each coefficient is known, as the library tracks it: -1 for not at all.
  int coef_bits[3][DCTSIZE2];
  std::fill(&coef_bits[0][0], &coef_bits[0][0] + 3 * DCTSIZE2, -1);

  TScanHeader header;
  header.count = c.comps_in_scan;
  for (int i = 0; i < header.count; ++i) {
    header.component[i] = c.cur_comp_info[i]->component_index;
    header.dc_table[i] = c.cur_comp_info[i]->dc_tbl_no;
    header.ac_table[i] = c.cur_comp_info[i]->ac_tbl_no;
  }
  header.ss = c.Ss;
  header.se = c.Se;
  header.ah = c.Ah;
  header.al = c.Al;
  int64_t data = scan_start;
  for (;;) {
    // The library's checks of a scan's progression: anything it would refuse or warn about is
    // for it to judge.
    const bool dc_band = header.ss == 0;
    if (header.count < 1 || header.count > components_) return false;
    if (dc_band ? header.se != 0 : header.ss > header.se || header.se > 63 || header.count != 1) return false;
    if ((header.ah != 0 && header.al != header.ah - 1) || header.al > 13) return false;
    for (int i = 0; i < header.count; ++i) {
      const int f = header.component[i];
      if (f < 0 || f >= components_) return false;
      for (int j = 0; j < i; ++j)
        if (header.component[j] == f) return false;
      if (!dc_band && coef_bits[f][0] < 0) return false;
      for (int k = header.ss; k <= header.se; ++k) {
        if (header.ah != (coef_bits[f][k] < 0 ? 0 : coef_bits[f][k])) return false;
        coef_bits[f][k] = header.al;
      }
      if (dc_band && header.ah == 0 && (header.dc_table[i] < 0 || header.dc_table[i] >= NUM_HUFF_TBLS ||
                                        !dc_defined[size_t(header.dc_table[i])]))
        return false;
      if (!dc_band && (header.ac_table[i] < 0 || header.ac_table[i] >= NUM_HUFF_TBLS ||
                       !ac_defined[size_t(header.ac_table[i])]))
        return false;
    }

    int64_t marker;
    if (dc_band) {
      // The DC scan, in MCUs of its components, or block by block for one component.
      in.Restart(data);
      int predictors[3] = {};
      const auto block = [&](int i, uint64_t group, int place) {
        uint16_t& value = part->dc[group * part->dc_per_mcu + size_t(place)];
        if (header.ah == 0) {
          int diff;
          if (!DecodeDc(in, dc_tables[size_t(header.dc_table[i])], diff)) return false;
          predictors[i] += diff;
          // The library refuses a running sum that leaves an int; this stops well before.
          if (predictors[i] > (1 << 28) || predictors[i] < -(1 << 28)) return false;
          value = uint16_t(predictors[i] * (1 << header.al));
        } else {
          in.Fill();
          if (in.Peek(1)) value = uint16_t(value | (1u << header.al));
          in.Drop(1);
        }
        return true;
      };
      if (header.count == 1) {
        const int f = header.component[0];
        const jpeg_component_info& k = c.comp_info[f];
        const int h = f == 0 ? mcu_w_ : 1, v = f == 0 ? mcu_h_ : 1;
        for (JDIMENSION by = 0; by < k.height_in_blocks; ++by)
          for (JDIMENSION bx = 0; bx < k.width_in_blocks; ++bx)
            if (!block(0, (by / v) * mcu_cols_ + bx / h, layout.first_dc[f] + int(by % v) * h + int(bx % h)))
              return false;
      } else {
        for (uint64_t g = 0; g < groups_; ++g)
          for (int i = 0; i < header.count; ++i) {
            const int f = header.component[i];
            const int blocks = f == 0 ? luma_blocks : 1;
            for (int b = 0; b < blocks; ++b)
              if (!block(i, g, layout.first_dc[f] + b)) return false;
          }
      }
      if (!in.AtMarker()) return false;
      marker = in.MarkerOffset();
    } else {
      marker = NextMarker(fd, data);
    }
    if (marker < 0) return false;

    // The segments up to the next scan or the end of the image.
    for (;;) {
      uint8_t head[4];
      if (!ReadAt(fd, marker, head, 2) || head[0] != 0xFF) return false;
      if (head[1] == 0xFF) {
        ++marker;
        continue;
      }
      if (head[1] == JPEG_EOI) {
        // Done, with every coefficient known exactly: the library smooths nothing.
        for (int f = 0; f < components_; ++f)
          for (int b : coef_bits[f])
            if (b != 0) return false;
        parts_.push_back(std::move(part));
        pieces_.push_back({parts_.back().get(), 0, 0, {0, 0, 0}});
        return true;
      }
      if (!ReadAt(fd, marker + 2, head + 2, 2)) return false;
      const size_t length = size_t(head[2]) << 8 | head[3];
      if (length < 2) return false;
      std::vector<uint8_t> segment(length - 2);
      if (!ReadAt(fd, marker + 4, segment.data(), segment.size())) return false;
      const int64_t after = marker + 2 + int64_t(length);
      if ((head[1] >= JPEG_APP0 && head[1] <= JPEG_APP0 + 15) || head[1] == JPEG_COM) {
        marker = after;
        continue;
      }
      if (head[1] == 0xC4) {  // DHT
        for (size_t at = 0; at < segment.size();) {
          if (at + 17 > segment.size()) return false;
          const int kind = segment[at] >> 4, index = segment[at] & 15;
          if (kind > 1 || index >= NUM_HUFF_TBLS) return false;
          JHUFF_TBL table{};
          int count = 0;
          for (int l = 1; l <= 16; ++l) count += table.bits[l] = segment[at + size_t(l)];
          if (count > 256 || at + 17 + size_t(count) > segment.size()) return false;
          std::copy_n(segment.begin() + std::ptrdiff_t(at + 17), count, table.huffval);
          if (kind == 0) {
            if (!dc_tables[size_t(index)].Build(table, true)) return false;
            dc_defined[size_t(index)] = true;
          } else {
            THuffman ac;
            if (!ac.Build(table, false)) return false;
            ac_defined[size_t(index)] = true;
          }
          at += 17 + size_t(count);
        }
        marker = after;
        continue;
      }
      if (head[1] != 0xDA) return false;  // anything else, a new restart interval included
      // SOS
      if (segment.empty()) return false;
      header = TScanHeader{};
      header.count = segment[0];
      if (header.count < 1 || header.count > components_ || segment.size() != size_t(1 + 2 * header.count + 3)) return false;
      for (int i = 0; i < header.count; ++i) {
        const uint8_t id = segment[size_t(1 + 2 * i)], tables = segment[size_t(2 + 2 * i)];
        header.component[i] = -1;
        for (int f = 0; f < components_; ++f)
          if (c.comp_info[f].component_id == id) header.component[i] = f;
        header.dc_table[i] = tables >> 4;
        header.ac_table[i] = tables & 15;
      }
      const size_t p = size_t(1 + 2 * header.count);
      header.ss = segment[p];
      header.se = segment[p + 1];
      header.ah = segment[p + 2] >> 4;
      header.al = segment[p + 2] & 15;
      data = after;
      break;
    }
  }
}

void TDcScan::ReadRow(int32_t y, TColor32* out) const {
  const TScan& scan = *scan_;
  const uint64_t row_start = uint64_t(y / mcu_h_) * mcu_cols_;
  const int by = y % mcu_h_;
  size_t p = size_t(std::upper_bound(pieces_.begin(), pieces_.end(), row_start,
                                     [](uint64_t g, const TPiece& piece) { return g < piece.first_group; }) -
                    pieces_.begin()) -
             1;
  const auto dequantised = [&](const TPiece& piece, const uint16_t* dc, int component, int place) {
    return int64_t(int16_t(uint16_t(dc[place] + piece.offset[component]))) * quant_[component];
  };
  const auto dc_sample = [&](int64_t d) { return kIdctRangeLimit[size_t((d + 4) >> 3) & 1023]; };
  for (int32_t x = 0; x < width_; ++x) {
    const uint64_t g = row_start + uint64_t(x / mcu_w_);
    const int bx = x % mcu_w_;
    while (p + 1 < pieces_.size() && pieces_[p + 1].first_group <= g) ++p;
    const TPiece& piece = pieces_[p];
    const uint64_t record = piece.first_record + (g - piece.first_group);
    const uint16_t* dc = piece.part->dc.data() + record * size_t(scan.dc_per_mcu);
    const int luma = dc_sample(dequantised(piece, dc, 0, scan.first_dc[0] + by * mcu_w_ + bx));
    if (components_ == 1) {
      out[x] = 0xFF000000u | uint32_t(luma) * 0x010101u;
      continue;
    }
    int cb, cr;
    if (scan.parts_per_mcu == 0) {
      cb = dc_sample(dequantised(piece, dc, 1, scan.first_dc[1]));
      cr = dc_sample(dequantised(piece, dc, 2, scan.first_dc[2]));
    } else {
      const TIdct2Part* parts = piece.part->idct.data() + record * size_t(scan.parts_per_mcu);
      cb = Idct2Sample(parts[scan.first_part[1]], dequantised(piece, dc, 1, scan.first_dc[1]), bx, by);
      cr = Idct2Sample(parts[scan.first_part[2]], dequantised(piece, dc, 2, scan.first_dc[2]), bx, by);
    }
    const uint32_t r = Clamp255(luma + kYcc.cr_r[cr]);
    const uint32_t g_ = Clamp255(luma + ((kYcc.cb_g[cb] + kYcc.cr_g[cr]) >> 16));
    const uint32_t b = Clamp255(luma + kYcc.cb_b[cb]);
    out[x] = 0xFF000000u | r << 16 | g_ << 8 | b;
  }
}

}  // namespace pellavo::jpeg_detail
