#include <gtest/gtest.h>

#include "core/errors.h"
#include "formats/all/standard_formats.h"
#include "formats/bmp/bitmap.h"
#include "formats/picture.h"
#include "formats/registry.h"
#include "support/images.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

class Registry : public ::testing::Test {
 protected:
  void SetUp() override { RegisterStandardFormats(); }
};

TEST_F(Registry, FilterStringListsTheLatestFormatFirst) {
  TFileFormatsList list;
  list.Add("BMP", "Bitmaps", TBitmap::StaticClass());
  EXPECT_EQ(list.BuildFilterString(TGraphic::StaticClass()), "Bitmaps (*.bmp)|*.bmp");
  list.Add("dib", "Device", TBitmap::StaticClass());
  EXPECT_EQ(list.BuildFilterString(TGraphic::StaticClass()),
            "All (*.dib;*.bmp)|*.dib;*.bmp|Device (*.dib)|*.dib|Bitmaps (*.bmp)|*.bmp");
  EXPECT_EQ(list.FindExt("Bmp"), &TBitmap::StaticClass());
  EXPECT_EQ(list.FindExt("bm"), nullptr) << "lookups are exact";
  list.Remove(TGraphic::StaticClass());
  EXPECT_EQ(list.BuildFilterString(TGraphic::StaticClass()), "");
}

TEST_F(Registry, ImageTestIsASubstringSearchOfTheExtension) {
  struct Case {
    const char* path;
    bool accepted;
  };
  const Case cases[] = {{"/a/photo.BMP", true}, {"/a/photo.bm", true}, {"/a/icon.ico", true},
                        {"/a/readme", false},   {"/a/notes.txt", false}, {"/a.bmp/readme", false}};
  for (const Case& c : cases) EXPECT_EQ(IsImageFileName(c.path), c.accepted) << c.path;
}

TEST_F(Registry, PictureChoosesTheClassByExtensionAlone) {
  test::TTempDir dir;
  test::WritePatternBmp(dir.File("p.BMP"), 3, 2);
  TPicture picture;
  picture.ReadFromFile(dir.File("p.BMP"));
  EXPECT_TRUE(picture.Graphic()->Is(TBitmap::StaticClass()));
  EXPECT_EQ(picture.Width(), 3);

  test::WriteBytes(dir.File("p.bm"), test::ReadBytes(dir.File("p.BMP")));
  try {
    picture.ReadFromFile(dir.File("p.bm"));
    ADD_FAILURE();
  } catch (const EInvalidGraphic& e) {
    EXPECT_STREQ(e.what(), "Unknown picture file extension (.bm)");
  }
  EXPECT_EQ(picture.Width(), 3) << "a failed read keeps the previous graphic";
  EXPECT_THROW(picture.ReadFromFile(dir.File("missing.bmp")), EFOpenError);

  // The bitmap view replaces a graphic that is not a bitmap by an empty one.
  TBitmap& view = picture.Bitmap();
  EXPECT_EQ(&view, picture.Graphic());
}

}  // namespace
}  // namespace pellavo
