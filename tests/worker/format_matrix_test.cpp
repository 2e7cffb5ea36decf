#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "core/files.h"
#include "core/paths.h"
#include "formats/all/standard_formats.h"
#include "formats/avif/avif_image.h"
#include "formats/gif/gif_image.h"
#include "formats/jpeg/jpeg.h"
#include "formats/jpeg2000/jpeg2000_bitmap.h"
#include "formats/metafile/metafile.h"
#include "formats/picture.h"
#include "formats/png/png_object.h"
#include "formats/jxl/jxl_image.h"
#include "formats/tiff/tiff_image.h"
#include "formats/webp/webp_image.h"
#include "raster/bitmap32.h"
#include "support/fake_view.h"
#include "support/images.h"
#include "support/temp_dir.h"
#include "worker/standard_workers.h"

namespace pellavo {
namespace {

// How far an output's decoded pixels may stray from the image the worker rendered: the mean
// difference of the red, green and blue values, 0 to 255; zero asks for every value exactly. The
// lossy bounds leave some room over what the inputs here measure; hard edges (the metafile's
// line art, the icon) lose the most.
using TTolerance = double;
constexpr TTolerance kLossless = 0.0;
// Quality 90 with the library's chroma subsampling: up to 4.5 measured.
constexpr TTolerance kJpegQuality90 = 6.0;
// Quality 90 of the JPEG 2000 encoder: up to 0.9 measured.
constexpr TTolerance kJpeg2000Quality90 = 2.0;
// 236 colours chosen for the image plus the 20 fixed ones, without dithering: up to 4.1 measured.
constexpr TTolerance kGifPalette = 6.0;
// WebP and AVIF at quality 90 with 4:2:0 chroma: up to 3.8 and 3.4 measured, on the hard
// edges of the GIF, icon and metafile inputs.
constexpr TTolerance kWebpQuality90 = 6.0;
constexpr TTolerance kAvifQuality90 = 5.0;
// JPEG XL at quality 90 (distance 1.0).
constexpr TTolerance kJxlQuality90 = 4.0;

TTolerance ToleranceOf(const std::string& extension) {
  if (extension == ".jpg") return kJpegQuality90;
  if (extension == ".jp2") return kJpeg2000Quality90;
  if (extension == ".gif") return kGifPalette;
  if (extension == ".webp") return kWebpQuality90;
  if (extension == ".avif") return kAvifQuality90;
  if (extension == ".jxl") return kJxlQuality90;
  return kLossless;
}

// Gradients that run differently in each channel: a lossy format keeps them closely, while a
// swapped channel, a flipped row order or a lost row shows at once.
TColor32 SmoothPixel(int32_t x, int32_t y) {
  return ArgbColor(0xFF, uint8_t(4 * x), uint8_t(5 * y), uint8_t(255 - 2 * (x + y)));
}

template <class Encoder>
void Encode(const TBitmap& bitmap, const std::string& path) {
  Encoder encoder;
  encoder.Assign(bitmap);
  encoder.WriteToFile(path);
}

struct TInput {
  const char* name;
  const char* source_output;  // the extension "Source" writes
};

// Every input format the registry reads, under every extension it is registered with.
constexpr TInput kInputs[] = {{"a.bmp", ".bmp"}, {"b.jpg", ".jpg"}, {"c.jpeg", ".jpg"}, {"d.png", ".png"},
                              {"e.gif", ".gif"}, {"f.jp2", ".jp2"}, {"g.j2k", ".jp2"},  {"h.jpc", ".jp2"},
                              {"i.emf", ".emf"}, {"j.wmf", ".emf"}, {"k.ico", ".bmp"},  {"l.webp", ".webp"},
                              {"m.avif", ".avif"}, {"n.heic", ".jpg"},  {"o.tif", ".tif"},  {"p.tiff", ".tif"},
                              {"q.jxl", ".jxl"}};

// Pixels as 0xAARRGGBB. Only the colours are compared, since most of the formats do not keep
// alpha; but a pixel that is fully transparent in both images has no colour to compare (WebP
// and AVIF keep the alpha and are free to change what lies under it).
using TRgb = std::vector<uint32_t>;

TRgb RgbOf(const TBitmap32& surface) {
  TRgb rgb;
  for (int32_t y = 0; y < surface.Height(); ++y)
    for (int32_t x = 0; x < surface.Width(); ++x) rgb.push_back(surface.ScanLine(y)[x]);
  return rgb;
}

// The image a worker renders from a file at its own size without decorations: the file's
// picture taken onto a 32-bit surface.
TRgb RenderedPixels(const std::string& path, int32_t& width, int32_t& height) {
  TPicture picture;
  picture.ReadFromFile(path);
  TBitmap32 surface;
  surface.Assign(picture);
  width = surface.Width();
  height = surface.Height();
  return RgbOf(surface);
}

// The samples of the document's one image: uncompressed 8-bit RGB after the image's "stream".
TRgb PdfPixels(const std::string& path, int32_t& width, int32_t& height) {
  const std::vector<uint8_t> bytes = test::ReadBytes(path);
  const std::string text(bytes.begin(), bytes.end());
  const size_t image = text.find("/Subtype /Image");
  const size_t w = text.find("/Width ", image), h = text.find("/Height ", image);
  const size_t data = text.find("stream\n", image);
  if (image == std::string::npos || w == std::string::npos || h == std::string::npos || data == std::string::npos)
    return {};
  width = std::atoi(text.c_str() + w + 7);
  height = std::atoi(text.c_str() + h + 8);
  TRgb rgb;
  for (size_t i = data + 7; i + 2 < bytes.size() && rgb.size() < size_t(width) * size_t(height); i += 3)
    rgb.push_back(0xFF000000u | uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8 | bytes[i + 2]);
  return rgb;
}

TRgb DecodedPixels(const std::string& path, int32_t& width, int32_t& height) {
  if (LowerAscii(ExtractFileExt(path)) == ".pdf") return PdfPixels(path, width, height);
  return RenderedPixels(path, width, height);
}

// The mean difference of the red, green and blue values of two images of the same size.
double MeanDifference(const TRgb& a, const TRgb& b) {
  int64_t sum = 0, compared = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AlphaOf(a[i]) == 0 && AlphaOf(b[i]) == 0) continue;
    ++compared;
    for (int shift : {0, 8, 16}) sum += std::abs(int((a[i] >> shift) & 0xFF) - int((b[i] >> shift) & 0xFF));
  }
  return compared == 0 ? 0 : double(sum) / double(3 * compared);
}

class FormatMatrix : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterStandardFormats();
    ::mkdir(dir.File("in").c_str(), 0755);
    TBitmap pattern = test::MakeBitmap32(64, 48, SmoothPixel);
    pattern.WriteToFile(In("a.bmp"));
    Encode<TJPEGImage>(pattern, In("b.jpg"));
    std::filesystem::copy_file(In("b.jpg"), In("c.jpeg"));
    Encode<TPNGObject>(pattern, In("d.png"));
    Encode<TGIFImage>(pattern, In("e.gif"));
    Encode<TJpeg2000Bitmap>(pattern, In("f.jp2"));
    std::filesystem::copy_file(In("f.jp2"), In("g.j2k"));
    std::filesystem::copy_file(In("f.jp2"), In("h.jpc"));
    {
      TSafeOutput out(In("i.emf"), true);
      SaveBitmapAsEmf(pattern, out.Stream());
      out.Commit();
    }
    std::filesystem::copy_file("tests/data/metafile/libreoffice-shapes.wmf", In("j.wmf"));
    std::filesystem::copy_file("samples/icon.ico", In("k.ico"));
    Encode<TWebPImage>(pattern, In("l.webp"));
    Encode<TAvifImage>(pattern, In("m.avif"));
    std::filesystem::copy_file("tests/data/heif/gradient-64x48.heic", In("n.heic"));
    Encode<TTiffImage>(pattern, In("o.tif"));
    std::filesystem::copy_file(In("o.tif"), In("p.tiff"));
    Encode<TJxlImage>(pattern, In("q.jxl"));
    for (const TInput& in : kInputs) run.entries.push_back(In(in.name));
  }

  std::string In(const std::string& name) const { return dir.File("in/" + name); }
  // The extension an input is written with in a format.
  static std::string WrittenExtension(const TInput& in, const TOutputFormatInfo& format) {
    return format.Format == TOutputFormat::Source ? in.source_output : std::string(format.Extension);
  }

  test::TTempDir dir;
  test::TFakeView run;
};

TEST_F(FormatMatrix, EveryOutputFromEveryInput) {
  for (const TOutputFormatInfo& format : kOutputFormats) {
    const std::string out = dir.File("out-" + std::string(format.Item));
    ::mkdir(out.c_str(), 0755);
    run.settings.DestFolder = out;
    run.settings.OutputFormat = format.Format;
    run.settings.PixelSize = 32;
    run.settings.FilterIndex = sfLanczos;
    run.Run(MakeStandardWorker);
    for (const TInput& in : kInputs) {
      const TFileOutcome& o = run.For(In(in.name));
      const std::string label = std::string(in.name) + " -> " + std::string(format.Item);
      ASSERT_TRUE(o.Written) << label << ": " << o.Error;
      const std::string ext = WrittenExtension(in, format);
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
      if (in.name[0] <= 'i' || in.name[0] >= 'l') {  // the 64 x 48 inputs
        EXPECT_EQ(back.Width(), 32) << label;
        EXPECT_EQ(back.Height(), 24) << label;
      }
    }
  }
}

// At its own size and without the frame, the rendered image is the source's picture as it is,
// so every output, decoded again, must give back the source's pixels: exactly for the lossless
// formats, within the format's tolerance for the lossy ones.
TEST_F(FormatMatrix, EveryOutputHoldsTheRenderedPixels) {
  // The colours under transparent pixels, which the rendering without KeepAlpha keeps, are part of what
  // is compared.
  run.settings.KeepAlpha = false;
  run.settings.AutoRotate = false;
  run.settings.SizeMode = TSizeMode::Percent;
  run.settings.PercentSize = 100;
  run.settings.FrameOn = false;
  for (const TOutputFormatInfo& format : kOutputFormats) {
    const std::string out = dir.File("same-" + std::string(format.Item));
    ::mkdir(out.c_str(), 0755);
    run.settings.DestFolder = out;
    run.settings.OutputFormat = format.Format;
    run.Run(MakeStandardWorker);
    for (const TInput& in : kInputs) {
      const TFileOutcome& o = run.For(In(in.name));
      const std::string label = std::string(in.name) + " -> " + std::string(format.Item);
      ASSERT_TRUE(o.Written) << label << ": " << o.Error;
      int32_t w = 0, h = 0, ow = -1, oh = -1;
      const TRgb rendered = RenderedPixels(In(in.name), w, h);
      const TRgb written = DecodedPixels(o.Output, ow, oh);
      ASSERT_EQ(ow, w) << label;
      ASSERT_EQ(oh, h) << label;
      ASSERT_EQ(written.size(), rendered.size()) << label;
      EXPECT_LE(MeanDifference(rendered, written), ToleranceOf(WrittenExtension(in, format))) << label;
    }
  }
}

// A folder that was removed while it is still open: its path through /proc/self/fd still names
// a folder, but nothing can be created in it, not even by root, who ignores permissions.
class TRemovedFolder {
 public:
  explicit TRemovedFolder(const std::string& path) {
    ::mkdir(path.c_str(), 0755);
    fd_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::rmdir(path.c_str());
  }
  ~TRemovedFolder() {
    if (fd_ >= 0) ::close(fd_);
  }
  TRemovedFolder(const TRemovedFolder&) = delete;
  TRemovedFolder& operator=(const TRemovedFolder&) = delete;

  std::string Path() const { return "/proc/self/fd/" + std::to_string(fd_); }
  bool Usable() const { return fd_ >= 0 && DirectoryExists(Path()); }

 private:
  int fd_ = -1;
};

TEST_F(FormatMatrix, AnUnwritableDestinationFailsByNameAndWritesNothing) {
  const TRemovedFolder gone(dir.File("gone"));
  ASSERT_TRUE(gone.Usable()) << "the removed folder must still look like a folder";
  const std::vector<std::string> before = test::TTempDir::ListOf(dir.File("in"));
  run.settings.DestFolder = gone.Path();
  for (const bool overwrite : {false, true}) {
    run.settings.Overwrite = overwrite;
    for (const TOutputFormatInfo& format : kOutputFormats) {
      run.settings.OutputFormat = format.Format;
      run.Run(MakeStandardWorker);
      for (const TInput& in : kInputs) {
        const std::string label =
            std::string(in.name) + " -> " + std::string(format.Item) + (overwrite ? ", overwriting" : "");
        const TFileOutcome& o = run.For(In(in.name));
        EXPECT_FALSE(o.Written) << label;
        const std::string expected = IncludeTrailingSeparator(gone.Path()) + ChangeFileExt(in.name, WrittenExtension(in, format));
        EXPECT_NE(o.Error.find("Cannot create file \"" + expected + "\""), std::string::npos) << label << ": " << o.Error;
      }
    }
  }
  EXPECT_TRUE(run.messages.empty()) << "the destination exists, so the run starts";
  EXPECT_EQ(test::TTempDir::ListOf(dir.File("in")), before) << "nothing is written beside the sources";
  EXPECT_EQ(dir.List(), std::vector<std::string>{"in"}) << "nor anywhere else in the test's folder";
}

}  // namespace
}  // namespace pellavo
