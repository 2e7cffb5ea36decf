#include <gtest/gtest.h>

#include "formats/output_formats.h"

namespace pellavo {
namespace {

TEST(OutputFormats, ExtensionsAndAliasesMatchExactly) {
  using enum TOutputFormat;
  struct Case {
    const char* extension;
    std::optional<TOutputFormat> format;
  };
  const Case cases[] = {
      {".jpg", Jpg},  {".jpeg", Jpg},  {".bmp", Bmp},        {".ico", Bmp},       {".png", Png},
      {".gif", Gif},  {".emf", Emf},   {".wmf", Emf},        {".jp2", Jp2},       {".jpc", Jp2},
      {".j2k", Jp2},  {".pdf", Pdf},  {".webp", Webp},      {".avif", Avif},
      {".tif", Tif},  {".tiff", Tif},  {".jxl", Jxl},
      // HEIF is read only: a photo kept in its own format is written as JPEG.
      {".heic", Jpg}, {".heif", Jpg},
      // Parts of an extension and the empty one name nothing; the caller lower-cases.
      {".jp", std::nullopt}, {".j", std::nullopt}, {".", std::nullopt}, {"", std::nullopt},
      {"jpg", std::nullopt}, {".JPG", std::nullopt}, {".jpgx", std::nullopt}, {".tga", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(OutputFormatOfExtension(c.extension), c.format) << c.extension;
}

}  // namespace
}  // namespace pellavo
