#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/files.h"
#include "formats/pdf/pdf_writer.h"
#include "support/commands.h"
#include "support/images.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

using test::HaveTool;
using test::RunAndCapture;

using test::MakeBitmap32;
using test::ReadBytes;
using test::TTempDir;
using test::WriteBytes;

std::string Document(const TBitmap& bitmap) {
  TMemoryStream out;
  WritePdf(bitmap, out);
  const std::vector<uint8_t>& b = out.Bytes();
  return std::string(b.begin(), b.end());
}

TEST(PdfWriter, TwoByOneImageIsTheFixedLayoutByteForByte) {
  const TBitmap image = MakeBitmap32(2, 1, [](int x, int) {
    return x == 0 ? ArgbColor(0x00, 0x10, 0x20, 0x30) : ArgbColor(0x7F, 0xA0, 0x0A, 0xC0);
  });
  const std::string expected = std::string(
      "%PDF-1.2\n"
      "1 0 obj\n<<\n/Type /Catalog\n/Pages 2 0 R\n/OpenAction [3 0 R /XYZ -32768 -32768 1 ]\n>>\nendobj\n"
      "2 0 obj\n<<\n/Type /Pages\n/Kids [ 3 0 R ]\n/Count 1\n>>\nendobj\n"
      "3 0 obj\n<<\n/Type /Page\n/Parent 2 0 R\n/Resources\n<<\n/XObject << /Im0 4 0 R >>\n"
      "/ProcSet [ /PDF /ImageC ]\n>>\n/MediaBox [ 0 0 2 1 ]\n/Contents 5 0 R\n>>\nendobj\n"
      "4 0 obj\n<<\n/Type /XObject\n/Subtype /Image\n/Name /Im0\n/Width 2\n/Height 1\n/BitsPerComponent 8\n"
      "/Filter []\n/ColorSpace /DeviceRGB\n/Length 6 >>\nstream\n") +
      "\x10\x20\x30\xA0\x0A\xC0" +
      "endstream\nendobj\n"
      "5 0 obj\n<< /Length 27 >>\nstream\nq\n2 0 0 1 0 0 cm\n/Im0 Do\nQ\nendstream\nendobj\n"
      "xref\n0 6\n0000000000 65535 f \n0000000009 00000 n \n0000000100 00000 n \n0000000159 00000 n \n"
      "0000000313 00000 n \n0000000482 00000 n \n"
      "trailer\n<<\n/Size 6\n/Root 1 0 R\n>>\nstartxref\n558\n%%EOF";
  ASSERT_EQ(expected.size(), 740u);
  EXPECT_EQ(Document(image), expected);
}

TEST(PdfWriter, OffsetsAndLengthsFollowTheImageSize) {
  struct Case {
    int32_t w, h;
    std::vector<int64_t> objects;
    int64_t xref, content_length, image_length, size;
  };
  const Case cases[] = {
      {2, 1, {9, 100, 159, 313, 482}, 558, 27, 6, 740},
      {640, 480, {9, 100, 159, 317, 922089}, 922169, 31, 921600, 922354},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h));
    const std::string pdf = Document(MakeBitmap32(c.w, c.h, test::PatternPixel));
    ASSERT_EQ(static_cast<int64_t>(pdf.size()), c.size);
    for (size_t i = 0; i < c.objects.size(); ++i)
      EXPECT_EQ(pdf.compare(size_t(c.objects[i]), 8, std::to_string(i + 1) + " 0 obj\n"), 0) << "object " << i + 1;
    EXPECT_EQ(pdf.compare(size_t(c.xref), 5, "xref\n"), 0);
    // The table and startxref say the same.
    std::string table = "xref\n0 6\n0000000000 65535 f \n";
    for (int64_t at : c.objects) {
      char entry[32];
      std::snprintf(entry, sizeof entry, "%010lld 00000 n \n", static_cast<long long>(at));
      table += entry;
    }
    EXPECT_EQ(pdf.compare(size_t(c.xref), table.size(), table), 0);
    const std::string end = "startxref\n" + std::to_string(c.xref) + "\n%%EOF";
    EXPECT_EQ(pdf.compare(pdf.size() - end.size(), end.size(), end), 0);
    EXPECT_NE(pdf.find("/Length " + std::to_string(c.image_length) + " >>\nstream\n"), std::string::npos);
    EXPECT_NE(pdf.find("<< /Length " + std::to_string(c.content_length) + " >>\n"), std::string::npos);
    // The samples are followed directly by endstream.
    const size_t samples = pdf.find("stream\n", size_t(c.objects[3])) + 7;
    EXPECT_EQ(pdf.compare(samples + size_t(c.image_length), 10, "endstream\n"), 0);
  }
}

TEST(PdfWriter, SamplesAreTopRowFirstRgbWhateverTheStorage) {
  // Pixel (x, y) with an alpha that must not matter.
  const TBitmap rgba = MakeBitmap32(3, 2, [](int x, int y) {
    return ArgbColor(uint8_t(x * 100 + y), uint8_t(10 * x + 1), uint8_t(20 * y + 2), uint8_t(x + 3 * y + 3));
  });
  const TBitmap opaque = MakeBitmap32(3, 2, [](int x, int y) {
    return ArgbColor(0xFF, uint8_t(10 * x + 1), uint8_t(20 * y + 2), uint8_t(x + 3 * y + 3));
  });
  TBitmap bgr = opaque;
  bgr.SetPixelFormat(TPixelFormat::pf24bit);
  const std::string doc = Document(rgba);
  EXPECT_EQ(doc, Document(bgr));
  EXPECT_EQ(doc, Document(opaque));

  const size_t samples = doc.find("stream\n", doc.find("4 0 obj")) + 7;
  const std::string expected_rgb = {1, 2, 3, 11, 2, 4, 21, 2, 5, 1, 22, 6, 11, 22, 7, 21, 22, 8};
  EXPECT_EQ(doc.substr(samples, expected_rgb.size()), expected_rgb);

  // A palette bitmap gives its colours, not its indexes.
  TBitmap indexed(2, 1, TPixelFormat::pf8bit);
  indexed.SetPalette(std::vector<TRGBQuad>(256, TRGBQuad{0x33, 0x22, 0x11, 0}));
  const std::string pal = Document(indexed);
  EXPECT_EQ(pal.substr(pal.find("stream\n", pal.find("4 0 obj")) + 7, 6), "\x11\x22\x33\x11\x22\x33");
}

TEST(PdfWriter, WritesAtTheStreamPositionWithOffsetsFromTheDocumentStart) {
  const TBitmap image = MakeBitmap32(4, 3, test::PatternPixel);
  TMemoryStream out;
  out.Write("prefix", 6);
  WritePdf(image, out);
  const std::vector<uint8_t>& b = out.Bytes();
  EXPECT_EQ(std::string(b.begin() + 6, b.end()), Document(image));
}

TEST(PdfWriter, RefusesBadArgumentsAndHugeDocumentsBeforeWriting) {
  TTempDir dir;
  const std::string path = dir.File("out.pdf");
  const TBitmap small = MakeBitmap32(1, 1, test::PatternPixel);
  try {
    BmpToPdf(nullptr, "");
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Bitmap is nil");
  }
  try {
    BmpToPdf(&small, "");
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "SaveName is nil");
  }

  // 715 827 883 pixels: the samples alone pass 2 GiB. A 1-bit bitmap keeps the test small.
  const TBitmap huge(65536, 10923, TPixelFormat::pf1bit);
  TMemoryStream out;
  EXPECT_THROW(WritePdf(huge, out), Exception);
  EXPECT_EQ(out.Size(), 0);
  EXPECT_THROW(BmpToPdf(&huge, path), Exception);
  EXPECT_TRUE(dir.List().empty());
}

TEST(PdfWriter, ReplacesAnExistingFile) {
  TTempDir dir;
  const std::string path = dir.File("page.pdf");
  WriteBytes(path, std::vector<uint8_t>(5000, 'x'));
  const TBitmap image = MakeBitmap32(2, 1, test::PatternPixel);
  BmpToPdf(&image, path);
  const std::vector<uint8_t> written = ReadBytes(path);
  EXPECT_EQ(std::string(written.begin(), written.end()), Document(image));
  EXPECT_EQ(dir.List(), std::vector<std::string>{"page.pdf"});
}


// The value of "Name:   value" in pdfinfo's report.
std::string InfoField(const std::string& info, const std::string& name) {
  const size_t at = info.find("\n" + name + ":");
  if (at == std::string::npos) return {};
  const size_t begin = info.find_first_not_of(' ', at + name.size() + 2);
  return info.substr(begin, info.find('\n', begin) - begin);
}

TEST(PdfWriter, PopplerSeesAPageOfTheImageSizeShowingItsPixels) {
  if (!HaveTool("pdfinfo") || !HaveTool("pdftoppm")) GTEST_SKIP() << "poppler-utils not installed";
  TTempDir dir;
  const int32_t w = 13, h = 7;
  const TBitmap image = MakeBitmap32(w, h, [](int x, int y) {
    return ArgbColor(uint8_t(x * 37), uint8_t(x * 19), uint8_t(y * 36), uint8_t((x * y * 29) ^ 0x55));
  });
  BmpToPdf(&image, dir.File("page.pdf"));

  const std::string info = RunAndCapture("pdfinfo '" + dir.File("page.pdf") + "' 2>&1");
  EXPECT_EQ(InfoField(info, "Pages"), "1") << info;
  EXPECT_EQ(InfoField(info, "Page size"), "13 x 7 pts") << info;
  EXPECT_EQ(InfoField(info, "PDF version"), "1.2") << info;

  // Rendered ten times larger the reader smooths only near block edges, so each block's centre
  // shows its pixel exactly.
  const int scale = 10;
  ASSERT_EQ(std::system(("pdftoppm -r 720 -singlefile '" + dir.File("page.pdf") + "' '" + dir.File("page") + "'").c_str()),
            0);
  const std::vector<uint8_t> ppm = ReadBytes(dir.File("page.ppm"));
  const std::string header = "P6\n130 70\n255\n";
  ASSERT_GE(ppm.size(), header.size());
  ASSERT_EQ(std::string(ppm.begin(), ppm.begin() + long(header.size())), header);
  ASSERT_EQ(ppm.size(), header.size() + size_t(w * h * 3 * scale * scale));
  const std::vector<TColor32> expected = test::Pixels(image);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const size_t at = size_t((y * scale + scale / 2) * w * scale + x * scale + scale / 2);
      const uint8_t* p = ppm.data() + header.size() + 3 * at;
      EXPECT_EQ(ArgbColor(0, p[0], p[1], p[2]), expected[size_t(y * w + x)] & 0xFFFFFF) << "pixel " << x << "," << y;
    }
}

}  // namespace
}  // namespace pellavo
