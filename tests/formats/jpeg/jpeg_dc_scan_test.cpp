#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "formats/jpeg/jpeg_dc_scan.h"
#include "formats/jpeg/jpeg_eighth.h"
#include "formats/jpeg/jpeg_encode.h"
#include "formats/jpeg/jpeg_lib.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

using Bytes = std::vector<uint8_t>;
using jpeg_detail::TDcScanSplit;

// RGB samples of a picture with smooth areas, edges and noise, so that codes of every length
// and large magnitudes turn up.
Bytes Picture(int w, int h, unsigned seed, int noise) {
  std::mt19937 random(seed);
  Bytes rgb(size_t(w) * size_t(h) * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &rgb[(size_t(y) * size_t(w) + size_t(x)) * 3];
      const bool edge = ((x / 37) + (y / 23)) % 2 == 0;
      p[0] = uint8_t(edge ? 250 : (x * 255) / std::max(w - 1, 1));
      p[1] = uint8_t(edge ? 5 : (y * 255) / std::max(h - 1, 1));
      p[2] = uint8_t((x ^ y) & 0xFF);
      for (int c = 0; c < 3; ++c) p[c] = uint8_t(std::clamp(int(p[c]) + int(random() % unsigned(2 * noise + 1)) - noise, 0, 255));
    }
  return rgb;
}

using TEncoding = test::TJpegEncoding;

Bytes Encode(int w, int h, const Bytes& rgb, const TEncoding& e) { return test::EncodeJpegRgb(w, h, rgb, e); }


// What the library gives for the file at an eighth, as BGRA pixels.
std::vector<TColor32> LibraryRows(const Bytes& file) {
  jpeg_detail::TDecompressor d(file.data(), file.size());
  return test::LibraryEighth(d).pixels;
}

// Ours, split as asked; not taken, and no pixels, when it gave up (or does not take the file).
test::TEighth Scan(const std::string& path, const TDcScanSplit& split) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  EXPECT_GE(fd, 0);
  test::TEighth got = test::DcScanEighth(fd, split);
  ::close(fd);
  // The library reads on from where it was when the decoding gives up.
  EXPECT_TRUE(got.descriptor_kept);
  return got;
}

std::vector<TColor32> ScanRows(const std::string& path, const TDcScanSplit& split) { return Scan(path, split).pixels; }

TEST(JpegDcScan, PixelsAreTheLibrarysAtAnEighthHoweverTheFileIsSplit) {
  test::TTempDir dir;
  struct Case {
    const char* name;
    int w, h, noise;
    TEncoding encoding;
    bool joins;  // large enough that every part's guess is confirmed when all starts are kept
  };
  const Case cases[] = {
      {"photo-like", 643, 411, 12, {}, true},
      {"noise at quality 100: long codes, large values", 200, 160, 120, {.quality = 100}, true},
      {"quality 5", 333, 250, 30, {.quality = 5}, true},
      // A guess that stays out of step through its whole share is passed through by the part
      // before it.
      {"optimized tables", 320, 240, 20, {.quality = 92, .optimize = true}, false},
      {"one block", 5, 3, 0, {}, false},
      {"4:2:0, sides not whole MCUs", 643, 411, 12, {.luma_h = 2, .luma_v = 2}, true},
      {"4:2:0 noise at quality 100", 200, 168, 120, {.quality = 100, .luma_h = 2, .luma_v = 2}, true},
      {"4:2:0, optimized tables", 320, 240, 20, {.quality = 92, .luma_h = 2, .luma_v = 2, .optimize = true}, false},
      {"4:2:0, one MCU", 9, 3, 0, {.luma_h = 2, .luma_v = 2}, false},
      {"4:2:2", 643, 411, 12, {.luma_h = 2}, true},
      {"restart every MCU row", 643, 411, 12, {.restart_rows = 1}, true},
      {"restart every two MCU rows, 4:2:0", 643, 411, 12, {.restart_rows = 2, .luma_h = 2, .luma_v = 2}, true},
      {"restart every 5 MCUs, 4:2:2", 333, 250, 30, {.quality = 75, .restart_mcus = 5, .luma_h = 2}, true},
      // One thread reads the DC scans: the rows come from one part.
      {"progressive", 643, 411, 12, {.progressive = true}, false},
      {"progressive 4:2:2, optimized tables", 643, 411, 12, {.luma_h = 2, .optimize = true, .progressive = true}, false},
      {"progressive, a DC scan for each component", 643, 411, 12, {.dc_apart = true}, false},
      {"progressive 4:2:2, a DC scan for each component", 643, 411, 12, {.luma_h = 2, .dc_apart = true}, false},
      {"progressive 4:2:0", 643, 411, 12, {.luma_h = 2, .luma_v = 2, .progressive = true}, false},
      {"progressive 4:2:0 noise at quality 100", 200, 168, 120, {.quality = 100, .luma_h = 2, .luma_v = 2, .progressive = true}, false},
      {"progressive 4:2:0, optimized tables", 333, 250, 30, {.quality = 75, .luma_h = 2, .luma_v = 2, .optimize = true, .progressive = true}, false},
      {"progressive 4:2:0, scans of all bits at once", 643, 411, 12, {.luma_h = 2, .luma_v = 2, .dc_apart = true}, false},
      {"progressive 4:2:0, chroma in two bands refined bit by bit", 643, 411, 40,
       {.quality = 97, .luma_h = 2, .luma_v = 2, .optimize = true, .chroma_bands = true}, false},
      {"grey", 643, 411, 12, {.gray = true}, true},
      {"grey, optimized tables", 320, 240, 20, {.quality = 92, .optimize = true, .gray = true}, false},
      {"grey, restart every 3 blocks", 333, 250, 30, {.restart_mcus = 3, .gray = true}, true},
      {"grey progressive", 643, 411, 12, {.progressive = true, .gray = true}, false},
      {"grey progressive, optimized tables", 333, 250, 30, {.optimize = true, .progressive = true, .gray = true}, false},
  };
  for (const Case& c : cases) {
    const Bytes file = Encode(c.w, c.h, Picture(c.w, c.h, 7, c.noise), c.encoding);
    const std::string path = dir.File("case.jpg");
    test::WriteBytes(path, file);
    const std::vector<TColor32> want = LibraryRows(file);
    for (int parts : {1, 2, 3, 7}) {
      for (size_t tracked : {size_t{1} << 16, size_t{1}}) {
        SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(parts) + " parts, " + std::to_string(tracked) +
                     " tracked");
        const test::TEighth got = Scan(path, {parts, 1, tracked});
        EXPECT_TRUE(got.pixels == want);
        // The rows really come from the parts, not from the first part's decoder run through.
        if (c.joins && tracked > 1) {
          EXPECT_EQ(got.parts_decoded, parts);
        }
        EXPECT_LE(got.parts_decoded, parts);
        // A progressive file is read on this thread alone, whatever the split asked for.
        if (c.encoding.progressive || c.encoding.dc_apart || c.encoding.chroma_bands) {
          EXPECT_EQ(got.threads, 1);
          EXPECT_EQ(got.parts_decoded, 1);
        }
      }
    }
  }
}

// Helpers run only on turns nobody holds; without one every part is decoded on the calling
// thread, to the same pixels, and a split left to the decoder leaves the file to the library.
TEST(JpegDcScan, SplitsOnlyAcrossSpareTurns) {
  test::TTempDir dir;
  const int w = 643, h = 411;
  struct Case {
    const char* name;
    TEncoding encoding;
  };
  const Case cases[] = {
      {"guessed starts", {}},
      {"restart markers, 4:2:0", {.restart_rows = 1, .luma_h = 2, .luma_v = 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes file = Encode(w, h, Picture(w, h, 7, 12), c.encoding);
    const std::string path = dir.File("photo.jpg");
    test::WriteBytes(path, file);
    const std::vector<TColor32> want = LibraryRows(file);

    TCoreGate gate(3);
    TCoreGate::TTurn own = gate.Enter();  // the file's own turn
    const test::TEighth two_spare = Scan(path, {4, 1, size_t{1} << 16, &gate});
    EXPECT_EQ(two_spare.threads, 3);
    EXPECT_EQ(two_spare.parts_decoded, 4);
    EXPECT_TRUE(two_spare.pixels == want);

    TCoreGate::TTurn other = gate.Enter(), third = gate.Enter();  // every core busy
    const test::TEighth none_spare = Scan(path, {4, 1, size_t{1} << 16, &gate});
    EXPECT_EQ(none_spare.threads, 1);
    EXPECT_EQ(none_spare.parts_decoded, 4);
    EXPECT_TRUE(none_spare.pixels == want);
    EXPECT_FALSE(Scan(path, {0, 1, size_t{1} << 16, &gate}).taken);

    // The lent turns are back once the decoding is done.
    third.Release();
    if (UsableCores() >= 2) {
      const test::TEighth one_spare = Scan(path, {0, 1, size_t{1} << 16, &gate});
      EXPECT_EQ(one_spare.threads, 2);
      EXPECT_EQ(one_spare.parts_decoded, 2);
      EXPECT_TRUE(one_spare.pixels == want);
    }
    TCoreGate::TTurn again;
    EXPECT_TRUE(gate.TryEnter(again));
  }
}

TEST(JpegDcScan, GivesUpWhereTheLibraryMustJudge) {
  test::TTempDir dir;
  const int w = 256, h = 192;
  const Bytes picture = Picture(w, h, 3, 10);
  const Bytes good = Encode(w, h, picture, {});
  Bytes cut(good.begin(), good.begin() + std::ptrdiff_t(good.size() * 2 / 3));
  Bytes cut_with_end = cut;
  cut_with_end.insert(cut_with_end.end(), {0xFF, 0xD9});
  Bytes extra_scan = good;
  extra_scan.resize(extra_scan.size() - 2);
  extra_scan.insert(extra_scan.end(), {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00, 0x12, 0xFF, 0xD9});
  Bytes trailing = good;
  trailing.insert(trailing.end() - 2, {0x12, 0x34});
  // Restart markers every MCU row: two swapped, one taken out, two bytes put before one.
  const Bytes restarts = Encode(w, h, picture, {.restart_rows = 1});
  std::vector<size_t> markers;
  for (size_t i = 0; i + 1 < restarts.size(); ++i)
    if (restarts[i] == 0xFF && restarts[i + 1] >= 0xD0 && restarts[i + 1] <= 0xD7) markers.push_back(i);
  EXPECT_GE(markers.size(), 4u);
  Bytes restart_swapped = restarts;
  std::swap(restart_swapped[markers[1] + 1], restart_swapped[markers[2] + 1]);
  Bytes restart_missing = restarts;
  restart_missing.erase(restart_missing.begin() + std::ptrdiff_t(markers[2]),
                        restart_missing.begin() + std::ptrdiff_t(markers[2] + 2));
  Bytes restart_extra = restarts;
  restart_extra.insert(restart_extra.begin() + std::ptrdiff_t(markers[1]), {0x12, 0x34});
  const Bytes progressive = Encode(w, h, picture, {.progressive = true});
  const Bytes progressive_cut(progressive.begin(), progressive.begin() + std::ptrdiff_t(progressive.size() * 2 / 3));
  Bytes no_end = good;
  no_end.resize(no_end.size() - 2);
  // One code moved from the longest length to a single bit: the lengths no longer fit, and the
  // library refuses the table.
  Bytes bad_table = good;
  for (size_t i = 2; i + 21 < bad_table.size(); ++i)
    if (bad_table[i] == 0xFF && bad_table[i + 1] == 0xC4) {
      uint8_t* counts = &bad_table[i + 4];  // counts[l] for l = 1..16
      int longest = 16;
      while (counts[longest] == 0) --longest;
      --counts[longest];
      ++counts[1];
      break;
    }
  struct Case {
    const char* name;
    Bytes file;
    bool taken;
  };
  const Case cases[] = {
      {"cut short", cut, false},
      {"cut short, then an end marker", cut_with_end, false},
      {"a second scan", extra_scan, false},
      {"data after the last block", trailing, false},
      {"restart markers out of step", restart_swapped, false},
      {"a restart marker missing", restart_missing, false},
      {"data after an interval's last MCU", restart_extra, false},
      {"4:4:0", Encode(w, h, picture, {.luma_h = 1, .luma_v = 2}), false},
      {"grey", Encode(w, h, picture, {.gray = true}), true},
      {"grey progressive, AC coefficients short of their last bit",
       Encode(w, h, picture, {.progressive = true, .all_bits = false, .gray = true}), false},
      {"progressive 4:2:0", Encode(w, h, picture, {.luma_h = 2, .luma_v = 2, .progressive = true}), true},
      {"progressive 4:2:0, chroma AC coefficients short of their last bit",
       Encode(w, h, picture, {.luma_h = 2, .luma_v = 2, .dc_apart = true, .all_bits = false}), false},
      // The library smooths blocks whose coefficients are not all known exactly.
      {"progressive, AC coefficients short of their last bit", Encode(w, h, picture, {.dc_apart = true, .all_bits = false}),
       false},
      {"progressive, cut short", progressive_cut, false},
      {"progressive, whole", progressive, true},
      // Damaged data with chroma coefficients beyond what libjpeg's vector transform holds.
      {"4:2:0, huge chroma coefficients", test::ReadBytes("tests/data/jpeg/chroma-beyond-16-bit-transform-420.jpg"),
       false},
      {"a Huffman table with an all-ones code", bad_table, false},
      // A DC refinement scan naming Y, Cr, Cb: the library refuses a component named before one
      // that comes earlier in the frame.
      {"progressive, a scan's components out of the frame's order",
       test::ReadBytes("tests/data/jpeg/progressive-420-scan-components-out-of-frame-order.jpg"), false},
      {"no end marker", no_end, true},
  };
  for (const Case& c : cases) {
    for (int parts : {1, 3}) {
      SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(parts) + " parts");
      const std::string path = dir.File("case.jpg");
      test::WriteBytes(path, c.file);
      const std::vector<TColor32> got = ScanRows(path, {parts, 1, size_t{1} << 16});
      EXPECT_EQ(!got.empty(), c.taken);
      if (c.taken) {
        EXPECT_TRUE(got == LibraryRows(c.file));
      }
    }
  }
}

// Each part's share of the rows comes from its own decoding, not from the part before it running on
// through the share: the speed-up is real.
TEST(JpegDcScan, EveryPartDecodesItsShare) {
  test::TTempDir dir;
  struct Case {
    const char* name;
    int noise;  // -1: grey with a little noise
    TEncoding encoding;
  };
  const Case cases[] = {
      {"photo-like", 12, {}},
      {"4:2:0", 12, {.luma_h = 2, .luma_v = 2}},
      {"4:2:2", 12, {.luma_h = 2}},
      {"restart every MCU row", 12, {.restart_rows = 1}},
      {"restart every 7 MCUs, 4:2:0", 12, {.restart_mcus = 7, .luma_h = 2, .luma_v = 2}},
      // Padding after the last block that is no code of the optimized tables: once taken for a
      // wrong guess, which threw the last part's work away.
      {"near-flat, optimized tables", -1, {.optimize = true}},
      {"near-flat 4:2:0, optimized tables", -1, {.luma_h = 2, .luma_v = 2, .optimize = true}},
      {"grey", 12, {.gray = true}},
      {"grey, restart every 5 blocks", 12, {.restart_mcus = 5, .gray = true}},
  };
  const int w = 1024, h = 768;
  for (const Case& c : cases) {
    Bytes picture = Picture(w, h, 11, std::max(c.noise, 0));
    if (c.noise < 0) {
      std::mt19937 random(5);
      for (uint8_t& v : picture) v = uint8_t(127 + random() % 3);
    }
    const Bytes file = Encode(w, h, picture, c.encoding);
    const std::string path = dir.File("case.jpg");
    test::WriteBytes(path, file);
    const std::vector<TColor32> want = LibraryRows(file);
    for (int parts : {2, 3}) {
      SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(parts) + " parts");
      // A turn spare for each helper, so that every part runs on a thread of its own.
      TCoreGate gate(parts);
      TCoreGate::TTurn own = gate.Enter();
      const test::TEighth got = Scan(path, {parts, 1, size_t{1} << 16, &gate});
      EXPECT_TRUE(got.pixels == want);
      EXPECT_EQ(got.threads, parts);
      EXPECT_EQ(got.parts_decoded, parts);
    }
  }
}

}  // namespace
}  // namespace pellavo
