// The PNG class as the rest of the program reaches it: by extension, and inside icons.
#include <gtest/gtest.h>

#include "formats/all/standard_formats.h"
#include "formats/ico/icon.h"
#include "formats/picture.h"
#include "formats/png/png_builder.h"
#include "formats/png/png_object.h"
#include "formats/registry.h"
#include "support/images.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

using namespace test;

class PngRegistry : public ::testing::Test {
 protected:
  void SetUp() override { RegisterStandardFormats(); }
};

std::vector<TColor32> DrawOnBlack(TGraphic& g) {
  std::vector<TColor32> pixels(size_t(g.Width()) * size_t(g.Height()), 0);
  g.Draw({pixels.data(), g.Width(), g.Height()}, {0, 0, g.Width(), g.Height()});
  return pixels;
}

TEST_F(PngRegistry, PngFilesOfAnyCaseOpenAsPngObjects) {
  EXPECT_EQ(FindByExtension("png"), &TPNGObject::StaticClass());
  EXPECT_NE(FileFormatFilter(TGraphic::StaticClass()).find("|Portable Network Graphics (*.png)|*.png|"),
            std::string::npos);
  TTempDir dir;
  const TBytes bytes = ReadFile("tests/data/png/pngsuite/basn2c08.png");
  for (const char* name : {"a.png", "B.PNG"}) {
    SCOPED_TRACE(name);
    WriteBytes(dir.File(name), bytes);
    TPicture picture;
    picture.ReadFromFile(dir.File(name));
    ASSERT_NE(picture.Graphic(), nullptr);
    EXPECT_TRUE(picture.Graphic()->Is(TPNGObject::StaticClass()));
    EXPECT_EQ(picture.Width(), 32);
  }
}

TEST_F(PngRegistry, WorkerWriteAndReadBack) {
  TTempDir dir;
  const TBitmap bitmap = MakeBitmap32(21, 13, PatternPixel);
  TPNGObject png;
  png.SetRowFilters(FilterBit(pfSub) | FilterBit(pfUp));
  png.SetDeflateLevel(8);
  png.Assign(bitmap);
  png.WriteToFile(dir.File("out.png"));

  TPicture picture;
  picture.ReadFromFile(dir.File("out.png"));
  EXPECT_EQ(DrawOnBlack(*picture.Graphic()), Pixels(bitmap));
}

TEST_F(PngRegistry, IconWhoseImageIsStoredAsPngDecodes) {
  const TBytes png_bytes = ReadFile("tests/data/png/pngsuite/basn6a08.png");
  TBytes ico = {0, 0, 1, 0, 1, 0,                   // reserved, type icon, one image
                32, 32, 0, 0, 1, 0, 32, 0};         // 32 x 32, no palette, 1 plane, 32 bits
  const uint32_t size = uint32_t(png_bytes.size()), offset = 22;
  for (uint32_t v : {size, offset})
    for (int s = 0; s < 32; s += 8) ico.push_back(uint8_t(v >> s));
  ico.insert(ico.end(), png_bytes.begin(), png_bytes.end());

  TTempDir dir;
  WriteBytes(dir.File("icon.ico"), ico);
  TPicture picture;
  picture.ReadFromFile(dir.File("icon.ico"));
  ASSERT_TRUE(picture.Graphic()->Is(TIcon::StaticClass()));
  EXPECT_EQ(picture.Width(), 32);
  EXPECT_EQ(picture.Height(), 32);

  TPNGObject png;
  Load(png, png_bytes);
  EXPECT_EQ(DrawOnBlack(*picture.Graphic()), DrawOnBlack(png));
}

}  // namespace
}  // namespace pellavo
