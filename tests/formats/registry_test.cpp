#include <gtest/gtest.h>

#include "core/errors.h"
#include "core/paths.h"
#include "formats/all/standard_formats.h"
#include "formats/avif/avif_image.h"
#include "formats/bmp/bitmap.h"
#include "formats/heif/heif_image.h"
#include "formats/jxl/jxl_image.h"
#include "formats/tiff/tiff_image.h"
#include "formats/picture.h"
#include "formats/png/png_object.h"
#include "formats/registry.h"
#include "formats/webp/webp_image.h"
#include "support/images.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

class Registry : public ::testing::Test {
 protected:
  void SetUp() override { RegisterStandardFormats(); }
};

TEST_F(Registry, FilterStringListsTheLatestFormatFirst) {
  const TFileFormatsList one({{"BMP", "Bitmaps", &TBitmap::StaticClass()}});
  EXPECT_EQ(one.BuildFilterString(TGraphic::StaticClass()), "Bitmaps (*.bmp)|*.bmp");
  const TFileFormatsList two({{"BMP", "Bitmaps", &TBitmap::StaticClass()}, {"dib", "Device", &TBitmap::StaticClass()}});
  EXPECT_EQ(two.BuildFilterString(TGraphic::StaticClass()),
            "All (*.dib;*.bmp)|*.dib;*.bmp|Device (*.dib)|*.dib|Bitmaps (*.bmp)|*.bmp");
  EXPECT_EQ(two.BuildFilterString(TPNGObject::StaticClass()), "") << "no format of that class";
  EXPECT_EQ(two.FindExt("Bmp"), &TBitmap::StaticClass());
  EXPECT_EQ(two.FindExt("bm"), nullptr) << "lookups are exact";
}

// The first formats' text as it always was, each list followed by the newer formats.
TEST_F(Registry, TheProgramsFilterStringIsFixed) {
  EXPECT_EQ(FileFormatFilter(TGraphic::StaticClass()),
            "All (*.gif;*.png;*.jpc;*.j2k;*.jp2;*.jpg;*.jpeg;*.bmp;*.ico;*.emf;*.wmf"
            ";*.webp;*.avif;*.heic;*.heif;*.tif;*.tiff;*.jxl)|"
            "*.gif;*.png;*.jpc;*.j2k;*.jp2;*.jpg;*.jpeg;*.bmp;*.ico;*.emf;*.wmf"
            ";*.webp;*.avif;*.heic;*.heif;*.tif;*.tiff;*.jxl|"
            "GIF Image (*.gif)|*.gif|Portable Network Graphics (*.png)|*.png|JPEG 2000 Image (*.jpc)|*.jpc|"
            "JPEG 2000 Image (*.j2k)|*.j2k|JPEG 2000 Image (*.jp2)|*.jp2|JPEG Image File (*.jpg)|*.jpg|"
            "JPEG Image File (*.jpeg)|*.jpeg|Bitmaps (*.bmp)|*.bmp|Icons (*.ico)|*.ico|"
            "Enhanced Metafiles (*.emf)|*.emf|Metafiles (*.wmf)|*.wmf"
            "|WebP Image (*.webp)|*.webp|AVIF Image (*.avif)|*.avif|HEIF Image (*.heic)|*.heic"
            "|HEIF Image (*.heif)|*.heif|TIFF Image (*.tif)|*.tif|TIFF Image (*.tiff)|*.tiff"
            "|JPEG XL Image (*.jxl)|*.jxl");
  EXPECT_EQ(FileFormats().LowerFilter(), LowerAscii(FileFormatFilter(TGraphic::StaticClass())));
}

TEST_F(Registry, ARegistrationThatCannotStandIsRefused) {
  const TGraphicClass* bmp = &TBitmap::StaticClass();
  struct Case {
    const char* name;
    std::vector<TFileFormat> entries;
  };
  const Case cases[] = {
      {"an extension twice", {{"bmp", "Bitmaps", bmp}, {"dib", "Device", bmp}, {"bmp", "Again", bmp}}},
      {"an extension twice in another case", {{"bmp", "Bitmaps", bmp}, {"BMP", "Bitmaps", bmp}}},
      {"no extension", {{"", "Nothing", bmp}}},
      {"no class", {{"bmp", "Bitmaps", nullptr}}},
  };
  for (const Case& c : cases) EXPECT_THROW(TFileFormatsList{c.entries}, EFormatRegistryError) << c.name;
  // The program's registry is installed once; a second list does not replace it.
  const TFileFormatsList* installed = &FileFormats();
  EXPECT_THROW(InstallFileFormats(StandardFormats()), EFormatRegistryError);
  EXPECT_EQ(&FileFormats(), installed);
}

TEST_F(Registry, ImageTestIsASubstringSearchOfTheExtension) {
  struct Case {
    const char* path;
    bool accepted;
  };
  const Case cases[] = {{"/a/photo.BMP", true}, {"/a/photo.bm", true}, {"/a/icon.ico", true},
                        {"/a/readme", false},   {"/a/notes.txt", false}, {"/a.bmp/readme", false},
                        {"/a/IMG_0001.HEIC", true}, {"/a/x.heif", true}, {"/a/x.webp", true}, {"/a/x.AVIF", true},
                        {"/a/scan.TIF", true}, {"/a/scan.tiff", true}};
  for (const Case& c : cases) EXPECT_EQ(IsImageFileName(c.path), c.accepted) << c.path;
}

TEST_F(Registry, TheNewerFormatsAreReadByTheirOwnClasses) {
  const struct {
    const char* ext;
    const TGraphicClass* cls;
  } cases[] = {{"webp", &TWebPImage::StaticClass()},
               {"AVIF", &TAvifImage::StaticClass()},
               {"heic", &THeifImage::StaticClass()},
               {"HEIF", &THeifImage::StaticClass()},
               {"tif", &TTiffImage::StaticClass()},
               {"TIFF", &TTiffImage::StaticClass()},
               {"JXL", &TJxlImage::StaticClass()}};
  for (const auto& c : cases) EXPECT_EQ(FindByExtension(c.ext), c.cls) << c.ext;
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
