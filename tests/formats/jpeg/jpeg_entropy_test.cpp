#include "formats/jpeg/jpeg_entropy.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

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
    EXPECT_EQ(jpeg_detail::NextSymbol(in, huffman, in.Peek(jpeg_detail::kPeekBits)), 0x02);
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

}  // namespace
}  // namespace pellavo
