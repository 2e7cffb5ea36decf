// TDcScan's reader of progressive files: their DC scans and, for 4:2:0, their chroma AC scans;
// every other scan is passed over.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include "formats/jpeg/jpeg_dc_scan.h"
#include "formats/jpeg/jpeg_dc_scan_parts.h"

namespace pellavo::jpeg_detail {

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
  const int s = in.NextSymbol(table, in.Peek(kPeekBits));
  if (s < 0) return false;
  diff = 0;
  if (s) {
    diff = Extend(in.Peek(s), s);
    in.Drop(s);
  }
  return true;
}

// One bit of the data.
inline bool NextBit(TBitReader& in) {
  in.Fill();
  const bool bit = in.Peek(1);
  in.Drop(1);
  return bit;
}

// n bits of the data as a number, 0 < n ≤ 16.
inline uint32_t NextBits(TBitReader& in, int n) {
  in.Fill();
  const uint32_t v = in.Peek(n);
  in.Drop(n);
  return v;
}

// An AC scan of one 4:2:0 chroma component: its coefficients Ss to Se of every block, a first
// scan (Ah 0) or a refinement of one more bit, decoded as the library decodes them, into what
// the blocks keep. False for anything the library would only warn about: a code no table has, a
// refinement that is not one bit.
bool DecodeChromaAc(TBitReader& in, const THuffman& table, const TScanHeader& h,
                    TChromaBlocks& blocks) {
  uint32_t eobrun = 0;  // blocks left whose band is all zero (first scan) or has no new ones
  const int p1 = 1 << h.al;
  for (size_t b = 0; b < blocks.Count(); ++b) {
    int k = h.ss;
    if (h.ah == 0) {
      if (eobrun > 0) {
        --eobrun;
        continue;
      }
      for (; k <= h.se; ++k) {
        in.Fill();
        const int rs = in.NextSymbol(table, in.Peek(kPeekBits));
        if (rs < 0) return false;
        const int r = rs >> 4, size = rs & 15;
        if (size) {
          k += r;
          const int v = Extend(NextBits(in, size), size);
          // A run may overshoot the band: the library lets it land on the last place.
          blocks.Set(b, kNaturalOrder[size_t(k)], int16_t(uint16_t(unsigned(v) << h.al)));
        } else if (r == 15) {
          k += 15;
        } else {
          eobrun = (1u << r) - 1;
          if (r) eobrun += NextBits(in, r);
          break;
        }
      }
      continue;
    }
    // A refinement: a correction bit for each coefficient already nonzero that the band passes,
    // and new coefficients of ±p1 where zeros are counted off.
    const auto correct = [&](int at) {
      if (NextBit(in)) blocks.Refine(b, at, p1);
    };
    if (eobrun == 0) {
      for (; k <= h.se; ++k) {
        in.Fill();
        const int rs = in.NextSymbol(table, in.Peek(kPeekBits));
        if (rs < 0) return false;
        int r = rs >> 4;
        const int size = rs & 15;
        int16_t value = 0;
        if (size) {
          if (size != 1) return false;
          value = int16_t(NextBit(in) ? p1 : -p1);
        } else if (r != 15) {
          eobrun = 1u << r;
          if (r) eobrun += NextBits(in, r);
          break;
        }
        for (; k <= h.se; ++k) {
          const int at = kNaturalOrder[size_t(k)];
          if (blocks.Nonzero(b, at)) {
            correct(at);
          } else if (--r < 0) {
            break;
          }
        }
        if (value) {
          if (k > h.se) return false;  // no zero left in the band for it
          blocks.Set(b, kNaturalOrder[size_t(k)], value);
        }
      }
    }
    if (eobrun > 0) {
      for (; k <= h.se; ++k) {
        const int at = kNaturalOrder[size_t(k)];
        if (blocks.Nonzero(b, at)) correct(at);
      }
      --eobrun;
    }
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
    const JQUANT_TBL& q = *c.quant_tbl_ptrs[c.comp_info[f].quant_tbl_no];
    std::copy(std::begin(q.quantval), std::end(q.quantval), scan->quant[f]);
    quant_[f] = q.quantval[0];
  }
  // 4:2:0 chroma goes through the 2 × 2 transform, which needs some of its AC coefficients: its
  // AC scans are decoded, each block keeping only what that needs.
  const bool transformed = components_ == 3 && c.comp_info[1].DCT_scaled_size == 2;
  if (transformed && (c.comp_info[1].width_in_blocks != mcu_cols_ ||
                      uint64_t(c.comp_info[1].height_in_blocks) * mcu_cols_ != groups_ ||
                      c.comp_info[2].width_in_blocks != mcu_cols_ ||
                      c.comp_info[2].height_in_blocks != c.comp_info[1].height_in_blocks))
    return false;
  scan_ = std::move(scan);
  const TScan& layout = *scan_;
  auto part = std::make_unique<TPart>();
  part->exact = true;
  part->dc_per_mcu = size_t(layout.dc_per_mcu);
  part->dc.assign(size_t(groups_) * part->dc_per_mcu, 0);
  part->in = std::make_unique<TBitReader>(fd, scan_start);
  TBitReader& in = *part->in;

  // One pass through the scans: the DC scans decoded unless wanted is 2, and the AC scans of the
  // chroma component wanted (1 or 2, of a 4:2:0 file) into its blocks; true once the image ends
  // with every coefficient known exactly. A 4:2:0 file takes a pass for each chroma component, so
  // that only one component's blocks are held at a time.
  const auto pass = [&](int wanted, TChromaBlocks* blocks) -> bool {
    // The tables as each scan finds them; AC tables only have to be ones the library takes.
    std::array<THuffman, NUM_HUFF_TBLS> dc_tables, ac_tables;
    std::array<bool, NUM_HUFF_TBLS> dc_defined{}, ac_defined{};
    for (int t = 0; t < NUM_HUFF_TBLS; ++t) {
      if (c.dc_huff_tbl_ptrs[t]) {
        if (!dc_tables[size_t(t)].Build(*c.dc_huff_tbl_ptrs[t], true)) return false;
        dc_defined[size_t(t)] = true;
      }
      if (c.ac_huff_tbl_ptrs[t]) {
        if (!ac_tables[size_t(t)].Build(*c.ac_huff_tbl_ptrs[t], false)) return false;
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
      if (dc_band && wanted != 2) {
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
      } else if (wanted > 0 && !dc_band && header.component[0] == wanted) {
        in.Restart(data);
        if (!DecodeChromaAc(in, ac_tables[size_t(header.ac_table[0])], header, *blocks)) return false;
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
              if (!ac_tables[size_t(index)].Build(table, false)) return false;
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
        if (header.count < 1 || header.count > components_ || segment.size() != size_t(1 + 2 * header.count + 3))
          return false;
        for (int i = 0; i < header.count; ++i) {
          const uint8_t id = segment[size_t(1 + 2 * i)], tables = segment[size_t(2 + 2 * i)];
          // The first component of the frame with the ID, as the library looks for it, but only
          // among those at or past this place in the scan: it refuses the others.
          header.component[i] = -1;
          for (int f = i; f < components_ && header.component[i] < 0; ++f)
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
  };

  if (!transformed) {
    if (!pass(0, nullptr)) return false;
  } else {
    // The chroma pixels, a component at a time: the DC values are known after the first pass.
    chroma_pixels_.resize(size_t(groups_) * 8);
    for (int f = 1; f < 3; ++f) {
      TChromaBlocks blocks{size_t(groups_)};
      if (!pass(f, &blocks)) return false;
      for (uint64_t g = 0; g < groups_; ++g) {
        TIdct2Part transform;
        const int64_t d = int64_t(int16_t(part->dc[g * part->dc_per_mcu + size_t(layout.first_dc[f])])) * quant_[f];
        if (!blocks.Transform(size_t(g), layout.quant[f], transform) || !Idct2Agrees(transform, d)) return false;
        uint8_t* pixels = &chroma_pixels_[g * 8 + size_t(f - 1) * 4];
        for (int y = 0; y < 2; ++y)
          for (int x = 0; x < 2; ++x) pixels[y * 2 + x] = uint8_t(Idct2Sample(transform, d, x, y));
      }
    }
  }
  parts_.push_back(std::move(part));
  pieces_.push_back({parts_.back().get(), 0, 0, {0, 0, 0}});
  return TransformsAgree();
}

}  // namespace pellavo::jpeg_detail
