// What the encoder writes: the worker's file layout, the filter choice, and images that an
// independent reader decodes to the pixels given.
#include <gtest/gtest.h>

#include <random>

#include "formats/png/png_builder.h"
#include "formats/png/png_object.h"
#include "formats/png/reference_png.h"
#include "support/images.h"

namespace pellavo {
namespace {

using namespace test;

constexpr TPNGFilters kWorkerFilters = FilterBit(pfSub) | FilterBit(pfUp);

TBytes Encode(const TBitmap& bitmap, TPNGFilters filters, int level = 8) {
  TPNGObject png;
  png.SetRowFilters(filters);
  png.SetDeflateLevel(level);
  png.Assign(bitmap);
  return Save(png);
}

TBytes ImageData(const TBytes& file) {
  TBytes idat;
  for (const TRawChunk& c : ParseChunks(file))
    if (c.Name == "IDAT") idat.insert(idat.end(), c.Data.begin(), c.Data.end());
  return Inflate(idat);
}

// The filter type byte of every row of a non-interlaced file.
std::vector<int> RowFilterTypes(const TBytes& file, size_t row_bytes) {
  const TBytes rows = ImageData(file);
  std::vector<int> types;
  for (size_t at = 0; at < rows.size(); at += row_bytes + 1) types.push_back(rows[at]);
  return types;
}

std::vector<TColor32> Opaque(std::vector<TColor32> pixels) {
  for (TColor32& p : pixels) p |= kOpaque;
  return pixels;
}

TEST(PngEncoder, WorkerOutputIsHeaderFullIdatChunksAndEnd) {
  // Noise does not compress, so the data needs several chunks.
  std::mt19937 rng(7);
  const TBitmap bitmap = MakeBitmap32(300, 300, [&](int, int) { return TColor32(rng()); });
  const TBytes file = Encode(bitmap, kWorkerFilters);

  const std::vector<TRawChunk> chunks = ParseChunks(file);
  ASSERT_GE(chunks.size(), 4u);
  EXPECT_EQ(TBytes(file.begin(), file.begin() + 8), (TBytes{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}));
  EXPECT_EQ(chunks.front().Name, "IHDR");
  EXPECT_EQ(chunks.front().Data, (TBytes{0, 0, 1, 44, 0, 0, 1, 44, 8, 2, 0, 0, 0}));
  EXPECT_EQ(chunks.back().Name, "IEND");
  EXPECT_TRUE(chunks.back().Data.empty());
  for (size_t i = 1; i + 1 < chunks.size(); ++i) {
    EXPECT_EQ(chunks[i].Name, "IDAT");
    if (i + 2 < chunks.size()) {
      EXPECT_EQ(chunks[i].Data.size(), 65535u) << "chunk " << i;
    }
  }
  EXPECT_GT(chunks[chunks.size() - 2].Data.size(), 0u);
  EXPECT_LE(chunks[chunks.size() - 2].Data.size(), 65535u);

  // The fourth byte is not alpha to the encoder: it is dropped.
  const TReferenceImage ref = ReferenceDecode(file);
  EXPECT_EQ(ref.Pixels, Opaque(Pixels(bitmap)));
}

TEST(PngEncoder, IdatChunkSizeFollowsMaxIdatBytesWithAFloorOf65535) {
  std::mt19937 rng(3);
  const TBitmap bitmap = MakeBitmap32(400, 400, [&](int, int) { return TColor32(rng()); });
  for (const auto& [asked, kept] : std::vector<std::pair<uint32_t, uint32_t>>{{1000, 65535}, {100000, 100000}}) {
    SCOPED_TRACE(asked);
    TPNGObject png;
    png.SetMaxIdatBytes(asked);
    EXPECT_EQ(png.MaxIdatBytes(), kept);
    png.Assign(bitmap);
    const std::vector<TRawChunk> chunks = ParseChunks(Save(png));
    ASSERT_GE(chunks.size(), 5u);
    for (size_t i = 1; i + 2 < chunks.size(); ++i) EXPECT_EQ(chunks[i].Data.size(), kept);
  }
}

TEST(PngEncoder, FilterChoiceOfOneColourImages) {
  const TColor32 colour = ArgbColor(255, 10, 20, 30), gray = ArgbColor(255, 77, 77, 77);
  struct TCase {
    const char* Name;
    int32_t Width;
    TColor32 Colour;
    TPNGFilters Filters;
    std::vector<int> Expected;  // per row
  } cases[] = {
      // Sub leaves one pixel and then zeros; Up leaves zeros everywhere after the first row.
      {"wide, three different channels", 5, colour, kWorkerFilters, {1, 2, 2, 2}},
      // Neither candidate scores on the first row, so it stays unfiltered although None is not
      // in the set.
      {"one pixel wide, three different channels", 1, colour, kWorkerFilters, {0, 2, 2, 2}},
      // Sub and Up tie on every row, and the earlier type wins.
      {"one pixel wide, gray", 1, gray, kWorkerFilters, {1, 1, 1, 1}},
      // A set of one type is used without scoring.
      {"only Up", 1, colour, FilterBit(pfUp), {2, 2, 2, 2}},
      {"only Paeth", 5, colour, FilterBit(pfPaeth), {4, 4, 4, 4}},
      {"only None", 5, colour, FilterBit(pfNone), {0, 0, 0, 0}},
      {"empty set", 5, colour, 0, {0, 0, 0, 0}},
      // A raw gray row already scores fully; Sub and Up only tie with it, so None stays.
      {"None among the choices", 5, gray, FilterBit(pfNone) | kWorkerFilters, {0, 0, 0, 0}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TBitmap bitmap = MakeBitmap32(c.Width, 4, [&](int, int) { return c.Colour; });
    const TBytes file = Encode(bitmap, c.Filters);
    EXPECT_EQ(RowFilterTypes(file, size_t(c.Width) * 3), c.Expected);
    EXPECT_EQ(ReferenceDecode(file).Pixels, Opaque(Pixels(bitmap)));
  }
}

TEST(PngEncoder, EveryFilterSetAndBitmapFormatDecodesToTheSamePixels) {
  const TBitmap pattern = MakeBitmap32(37, 19, PatternPixel);
  const std::vector<TPNGFilters> sets = {0, FilterBit(pfNone), FilterBit(pfSub), FilterBit(pfUp),
                                         FilterBit(pfAverage), FilterBit(pfPaeth), 0x1F};
  struct TFormat {
    TPixelFormat Format;
    uint8_t Depth, ColourType;
  } formats[] = {{TPixelFormat::pf1bit, 1, 3},  {TPixelFormat::pf4bit, 4, 3},  {TPixelFormat::pf8bit, 8, 3},
                 {TPixelFormat::pf15bit, 8, 2}, {TPixelFormat::pf16bit, 8, 2}, {TPixelFormat::pf24bit, 8, 2},
                 {TPixelFormat::pf32bit, 8, 2}};
  for (const TFormat& f : formats) {
    TBitmap bitmap = pattern;
    bitmap.SetPixelFormat(f.Format);
    for (TPNGFilters set : sets) {
      SCOPED_TRACE(::testing::Message() << "bits " << bitmap.BitsPerPixel() << ", filters " << int(set));
      const TBytes file = Encode(bitmap, set, 6);
      const TBytes header = ParseChunks(file).front().Data;
      EXPECT_EQ(header[8], f.Depth);
      EXPECT_EQ(header[9], f.ColourType);
      EXPECT_EQ(ReferenceDecode(file).Pixels, Opaque(Pixels(bitmap)));
    }
  }
}

// Every level, for images on both sides of the size below which the most thorough level is
// taken (64 KB of filtered rows: 147 x 148 pixels is under it, 148 x 148 over), decodes to the
// pixels given; and the thorough level pays where it is taken.
TEST(PngEncoder, EveryLevelOnBothSidesOfTheThoroughBoundDecodesToTheSamePixels) {
  for (const int side : {147, 148}) {
    const TBitmap bitmap = MakeBitmap32(side, 148, SmoothPixel);
    for (int level = 0; level <= 9; ++level) {
      SCOPED_TRACE(std::to_string(side) + " wide, level " + std::to_string(level));
      EXPECT_EQ(ReferenceDecode(Encode(bitmap, kWorkerFilters, level)).Pixels, Opaque(Pixels(bitmap)));
    }
  }
  const TBitmap icon = MakeBitmap32(147, 148, PatternPixel);
  EXPECT_LT(Encode(icon, kWorkerFilters, 8).size(), Encode(icon, kWorkerFilters, 7).size());
}

TEST(PngEncoder, InterlacedWritingDecodesToTheSamePixels) {
  for (const auto& [w, h] : std::vector<std::pair<int, int>>{{1, 1}, {3, 2}, {9, 17}, {37, 19}}) {
    SCOPED_TRACE(::testing::Message() << w << " x " << h);
    const TBitmap bitmap = MakeBitmap32(w, h, PatternPixel);
    TPNGObject png;
    png.SetRowFilters(0x1F);
    png.Assign(bitmap);
    png.SetInterlacing(1);
    const TBytes file = Save(png);
    EXPECT_EQ(ParseChunks(file).front().Data[12], 1);
    EXPECT_EQ(ReferenceDecode(file).Pixels, Opaque(Pixels(bitmap)));
  }
}

TEST(PngEncoder, TransparentBitmapsGetATransparencyChunk) {
  const TColor32 key = ArgbColor(255, 0x12, 0x34, 0x56);
  const TBitmap rgb = MakeBitmap32(4, 2, [&](int x, int y) { return x == 1 && y == 0 ? key : ArgbColor(255, 1, 2, 3); });

  TBitmap with_key = rgb;
  with_key.SetTransparent(true);
  with_key.SetTransparentColor(0x563412);  // red in the low byte

  TBitmap indexed(4, 2, TPixelFormat::pf4bit);
  std::vector<TRGBQuad> palette(16, TRGBQuad{9, 9, 9, 0});
  palette[5] = {0x56, 0x34, 0x12, 0};
  indexed.SetPalette(palette);
  indexed.ScanLine(0)[0] = 0x05;  // pixels 0 and 1: entries 0 and 5
  indexed.SetTransparent(true);
  indexed.SetTransparentColor(0x563412);

  TBitmap missing = indexed;
  missing.SetTransparentColor(0x010101);  // not in the palette

  struct TCase {
    const char* Name;
    const TBitmap& Bitmap;
    TBytes Trns;  // empty: no tRNS chunk
    TColor32 ClearPixel;
  } cases[] = {
      {"RGB key as three 16-bit values", with_key, {0, 0x12, 0, 0x34, 0, 0x56}, 1},
      {"palette: opaque up to the key's entry", indexed, {255, 255, 255, 255, 255, 0}, 1},
      {"key colour missing from the palette", missing, {}, ~0u},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TBytes file = Encode(c.Bitmap, kWorkerFilters);
    TBytes trns;
    std::vector<std::string> names;
    for (const TRawChunk& chunk : ParseChunks(file)) {
      names.push_back(chunk.Name);
      if (chunk.Name == "tRNS") trns = chunk.Data;
    }
    EXPECT_EQ(trns, c.Trns);
    if (!c.Trns.empty()) {
      EXPECT_EQ(names[names.size() - 3], "tRNS") << "after the header and palette";
    }
    const TReferenceImage ref = ReferenceDecode(file);
    for (size_t i = 0; i < ref.Pixels.size(); ++i)
      EXPECT_EQ(AlphaOf(ref.Pixels[i]), i == c.ClearPixel ? 0 : 255) << "pixel " << i;
  }
}

}  // namespace
}  // namespace pellavo
