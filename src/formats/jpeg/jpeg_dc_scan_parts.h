#pragma once
// The pieces of TDcScan its baseline and progressive readers share. Private to the codec.
#include <cstdint>
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

}  // namespace pellavo::jpeg_detail
