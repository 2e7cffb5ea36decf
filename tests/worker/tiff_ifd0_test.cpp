#include <gtest/gtest.h>

#include "metadata/tiff_ifd0.h"

namespace pellavo {
namespace {

// A TIFF header in either byte order, its first directory at 8 with count entries of which the
// first is the orientation, value, stored as type; then size is cut to keep.
std::vector<uint8_t> Block(bool big_endian, int count, int type, int value, size_t keep = SIZE_MAX) {
  std::vector<uint8_t> b;
  const auto u16 = [&](int v) {
    if (big_endian)
      b.insert(b.end(), {uint8_t(v >> 8), uint8_t(v)});
    else
      b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)});
  };
  const auto u32 = [&](uint32_t v) {
    if (big_endian) {
      u16(int(v >> 16));
      u16(int(v & 0xFFFF));
    } else {
      u16(int(v & 0xFFFF));
      u16(int(v >> 16));
    }
  };
  b.insert(b.end(), big_endian ? std::initializer_list<uint8_t>{'M', 'M'} : std::initializer_list<uint8_t>{'I', 'I'});
  u16(42);
  u32(8);
  u16(count);
  for (int i = 0; i < count; ++i) {
    u16(i == 0 ? 0x0112 : 0xC000 + i);
    u16(i == 0 ? type : 3);
    u32(1);
    u16(i == 0 ? value : 0);
    u16(0);
  }
  u32(0);
  if (keep < b.size()) b.resize(keep);
  return b;
}

TEST(Ifd0, ReadsTheOrientationWithinTheBlockOnly) {
  struct TCase {
    const char* name;
    std::vector<uint8_t> block;
    bool read;
    int entries, orientation;
  };
  const TCase cases[] = {
      {"little-endian", Block(false, 3, 3, 6), true, 3, 6},
      {"big-endian", Block(true, 3, 3, 8), true, 3, 8},
      {"thousands of entries", Block(false, 5401, 3, 6), true, 5401, 6},
      {"impossible value", Block(false, 1, 3, 9), true, 1, 0},
      {"not a SHORT", Block(false, 1, 4, 6), true, 1, 0},
      // The count claims more entries than the block holds: nothing is read past its end.
      {"directory cut short", Block(false, 40, 3, 6, 8 + 2 + 12 * 39), false, 0, 0},
      {"header only", Block(false, 0, 3, 0, 8), false, 0, 0},
      {"no TIFF header", {'X', 'X', 42, 0, 8, 0, 0, 0, 0, 0}, false, 0, 0},
      {"directory offset past the end", {'I', 'I', 42, 0, 0xF0, 0xFF, 0xFF, 0xFF, 0, 0}, false, 0, 0},
  };
  for (const TCase& c : cases) {
    const std::optional<TIfd0> ifd = ReadIfd0(c.block);
    ASSERT_EQ(ifd.has_value(), c.read) << c.name;
    if (!ifd) continue;
    EXPECT_EQ(ifd->Entries, c.entries) << c.name;
    EXPECT_EQ(ifd->Orientation, c.orientation) << c.name;
  }
}

}  // namespace
}  // namespace pellavo
