#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "core/errors.h"
#include "formats/bmp/bitmap.h"
#include "support/images.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

using test::MakeBitmap32;
using test::Pixels;

std::vector<uint8_t> Save(TBitmap& b) {
  TMemoryStream s;
  b.SaveToStream(s);
  return s.Take();
}

TBitmap Load(const std::vector<uint8_t>& bytes) {
  TMemoryStream s(bytes);
  TBitmap b;
  b.LoadFromStream(s);
  return b;
}

void Add16(std::vector<uint8_t>& f, uint32_t v) {
  for (int s = 0; s < 16; s += 8) f.push_back(uint8_t(v >> s));
}

void Add32(std::vector<uint8_t>& f, uint32_t v) {
  for (int s = 0; s < 32; s += 8) f.push_back(uint8_t(v >> s));
}

// File header, information header, colour table, pixels. The data offset is left 0, so the
// pixels are taken to follow the table.
std::vector<uint8_t> BmpFile(const std::vector<uint8_t>& header, const std::vector<uint8_t>& table,
                             const std::vector<uint8_t>& pixels) {
  std::vector<uint8_t> f = {'B', 'M'};
  Add32(f, uint32_t(14 + header.size() + table.size() + pixels.size()));
  Add32(f, 0);
  Add32(f, 0);
  f.insert(f.end(), header.begin(), header.end());
  f.insert(f.end(), table.begin(), table.end());
  f.insert(f.end(), pixels.begin(), pixels.end());
  return f;
}

std::vector<uint8_t> CoreHeader(uint32_t w, uint32_t h, uint32_t bpp) {
  std::vector<uint8_t> hd;
  Add32(hd, 12);
  Add16(hd, w);
  Add16(hd, h);
  Add16(hd, 1);
  Add16(hd, bpp);
  return hd;
}

std::vector<uint8_t> InfoHeader(int32_t w, int32_t h, uint32_t bpp, uint32_t compression, uint32_t colors = 0) {
  std::vector<uint8_t> hd;
  Add32(hd, 40);
  Add32(hd, uint32_t(w));
  Add32(hd, uint32_t(h));
  Add16(hd, 1);
  Add16(hd, bpp);
  Add32(hd, compression);
  hd.resize(32, 0);
  Add32(hd, colors);
  hd.resize(40, 0);
  return hd;
}

uint32_t U32(const std::vector<uint8_t>& f, size_t at) {
  uint32_t v;
  std::memcpy(&v, &f[at], 4);
  return v;
}

TEST(Bmp, WorkerBitmapIsBottomUp32BitWithFixedHeader) {
  // (0,0)=1 (1,0)=2 / (0,1)=3 (1,1)=4 with alpha bytes that must survive.
  TBitmap b = MakeBitmap32(2, 2, [](int x, int y) { return TColor32(0x11000000u * (1 + x + 2 * y) + 1 + x + 2 * y); });
  const std::vector<uint8_t> f = Save(b);
  ASSERT_EQ(f.size(), 70u);
  EXPECT_EQ(f[0], 'B');
  EXPECT_EQ(f[1], 'M');
  EXPECT_EQ(U32(f, 2), 70u);
  EXPECT_EQ(U32(f, 6), 0u);
  EXPECT_EQ(U32(f, 10), 54u);
  EXPECT_EQ(U32(f, 14), 40u);
  EXPECT_EQ(U32(f, 18), 2u);
  EXPECT_EQ(U32(f, 22), 2u);
  EXPECT_EQ(f[26] | f[27] << 8, 1);
  EXPECT_EQ(f[28] | f[29] << 8, 32);
  EXPECT_EQ(U32(f, 30), 0u);   // no compression
  EXPECT_EQ(U32(f, 34), 16u);  // image size
  for (size_t at : {38, 42, 46, 50}) EXPECT_EQ(U32(f, at), 0u);
  // Rows from the bottom: the bottom-left pixel comes first, alpha byte as it was.
  EXPECT_EQ(U32(f, 54), 0x33000003u);
  EXPECT_EQ(U32(f, 58), 0x44000004u);
  EXPECT_EQ(U32(f, 62), 0x11000001u);
}

TEST(Bmp, EveryPixelFormatRoundTrips) {
  const TBitmap source = MakeBitmap32(13, 5, [](int x, int y) { return ArgbColor(0xFF, uint8_t(x * 20), uint8_t(y * 50), uint8_t(x * y)); });
  for (TPixelFormat pf : {TPixelFormat::pf1bit, TPixelFormat::pf4bit, TPixelFormat::pf8bit, TPixelFormat::pf15bit,
                          TPixelFormat::pf16bit, TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
    TBitmap b = source;
    b.SetPixelFormat(pf);
    const std::vector<TColor32> expected = Pixels(b);
    std::vector<uint8_t> bytes = Save(b);
    const TBitmap back = Load(bytes);
    EXPECT_EQ(back.PixelFormat(), pf) << int(pf);
    EXPECT_EQ(Pixels(back), expected) << int(pf);
    // Row sizes are padded to 4 bytes: 13 pixels at 24 bits take 40 bytes.
    if (pf == TPixelFormat::pf24bit) {
      EXPECT_EQ(back.RowBytes(), 40u);
    }
  }
}

TEST(Bmp, ResavingAnUnchangedBitmapWritesItsFileBack) {
  TBitmap b = MakeBitmap32(3, 3, test::PatternPixel);
  b.SetPixelFormat(TPixelFormat::pf24bit);
  std::vector<uint8_t> file = Save(b);
  file.push_back(0xAB);  // trailing bytes a rewrite would drop
  TBitmap loaded = Load(file);
  EXPECT_EQ(Save(loaded), file);
  loaded.ScanLine(0)[0] ^= 1;  // any change drops the kept bytes
  EXPECT_EQ(Save(loaded).size(), file.size() - 1);
}

TEST(Bmp, ReadsTopDownCoreAndRunLengthFiles) {
  // A 2 x 2 top-down 24-bit file.
  std::vector<uint8_t> f = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF,
                            1, 0, 24, 0};
  f.resize(54, 0);
  const uint8_t rows[] = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
  f.insert(f.end(), std::begin(rows), std::end(rows));
  TBitmap top_down = Load(f);
  EXPECT_EQ(Pixels(top_down), (std::vector<TColor32>{0xFF030201, 0xFF060504, 0xFF090807, 0xFF0C0B0A}));

  // RLE8: 4 x 2, bottom row "run of 3 of index 1, then index 2", top row end of line, end of bitmap.
  std::vector<uint8_t> r = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 62, 0, 0, 0, 40, 0, 0, 0, 4, 0, 0, 0, 2, 0, 0, 0,
                            1, 0, 8, 0, 1, 0, 0, 0};
  r.resize(14 + 40, 0);
  r[14 + 32] = 2;  // two palette entries
  const uint8_t palette[] = {0, 0, 0, 0, 0xFF, 0, 0, 0};
  r.insert(r.end(), std::begin(palette), std::end(palette));
  const uint8_t data[] = {3, 1, 1, 2, 0, 0, 1, 1, 0, 1};
  r.insert(r.end(), std::begin(data), std::end(data));
  TBitmap rle = Load(r);
  ASSERT_EQ(rle.PixelFormat(), TPixelFormat::pf8bit);
  EXPECT_EQ(Pixels(rle), (std::vector<TColor32>{0xFF0000FF, 0xFF000000, 0xFF000000, 0xFF000000,  // top
                                                0xFF0000FF, 0xFF0000FF, 0xFF0000FF, 0xFF000000}));
}

TEST(Bmp, BadFilesRaiseTheBitmapError) {
  TBitmap good = MakeBitmap32(4, 4, test::PatternPixel);
  const std::vector<uint8_t> file = Save(good);
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  std::vector<Case> cases;
  cases.push_back({"empty", {}});
  cases.push_back({"not BM", file});
  cases.back().bytes[0] = 'X';
  cases.push_back({"two planes", file});
  cases.back().bytes[26] = 2;
  cases.push_back({"truncated pixels", std::vector<uint8_t>(file.begin(), file.end() - 1)});
  cases.push_back({"huge size, tiny file", file});
  cases.back().bytes[18] = 0xFF;
  cases.back().bytes[19] = 0xFF;
  cases.back().bytes[20] = 0xFF;
  cases.push_back({"unknown depth", file});
  cases.back().bytes[28] = 7;
  for (const Case& c : cases) {
    try {
      Load(c.bytes);
      ADD_FAILURE() << c.what << " was accepted";
    } catch (const EInvalidGraphic& e) {
      EXPECT_STREQ(e.what(), "Bitmap image is not valid") << c.what;
    }
  }
}

TEST(Bmp, DrawRespectsTheTransparencyFlag) {
  TBitmap b = MakeBitmap32(2, 1, [](int x, int) { return x == 0 ? 0xFFFFFFFFu : 0xFF102030u; });
  b.SetPixelFormat(TPixelFormat::pf24bit);
  b.SetTransparent(true);
  b.SetTransparentColor(0x00FFFFFF);
  std::vector<TColor32> pixels(2, 0x12345678);
  b.Draw(TPixels32{pixels.data(), 2, 1}, TRect{0, 0, 2, 1});
  EXPECT_EQ(pixels[0], 0x12345678u);
  EXPECT_EQ(pixels[1], 0xFF102030u);
}

TEST(Bmp, LongThinShapesReadWhole) {
  // Every file holds a black image with one white pixel, top right. The long side sits around
  // 2^15, 2^16 and 46341, whose square passes 2^31; the OS/2 header keeps sizes in 16 bits.
  enum class Kind { Core, BottomUp, TopDown, Rle8 };
  const std::vector<uint8_t> black_white = {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0};
  for (const int32_t n : {32767, 32768, 46341, 65535, 65536}) {
    for (const Kind kind : {Kind::Core, Kind::BottomUp, Kind::TopDown, Kind::Rle8}) {
      for (const bool tall : {true, false}) {
        if (kind == Kind::Core && n > 0xFFFF) continue;
        const int32_t w = tall ? 1 : n, h = tall ? n : 1;
        const std::string what = std::to_string(w) + " x " + std::to_string(h) + " kind " +
                                 std::to_string(int(kind));
        std::vector<uint8_t> pixels;
        if (kind == Kind::Rle8) {
          // Rows from the bottom: empty lines, then the top row's run of black and its white pixel.
          for (int32_t y = 0; y + 1 < h; ++y) pixels.insert(pixels.end(), {0, 0});
          for (int32_t left = w - 1; left > 0; left -= std::min(left, 255))
            pixels.insert(pixels.end(), {uint8_t(std::min(left, 255)), 0});
          pixels.insert(pixels.end(), {1, 1, 0, 1});
        } else {
          const size_t row = size_t(w + 31) / 32 * 4;
          pixels.assign(row * size_t(h), 0);
          const size_t top = kind == Kind::TopDown ? 0 : size_t(h - 1);
          pixels[top * row + size_t(w - 1) / 8] = uint8_t(0x80 >> ((w - 1) % 8));
        }
        std::vector<uint8_t> file;
        switch (kind) {
          case Kind::Core:
            file = BmpFile(CoreHeader(uint32_t(w), uint32_t(h), 1), {0, 0, 0, 0xFF, 0xFF, 0xFF}, pixels);
            break;
          case Kind::BottomUp: file = BmpFile(InfoHeader(w, h, 1, 0), black_white, pixels); break;
          case Kind::TopDown: file = BmpFile(InfoHeader(w, -h, 1, 0), black_white, pixels); break;
          case Kind::Rle8: file = BmpFile(InfoHeader(w, h, 8, 1, 2), black_white, pixels); break;
        }
        const TBitmap b = Load(file);
        if (b.Width() != w || b.Height() != h) {
          ADD_FAILURE() << what << " read as " << b.Width() << " x " << b.Height();
          continue;
        }
        std::vector<TColor32> expected(size_t(w) * size_t(h), 0xFF000000u);
        expected[size_t(w - 1)] = 0xFFFFFFFFu;
        EXPECT_EQ(Pixels(b), expected) << what;
      }
    }
  }
}

TEST(Bmp, RunLengthRunsPastTheRowEndAreDropped) {
  // The bottom row of a 4 x 2 image is followed by runs of 255 pixels with no end of line,
  // 2^31 pixels and more in all: the pen must not wrap round to a negative column.
  std::vector<uint8_t> palette(256 * 4);
  for (size_t i = 0; i < 256; ++i) palette[4 * i] = uint8_t(i);  // index i is blue i
  std::vector<uint8_t> data = {4, 5};
  const size_t runs = (size_t{1} << 31) / 255 + 2;
  data.reserve(data.size() + 2 * runs + 6);
  for (size_t i = 0; i < runs; ++i) data.insert(data.end(), {255, 9});
  data.insert(data.end(), {0, 0, 4, 7, 0, 1});
  const TBitmap b = Load(BmpFile(InfoHeader(4, 2, 8, 1), palette, data));
  const TColor32 five = 0xFF000005u, seven = 0xFF000007u;
  EXPECT_EQ(Pixels(b), (std::vector<TColor32>{seven, seven, seven, seven, five, five, five, five}));
}

TEST(Bmp, FuzzFindingsReadCleanly) {
  // Files a fuzzer found, each read either as the size given or refused with the bitmap error.
  struct Case {
    const char* file;
    bool valid;
    int32_t width, height;
  };
  const Case cases[] = {
      // No pixels at all, yet 2^31 - 3 rows of them: nothing may be allocated or walked.
      {"zero-width-2g-rows.bmp", true, 0, 2147483645},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> bytes = test::ReadBytes(std::string("tests/data/bmp/") + c.file);
    ASSERT_FALSE(bytes.empty()) << c.file;
    if (!c.valid) {
      EXPECT_THROW(Load(bytes), EInvalidGraphic) << c.file;
      continue;
    }
    TBitmap b = Load(bytes);
    EXPECT_EQ(b.Width(), c.width) << c.file;
    EXPECT_EQ(b.Height(), c.height) << c.file;
    EXPECT_EQ(b.StoredRows().size(), b.RowBytes() * size_t(b.Height())) << c.file;
    EXPECT_EQ(Save(b), bytes) << c.file;
  }
}

}  // namespace
}  // namespace pellavo
