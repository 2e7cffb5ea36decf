#include "formats/jpeg/jpeg_entropy.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

namespace pellavo {
namespace {

using jpeg_detail::TBitReader;
using jpeg_detail::THuffman;

JHUFF_TBL Table(const std::vector<std::pair<int, uint8_t>>& codes) {  // (length, symbol), shortest first
  JHUFF_TBL t{};
  int n = 0;
  for (const auto& [length, symbol] : codes) {
    ++t.bits[length];
    t.huffval[n++] = symbol;
  }
  return t;
}

// A table built over another (files define a table again between scans) decodes by its own
// codes alone: a 12-bit code whose first bits were a short code of the old table is read whole.
TEST(JpegEntropy, ATableBuiltAgainKeepsNothingOfTheOldOne) {
  // "0" → 0x01 and, after no codes of lengths 2 to 11, "1000 0000 0000" → 0x02.
  const JHUFF_TBL table = Table({{1, 0x01}, {12, 0x02}});
  // Its "10" was 0x0B.
  const JHUFF_TBL before = Table({{1, 0x0A}, {2, 0x0B}});
  const int fd = memfd_create("bits", 0);
  ASSERT_GE(fd, 0);
  const uint8_t bits[] = {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  ASSERT_EQ(::write(fd, bits, sizeof bits), ssize_t(sizeof bits));
  for (const bool rebuilt : {false, true}) {
    SCOPED_TRACE(rebuilt ? "built over another" : "built fresh");
    THuffman huffman;
    if (rebuilt) {
      ASSERT_TRUE(huffman.Build(before, false));
    }
    ASSERT_TRUE(huffman.Build(table, false));
    TBitReader in(fd, 0);
    in.Fill();
    EXPECT_EQ(in.NextSymbol(huffman, in.Peek(jpeg_detail::kPeekBits)), 0x02);
    in.Fill();
    EXPECT_EQ(in.Position(), 12u);
  }
  ::close(fd);
}

// The reader's position is a file offset: stuffed bytes, fill bytes before them and the marker or
// end the data runs into must all be counted, whether bytes come in whole words or one at a time.
TEST(JpegEntropy, ThePositionCountsThePassedOverBytes) {
  // The file offset of each byte the data gives, then of the zero bits after its end.
  const auto offsets = [](const std::vector<uint8_t>& file) {
    std::vector<int64_t> at;
    size_t i = 0;
    while (i < file.size()) {
      if (file[i] == 0xFF) {
        size_t j = i + 1;
        while (j < file.size() && file[j] == 0xFF) ++j;
        if (j == file.size() || file[j] != 0) break;  // a marker
        at.push_back(int64_t(i));
        i = j + 1;
      } else {
        at.push_back(int64_t(i++));
      }
    }
    const int64_t end = int64_t(i);
    at.insert(at.end(), 16, end);
    return at;
  };
  std::vector<uint8_t> words(40);
  for (size_t i = 0; i < words.size(); ++i) words[i] = uint8_t(i * 37 + 1);
  struct TCase {
    const char* name;
    std::vector<uint8_t> file;
  };
  std::vector<uint8_t> stuffed = words;
  for (size_t i : {3u, 12u, 13u, 30u}) {
    stuffed[i] = 0xFF;
    stuffed.insert(stuffed.begin() + ptrdiff_t(i) + 1, 0x00);
  }
  std::vector<uint8_t> filled = words;
  filled.insert(filled.begin() + 9, {0xFF, 0xFF, 0xFF, 0x00});
  std::vector<uint8_t> marked = stuffed;
  marked.insert(marked.begin() + 20, {0xFF, 0xD0, 1, 2, 3});
  const TCase cases[] = {
      {"stuffed bytes", stuffed}, {"fill before stuffing", filled}, {"a marker", marked}, {"the end of the file", words}};
  for (const TCase& c : cases) {
    const int fd = memfd_create("bits", 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, c.file.data(), c.file.size()), ssize_t(c.file.size()));
    const std::vector<int64_t> at = offsets(c.file);
    for (const int step : {1, 3, 8, 13}) {
      SCOPED_TRACE(std::string(c.name) + ", steps of " + std::to_string(step));
      TBitReader in(fd, 0);
      for (uint64_t bit = 0; bit / 8 + 2 < at.size(); bit += uint64_t(step)) {
        in.Fill();
        ASSERT_EQ(in.Position(), uint64_t(at[bit / 8]) * 8 + bit % 8) << "after " << bit << " bits";
        in.Drop(step);
      }
    }
    ::close(fd);
  }
}

// Blocks' AC codes are passed over a run of codes at a time; a run must stop where the block
// does, which is at its end-of-block code or, without one, where its index passes 63 (a
// coefficient at 63, or a run of zeros past it). Codes longer than the look and magnitudes that
// pass it go the slow way.
TEST(JpegEntropy, PassingOverACodesEndsWhereEachBlockEnds) {
  // (length, symbol): the end of block 0x00, 16 zeros 0xF0, and r zeros then an s-bit value rs.
  const std::vector<std::pair<int, uint8_t>> codes = {{2, 0x00}, {2, 0x01}, {3, 0x02}, {3, 0x11}, {4, 0x03},
                                                      {5, 0xF0}, {5, 0x21}, {6, 0x04}, {6, 0x12}, {7, 0x31},
                                                      {8, 0x0A}, {12, 0x22}, {16, 0x7F}};
  THuffman huffman;
  ASSERT_TRUE(huffman.Build(Table(codes), false));
  std::vector<std::pair<uint32_t, int>> code_of(256);  // (code, length), as a canonical table assigns
  uint32_t code = 0;
  for (int l = 1, i = 0; l <= 16; ++l, code <<= 1)
    for (; i < int(codes.size()) && codes[size_t(i)].first == l; ++i) code_of[codes[size_t(i)].second] = {code++, l};

  std::vector<uint8_t> file;
  uint64_t pending = 0;
  int pending_bits = 0;
  const auto put = [&](uint32_t bits, int n) {
    for (int i = n - 1; i >= 0; --i) {
      pending = pending << 1 | (bits >> i & 1);
      if (++pending_bits == 8) {
        file.push_back(uint8_t(pending));
        if (file.back() == 0xFF) file.push_back(0x00);
        pending = 0;
        pending_bits = 0;
      }
    }
  };
  const auto put_symbol = [&](uint8_t symbol, std::mt19937& random) {
    put(code_of[symbol].first, code_of[symbol].second);
    put(uint32_t(random()), symbol & 15);
  };
  std::vector<uint64_t> ends;  // the bit after each block
  std::mt19937 random(27);
  const auto block = [&](const std::vector<uint8_t>& symbols) {
    for (uint8_t s : symbols) put_symbol(s, random);
    ends.push_back(file.size() * 8 + uint64_t(pending_bits));
  };
  block({0x00});
  block(std::vector<uint8_t>(63, 0x01));                                      // up to 63, no end code
  block({0xF0, 0xF0, 0xF0, 0x01, 0x02, 0x03, 0x04, 0x01, 0x11, 0x21, 0x31, 0x01});  // 49 zeros, then to 63
  block({0xF0, 0xF0, 0xF0, 0xF0});                                            // zeros past 63
  block({0x7F, 0x22, 0x0A, 0x00});                                            // the slow codes
  block({0x01, 0x01, 0x12, 0x00});
  // And blocks made at random, as an encoder would: a value at each index up to 63 at most.
  const uint8_t values[] = {0x01, 0x02, 0x11, 0x03, 0x21, 0x04, 0x12, 0x31, 0x0A, 0x22, 0x7F};
  for (int b = 0; b < 3000; ++b) {
    std::vector<uint8_t> symbols;
    for (int k = 1; k < 64;) {
      if (random() % 12 == 0) {
        symbols.push_back(0x00);
        break;
      }
      const uint8_t s = random() % 16 == 0 ? uint8_t(0xF0) : values[random() % std::size(values)];
      const int step = s == 0xF0 ? 16 : (s >> 4) + 1;
      if (s != 0xF0 && k + step - 1 > 63) continue;
      symbols.push_back(s);
      k += step;
    }
    block(symbols);
  }
  put(0x7F, 7);  // the padding
  const int fd = memfd_create("blocks", 0);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, file.data(), file.size()), ssize_t(file.size()));
  TBitReader in(fd, 0);
  for (size_t b = 0; b < ends.size(); ++b) {
    ASSERT_TRUE(in.SkipAcCodes(huffman)) << "block " << b;
    in.Fill();
    ASSERT_EQ(in.Position(), ends[b]) << "block " << b;
  }
  EXPECT_FALSE(in.Overrun());
  ::close(fd);
}

}  // namespace
}  // namespace pellavo
