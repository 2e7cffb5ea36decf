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
#include "formats/jpeg/jpeg_dc_scan_parts.h"
#include "formats/jpeg/jpeg_grey_dither.h"

namespace pellavo::jpeg_detail {
namespace {

// Guesses a part may try after bad codes before it leaves its share to the part before it: real
// data falls into step within a guess or two, noise may never.
constexpr int kMaxGuesses = 64;

}  // namespace

using TScan = TDcScan::TScan;

bool DecodeMcu(TBitReader& in, const TScan& scan, uint16_t* predictors, uint16_t* dc, TIdct2Part* parts) {
  for (int i = 0; i < scan.count; ++i) {
    const TScan::TComponent& component = scan.components[size_t(i)];
    for (int b = 0; b < component.blocks; ++b) {
      in.Fill();
      int s = in.NextSymbol(*component.dc, in.Peek(kPeekBits));
      if (s < 0) return false;
      if (s) {
        const int diff = Extend(in.Peek(s), s);
        in.Drop(s);
        predictors[component.frame_index] = uint16_t(predictors[component.frame_index] + uint16_t(diff));
      }
      *dc++ = predictors[component.frame_index];
      if (!component.quant) {
        // Only the DC counts: the AC codes are stepped over.
        if (!in.SkipAcCodes(*component.ac)) return false;
        continue;
      }
      const THuffman& ac = *component.ac;
      int16_t coef[DCTSIZE2 + 16] = {};
      // The coefficients that came, by natural index: most chroma blocks have none the 2 × 2
      // transform reads.
      uint64_t nonzero = 0;
      for (int k = 1; k < DCTSIZE2; ++k) {
        in.Fill();
        const uint32_t peek = in.Peek(kPeekBits);
        // The end of the block, and a coefficient the transform does not read, in one look.
        if (const THuffman::TSkip t = ac.skip[peek]; t.consume) {
          if (!t.step) {
            in.Drop(t.consume);
            break;
          }
          if (!kIdct2Reads[kNaturalOrder[size_t(k + t.step - 1)]]) {
            in.Drop(t.consume);
            k += t.step - 1;
            continue;
          }
        }
        const int rs = in.NextSymbol(ac, peek);
        if (rs < 0) return false;
        const int r = rs >> 4;
        s = rs & 15;
        if (s) {
          k += r;
          const int at = kNaturalOrder[size_t(k)];
          coef[at] = int16_t(Extend(in.Peek(s), s));
          nonzero |= uint64_t{1} << at;
          in.Drop(s);
        } else {
          if (r != 15) break;
          k += 15;
        }
      }
      if (!(nonzero & kIdct2ReadMask)) {
        *parts++ = TIdct2Part{};
      } else if (!Idct2Part(coef, scan.quant[component.frame_index], nonzero, *parts++)) {
        return false;
      }
    }
  }
  return true;
}

namespace {

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
  // A progressive file is read by its DC scans, and for 4:2:0 its chroma AC scans as well; only
  // without restart markers, which its scans rarely have.
  if (c.progressive_mode) return c.restart_interval == 0;
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
  // The files Decode passes to the library at once: a small progressive one, or a baseline one
  // it would not split.
  const int parts = header.progressive_mode ? 1 : PartsFor(data_bytes, split);
  if (header.progressive_mode ? data_bytes < split.min_part_bytes : parts == 0) return 0;
  const TMcuShape shape = McuShape(header);
  // A transformed chroma block: its transform, or for a progressive file its four pixels.
  const uint64_t transformed = header.progressive_mode ? 4 : sizeof(TIdct2Part);
  const uint64_t record = uint64_t(shape.Blocks()) * sizeof(uint16_t) + uint64_t(shape.Transformed()) * transformed;
  // A restart marker's offset is kept for each interval.
  const uint64_t intervals =
      header.restart_interval ? (shape.cols * shape.rows + header.restart_interval - 1) / header.restart_interval : 0;
  // A progressive 4:2:0 file: one chroma component's blocks' AC coefficients while the scans come.
  const uint64_t chroma = header.progressive_mode && shape.Transformed() ? TChromaBlocks::kMostBytesPerBlock : 0;
  return shape.cols * shape.rows * (record + chroma) + intervals * sizeof(int64_t) +
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
    self.ReleaseReaders();
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
  self.ReleaseReaders();
  return result;
}

void TDcScan::ReleaseReaders() {
  // The rows are read from the records alone, often long after: the read buffers go now.
  for (const std::unique_ptr<TPart>& part : parts_) {
    part->in.reset();
    part->starts = {};
  }
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

void TDcScan::ReadRow(int32_t y, TColor32* out) const {
  const TScan& scan = *scan_;
  const uint64_t row_start = uint64_t(y / mcu_h_) * mcu_cols_, row_end = row_start + mcu_cols_;
  const int by = y % mcu_h_;
  const auto dc_sample = [](int64_t d) { return kIdctRangeLimit[size_t((d + 4) >> 3) & 1023]; };
  const auto bgra = [](int luma, int cb, int cr) {
    const uint32_t r = Clamp255(luma + kYcc.cr_r[cr]);
    const uint32_t g = Clamp255(luma + ((kYcc.cb_g[cb] + kYcc.cr_g[cr]) >> 16));
    const uint32_t b = Clamp255(luma + kYcc.cb_b[cb]);
    return TColor32(0xFF000000u | r << 16 | g << 8 | b);
  };
  size_t p = size_t(std::upper_bound(pieces_.begin(), pieces_.end(), row_start,
                                     [](uint64_t g, const TPiece& piece) { return g < piece.first_group; }) -
                    pieces_.begin()) -
             1;
  // A piece at a time, an MCU at a time: the row's pixels of an MCU share its record.
  int32_t x = 0;
  for (uint64_t g = row_start; g < row_end; ++p) {
    const TPiece& piece = pieces_[p];
    const uint64_t end = p + 1 < pieces_.size() ? std::min(row_end, pieces_[p + 1].first_group) : row_end;
    const auto dequantised = [&](const uint16_t* dc, int component, int place) {
      return int64_t(int16_t(uint16_t(dc[place] + piece.offset[component]))) * quant_[component];
    };
    const uint16_t* dc = piece.part->dc.data() + (piece.first_record + (g - piece.first_group)) * scan.dc_per_mcu;
    const TIdct2Part* parts =
        piece.part->idct.data() + (piece.first_record + (g - piece.first_group)) * scan.parts_per_mcu;
    for (; g < end; ++g, dc += scan.dc_per_mcu, parts += scan.parts_per_mcu) {
      const int n = std::min(mcu_w_, width_ - x);
      const int luma_place = scan.first_dc[0] + by * mcu_w_;
      if (components_ == 1) {
        out[x++] = 0xFF000000u | uint32_t(dc_sample(dequantised(dc, 0, luma_place))) * 0x010101u;
        continue;
      }
      int cb[2], cr[2];
      if (!chroma_pixels_.empty()) {
        const uint8_t* pixels = &chroma_pixels_[size_t(g) * 8 + size_t(by * 2)];
        cb[0] = pixels[0], cb[1] = pixels[1], cr[0] = pixels[4], cr[1] = pixels[5];
      } else if (scan.parts_per_mcu == 0) {
        // A 4:2:2 chroma block's one pixel is repeated.
        cb[0] = cb[1] = dc_sample(dequantised(dc, 1, scan.first_dc[1]));
        cr[0] = cr[1] = dc_sample(dequantised(dc, 2, scan.first_dc[2]));
      } else {
        const int64_t dcb = dequantised(dc, 1, scan.first_dc[1]), dcr = dequantised(dc, 2, scan.first_dc[2]);
        for (int bx = 0; bx < 2; ++bx) {
          cb[bx] = Idct2Sample(parts[scan.first_part[1]], dcb, bx, by);
          cr[bx] = Idct2Sample(parts[scan.first_part[2]], dcr, bx, by);
        }
      }
      for (int bx = 0; bx < n; ++bx) out[x++] = bgra(dc_sample(dequantised(dc, 0, luma_place + bx)), cb[bx], cr[bx]);
    }
  }
}

}  // namespace pellavo::jpeg_detail
