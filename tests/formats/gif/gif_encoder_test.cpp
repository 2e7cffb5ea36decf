#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/errors.h"
#include "formats/all/standard_formats.h"
#include "formats/gif/gif_image.h"
#include "formats/picture.h"
#include "support/images.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

using test::MakeBitmap32;

// The static colours of the default system palette, as the file must carry them.
const uint8_t kFixed[20][3] = {
    {0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
    {128, 0, 128},   {0, 128, 128},   {192, 192, 192}, {192, 220, 192}, {166, 202, 240},
    {255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},     {0, 255, 0},
    {255, 255, 0},   {0, 0, 255},     {255, 0, 255},   {0, 255, 255},   {255, 255, 255},
};

int FixedIndex(int k) { return k < 10 ? k : 236 + k; }

TColor32 Rgb(uint8_t r, uint8_t g, uint8_t b) { return ArgbColor(0xFF, r, g, b); }

std::vector<uint8_t> Encode(const TBitmap& bitmap, TGIFImage* gif_out = nullptr) {
  TGIFImage gif;
  gif.SetReductionMode(TGIFReductionMode::SystemOctreePalette);
  gif.Assign(bitmap);
  TMemoryStream s;
  gif.SaveToStream(s);
  if (gif_out) *gif_out = gif;
  return s.Take();
}

TGIFImage Decode(const std::vector<uint8_t>& bytes) {
  TMemoryStream s(bytes);
  TGIFImage gif;
  gif.LoadFromStream(s);
  return gif;
}

std::vector<TColor32> DrawOpaque(TGIFImage& gif) {
  std::vector<TColor32> px(size_t(gif.Width()) * size_t(gif.Height()), 0);
  gif.Draw(TPixels32{px.data(), gif.Width(), gif.Height()}, TRect{0, 0, gif.Width(), gif.Height()});
  for (TColor32& c : px) c |= kOpaque;
  return px;
}

// The layout every file of the encoder has: header, screen, one image with a 256-colour local
// table, its data blocks, the trailer. Returns the data bytes without the block framing.
std::vector<uint8_t> CheckLayout(const std::vector<uint8_t>& f, int w, int h) {
  std::vector<uint8_t> data;
  EXPECT_EQ(std::string(f.begin(), f.begin() + 6), "GIF87a");
  EXPECT_EQ(f[6] | f[7] << 8, w);
  EXPECT_EQ(f[8] | f[9] << 8, h);
  EXPECT_EQ(f[10], 0x77);  // no global table
  EXPECT_EQ(f[13], ',');   // the image follows the screen: no extension
  EXPECT_EQ(f[22], 0x87);
  size_t at = 13 + 10 + 768;
  EXPECT_EQ(f[at++], 8);  // minimum code size
  while (at < f.size() && f[at] != 0) {
    const size_t n = f[at];
    EXPECT_LE(at + 1 + n, f.size());
    data.insert(data.end(), f.begin() + long(at) + 1, f.begin() + long(std::min(at + 1 + n, f.size())));
    at += 1 + n;
  }
  EXPECT_EQ(at + 2, f.size());  // the zero-length block, then only the trailer
  EXPECT_EQ(f.back(), ';');
  return data;
}

TEST(GifEncoder, OnePixelBlackIsTheSmallestFile) {
  const std::vector<uint8_t> f = Encode(MakeBitmap32(1, 1, [](int, int) { return Rgb(0, 0, 0); }));
  std::vector<uint8_t> expected = {'G', 'I', 'F', '8', '7', 'a', 1, 0, 1, 0, 0x77, 0, 0, 0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0x87};
  std::vector<uint8_t> table(768, 0);
  for (int k = 0; k < 20; ++k)
    for (int c = 0; c < 3; ++c) table[size_t(FixedIndex(k) * 3 + c)] = kFixed[k][c];
  expected.insert(expected.end(), table.begin(), table.end());
  expected.insert(expected.end(), {0x08, 0x04, 0x00, 0x01, 0x04, 0x04, 0x00, 0x3B});
  ASSERT_EQ(f.size(), 799u);
  EXPECT_EQ(f, expected);  // the pixel takes the fixed black at 0, not the black leaf at 10
}

TEST(GifEncoder, EveryFileIsGif87aWithOneLocalTableAndNothingElse) {
  std::mt19937 rng(7);
  struct TCase {
    const char* name;
    TBitmap bitmap;
  } const cases[] = {
      {"gradient", MakeBitmap32(7, 3, [](int x, int y) { return Rgb(uint8_t(x * 30), uint8_t(y * 80), 9); })},
      {"noise", MakeBitmap32(64, 40, [&](int, int) { return TColor32(rng()) | kOpaque; })},
      {"one row", MakeBitmap32(300, 1, test::PatternPixel)},
      {"one column", MakeBitmap32(1, 300, test::PatternPixel)},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> f = Encode(c.bitmap);
    CheckLayout(f, c.bitmap.Width(), c.bitmap.Height());
    const TGIFImage back = Decode(f);
    ASSERT_EQ(back.Images().size(), 1u);
    EXPECT_TRUE(back.Images()[0].Extensions().empty());
  }
}

TEST(GifEncoder, UpTo236ColoursSurviveExactlyWhateverTheAlphaByte) {
  RegisterStandardFormats();
  std::mt19937 rng(11);
  std::vector<TColor32> colors;
  std::set<TColor32> seen;
  while (colors.size() < 236) {
    const TColor32 c = TColor32(rng()) & 0xFFFFFF;
    if (seen.insert(c).second) colors.push_back(c);
  }
  // Alpha bytes vary and must not matter.
  const TBitmap source = MakeBitmap32(59, 8, [&](int x, int y) {
    return colors[size_t(y * 59 + x) % colors.size()] | TColor32(uint8_t(x * 7)) << 24;
  });
  test::TTempDir dir;
  TGIFImage gif;
  gif.Assign(source);
  gif.WriteToFile(dir.File("colors.gif"));

  TPicture picture;
  picture.ReadFromFile(dir.File("colors.gif"));
  std::vector<TColor32> px = DrawOpaque(static_cast<TGIFImage&>(*picture.Graphic()));
  std::vector<TColor32> expected = test::Pixels(source);
  for (TColor32& c : expected) c |= kOpaque;
  EXPECT_EQ(px, expected);

  // Fewer colours leave the rest of the octree's range black.
  const TBitmap five = MakeBitmap32(5, 1, [](int x, int) { return Rgb(uint8_t(10 + x), 77, 99); });
  TGIFImage small;
  small.Assign(five);
  const TGIFColorMap& map = small.Images()[0].ColorMap();
  ASSERT_EQ(map.Count(), 256);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(map[10 + i], (TGIFColor{uint8_t(10 + i), 77, 99}));
  for (int i = 15; i < 246; ++i) EXPECT_EQ(map[i], TGIFColor{}) << i;
}

TEST(GifEncoder, FixedColoursKeepTheirColourAndTheFirstTenTheirEntry) {
  // The lowest index wins a tie: the first ten fixed colours come before every leaf, the last
  // ten after the leaves holding the same colours, which therefore take those pixels.
  const TBitmap source = MakeBitmap32(20, 2, [](int x, int) { return Rgb(kFixed[x][0], kFixed[x][1], kFixed[x][2]); });
  TGIFImage gif;
  gif.Assign(source);
  const TGIFSubImage& f = gif.Frame(0);
  for (int x = 0; x < 20; ++x) {
    for (int y = 0; y < 2; ++y) {
      EXPECT_EQ(f.ColorMap()[f.Index(x, y)], (TGIFColor{kFixed[x][0], kFixed[x][1], kFixed[x][2]})) << x;
      if (x < 10) {
        EXPECT_EQ(f.Index(x, y), x);
      }
    }
    EXPECT_EQ(f.ColorMap()[FixedIndex(x)], (TGIFColor{kFixed[x][0], kFixed[x][1], kFixed[x][2]})) << x;
  }
}

TEST(GifEncoder, OverflowMergesTheNewestNodeOfTheDeepestLevel) {
  // 237 colours: (0,0,0) and (0,0,1) share a deepest-level node made first; 233 colours each in a
  // node of their own; then (254,254,0) and (254,254,1) share the node made last. The 237th leaf
  // merges that last node only, so (0,0,1) keeps its own entry and (254,254,1) becomes the mean.
  std::vector<TColor32> order = {Rgb(0, 0, 0), Rgb(0, 0, 1)};
  for (int k = 0; k < 233; ++k) order.push_back(Rgb(uint8_t(2 + 2 * (k % 100)), uint8_t(2 * (k / 100) + 50), 100));
  order.push_back(Rgb(254, 254, 0));
  order.push_back(Rgb(254, 254, 1));
  const TBitmap source = MakeBitmap32(int32_t(order.size()), 1, [&](int x, int) { return order[size_t(x)]; });
  TGIFImage gif;
  gif.Assign(source);
  const TGIFSubImage& f = gif.Frame(0);
  const TGIFColorMap& map = f.ColorMap();
  EXPECT_EQ(map[f.Index(1, 0)], (TGIFColor{0, 0, 1}));
  EXPECT_EQ(map[f.Index(235, 0)], (TGIFColor{254, 254, 0}));
  EXPECT_EQ(f.Index(235, 0), f.Index(236, 0));
  for (int x = 2; x < 235; ++x) {
    const TColor32 c = order[size_t(x)];
    ASSERT_EQ(map[f.Index(x, 0)], (TGIFColor{RedOf(c), GreenOf(c), BlueOf(c)})) << x;
  }
}

TEST(GifEncoder, ColourSumsStayExactPastThe32BitRange) {
  // 9 million pixels of one bright colour: the channel sums pass 2^31.
  const TBitmap source = MakeBitmap32(3000, 3000, [](int, int) { return Rgb(200, 100, 255); });
  TGIFImage gif;
  gif.Assign(source);
  EXPECT_EQ(gif.Frame(0).ColorMap()[10], (TGIFColor{200, 100, 255}));
  EXPECT_EQ(gif.Frame(0).Index(2999, 2999), 10);
}

TEST(GifEncoder, SidesBeyond16BitsAreRefused) {
  struct TCase {
    int32_t w, h;
    bool fits;
  } const cases[] = {{65535, 1, true}, {65536, 1, false}, {1, 65536, false}};
  for (const TCase& c : cases) {
    const TBitmap source(c.w, c.h, TPixelFormat::pf32bit);
    TGIFImage gif;
    if (c.fits) {
      gif.Assign(source);
      const std::vector<uint8_t> f = Encode(source);
      EXPECT_EQ(f[6] | f[7] << 8, c.w);
    } else {
      try {
        gif.Assign(source);
        ADD_FAILURE() << c.w << " x " << c.h << " was taken";
      } catch (const GIFException& e) {
        EXPECT_NE(std::string(e.what()).find("at most 65535"), std::string::npos) << e.what();
      }
    }
  }
}

// Reads the code stream the way a decoder sizes its codes and returns where clear codes stand.
std::vector<size_t> ClearCodePositions(const std::vector<uint8_t>& data) {
  std::vector<size_t> clears;
  size_t bit = 0, count = 0;
  int width = 9, next = 258;
  bool after_clear = true;
  while (bit + size_t(width) <= data.size() * 8) {
    int code = 0;
    for (int i = 0; i < width; ++i, ++bit) code |= ((data[bit / 8] >> (bit % 8)) & 1) << i;
    if (code == 257) break;
    if (code == 256) {
      clears.push_back(count++);
      width = 9;
      next = 258;
      after_clear = true;
      continue;
    }
    if (!after_clear && next < 4096) ++next;
    after_clear = false;
    if (next >= (1 << width) && width < 12) ++width;
    ++count;
  }
  return clears;
}

std::string ReferenceConverter() {
  for (const char* path : {"/usr/bin/convert-im6.q16", "/usr/bin/convert-im6", "/usr/bin/magick"})
    if (access(path, X_OK) == 0) return path;
  return "";
}

TEST(GifEncoder, NoisyImageClearsTheTableMidStreamAndDecodesBack) {
  std::mt19937 rng(3);
  const TBitmap source = MakeBitmap32(300, 200, [&](int, int) { return TColor32(rng()) | kOpaque; });
  TGIFImage encoded;
  const std::vector<uint8_t> f = Encode(source, &encoded);
  const std::vector<size_t> clears = ClearCodePositions(CheckLayout(f, 300, 200));
  ASSERT_GE(clears.size(), 3u);
  EXPECT_EQ(clears[0], 0u);

  const TGIFSubImage& want = encoded.Frame(0);
  const TGIFImage back = Decode(f);
  for (int32_t y = 0; y < 200; ++y)
    for (int32_t x = 0; x < 300; ++x) ASSERT_EQ(back.Frame(0).Index(x, y), want.Index(x, y)) << x << "," << y;

  // An independent decoder must see the same colours.
  const std::string convert = ReferenceConverter();
  if (convert.empty()) GTEST_SKIP() << "ImageMagick is not installed";
  test::TTempDir dir;
  test::WriteBytes(dir.File("noise.gif"), f);
  const std::string cmd = convert + " " + dir.File("noise.gif") + " -depth 8 rgb:" + dir.File("noise.rgb");
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  const std::vector<uint8_t> rgb = test::ReadBytes(dir.File("noise.rgb"));
  ASSERT_EQ(rgb.size(), size_t(300 * 200 * 3));
  const TGIFColorMap& map = want.ColorMap();
  for (int32_t y = 0; y < 200; ++y)
    for (int32_t x = 0; x < 300; ++x) {
      const TGIFColor c = map[want.Index(x, y)];
      const size_t at = size_t(y * 300 + x) * 3;
      ASSERT_EQ((TGIFColor{rgb[at], rgb[at + 1], rgb[at + 2]}), c) << x << "," << y;
    }
}

}  // namespace
}  // namespace pellavo
