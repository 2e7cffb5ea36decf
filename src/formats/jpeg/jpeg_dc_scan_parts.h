#pragma once
// The pieces of TDcScan its baseline and progressive readers share. Private to the codec.
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "formats/jpeg/jpeg_dc_scan.h"
#include "formats/jpeg/jpeg_entropy.h"
#include "formats/jpeg/jpeg_idct2.h"

namespace pellavo::jpeg_detail {

// Blocks in an MCU of a file this decoder takes: four luma and two chroma blocks at most.
constexpr int kMaxBlocks = 6;

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

// Each coefficient the 2 × 2 transform reads numbered from 0 in natural order, -1 for the others.
constexpr std::array<int8_t, DCTSIZE2> Idct2Slots() {
  std::array<int8_t, DCTSIZE2> t{};
  int8_t next = 0;
  for (int i = 0; i < DCTSIZE2; ++i) t[size_t(i)] = kIdct2Reads[size_t(i)] ? next++ : int8_t{-1};
  return t;
}

// What the chroma blocks of one component of a progressive 4:2:0 file keep of their AC
// coefficients while the scans come: for each block, which of all 63 are nonzero, for a
// refinement scan reads a correction bit for each of those, and the values of the 24 the 2 × 2
// transform reads. Those fit a byte in nearly every block of a real image; a block with a larger
// one keeps its 24 at 16 bits, the library's width, in a table of its own.
class TChromaBlocks {
 public:
  static constexpr int kKept = 24;
  // The most a block may take, its wide values included.
  static constexpr size_t kMostBytesPerBlock = 32 + kKept * sizeof(int16_t);

  explicit TChromaBlocks(size_t count) : blocks_(count) {}
  size_t Count() const { return blocks_.size(); }

  bool Nonzero(size_t b, int at) const { return blocks_[b].nonzero >> at & 1; }
  // The coefficient at a natural index 1 to 63 takes a value, as the library's 16-bit one does.
  void Set(size_t b, int at, int16_t value) {
    TBlock& block = blocks_[b];
    const uint64_t bit = uint64_t{1} << at;
    block.nonzero = value ? block.nonzero | bit : block.nonzero & ~bit;
    if (kSlot[size_t(at)] >= 0) Store(b, kSlot[size_t(at)], value);
  }
  // A correction bit of 1 for a nonzero coefficient: p1 more of its magnitude, unless it has it.
  void Refine(size_t b, int at, int p1) {
    const int slot = kSlot[size_t(at)];
    if (slot < 0) return;  // it stays nonzero, and that is all that is asked of it
    const int v = Value(blocks_[b], slot);
    if ((v & p1) == 0) Store(b, slot, int16_t(uint16_t(v >= 0 ? v + p1 : v - p1)));
  }
  // Block b's 2 × 2 transform apart from its DC; false where Idct2Part gives up.
  bool Transform(size_t b, const uint16_t* quant, TIdct2Part& out) const {
    out = TIdct2Part{};
    const TBlock& block = blocks_[b];
    if ((block.nonzero & kIdct2ReadMask) == 0) return true;
    int16_t coef[DCTSIZE2] = {};
    for (int i = 1; i < DCTSIZE2; ++i)
      if (kSlot[size_t(i)] >= 0) coef[i] = Value(block, kSlot[size_t(i)]);
    return Idct2Part(coef, quant, block.nonzero, out);
  }

 private:
  struct TBlock {
    // Bit i for natural index i; bit 0, the DC's, says the values are wide, and kept's first
    // four bytes hold their index.
    uint64_t nonzero = 0;
    int8_t kept[kKept] = {};
  };
  static_assert(sizeof(TBlock) == 32);
  static constexpr uint64_t kWide = 1;

  static uint32_t WideIndex(const TBlock& block) {
    uint32_t index;
    std::memcpy(&index, block.kept, sizeof index);
    return index;
  }
  int16_t Value(const TBlock& block, int slot) const {
    return block.nonzero & kWide ? wide_[WideIndex(block)][size_t(slot)] : int16_t{block.kept[slot]};
  }
  void Store(size_t b, int slot, int16_t value) {
    TBlock& block = blocks_[b];
    if (!(block.nonzero & kWide)) {
      if (value >= -128 && value <= 127) {
        block.kept[slot] = int8_t(value);
        return;
      }
      std::array<int16_t, kKept> values;
      for (int i = 0; i < kKept; ++i) values[size_t(i)] = block.kept[i];
      const auto index = uint32_t(wide_.size());
      wide_.push_back(values);
      std::memcpy(block.kept, &index, sizeof index);
      block.nonzero |= kWide;
    }
    wide_[WideIndex(block)][size_t(slot)] = value;
  }

  static constexpr std::array<int8_t, DCTSIZE2> kSlot = Idct2Slots();
  std::vector<TBlock> blocks_;
  std::vector<std::array<int16_t, kKept>> wide_;
};

// Decodes one MCU, updating the DC predictors, into one DC value a block and the transformed
// blocks' parts; false for a code no table has.
bool DecodeMcu(TBitReader& in, const TDcScan::TScan& scan, uint16_t* predictors, uint16_t* dc, TIdct2Part* parts);

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
  bool Step(const TDcScan::TScan& scan) {
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
    // One to six values at a time, into room reserved: not worth a range insert's work.
    for (int i = 0; i < scan.dc_per_mcu; ++i) dc.push_back(dc_values[i]);
    for (int i = 0; i < scan.parts_per_mcu; ++i) idct.push_back(parts[i]);
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

}  // namespace pellavo::jpeg_detail
