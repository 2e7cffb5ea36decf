// Drawing: how each kind of transparency composes with the target, stretching, and copying
// into a bitmap.
#include <gtest/gtest.h>

#include <memory>

#include "formats/png/png_builder.h"
#include "formats/png/png_object.h"
#include "support/images.h"

namespace pellavo {
namespace {

using namespace test;

std::unique_ptr<TPNGObject> FromBytes(const TBytes& file) {
  auto png = std::make_unique<TPNGObject>();
  Load(*png, file);
  return png;
}

TBytes OneRow(uint8_t depth, uint8_t type, const std::vector<TBytes>& extra, const TBytes& row) {
  const uint32_t channels = type == 2 ? 3 : type == 4 ? 2 : type == 6 ? 4 : 1;
  const uint32_t width = uint32_t(row.size() * 8 / (channels * depth));
  std::vector<TBytes> chunks = {Ihdr(width, 1, depth, type)};
  chunks.insert(chunks.end(), extra.begin(), extra.end());
  TBytes data(row.size() + 1, 0);  // filter type 0, then the row
  std::copy(row.begin(), row.end(), data.begin() + 1);
  chunks.push_back(Chunk("IDAT", Deflate(data)));
  chunks.push_back(Chunk("IEND", {}));
  return Png(chunks);
}

TEST(PngDraw, EachKindOfTransparencyComposesAsDrawn) {
  constexpr TColor32 kBack = 0x11223344;
  struct TCase {
    const char* Name;
    TBytes File;
    TColor32 Background;
    std::vector<TColor32> Expected;
  } cases[] = {
      // (s * a + d * (255 - a) + 255) >> 8 per channel; the alpha channel blends 255 in.
      {"RGBA at half alpha onto transparent black", OneRow(8, 6, {}, {200, 100, 50, 128}), 0, {0x80643219}},
      {"RGBA at half alpha onto white", OneRow(8, 6, {}, {200, 100, 50, 128}), 0xFFFFFFFF, {0xFFE3B198}},
      {"RGBA clear and opaque", OneRow(8, 6, {}, {1, 2, 3, 0, 4, 5, 6, 255}), kBack, {kBack, 0xFF040506}},
      {"gray with alpha", OneRow(8, 4, {}, {90, 51}), 0, {0x33121212}},
      {"16-bit RGBA uses the high bytes", OneRow(16, 6, {}, {200, 9, 100, 9, 50, 9, 128, 255}), 0, {0x80643219}},
      // A single palette entry below 255 that is not 0 still blends.
      {"palette entry at alpha 128",
       OneRow(8, 3, {Chunk("PLTE", {200, 100, 50, 1, 2, 3}), Chunk("tRNS", {128})}, {0, 1}), 0,
       {0x80643219, 0xFF010203}},
      // Transparency belongs to the entry, not to its colour.
      {"opaque entry of the clear entry's colour",
       OneRow(8, 3, {Chunk("PLTE", {9, 9, 9, 9, 9, 9}), Chunk("tRNS", {0})}, {0, 1}), kBack, {kBack, 0xFF090909}},
      {"index past the palette is opaque black", OneRow(8, 3, {Chunk("PLTE", {9, 9, 9})}, {5}), kBack, {kOpaque}},
      {"RGB colour key", OneRow(8, 2, {Chunk("tRNS", {0, 5, 0, 6, 0, 7})}, {5, 6, 7, 5, 6, 8}), kBack,
       {kBack, 0xFF050608}},
      {"16-bit RGB key compares all 16 bits",
       OneRow(16, 2, {Chunk("tRNS", {5, 0, 6, 0, 7, 0})}, {5, 0, 6, 0, 7, 0, 5, 0, 6, 0, 7, 1}), kBack,
       {kBack, 0xFF050607}},
      {"16-bit gray key", OneRow(16, 0, {Chunk("tRNS", {0x12, 0x34})}, {0x12, 0x34, 0x12, 0x35}), kBack,
       {kBack, 0xFF121212}},
      {"2-bit gray key", OneRow(2, 0, {Chunk("tRNS", {0, 2})}, {0b10110100}), kBack,
       {kBack, 0xFFFFFFFF, 0xFF555555, kOpaque}},
      {"a key too short to hold a colour is ignored", OneRow(8, 2, {Chunk("tRNS", {0, 5})}, {5, 6, 7}), kBack,
       {0xFF050607}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    auto png = FromBytes(c.File);
    std::vector<TColor32> target(c.Expected.size(), c.Background);
    png->Draw({target.data(), int32_t(target.size()), 1}, {0, 0, png->Width(), 1});
    EXPECT_EQ(target, c.Expected);
  }
}

TEST(PngDraw, StretchesByNearestPixelInsideTheRectangleOnly) {
  auto png = FromBytes(OneRow(8, 2, {}, {255, 0, 0, 0, 0, 255}));
  constexpr TColor32 B = 0x11223344, R = 0xFFFF0000, U = 0xFF0000FF;
  std::vector<TColor32> target(6 * 4, B);
  png->Draw({target.data(), 6, 4}, {1, 1, 5, 3});
  EXPECT_EQ(target, (std::vector<TColor32>{B, B, B, B, B, B,  //
                                           B, R, R, U, U, B,  //
                                           B, R, R, U, U, B,  //
                                           B, B, B, B, B, B}));
}

TEST(PngDraw, CopyIntoABitmapPicksTheFormatByDepthAndTransparency) {
  struct TCase {
    const char* File;
    TPixelFormat Format;
    bool Transparent;
  } cases[] = {
      {"basn0g01", TPixelFormat::pf1bit, false},  {"basn0g02", TPixelFormat::pf4bit, false},
      {"basn0g04", TPixelFormat::pf4bit, false},  {"basn3p01", TPixelFormat::pf1bit, false},
      {"basn3p02", TPixelFormat::pf4bit, false},  {"basn3p04", TPixelFormat::pf4bit, false},
      {"basn3p08", TPixelFormat::pf8bit, false},  {"basn0g08", TPixelFormat::pf24bit, false},
      {"basn0g16", TPixelFormat::pf24bit, false}, {"basn2c16", TPixelFormat::pf24bit, false},
      {"basn4a08", TPixelFormat::pf24bit, false}, {"basn6a16", TPixelFormat::pf24bit, false},
      {"ftbbn3p08", TPixelFormat::pf8bit, true},  {"ftbbn0g04", TPixelFormat::pf4bit, true},
      {"ftbrn2c08", TPixelFormat::pf24bit, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.File);
    TPNGObject png;
    Load(png, ReadFile(std::string("tests/data/png/pngsuite/") + c.File + ".png"));
    TBitmap bitmap;
    bitmap.Assign(png);
    EXPECT_EQ(bitmap.PixelFormat(), c.Format);
    EXPECT_EQ(bitmap.Transparent(), c.Transparent);
    ASSERT_EQ(bitmap.Width(), 32);
    ASSERT_EQ(bitmap.Height(), 32);

    // The bitmap holds what drawing onto black shows, except that a colour-keyed bitmap keeps
    // its key colour in the left-out pixels.
    std::vector<TColor32> drawn(32 * 32, 0);
    png.Draw({drawn.data(), 32, 32}, {0, 0, 32, 32});
    const std::vector<TColor32> pixels = Pixels(bitmap);
    std::vector<TColor32> own(32);
    for (uint32_t y = 0; y < 32; ++y) {
      png.ReadRow32(y, own.data());
      for (uint32_t x = 0; x < 32; ++x) {
        const size_t i = y * 32 + x;
        if (bitmap.Transparent() && AlphaOf(own[x]) == 0) {
          const TColor key = bitmap.TransparentColor();
          ASSERT_EQ(pixels[i], ArgbColor(255, uint8_t(key), uint8_t(key >> 8), uint8_t(key >> 16)));
        } else {
          ASSERT_EQ(pixels[i], drawn[i] | kOpaque) << x << ", " << y;
        }
      }
    }
  }
}

}  // namespace
}  // namespace pellavo
