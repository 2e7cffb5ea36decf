// Writing the image data: choose a filter per row, deflate, and cut the output into IDAT
// chunks of MaxIdatBytes.
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <vector>

#include "formats/png/chunks.h"
#include "formats/png/png_layout.h"
#include "formats/png/png_object.h"
#include "formats/png/zlib_stream.h"

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

// libdeflate's level for each of zlib's, chosen by measurement (bench/png_levels, on the
// filtered rows of 78 photos and wallpapers at 800 pixels): a level or two below zlib's compresses
// as well within 1 to 2% and many times as fast. For zlib's 8, which the worker asks for,
// libdeflate's 6 took 2.4 s of CPU where zlib's 8 took 28 s, libdeflate's 8 12 s and its 12
// 26 s, for 30.3 MB against 29.7, 29.5 and 27.9 MB; that is still about 30% smaller than the
// same photos written by other resizers at their defaults. Level 0 stores, as zlib's does.
constexpr std::array<int, 10> kLibdeflateLevel = {0, 1, 2, 3, 4, 5, 5, 6, 6, 7};
// Icons and thumbnails take libdeflate's slowest, most thorough level for zlib's 8 and 9: under
// 64 KB of filtered rows it cost 9 ms a file and gave files 5% smaller.
constexpr size_t kThoroughBelowBytes = size_t{64} << 10;
constexpr int kThoroughLevel = 12;

// Rows filtered between two reports of the progress to the deflater.
constexpr uint32_t kRowsPerFillStep = 32;

// Deflates the whole filtered image, of size bytes, as fill writes it into filtered, and writes
// it as IDAT chunks of chunk_bytes, the last one shorter.
void WriteIdat(const uint8_t* filtered, size_t size, const std::function<void(TFillLevel&)>& fill, int level,
               uint32_t chunk_bytes, const std::function<void(const uint8_t*, size_t)>& write) {
  level = std::clamp(level, 0, 9);
  const bool thorough = level >= 8 && size < kThoroughBelowBytes;
  const std::vector<uint8_t> out =
      ZlibCompressWhileFilled(filtered, size, thorough ? kThoroughLevel : kLibdeflateLevel[size_t(level)], fill);
  for (size_t at = 0; at < out.size(); at += chunk_bytes)
    write(out.data() + at, std::min<size_t>(chunk_bytes, out.size() - at));
}

}  // namespace

void TChunkIDAT::SaveToStream(TStream& stream) {
  const TPNGObject& owner = Owner();
  const TChunkIHDR& header = owner.Header();
  const int bpp = header.BitsPerPixel();
  const size_t stride = FilterStride(bpp);
  const TPNGFilters filters = owner.RowFilters();

  // Each buffer holds the filter type byte and then the row.
  const size_t max_row = header.RowBytes();
  std::vector<uint8_t> raw(max_row + 1), prev(max_row + 1);
  std::array<std::vector<uint8_t>, 5> filtered;
  for (int t = pfSub; t <= pfPaeth; ++t)
    if (filters & FilterBit(TPNGFilter(t))) filtered[size_t(t)].assign(max_row + 1, uint8_t(t));

  const bool adam7 = owner.Interlacing() == 1;
  const std::vector<TPass> passes =
      adam7 ? std::vector<TPass>(std::begin(kAdam7), std::end(kAdam7)) : std::vector<TPass>{kWholeImage};

  // Every filtered row, with its type byte, in one buffer for the deflater.
  uint64_t total = 0;
  for (const TPass& pass : passes) {
    const uint32_t cols = PassExtent(header.Width(), pass.X0, pass.DX);
    if (cols != 0) total += uint64_t{PassExtent(header.Height(), pass.Y0, pass.DY)} * (header.RowBytesFor(cols) + 1);
  }
  std::unique_ptr<uint8_t[]> image;
  try {
    // Every byte is written before it is read.
    image = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(total));
  } catch (const std::bad_alloc&) {
    throw EPNGOutMemory();
  }

  // Rows are filtered on this thread while the deflater's other threads take the pieces that
  // are complete.
  const auto fill = [&](TFillLevel& filled) {
    size_t at = 0;
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
        std::memcpy(image.get() + at, chosen, n + 1);
        at += n + 1;
        if (r % kRowsPerFillStep == kRowsPerFillStep - 1) filled.Set(at);
        std::swap(raw, prev);
      }
    }
  };
  WriteIdat(image.get(), static_cast<size_t>(total), fill, owner.DeflateLevel(), owner.MaxIdatBytes(),
            [&](const uint8_t* data, size_t n) { WriteChunk(stream, data, n); });
}

}  // namespace pellavo
