// Writing the image data: choose a filter per row, deflate, and cut the output into IDAT
// chunks of MaxIdatBytes.
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>

#include "formats/png/chunks.h"
#include "formats/png/png_layout.h"
#include "formats/png/png_object.h"
#include "formats/png/zstream.h"

namespace pellavo {

using namespace png_detail;

namespace {

// How alike neighbouring bytes are: the positions from 2 on whose byte equals one of the two
// bytes before it. Long runs and two-byte patterns deflate well.
size_t Score(const uint8_t* row, size_t n) {
  size_t score = 0;
  for (size_t j = 2; j < n; ++j) score += (row[j] == row[j - 1] || row[j] == row[j - 2]) ? 1 : 0;
  return score;
}

// Feeds rows to deflate and writes every full output buffer as one IDAT chunk.
class TIdatWriter {
 public:
  TIdatWriter(int level, uint32_t chunk_bytes, std::function<void(const uint8_t*, size_t)> write)
      : z_(level), out_(chunk_bytes), write_(std::move(write)) {
    z_->next_out = out_.data();
    z_->avail_out = static_cast<uInt>(out_.size());
  }

  void Feed(const uint8_t* data, size_t n) {
    z_->next_in = const_cast<Bytef*>(data);
    z_->avail_in = static_cast<uInt>(n);
    while (z_->avail_in > 0) {
      Check(deflate(z_.get(), Z_NO_FLUSH));
      if (z_->avail_out == 0) Flush();
    }
  }

  void Finish() {
    for (;;) {
      const int rc = deflate(z_.get(), Z_FINISH);
      if (rc != Z_STREAM_END) Check(rc);
      if (z_->avail_out == 0) Flush();
      if (rc == Z_STREAM_END) break;
    }
    const size_t rest = out_.size() - z_->avail_out;
    if (rest) write_(out_.data(), rest);
  }

 private:
  void Flush() {
    write_(out_.data(), out_.size());
    z_->next_out = out_.data();
    z_->avail_out = static_cast<uInt>(out_.size());
  }
  static void Check(int rc) {
    if (rc == Z_MEM_ERROR) throw EPNGOutMemory();
    if (rc != Z_OK && rc != Z_BUF_ERROR) throw EPNGZLIBError(rc);
  }

  TDeflater z_;
  std::vector<uint8_t> out_;
  std::function<void(const uint8_t*, size_t)> write_;
};

}  // namespace

void TChunkIDAT::SaveToStream(TStream& stream) {
  const TPNGObject& owner = Owner();
  const TChunkIHDR& header = owner.Header();
  const int bpp = header.BitsPerPixel();
  const size_t stride = FilterStride(bpp);
  const TPNGFilters filters = owner.RowFilters();

  TIdatWriter writer(owner.DeflateLevel(), owner.MaxIdatBytes(),
                     [&](const uint8_t* data, size_t n) { WriteChunk(stream, data, n); });

  // Each buffer holds the filter type byte and then the row.
  const size_t max_row = header.RowBytes();
  std::vector<uint8_t> raw(max_row + 1), prev(max_row + 1);
  std::array<std::vector<uint8_t>, 5> filtered;
  for (int t = pfSub; t <= pfPaeth; ++t)
    if (filters & FilterBit(TPNGFilter(t))) filtered[size_t(t)].assign(max_row + 1, uint8_t(t));

  const bool adam7 = owner.Interlacing() == 1;
  const std::vector<TPass> passes =
      adam7 ? std::vector<TPass>(std::begin(kAdam7), std::end(kAdam7)) : std::vector<TPass>{kWholeImage};
  for (const TPass& pass : passes) {
    const uint32_t cols = PassExtent(header.Width(), pass.X0, pass.DX);
    const uint32_t rows = PassExtent(header.Height(), pass.Y0, pass.DY);
    if (cols == 0 || rows == 0) continue;
    const size_t n = static_cast<size_t>(header.RowBytesFor(cols));
    std::fill(prev.begin(), prev.end(), 0);
    for (uint32_t r = 0; r < rows; ++r) {
      const uint32_t y = pass.Y0 + r * pass.DY;
      uint8_t* row = raw.data() + 1;
      std::fill(raw.begin(), raw.end(), 0);
      // An image whose data never arrived is written as zero samples.
      if (header.HasImage()) {
        if (!adam7) {
          std::memcpy(row, header.Row(y), n);
        } else {
          for (uint32_t c = 0; c < cols; ++c)
            CopyPixel(header.Row(y), uint64_t{pass.X0} + uint64_t{c} * pass.DX, row, c, bpp);
        }
      }

      const uint8_t* chosen = raw.data();
      if (filters != FilterBit(pfNone) && filters != 0) {
        size_t best = 0;
        for (int t = pfNone; t <= pfPaeth; ++t) {
          if (!(filters & FilterBit(TPNGFilter(t)))) continue;
          const uint8_t* candidate = raw.data();
          if (t != pfNone) {
            Filter(uint8_t(t), row, prev.data() + 1, filtered[size_t(t)].data() + 1, n, stride);
            candidate = filtered[size_t(t)].data();
          }
          if (filters == FilterBit(TPNGFilter(t))) {
            chosen = candidate;
            break;
          }
          // Ties keep the earlier type; a row no candidate improves on stays unfiltered.
          const size_t score = Score(candidate + 1, n);
          if (score > best) {
            best = score;
            chosen = candidate;
          }
        }
      }
      writer.Feed(chosen, n + 1);
      std::swap(raw, prev);
    }
  }
  writer.Finish();
}

}  // namespace pellavo
