#pragma once
// Decoding a large JPEG at an eighth of its size: a baseline one on several cores, a progressive
// one without the coefficients of its whole image. Private to the codec.
//
// A file with restart markers splits at them: each core decodes whole intervals, found by
// looking for the markers, whose predictors start from zero.
//
// At an eighth each 8 × 8 block gives one pixel, from its DC coefficient alone, and the library
// spends nearly all its time finding where one Huffman code ends and the next begins, on one core:
// a file without restart markers offers no other place to start. But Huffman codes fall back
// into step soon after a decoder starts at an arbitrary bit. So each core decodes a part of the
// file from a guess that a block starts where the part starts, and the decoder of the part before
// it, running on past its own end, confirms the guess where both reach the start of a block group
// at the same bit. From there the two agree on every code; their DC values differ only by each
// component's running predictor, which the confirmed decoder knows. Where no confirmation comes,
// the earlier decoder carries on through the part: the result never rests on a guess.
//
// A progressive file is read on one core by its DC scans: the scans of AC coefficients, nearly
// all of the file, are passed over by finding their ends, and no coefficient of the whole image
// is kept. A 4:2:0 file's chroma needs some AC coefficients for the 2 × 2 transform as well: its
// chroma AC scans are decoded, first scans and refinements, in a pass through the file for each
// chroma component, every block keeping which of its coefficients are nonzero (what a refinement
// must know) and the values of the few the transform reads (TChromaBlocks); once a
// component's scans are read, its blocks become their four pixels.
//
// The parts are decoded on the calling thread and on helpers, one for each turn at a core that is
// idle at the moment (see LendSpareTurns), each thread taking the next part not yet taken; with
// no turn to spare, a split left to the decoder leaves the file to the library, as fast on one core.
//
// Only 8-bit YCbCr files, 4:4:4, 4:2:2 or 4:2:0, and grey ones are taken, and anything
// unexpected (a bad code, data cut short, a second scan, restart markers out of step) gives up,
// for the library to decode the file as usual. The pixels are the library's for the same file at
// the same scale, byte for byte: a 4:2:0 chroma block goes through the library's 2 × 2 reduced
// transform, the one pixel of a 4:2:2 chroma block is repeated as the library repeats it. Grey
// rows come as BGRA with three equal channels; where the library was asked to quantise them,
// the caller does that (TGreyDither).
#include <cstdint>
#include <memory>
#include <vector>

#include <jpeglib.h>

#include "core/color.h"
#include "core/core_gate.h"

namespace pellavo::jpeg_detail {

// How the work is split; the defaults suit a real file, tests force small parts.
struct TDcScanSplit {
  // 0: one part for this thread and one for each spare turn lent by cores (see LendSpareTurns),
  // and none, for the library to decode, when no turn is spare. A forced number of parts is
  // decoded on as many threads as turns are lent, the parts taken in turn.
  int parts = 0;
  int64_t min_part_bytes = 4 << 20;   // smaller files are not split, and left to the library
  size_t tracked_starts = size_t{1} << 16;  // block groups per part whose bit is kept for matching
  TCoreGate* cores = nullptr;  // the run's turns at the cores; none outside a run
};

class TDcScan {
 public:
  // Whether the header read by the library (scale set, output dimensions calculated) is one this
  // decodes into BGRA rows.
  static bool Takes(const jpeg_decompress_struct& header);
  // The whole scan, whose entropy-coded data starts at scan_start in the open file fd (read with
  // pread, so the descriptor's position is left alone); nullptr when the decoding gave up.
  static std::unique_ptr<TDcScan> Decode(const jpeg_decompress_struct& header, int fd, int64_t scan_start,
                                         const TDcScanSplit& split = {});
  // What Decode holds for a file whose image data after the header is data_bytes long: the DC
  // values, and a read buffer and the kept block starts of each part; 0 when it would not take
  // the file.
  static uint64_t WorkingBytes(const jpeg_decompress_struct& header, int64_t data_bytes,
                               const TDcScanSplit& split = {});

  ~TDcScan();
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  // Row y (0 ≤ y < Height) as BGRA pixels with the fourth byte 255, as the library writes them.
  void ReadRow(int32_t y, TColor32* out) const;
  // How many parts the data was split into, and how many threads decoded them (this one
  // included); the rows come from runs of this many parts at most.
  int Parts() const { return int(parts_.size()); }
  int Threads() const { return threads_; }
  // How many parts' own decoding the rows come from: 1 when the first part's decoder ran through
  // the whole scan, as the library's does.
  int PartsDecoded() const { return int(pieces_.size()); }

  struct TPart;
  struct TScan;

 private:
  TDcScan();
  // How many parts the data is decoded in; under 2 (with the split left to the default) the
  // library decodes the file.
  static int PartsFor(int64_t data_bytes, const TDcScanSplit& split);

  // A file without restart markers: each part begins with a guess, confirmed by the part
  // before it. False where the library must judge.
  // Helpers run only while they hold one of the lent turns, which are given back once the parts
  // are decoded.
  bool DecodeGuessed(int fd, int64_t scan_start, int64_t data, int parts, const TDcScanSplit& split,
                     std::vector<TCoreGate::TTurn>& lent);
  // A progressive file by its DC scans alone, on this thread; the other scans are passed over.
  bool DecodeProgressive(const jpeg_decompress_struct& header, int fd, int64_t scan_start);
  // A file with a restart marker every interval MCUs: the parts take whole intervals.
  // The markers are looked for, and the intervals decoded, on this thread and the lent turns.
  bool DecodeIntervals(unsigned interval, int fd, int64_t scan_start, int64_t data, int parts,
                       std::vector<TCoreGate::TTurn>& lent);

  // Frees what only decoding needed.
  void ReleaseReaders();

  // Whether every 4:2:0 chroma block stays where the library's vector transform and its plain
  // one agree, now that each part's DC offset is known.
  bool TransformsAgree() const;

  // Where the rows' MCUs come from: a run of one part's records.
  struct TPiece {
    const TPart* part;
    uint64_t first_record;
    uint64_t first_group;  // the image's MCU the run starts at
    uint16_t offset[3];    // added to the part's DC values, per component in frame order
  };

  int32_t width_ = 0, height_ = 0;
  int mcu_w_ = 1, mcu_h_ = 1;  // output pixels an MCU gives across and down
  uint64_t mcu_cols_ = 0;
  uint64_t groups_ = 0;  // MCUs in the image
  int components_ = 3;  // 1 for grey
  int quant_[3] = {};  // DC quantiser per component in frame order
  int threads_ = 1;
  std::unique_ptr<TScan> scan_;
  std::vector<std::unique_ptr<TPart>> parts_;
  std::vector<TPiece> pieces_;
  // A progressive 4:2:0 file's chroma pixels, worked out once its scans are read: for each MCU,
  // the Cb block's four (x + 2 y), then the Cr block's.
  std::vector<uint8_t> chroma_pixels_;
};

}  // namespace pellavo::jpeg_detail
