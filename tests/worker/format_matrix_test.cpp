#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "core/files.h"
#include "core/paths.h"
#include "formats/all/standard_formats.h"
#include "formats/gif/gif_image.h"
#include "formats/jpeg/jpeg.h"
#include "formats/jpeg2000/jpeg2000_bitmap.h"
#include "formats/metafile/metafile.h"
#include "formats/picture.h"
#include "formats/png/png_object.h"
#include "support/images.h"
#include "support/fake_view.h"
#include "support/temp_dir.h"
#include "worker/standard_workers.h"

namespace pellavo {
namespace {

template <class Encoder>
void Encode(const TBitmap& bitmap, const std::string& path) {
  Encoder encoder;
  encoder.Assign(bitmap);
  encoder.WriteToFile(path);
}

// Every output format of the window's list from every input format the registry reads.
TEST(FormatMatrix, EveryOutputFromEveryInput) {
  RegisterStandardFormats();
  test::TTempDir dir;
  ::mkdir(dir.File("in").c_str(), 0755);
  TBitmap pattern = test::MakeBitmap32(64, 48, test::PatternPixel);

  pattern.WriteToFile(dir.File("in/a.bmp"));
  Encode<TJPEGImage>(pattern, dir.File("in/b.jpg"));
  std::filesystem::copy_file(dir.File("in/b.jpg"), dir.File("in/c.jpeg"));
  Encode<TPNGObject>(pattern, dir.File("in/d.png"));
  Encode<TGIFImage>(pattern, dir.File("in/e.gif"));
  Encode<TJpeg2000Bitmap>(pattern, dir.File("in/f.jp2"));
  std::filesystem::copy_file(dir.File("in/f.jp2"), dir.File("in/g.j2k"));
  std::filesystem::copy_file(dir.File("in/f.jp2"), dir.File("in/h.jpc"));
  {
    TSafeOutput out(dir.File("in/i.emf"), true);
    SaveBitmapAsEmf(pattern, out.Stream());
    out.Commit();
  }
  std::filesystem::copy_file("tests/data/metafile/libreoffice-shapes.wmf", dir.File("in/j.wmf"));
  std::filesystem::copy_file("samples/icon.ico", dir.File("in/k.ico"));

  struct Input {
    const char* name;
    const char* source_output;  // the extension "Source" writes
  };
  const Input inputs[] = {{"a.bmp", ".bmp"}, {"b.jpg", ".jpg"}, {"c.jpeg", ".jpg"}, {"d.png", ".png"},
                          {"e.gif", ".gif"}, {"f.jp2", ".jp2"}, {"g.j2k", ".jp2"},  {"h.jpc", ".jp2"},
                          {"i.emf", ".emf"}, {"j.wmf", ".emf"}, {"k.ico", ".bmp"}};

  test::TFakeView view;
  for (const Input& in : inputs) view.entries.push_back(dir.File(std::string("in/") + in.name));
  for (int format = 0; format < static_cast<int>(kOutputFormats.size()); ++format) {
    const std::string out = dir.File("out" + std::to_string(format));
    ::mkdir(out.c_str(), 0755);
    view.settings.DestFolder = out;
    view.settings.OutputFormat = format;
    view.settings.PixelSize = 32;
    view.settings.FilterIndex = 5;
    view.Run(MakeStandardWorker);
    for (const Input& in : inputs) {
      const TFileOutcome& o = view.For(dir.File(std::string("in/") + in.name));
      const std::string label = std::string(in.name) + " -> " + kOutputFormats[size_t(format)];
      ASSERT_TRUE(o.Written) << label << ": " << o.Error;
      const std::string ext = format == 0 ? in.source_output : kOutputFormats[size_t(format)];
      EXPECT_EQ(o.Output, IncludeTrailingSeparator(out) + ChangeFileExt(in.name, ext)) << label;
      if (ext == ".pdf") {
        const std::vector<uint8_t> pdf = test::ReadBytes(o.Output);
        const std::string text(pdf.begin(), pdf.end());
        EXPECT_EQ(text.rfind("%PDF-1.2\n", 0), 0u) << label;
        EXPECT_NE(text.find("/MediaBox [ 0 0 "), std::string::npos) << label;
        continue;
      }
      TPicture back;
      try {
        back.ReadFromFile(o.Output);
      } catch (const std::exception& e) {
        ADD_FAILURE() << label << ": the output does not read back: " << e.what();
        continue;
      }
      EXPECT_EQ(std::max(back.Width(), back.Height()), 32) << label;
      if (in.name[0] <= 'i') {
        EXPECT_EQ(back.Width(), 32) << label;
        EXPECT_EQ(back.Height(), 24) << label;
      }
    }
  }
}

}  // namespace
}  // namespace pellavo
