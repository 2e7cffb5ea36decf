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

}  // namespace
}  // namespace pellavo
