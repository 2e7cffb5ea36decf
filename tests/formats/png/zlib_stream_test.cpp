// The zlib stream of the PNG encoder, deflated whole or in pieces joined into one.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <string>

#include "formats/png/png_builder.h"
#include "formats/png/zlib_stream.h"

namespace pellavo {
namespace {

using namespace test;

// Data that deflates into many blocks of every kind: runs, repeats from far back, noise, and
// stretches that do not compress at all (stored blocks).
TBytes Mixed(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  TBytes b(n);
  for (size_t i = 0; i < n; ++i) {
    const size_t zone = (i / 9000) % 4;
    b[i] = zone == 0 ? uint8_t(i / 300) : zone == 1 ? b[i - 9000 + (i % 7)] : zone == 2 ? uint8_t(rng() & 0x0F) : uint8_t(rng());
  }
  return b;
}

TEST(ZlibStream, PiecesJoinIntoOneStreamOfTheSameData) {
  // Sizes that split at every bit offset of the first half's end, and levels from storing to
  // the slowest.
  for (size_t n : {size_t{2}, size_t{4097}, size_t{70001}, size_t{200000}, size_t{333333}})
    for (int level : {0, 1, 6, 8, 12}) {
      SCOPED_TRACE("size " + std::to_string(n) + ", level " + std::to_string(level));
      const TBytes data = Mixed(n, uint32_t(n + level));
      const std::vector<uint8_t> halves = png_detail::ZlibCompress(data, level, n / 2);
      const std::vector<uint8_t> pieces = png_detail::ZlibCompress(data, level, 1);
      const std::vector<uint8_t> whole = png_detail::ZlibCompress(data, level, n + 1);
      EXPECT_EQ(Inflate(halves), data);  // zlib checks the header and the Adler-32 too
      EXPECT_EQ(Inflate(pieces), data);
      EXPECT_EQ(Inflate(whole), data);
      // The second half starts without the first's history: a little larger, not much.
      EXPECT_LE(halves.size(), whole.size() + whole.size() / 50 + 64);
    }
}

// The buffer filled while the pieces already written are deflated: the same stream as from the
// whole buffer, and a writer that fails stops the deflating threads and is heard.
TEST(ZlibStream, DeflatingWhileTheBufferFillsGivesTheSameStreamAndHearsFailures) {
  const TBytes data = Mixed(333333, 7);
  const std::vector<uint8_t> whole = png_detail::ZlibCompress(data, 8, 1000);
  TBytes buffer(data.size());
  const std::vector<uint8_t> filled = png_detail::ZlibCompressWhileFilled(
      buffer.data(), buffer.size(), 8,
      [&](png_detail::TFillLevel& level) {
        for (size_t at = 0; at < data.size(); at += 4099) {
          const size_t n = std::min<size_t>(4099, data.size() - at);
          std::copy_n(data.begin() + long(at), n, buffer.begin() + long(at));
          level.Set(at + n);
        }
      },
      1000);
  EXPECT_EQ(filled, whole);

  const auto fail_half_way = [&](png_detail::TFillLevel& level) {
    std::copy_n(data.begin(), data.size() / 2, buffer.begin());
    level.Set(data.size() / 2);
    throw std::runtime_error("no more rows");
  };
  EXPECT_THROW(png_detail::ZlibCompressWhileFilled(buffer.data(), buffer.size(), 8, fail_half_way, 1000),
               std::runtime_error);
}

}  // namespace
}  // namespace pellavo
