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

namespace {

// Input the reader keeps ahead of the inflater, and the level at which it reads more.
constexpr size_t kReadAhead = 256 * 1024;
constexpr size_t kRefillBelow = 32 * 1024;

}  // namespace

TIdatReader::TIdatReader(const TChunk& chunk, TStream& stream, uint32_t length) : chunk_(chunk), stream_(stream) {
  Append(length);
  ReadAhead();
  inflate_.SetInput(in_.data(), in_.size());
}

void TIdatReader::Append(uint32_t length) {
  if (length > kMaxPngChunkLength || int64_t{length} > stream_.Remaining()) throw EPngUnexpectedEnd();
  const size_t at = in_.size();
  try {
    in_.resize(at + length);
  } catch (const std::bad_alloc&) {
    throw EPNGOutMemory();
  }
  ReadExact(stream_, in_.data() + at, length);
  uint8_t stored[4];
  ReadExact(stream_, stored, 4);
  const uint64_t end = (pieces_.empty() ? base_ : pieces_.back().end) + length;
  pieces_.push_back({end, GetBE32(stored) == TChunk::Crc("IDAT", in_.data() + at, length)});
}

void TIdatReader::ReadAhead() {
  // Called only while in_ holds nothing used up.
  while (read_ahead_ && in_.size() < kReadAhead) {
    if (stream_.Remaining() < 8) {
      read_ahead_ = false;
      break;
    }
    const int64_t at = stream_.Position();
    uint8_t head[8];
    ReadExact(stream_, head, 8);
    const uint32_t length = GetBE32(head);
    if (std::memcmp(head + 4, "IDAT", 4) != 0 || length > kMaxPngChunkLength ||
        int64_t{length} + 4 > stream_.Remaining()) {
      stream_.Seek(at);
      read_ahead_ = false;
      break;
    }
    Append(length);
  }
}

void TIdatReader::CheckPassed() {
  const uint64_t consumed = Consumed();
  while (pieces_.size() > 1 && consumed > pieces_.front().end) {
    if (!pieces_.front().crc_ok) throw EPngInvalidCRC();
    pieces_.pop_front();
  }
}

void TIdatReader::NextChunk() {
  for (const TPiece& p : pieces_)
    if (!p.crc_ok) throw EPngInvalidCRC();
  base_ = pieces_.back().end;
  pieces_.clear();
  in_.clear();
  uint8_t head[8];
  ReadExact(stream_, head, 8);
  if (std::memcmp(head + 4, "IDAT", 4) != 0) throw EPNGMissingMultipleIDAT();
  Append(GetBE32(head));
  read_ahead_ = true;
  ReadAhead();
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
    CheckPassed();
    if (empty && produced == 0 && !ended_) {
      NextChunk();
    } else if (read_ahead_ && inflate_.AvailIn() < kRefillBelow) {
      // Drop what is used up and read on.
      const size_t used = in_.size() - inflate_.AvailIn();
      in_.erase(in_.begin(), in_.begin() + ptrdiff_t(used));
      base_ += used;
      ReadAhead();
      inflate_.SetInput(in_.data(), in_.size());
    }
  }
  return got;
}

void TIdatReader::ReadExactly(uint8_t* out, size_t n) {
  if (Read(out, n) != n) throw EPNGMissingMultipleIDAT();
}

// Whatever is left of the chunk the image ended in is passed over; its CRC still counts.
void TIdatReader::End() {
  if (!pieces_.front().crc_ok) throw EPngInvalidCRC();
}

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
