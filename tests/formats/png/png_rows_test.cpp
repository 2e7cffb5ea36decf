// The row-by-row reader against the whole-image reader: the same pixels a surface takes from
// the picture, the same errors for the same damage, and a fresh start where the look of the
// image is only known after its data. The two inflaters against each other.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <typeindex>

#include "formats/png/inflater.h"
#include "formats/png/png_builder.h"
#include "formats/png/png_object.h"
#include "core/core_gate.h"
#include "formats/png/png_rows.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

using namespace test;

// What a surface holds after taking the picture: drawn onto transparent black, then opaque.
std::vector<TColor32> SurfaceOf(TPNGObject& png) {
  std::vector<TColor32> pixels(size_t(png.Width()) * size_t(png.Height()), 0);
  png.Draw(TPixels32{pixels.data(), png.Width(), png.Height()}, TRect{0, 0, png.Width(), png.Height()});
  for (TColor32& p : pixels) p |= kOpaque;
  return pixels;
}

// All rows of the file through the row reader, in batches of three, then its end.
std::vector<TColor32> RowsOf(TRowImage& rows) {
  std::vector<TColor32> pixels(size_t(rows.Width()) * size_t(rows.Height()));
  for (int32_t y = 0; y < rows.Height(); y += 3)
    rows.ReadRows(pixels.data() + size_t(y) * size_t(rows.Width()), std::min(3, rows.Height() - y));
  rows.Finish();
  return pixels;
}

TEST(PngRows, RowsAreWhatASurfaceTakesFromThePicture) {
  int streamed = 0;
  for (const auto& e : std::filesystem::directory_iterator("tests/data/png/pngsuite")) {
    if (e.path().extension() != ".png") continue;
    const std::string path = e.path().string();
    SCOPED_TRACE(path);
    TPNGObject png;
    png.ReadFromFile(path);
    const std::unique_ptr<TRowImage> rows = OpenPngRows(path, TDecodeLimits{});
    if (png.Interlacing() == 1) {
      EXPECT_EQ(rows, nullptr);  // its last pass reaches the first row
      continue;
    }
    ASSERT_NE(rows, nullptr);
    ASSERT_EQ(rows->Width(), png.Width());
    ASSERT_EQ(rows->Height(), png.Height());
    EXPECT_EQ(RowsOf(*rows), SurfaceOf(png));
    ++streamed;
  }
  EXPECT_GT(streamed, 20);
}

const TBytes kHeader = Ihdr(2, 2, 8, 0);
const TBytes kRows = {0, 10, 20, 0, 30, 40};
const TBytes kIdat = Chunk("IDAT", Deflate(kRows));
const TBytes kEnd = Chunk("IEND", {});

TBytes FlipByte(TBytes b, size_t at) {
  b[at] ^= 0x01;
  return b;
}

// Damage that a whole read meets while or after it decodes the image: the row reader meets it
// as its rows are read or at its end, and fails with the same error.
TEST(PngRows, DamagedFilesFailAsWhenReadWhole) {
  const TBytes valid = Png({kHeader, kIdat, kEnd});
  const TBytes packed = Deflate(kRows);
  const struct {
    const char* name;
    TBytes file;
  } cases[] = {
      {"bad CRC on IDAT", FlipByte(valid, 8 + 25 + kIdat.size() - 1)},
      {"bad CRC on IEND", FlipByte(valid, valid.size() - 1)},
      {"ends inside the image data", TBytes(valid.begin(), valid.begin() + 8 + 25 + 10)},
      {"no IEND", TBytes(valid.begin(), valid.end() - 12)},
      {"image data continues in another chunk",
       Png({kHeader, Chunk("IDAT", TBytes(packed.begin(), packed.begin() + 4)),
            Chunk("tEXt", TBytes(packed.begin() + 4, packed.end())), kEnd})},
      {"compressed data ends before the last row", Png({kHeader, Chunk("IDAT", Deflate({0, 10, 20})), kEnd})},
      {"not zlib data", Png({kHeader, Chunk("IDAT", {0x12, 0x34, 0x56, 0x78, 0x9A}), kEnd})},
      {"zlib data asking for a dictionary", Png({kHeader, Chunk("IDAT", {0x78, 0xBB, 0, 0, 0, 1, 3, 0}), kEnd})},
      {"unknown row filter type", Png({kHeader, Chunk("IDAT", Deflate({0, 10, 20, 5, 30, 40})), kEnd})},
      {"unknown critical chunk after the image", Png({kHeader, kIdat, Chunk("ABCD", {1}), kEnd})},
      {"missing IDAT", Png({kHeader, kEnd})},
  };
  TTempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File("damaged.png");
    WriteBytes(path, c.file);
    std::string whole_error, rows_error;
    std::type_index whole_type = typeid(void), rows_type = typeid(void);
    try {
      TPNGObject png;
      png.ReadFromFile(path);
    } catch (const Exception& e) {
      whole_error = e.what();
      whole_type = typeid(e);
    }
    try {
      if (const auto rows = OpenPngRows(path, TDecodeLimits{})) RowsOf(*rows);
    } catch (const Exception& e) {
      rows_error = e.what();
      rows_type = typeid(e);
    }
    EXPECT_FALSE(whole_error.empty());
    EXPECT_EQ(rows_error, whole_error);
    EXPECT_EQ(rows_type, whole_type);
  }
}

// The inflating runs ahead on a thread only on a spare turn; with every core busy the reading
// thread inflates each block itself. Either way the rows, and the row where damage shows, are
// the same. The image spans many of the pipe's blocks, so its ring of blocks wraps around.
TEST(PngRows, RowsAreTheSameWithOrWithoutASpareCoreForTheInflating) {
  constexpr uint32_t kWidth = 3000, kHeight = 2000;  // 6 MB of grey rows
  TBytes raw;
  raw.reserve(size_t(kWidth + 1) * kHeight);
  for (uint32_t y = 0; y < kHeight; ++y) {
    raw.push_back(y % 5);  // every filter type
    for (uint32_t x = 0; x < kWidth; ++x) raw.push_back(uint8_t((x * 7 + y * 3) ^ (x * y >> 9)));
  }
  const TBytes packed = Deflate(raw, 1);
  const TBytes good = Png({Ihdr(kWidth, kHeight, 8, 0), Chunk("IDAT", packed), kEnd});
  // Cut two thirds in: the rows before the cut come out, then the error.
  const TBytes cut = Png({Ihdr(kWidth, kHeight, 8, 0), Chunk("IDAT", TBytes(packed.begin(), packed.begin() + std::ptrdiff_t(packed.size() * 2 / 3))), kEnd});
  TTempDir dir;
  const std::string good_path = dir.File("good.png"), cut_path = dir.File("cut.png");
  WriteBytes(good_path, good);
  WriteBytes(cut_path, cut);
  TPNGObject png;
  png.ReadFromFile(good_path);
  const std::vector<TColor32> want = SurfaceOf(png);

  TCoreGate spare(2), busy(1);
  const TCoreGate::TTurn own = busy.Enter();
  for (TCoreGate* cores : {&spare, &busy}) {
    SCOPED_TRACE(cores == &busy ? "every core busy" : "a spare core");
    TDecodeLimits limits;
    limits.Cores = cores;
    const auto rows = OpenPngRows(good_path, limits);
    ASSERT_NE(rows, nullptr);
    EXPECT_EQ(RowsOf(*rows), want);

    const auto damaged = OpenPngRows(cut_path, limits);
    ASSERT_NE(damaged, nullptr);
    std::vector<TColor32> row(kWidth);
    int32_t read = 0;
    std::string error;
    try {
      for (; read < damaged->Height(); ++read) damaged->ReadRows(row.data(), 1);
      damaged->Finish();
    } catch (const Exception& e) {
      error = e.what();
    }
    EXPECT_FALSE(error.empty());
    EXPECT_GT(read, int32_t(kHeight / 2));
    EXPECT_LT(read, int32_t(kHeight));
  }
  // The pipes are gone, and with them their threads' turns.
  TCoreGate::TTurn first, second;
  EXPECT_TRUE(spare.TryEnter(first) && spare.TryEnter(second));
}

// A palette, transparency or gamma that comes only after the image data changes how every row
// looks: the rows handed out were not the picture's, and the reader says so at its end.
TEST(PngRows, ALookDecidedAfterTheImageAsksForTheWholeImage) {
  const TBytes gamma = Chunk("gAMA", {0, 0, 0xAF, 0xC8});
  const TBytes key = Chunk("tRNS", {0, 10});
  const struct {
    const char* name;
    TBytes file;
    bool whole;
  } cases[] = {
      {"gamma after", Png({kHeader, kIdat, gamma, kEnd}), true},
      {"transparency after", Png({kHeader, kIdat, key, kEnd}), true},
      {"gamma before", Png({kHeader, gamma, kIdat, kEnd}), false},
      {"text after", Png({kHeader, kIdat, Chunk("tEXt", {'a', 0, 'b'}), kEnd}), false},
  };
  TTempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File("late.png");
    WriteBytes(path, c.file);
    const auto rows = OpenPngRows(path, TDecodeLimits{});
    ASSERT_NE(rows, nullptr);
    if (c.whole) {
      EXPECT_THROW(RowsOf(*rows), EWholeImageNeeded);
    } else {
      TPNGObject png;
      png.ReadFromFile(path);
      EXPECT_EQ(RowsOf(*rows), SurfaceOf(png));
    }
  }
}

// Both inflaters give the same bytes, end at the same point and refuse the same damage with
// zlib's code, whatever the pieces the data arrives in.
TEST(PngInflate, IsalAndZlibAgree) {
  if (!png_detail::HaveIsal()) GTEST_SKIP() << "built without ISA-L";
  TBytes data(70000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t((i * 7) ^ (i >> 5));
  const TBytes good = Deflate(data, 8);
  const auto set = [](TBytes b, size_t at, uint8_t v) {
    b[at] = v;
    return b;
  };
  const struct {
    const char* name;
    TBytes stream;
  } cases[] = {
      {"valid", good},
      {"header check", set(good, 1, uint8_t(good[1] ^ 1))},
      {"method 7", set(set(good, 0, 0x77), 1, uint8_t(31 - (0x77 * 256 % 31)))},
      {"window of 2^16", set(set(good, 0, 0x88), 1, uint8_t(31 - (0x88 * 256 % 31)))},
      {"preset dictionary", TBytes{0x78, 0xBB, 0, 0, 0, 1, 3, 0}},
      {"damaged checksum", set(good, good.size() - 1, uint8_t(good.back() ^ 0x40))},
      {"damaged data", set(good, good.size() / 2, uint8_t(good[good.size() / 2] ^ 0xFF))},
      {"cut short", TBytes(good.begin(), good.begin() + ptrdiff_t(good.size() / 3))},
  };
  const auto run = [](png_detail::TInflateEngine engine, const TBytes& stream, size_t piece) {
    std::string outcome;
    TBytes out(80000);
    size_t got = 0;
    try {
      png_detail::TInflate z(engine);
      bool ended = false;
      for (size_t at = 0; at < stream.size() && !ended;) {
        const size_t n = std::min(piece, stream.size() - at);
        z.SetInput(stream.data() + at, n);
        at += n;
        for (;;) {
          size_t produced = 0;
          ended = z.Inflate(out.data() + got, std::min<size_t>(4096, out.size() - got), produced);
          got += produced;
          if (ended || (produced == 0 && z.AvailIn() == 0)) break;
        }
      }
      outcome = ended ? "ended" : "wants more";
    } catch (const Exception& e) {
      outcome = e.what();
    }
    return outcome + ", " + std::to_string(got) + " bytes";
  };
  for (const auto& c : cases)
    for (size_t piece : {size_t{1}, size_t{7}, size_t{65536}}) {
      SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
      EXPECT_EQ(run(png_detail::TInflateEngine::Isal, c.stream, piece),
                run(png_detail::TInflateEngine::Zlib, c.stream, piece));
    }
}

}  // namespace
}  // namespace pellavo
