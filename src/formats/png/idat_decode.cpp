// Reading the image data: inflate every IDAT of the first group, undo the row filters and lay
// the samples out as the header's rows.
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include "formats/png/chunks.h"
#include "formats/png/png_io.h"
#include "formats/png/png_layout.h"
#include "formats/png/png_object.h"
#include "formats/png/idat_reader.h"

namespace pellavo {

using namespace png_detail;

namespace {

struct TPassRows {
  TPass Pass;
  uint32_t Cols = 0, Rows = 0;
  size_t RowBytes = 0;  // without the filter byte
};

// First growth step of the inflated buffer; it then doubles, never past what the header allows.
constexpr size_t kFirstGrowth = 64 * 1024;

}  // namespace

namespace png_detail {

TIdatReader::TIdatReader(const TChunk& chunk, TStream& stream, uint32_t length)
    : chunk_(chunk), stream_(stream), in_(ReadChunkData(stream, length)) {
  inflate_.SetInput(in_.data(), in_.size());
}

void TIdatReader::NextChunk() {
  chunk_.CheckCrc(stream_, in_.data(), in_.size());
  uint8_t head[8];
  ReadExact(stream_, head, 8);
  if (std::memcmp(head + 4, "IDAT", 4) != 0) throw EPNGMissingMultipleIDAT();
  in_ = ReadChunkData(stream_, GetBE32(head));
  inflate_.SetInput(in_.data(), in_.size());
}

size_t TIdatReader::Read(uint8_t* out, size_t n) {
  size_t got = 0;
  while (got < n && !ended_) {
    // An inflater may hold input it has taken but not yet turned into output: the next chunk
    // is read only once it makes no progress without it.
    const bool empty = inflate_.AvailIn() == 0;
    size_t produced = 0;
    ended_ = inflate_.Inflate(out + got, n - got, produced);
    got += produced;
    delivered_ += produced;
    if (empty && produced == 0 && !ended_) NextChunk();
  }
  return got;
}

void TIdatReader::ReadExactly(uint8_t* out, size_t n) {
  if (Read(out, n) != n) throw EPNGMissingMultipleIDAT();
}

// Whatever is left of the chunk the image ended in is passed over; its CRC still counts.
void TIdatReader::End() { chunk_.CheckCrc(stream_, in_.data(), in_.size()); }

}  // namespace png_detail

void TChunkIDAT::LoadFromStream(TStream& stream, uint32_t length) {
  TChunkIHDR& header = Owner().Header();
  const int bpp = header.BitsPerPixel();
  const size_t stride = FilterStride(bpp);

  std::vector<TPassRows> passes;
  uint64_t total = 0;  // filtered bytes the header calls for: the cap on what is inflated
  const bool adam7 = header.InterlaceMethod() == 1;
  for (const TPass& p : adam7 ? std::vector<TPass>(std::begin(kAdam7), std::end(kAdam7)) : std::vector<TPass>{kWholeImage}) {
    TPassRows r{p, PassExtent(header.Width(), p.X0, p.DX), PassExtent(header.Height(), p.Y0, p.DY), 0};
    if (r.Cols == 0 || r.Rows == 0) continue;
    r.RowBytes = static_cast<size_t>(header.RowBytesFor(r.Cols));
    total += uint64_t{r.Rows} * (r.RowBytes + 1);
    passes.push_back(r);
  }

  // The buffer grows with what the data really yields, so a small file claiming a huge image
  // costs no more memory than its data inflates to.
  std::vector<uint8_t> filtered;
  size_t produced = 0;
  TIdatReader reader(*this, stream, length);
  while (produced < total) {
    const size_t grown = static_cast<size_t>(std::min<uint64_t>(total, std::max(kFirstGrowth, 2 * filtered.size())));
    try {
      filtered.reserve(grown);
      filtered.resize(grown);
    } catch (const std::bad_alloc&) {
      throw EPNGOutMemory();
    }
    reader.ReadExactly(filtered.data() + produced, grown - produced);
    produced = grown;
  }
  reader.End();

  // Undo the filters pass by pass, in place; each row sees the reconstructed row above it.
  size_t at = 0;
  for (const TPassRows& p : passes) {
    const std::vector<uint8_t> zeros(p.RowBytes, 0);
    const uint8_t* prev = zeros.data();
    for (uint32_t r = 0; r < p.Rows; ++r) {
      uint8_t* row = filtered.data() + at + 1;
      // An unknown filter type means the inflated data is not an image.
      if (!Unfilter(row[-1], row, prev, p.RowBytes, stride)) throw EPNGZLIBError(Z_DATA_ERROR);
      prev = row;
      at += p.RowBytes + 1;
    }
  }

  if (!adam7) {
    // Drop the filter bytes, moving each row down to its place in the image.
    const TPassRows& p = passes.front();
    for (uint32_t r = 0; r < p.Rows; ++r)
      std::memmove(filtered.data() + size_t{r} * p.RowBytes, filtered.data() + size_t{r} * (p.RowBytes + 1) + 1,
                   p.RowBytes);
    filtered.resize(size_t{p.Rows} * p.RowBytes);
    header.ImageData() = std::move(filtered);
    return;
  }

  header.AllocateImage();
  at = 0;
  for (const TPassRows& p : passes) {
    for (uint32_t r = 0; r < p.Rows; ++r) {
      const uint8_t* src = filtered.data() + at + 1;
      uint8_t* dst = header.Row(p.Pass.Y0 + r * p.Pass.DY);
      for (uint32_t c = 0; c < p.Cols; ++c) CopyPixel(src, c, dst, uint64_t{p.Pass.X0} + uint64_t{c} * p.Pass.DX, bpp);
      at += p.RowBytes + 1;
    }
  }
}

}  // namespace pellavo
