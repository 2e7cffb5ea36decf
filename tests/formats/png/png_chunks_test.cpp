// The chunk list: what is kept, dropped and written back, and copies between objects.
#include <gtest/gtest.h>

#include <algorithm>

#include "formats/png/png_builder.h"
#include "formats/png/png_object.h"
#include "support/images.h"

namespace pellavo {
namespace {

using namespace test;

// A 3 x 2 RGB image and its rows (filter byte 0).
const TBytes kRows = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 10, 11, 12, 13, 14, 15, 16, 17, 18};

TBytes Text(const std::string& s) { return TBytes(s.begin(), s.end()); }

TBytes Concat(std::vector<TBytes> parts) {
  TBytes out;
  for (const TBytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::vector<TColor32> Rows32(const TPNGObject& png) {
  std::vector<TColor32> out(size_t(png.Width()) * size_t(png.Height()));
  for (int32_t y = 0; y < png.Height(); ++y) png.ReadRow32(uint32_t(y), out.data() + size_t(y) * size_t(png.Width()));
  return out;
}

TEST(PngChunks, AncillaryChunksAreKeptInOrderAndChromaticitiesDropped) {
  TBytes private_data(256);
  for (size_t i = 0; i < private_data.size(); ++i) private_data[i] = uint8_t(i);
  const TBytes packed = Deflate(kRows);
  const TBytes unknown = Chunk("prVt", private_data);
  const TBytes file = Png({
      Ihdr(3, 2, 8, 2),
      Chunk("gAMA", {0, 0, 0xB1, 0x8F}),
      Chunk("cHRM", TBytes(32, 1)),
      Chunk("pHYs", {0, 0, 0x0B, 0x13, 0, 0, 0x0B, 0x14, 1}),
      Chunk("tEXt", Text(std::string("Title\0Pellavo", 13))),
      Chunk("zTXt", Concat({Text(std::string("Comment\0\0", 9)), Deflate(Text("hello"))})),
      Chunk("tIME", {0x07, 0xE8, 5, 6, 7, 8, 9}),
      unknown,
      // The image split over three chunks, one of them empty.
      Chunk("IDAT", TBytes(packed.begin(), packed.begin() + 5)),
      Chunk("IDAT", {}),
      Chunk("IDAT", TBytes(packed.begin() + 5, packed.end())),
      Chunk("IEND", {}),
  });

  TPNGObject png;
  Load(png, file);
  std::vector<std::string> names;
  for (const auto& c : png.Chunks()) names.push_back(c->Name());
  const std::vector<std::string> kept = {"IHDR", "gAMA", "pHYs", "tEXt", "zTXt", "tIME", "prVt", "IDAT", "IEND"};
  EXPECT_EQ(names, kept);

  // The registered kinds read their fields.
  ASSERT_NE(png.Find<TChunkgAMA>(), nullptr);
  EXPECT_EQ(png.Find<TChunkgAMA>()->Gamma(), 45455u);
  ASSERT_NE(png.Find<TChunkpHYs>(), nullptr);
  EXPECT_EQ(png.Find<TChunkpHYs>()->PPUnitX(), 2835u);
  EXPECT_EQ(png.Find<TChunkpHYs>()->PPUnitY(), 2836u);
  EXPECT_EQ(png.Find<TChunkpHYs>()->UnitType(), 1);
  ASSERT_NE(png.Find<TChunktEXt>(), nullptr);
  EXPECT_EQ(png.Find<TChunktEXt>()->Keyword(), "Title");
  EXPECT_EQ(png.Find<TChunktEXt>()->Text(), "Pellavo");
  ASSERT_NE(png.Find<TChunkzTXt>(), nullptr);
  EXPECT_EQ(png.Find<TChunkzTXt>()->Keyword(), "Comment");
  EXPECT_EQ(png.Find<TChunkzTXt>()->Text(), "hello");
  EXPECT_EQ(png.Find<TChunkzTXt>()->Text(3), "hel") << "a text never inflates past its cap";
  ASSERT_NE(png.Find<TChunktIME>(), nullptr);
  EXPECT_EQ(png.Find<TChunktIME>()->Time(), (std::array<int, 6>{2024, 5, 6, 7, 8, 9}));
  const TChunk& unknown_chunk = *png.Chunks()[6];
  EXPECT_EQ(typeid(unknown_chunk), typeid(TChunk));

  const TBytes saved = Save(png);
  const std::vector<TRawChunk> in = ParseChunks(file), out = ParseChunks(saved);
  std::vector<std::string> written;
  for (const TRawChunk& c : out) written.push_back(c.Name);
  EXPECT_EQ(written, kept);
  for (const TRawChunk& c : out) {
    if (c.Name == "IDAT") continue;
    const auto original = std::find_if(in.begin(), in.end(), [&](const TRawChunk& i) { return i.Name == c.Name; });
    ASSERT_NE(original, in.end());
    EXPECT_EQ(c.Data, original->Data) << c.Name;
  }
  EXPECT_NE(std::search(saved.begin(), saved.end(), unknown.begin(), unknown.end()), saved.end())
      << "the unknown chunk, length and CRC included, is in the output byte for byte";

  TPNGObject again;
  Load(again, saved);
  EXPECT_EQ(Rows32(again), Rows32(png));
}

TEST(PngChunks, ImageDataAfterTheFirstRunOfIdatChunksIsIgnored) {
  const TBytes file = Png({Ihdr(3, 2, 8, 2), Chunk("IDAT", Deflate(kRows)), Chunk("tEXt", Text("a")),
                           Chunk("IDAT", {1, 2, 3}), Chunk("IDAT", Deflate(TBytes(20, 0xFF))), Chunk("IEND", {})});
  TPNGObject png;
  ASSERT_NO_THROW(Load(png, file));
  EXPECT_EQ(std::count_if(png.Chunks().begin(), png.Chunks().end(), [](const auto& c) { return c->Name() == "IDAT"; }),
            1);
  std::vector<TColor32> row(3);
  png.ReadRow32(1, row.data());
  EXPECT_EQ(row[2], ArgbColor(255, 16, 17, 18));
}

TEST(PngChunks, AssigningAnotherPngCopiesSettingsAndEveryChunk) {
  TPNGObject source;
  Load(source, ReadFile("tests/data/png/pngsuite/basn3p04.png"));
  source.SetRowFilters(FilterBit(pfPaeth));
  source.SetDeflateLevel(3);
  source.SetMaxIdatBytes(70000);

  TPNGObject copy;
  copy.Assign(source);
  EXPECT_EQ(copy.RowFilters(), FilterBit(pfPaeth));
  EXPECT_EQ(copy.DeflateLevel(), 3);
  EXPECT_EQ(copy.MaxIdatBytes(), 70000u);
  EXPECT_EQ(copy.GammaTable(), source.GammaTable());
  EXPECT_EQ(Save(copy), Save(source));

  // The copy owns its chunks: changing the source leaves it alone.
  const std::vector<TColor32> before = Rows32(copy);
  source.Resize(5, 5);
  EXPECT_EQ(copy.Width(), 32);
  EXPECT_EQ(Rows32(copy), before);
  EXPECT_EQ(&copy.Header().Owner(), &copy);
}

TEST(PngChunks, ChunkAndPaletteMisuseRaisesPngError) {
  TPNGObject png;
  Load(png, ReadFile("tests/data/png/pngsuite/basn3p04.png"));
  const TChunkPLTE& plte = *png.Find<TChunkPLTE>();
  ASSERT_EQ(plte.Count(), 15u);
  EXPECT_NO_THROW(plte.Item(14));
  try {
    plte.Item(15);
    ADD_FAILURE();
  } catch (const EPngError& e) {
    EXPECT_EQ(typeid(e), typeid(EPngError));
    EXPECT_STREQ(e.what(), "There is no such palette entry.");
  }
  TChunkIEND end(png);
  try {
    end.Assign(plte);
    ADD_FAILURE();
  } catch (const EPngError& e) {
    EXPECT_STREQ(e.what(), "The chunks must be compatible to be assigned.");
  }
  // Two unknown chunks of different names are different kinds too.
  TChunk a(png, "abCd"), b(png, "xyZw");
  EXPECT_THROW(a.Assign(b), EPngError);
}

TEST(PngChunks, GammaTableFollowsTheFileAndIsResetByANewImage) {
  TPNGObject png;
  Load(png, ReadFile("tests/data/png/pngsuite/basn2c08.png"));  // gamma 1.0
  EXPECT_EQ(png.GammaTable()[0], 0);
  EXPECT_EQ(png.GammaTable()[128], 186);  // 255 * (128 / 255) ^ (1 / 2.2), rounded
  EXPECT_EQ(png.GammaTable()[255], 255);

  png.Assign(MakeBitmap32(2, 2, PatternPixel));
  for (int i = 0; i < 256; ++i) ASSERT_EQ(png.GammaTable()[size_t(i)], i);

  // A zero gamma changes nothing.
  Load(png, Png({Ihdr(3, 2, 8, 2), Chunk("gAMA", {0, 0, 0, 0}), Chunk("IDAT", Deflate(kRows)), Chunk("IEND", {})}));
  EXPECT_EQ(png.GammaTable()[128], 128);
}

TEST(PngChunks, ResizeKeepsTheOverlapAndRefusesBadSizes) {
  TPNGObject png;
  Load(png, ReadFile("tests/data/png/pngsuite/basn0g02.png"));  // 2-bit gray, 32 x 32
  std::vector<TColor32> before(32);
  png.ReadRow32(3, before.data());

  for (const auto& [w, h] : std::vector<std::pair<int, int>>{{0, 5}, {5, 0}, {-1, 5}, {65536, 5}, {5, 65536}}) {
    EXPECT_THROW(png.Resize(w, h), EPNGInvalidNewSize) << w << " x " << h;
  }
  EXPECT_EQ(png.Width(), 32);

  png.Resize(7, 40);  // narrower and taller
  EXPECT_EQ(png.Width(), 7);
  EXPECT_EQ(png.Height(), 40);
  std::vector<TColor32> row(7);
  png.ReadRow32(3, row.data());
  EXPECT_TRUE(std::equal(row.begin(), row.end(), before.begin()));
  png.ReadRow32(39, row.data());
  EXPECT_EQ(row, std::vector<TColor32>(7, kOpaque)) << "new rows are sample 0, black";

  png.SetWidth(9);  // wider: the new columns are black, the old ones stay
  std::vector<TColor32> wide(9);
  png.ReadRow32(3, wide.data());
  EXPECT_TRUE(std::equal(wide.begin(), wide.begin() + 7, before.begin()));
  EXPECT_EQ(wide[7], kOpaque);
  EXPECT_EQ(wide[8], kOpaque);

  // The resized image writes and reads back.
  TPNGObject again;
  Load(again, Save(png));
  EXPECT_EQ(Rows32(again), Rows32(png));
}

}  // namespace
}  // namespace pellavo
