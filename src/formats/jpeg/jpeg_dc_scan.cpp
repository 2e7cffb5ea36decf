#include "formats/jpeg/jpeg_dc_scan.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <limits>
#include <thread>

#include "core/core_gate.h"

namespace pellavo::jpeg_detail {
namespace {

constexpr int kPeekBits = 11;
// Guesses a part may try after bad codes before it leaves its share to the part before it: real
// data falls into step within a guess or two, noise may never.
constexpr int kMaxGuesses = 64;

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

// One component of the scan: its tables, and where its DC value goes among the three.
struct TScanComponent {
  const THuffman* dc;
  const THuffman* ac;
  int frame_index;
};

inline int Extend(uint32_t v, int s) { return v < (1u << (s - 1)) ? int(v) - (1 << s) + 1 : int(v); }

// Decodes one block group (one block of each component), updating the DC predictors; false for
// a code no table has.
bool DecodeGroup(TBitReader& in, const std::array<TScanComponent, 3>& scan, uint16_t* predictors) {
  for (const TScanComponent& component : scan) {
    in.Fill();
    int length, s;
    if (const uint16_t e = component.dc->fast[in.Peek(kPeekBits)]) {
      length = e >> 8;
      s = e & 0xFF;
    } else {
      s = component.dc->Slow(in.Peek(16), length);
      if (s < 0) return false;
    }
    in.Drop(length);
    if (s) {
      const int diff = Extend(in.Peek(s), s);
      in.Drop(s);
      predictors[component.frame_index] = uint16_t(predictors[component.frame_index] + uint16_t(diff));
    }
    const THuffman& ac = *component.ac;
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
      int rs;
      if (const uint16_t e = ac.fast[peek]) {
        length = e >> 8;
        rs = e & 0xFF;
      } else {
        rs = ac.Slow(in.Peek(16), length);
        if (rs < 0) return false;
      }
      in.Drop(length);
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

}  // namespace

struct TDcScan::TPart {
  std::unique_ptr<TBitReader> in;
  bool exact = false;  // starts where the scan starts: its guess is no guess
  uint16_t predictors[3] = {};
  std::vector<uint16_t> dc;      // the DC values after each block group it decoded, frame order
  std::vector<uint64_t> starts;  // the bits its first block groups started at
  uint64_t end_position = 0;     // the bit after its last block group
  bool failed = false;           // a bad code in true data, or no memory
  bool stopped = false;          // ran into the end of the data

  uint64_t Records() const { return dc.size() / 3; }

  // Decodes the next block group and records it; false when this part cannot go on.
  bool Step(const std::array<TScanComponent, 3>& scan) {
    if (!DecodeGroup(*in, scan, predictors)) {
      failed = true;
      return false;
    }
    if (in->Overrun()) {
      stopped = true;
      return false;
    }
    dc.insert(dc.end(), predictors, predictors + 3);
    in->Fill();
    end_position = in->Position();
    return true;
  }
};

TDcScan::~TDcScan() = default;

bool TDcScan::Takes(const jpeg_decompress_struct& c) {
  if (c.progressive_mode || c.arith_code || c.data_precision != 8 || c.restart_interval != 0) return false;
  if (c.num_components != 3 || c.comps_in_scan != 3 || c.jpeg_color_space != JCS_YCbCr) return false;
  if (c.out_color_space != JCS_EXT_BGRA || c.quantize_colors || c.min_DCT_scaled_size != 1) return false;
  if (c.output_width != (c.image_width + 7) / 8 || c.output_height != (c.image_height + 7) / 8) return false;
  for (int i = 0; i < 3; ++i) {
    const jpeg_component_info& k = c.comp_info[i];
    if (k.h_samp_factor != 1 || k.v_samp_factor != 1 || k.DCT_scaled_size != 1) return false;
    if (k.quant_tbl_no < 0 || k.quant_tbl_no >= NUM_QUANT_TBLS || !c.quant_tbl_ptrs[k.quant_tbl_no]) return false;
    if (c.quant_tbl_ptrs[k.quant_tbl_no]->quantval[0] > 32767) return false;
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

uint64_t TDcScan::WorkingBytes(const jpeg_decompress_struct& header, int64_t data_bytes, const TDcScanSplit& split) {
  if (!Takes(header)) return 0;
  const int parts = PartsFor(data_bytes, split);
  return uint64_t(header.output_width) * header.output_height * 3 * sizeof(uint16_t) +
         uint64_t(parts) * (kReadBytes + split.tracked_starts * sizeof(uint64_t));
}

std::unique_ptr<TDcScan> TDcScan::Decode(const jpeg_decompress_struct& c, int fd, int64_t scan_start,
                                         const TDcScanSplit& split) {
  if (!Takes(c)) return nullptr;
  std::unique_ptr<TDcScan> result(new TDcScan);
  TDcScan& self = *result;
  self.width_ = int32_t(c.output_width);
  self.height_ = int32_t(c.output_height);
  const uint64_t groups = uint64_t(c.output_width) * c.output_height;

  std::array<THuffman, NUM_HUFF_TBLS> dc_tables, ac_tables;
  std::array<TScanComponent, 3> scan{};
  for (int i = 0; i < 3; ++i) {
    const jpeg_component_info& s = *c.cur_comp_info[i];
    if (!dc_tables[size_t(s.dc_tbl_no)].Build(*c.dc_huff_tbl_ptrs[s.dc_tbl_no], true)) return nullptr;
    if (!ac_tables[size_t(s.ac_tbl_no)].Build(*c.ac_huff_tbl_ptrs[s.ac_tbl_no], false)) return nullptr;
    scan[size_t(i)] = {&dc_tables[size_t(s.dc_tbl_no)], &ac_tables[size_t(s.ac_tbl_no)], s.component_index};
    self.quant_[i] = c.quant_tbl_ptrs[c.comp_info[i].quant_tbl_no]->quantval[0];
  }

  // The parts, each beginning at its share of the data.
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
  std::vector<int64_t> begin(size_t(parts) + 1);
  for (int i = 0; i <= parts; ++i) begin[size_t(i)] = scan_start + data * i / parts;
  try {
    for (int i = 0; i < parts; ++i) {
      auto part = std::make_unique<TPart>();
      part->in = std::make_unique<TBitReader>(fd, begin[size_t(i)]);
      part->exact = i == 0;
      // A block group takes six bits at least: a header that claims more than the data can hold
      // reserves no more than the data could fill.
      const uint64_t share = uint64_t(begin[size_t(i) + 1] - begin[size_t(i)]);
      part->dc.reserve(size_t(std::min(groups / uint64_t(parts) + 1, share * 8 / 6 + 1) * 3));
      self.parts_.push_back(std::move(part));
    }
  } catch (const std::bad_alloc&) {
    return nullptr;
  }

  // Every part decodes its share at once. A part that is a guess restarts past a code no table
  // has: that is not where a block begins.
  const auto decode_share = [&](int i) noexcept {
    TPart& part = *self.parts_[size_t(i)];
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
        if (part.starts.size() > part.Records()) part.starts.pop_back();  // no group starts there
        if (part.exact || part.stopped || ++guesses > kMaxGuesses) break;
        part.failed = false;
        part.in->Restart(int64_t(at / 8 + 1));
        part.dc.clear();
        part.starts.clear();
        std::fill(std::begin(part.predictors), std::end(part.predictors), uint16_t{0});
      }
    } catch (const std::bad_alloc&) {
      part.failed = true;
    }
  };
  // Each thread takes the next part not yet taken.
  std::atomic<int> next_part{0};
  const auto decode_shares = [&]() noexcept {
    for (int i; (i = next_part.fetch_add(1)) < parts;) decode_share(i);
  };
  std::vector<std::thread> threads;
  try {
    threads.reserve(lent.size());
    for (size_t t = 0; t < lent.size(); ++t) threads.emplace_back(decode_shares);
  } catch (...) {
    // Fewer threads: the ones there are take more parts.
  }
  self.threads_ = 1 + int(threads.size());
  decode_shares();
  for (std::thread& t : threads) t.join();
  lent.clear();  // the joining below is this thread's alone

  // Then, from the first part on, each true decoder runs on until it meets a later part's guess
  // at a block group's start, and the rest of the image comes from that part.
  size_t current = 0;
  uint64_t first_record = 0, first_group = 0;
  uint16_t offset[3] = {};
  size_t next = 1;
  try {
    for (;;) {
      TPart& part = *self.parts_[current];
      if (part.failed) return nullptr;
      if (first_group + part.Records() - first_record >= groups) break;
      if (part.stopped) return nullptr;
      part.in->Fill();
      const uint64_t at = part.in->Position();
      // Later parts whose guesses this decoder has passed cannot be met any more.
      while (next < self.parts_.size() &&
             (self.parts_[next]->failed || self.parts_[next]->starts.empty() || at > self.parts_[next]->starts.back()))
        ++next;
      if (next < self.parts_.size()) {
        const TPart& guess = *self.parts_[next];
        const auto found = std::lower_bound(guess.starts.begin(), guess.starts.end(), at);
        if (found != guess.starts.end() && *found == at) {
          const uint64_t index = uint64_t(found - guess.starts.begin());
          self.pieces_.push_back({&part, first_record, first_group, {offset[0], offset[1], offset[2]}});
          first_group += part.Records() - first_record;
          for (int k = 0; k < 3; ++k) {
            const uint16_t before = index ? guess.dc[(index - 1) * 3 + size_t(k)] : uint16_t{0};
            offset[k] = uint16_t(part.predictors[k] + offset[k] - before);
          }
          first_record = index;
          current = next++;
          continue;
        }
      }
      if (!part.Step(scan) && part.failed) return nullptr;
    }
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  TPart& last = *self.parts_[current];
  self.pieces_.push_back({&last, first_record, first_group, {offset[0], offset[1], offset[2]}});
  // Block groups past the image, or anything but the end of the image after its last group, are
  // for the library to judge.
  if (first_group + last.Records() - first_record != groups || !EndsImage(fd, last.end_position)) return nullptr;
  return result;
}

void TDcScan::ReadRow(int32_t y, TColor32* out) const {
  const uint64_t row_start = uint64_t(y) * uint64_t(width_);
  size_t p = size_t(std::upper_bound(pieces_.begin(), pieces_.end(), row_start,
                                     [](uint64_t g, const TPiece& piece) { return g < piece.first_group; }) -
                    pieces_.begin()) -
             1;
  for (int32_t x = 0; x < width_; ++x) {
    const uint64_t g = row_start + uint64_t(x);
    while (p + 1 < pieces_.size() && pieces_[p + 1].first_group <= g) ++p;
    const TPiece& piece = pieces_[p];
    const uint16_t* dc = piece.part->dc.data() + (piece.first_record + (g - piece.first_group)) * 3;
    int sample[3];
    for (int k = 0; k < 3; ++k) {
      const int coefficient = int16_t(uint16_t(dc[k] + piece.offset[k]));
      sample[k] = kIdctRangeLimit[size_t(((coefficient * quant_[k] + 4) >> 3) & 1023)];
    }
    const int luma = sample[0], cb = sample[1], cr = sample[2];
    const uint32_t r = Clamp255(luma + kYcc.cr_r[cr]);
    const uint32_t g_ = Clamp255(luma + ((kYcc.cb_g[cb] + kYcc.cr_g[cr]) >> 16));
    const uint32_t b = Clamp255(luma + kYcc.cb_b[cb]);
    out[x] = 0xFF000000u | r << 16 | g_ << 8 | b;
  }
}

}  // namespace pellavo::jpeg_detail
