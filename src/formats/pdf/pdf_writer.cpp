#include "formats/pdf/pdf_writer.h"

#include <cinttypes>
#include <cstdio>
#include <vector>

#include "core/errors.h"
#include "core/files.h"
#include "core/limits.h"

namespace pellavo {
namespace {

constexpr int kObjectCount = 5;

std::string Format(const char* format, int64_t a) {
  char text[64];
  std::snprintf(text, sizeof text, format, a);
  return text;
}

std::string Format(const char* format, int64_t a, int64_t b) {
  char text[96];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

// Text accumulated with the offset each object starts at, counted from the document's start.
class TPdfText {
 public:
  explicit TPdfText(int64_t start) : start_(start) {}
  void Line(const std::string& line) {
    text_ += line;
    text_ += '\n';
  }
  int64_t Offset() const { return start_ + static_cast<int64_t>(text_.size()); }
  const std::string& Text() const { return text_; }
  void Raw(const std::string& bytes) { text_ += bytes; }

 private:
  int64_t start_;
  std::string text_;
};

// The content stream that maps the image onto the whole page.
std::string ContentStream(int32_t w, int32_t h) {
  return "q\n" + Format("%" PRId64 " 0 0 %" PRId64 " 0 0 cm\n", w, h) + "/Im0 Do\nQ\n";
}

void WriteContentObject(TPdfText& pdf, int number, int32_t w, int32_t h) {
  const std::string content = ContentStream(w, h);
  pdf.Line(Format("%" PRId64 " 0 obj", number));
  pdf.Line(Format("<< /Length %" PRId64 " >>", static_cast<int64_t>(content.size())));
  pdf.Line("stream");
  pdf.Raw(content);
  pdf.Line("endstream");
  pdf.Line("endobj");
}

void WriteXref(TPdfText& pdf, const int64_t (&offsets)[kObjectCount + 1], int count) {
  pdf.Line("xref");
  pdf.Line(Format("0 %" PRId64, count + 1));
  pdf.Line("0000000000 65535 f ");
  for (int i = 0; i < count; ++i) pdf.Line(Format("%010" PRId64 " 00000 n ", offsets[i]));
}

// Streams the samples row by row, top row first, as red, green, blue: the same bytes a 24-bit
// copy of the bitmap would give, without holding that copy or the whole block in memory.
void WriteRgbData(const TBitmap& bitmap, TStream& out) {
  const auto w = static_cast<size_t>(bitmap.Width());
  std::vector<TColor32> line(w);
  std::vector<uint8_t> rgb(w * 3);
  for (int32_t y = 0; y < bitmap.Height(); ++y) {
    bitmap.ReadRow32(y, line.data());
    for (size_t x = 0; x < w; ++x) {
      rgb[3 * x] = RedOf(line[x]);
      rgb[3 * x + 1] = GreenOf(line[x]);
      rgb[3 * x + 2] = BlueOf(line[x]);
    }
    out.WriteBuffer(rgb.data(), rgb.size());
  }
}

}  // namespace

void WritePdf(const TBitmap& bitmap, TStream& out) {
  const int32_t w = bitmap.Width();
  const int32_t h = bitmap.Height();
  const int64_t sample_bytes = int64_t{w} * int64_t{h} * 3;
  int64_t offsets[kObjectCount + 1] = {};

  // Everything up to the image samples.
  TPdfText head(0);
  head.Line("%PDF-1.2");
  offsets[0] = head.Offset();
  head.Line("1 0 obj");
  head.Line("<<");
  head.Line("/Type /Catalog");
  head.Line("/Pages 2 0 R");
  head.Line("/OpenAction [3 0 R /XYZ -32768 -32768 1 ]");
  head.Line(">>");
  head.Line("endobj");
  offsets[1] = head.Offset();
  head.Line("2 0 obj");
  head.Line("<<");
  head.Line("/Type /Pages");
  head.Line("/Kids [ 3 0 R ]");
  head.Line("/Count 1");
  head.Line(">>");
  head.Line("endobj");
  offsets[2] = head.Offset();
  head.Line("3 0 obj");
  head.Line("<<");
  head.Line("/Type /Page");
  head.Line("/Parent 2 0 R");
  head.Line("/Resources");
  head.Line("<<");
  head.Line("/XObject << /Im0 4 0 R >>");
  head.Line("/ProcSet [ /PDF /ImageC ]");
  head.Line(">>");
  head.Line(Format("/MediaBox [ 0 0 %" PRId64 " %" PRId64 " ]", w, h));
  head.Line("/Contents 5 0 R");
  head.Line(">>");
  head.Line("endobj");
  offsets[3] = head.Offset();
  head.Line("4 0 obj");
  head.Line("<<");
  head.Line("/Type /XObject");
  head.Line("/Subtype /Image");
  head.Line("/Name /Im0");
  head.Line(Format("/Width %" PRId64, w));
  head.Line(Format("/Height %" PRId64, h));
  head.Line("/BitsPerComponent 8");
  head.Line("/Filter []");
  head.Line("/ColorSpace /DeviceRGB");
  head.Line(Format("/Length %" PRId64 " >>", sample_bytes));
  head.Line("stream");

  // Everything after them; its offsets depend only on the sizes before it.
  TPdfText tail(head.Offset() + sample_bytes);
  tail.Line("endstream");
  tail.Line("endobj");
  offsets[4] = tail.Offset();
  WriteContentObject(tail, 5, w, h);
  offsets[5] = tail.Offset();
  WriteXref(tail, offsets, kObjectCount);
  tail.Line("trailer");
  tail.Line("<<");
  tail.Line(Format("/Size %" PRId64, kObjectCount + 1));
  tail.Line("/Root 1 0 R");
  tail.Line(">>");
  tail.Line("startxref");
  tail.Line(Format("%" PRId64, offsets[5]));
  tail.Raw("%%EOF");

  if (tail.Offset() > kMaxPdfDocumentBytes)
    throw Exception("Image too large for a PDF document (" + std::to_string(w) + " x " + std::to_string(h) +
                    " pixels): PDF offsets are limited to 2 GiB");

  out.WriteBuffer(head.Text().data(), head.Text().size());
  WriteRgbData(bitmap, out);
  out.WriteBuffer(tail.Text().data(), tail.Text().size());
}

void BmpToPdf(const TBitmap* Bitmap, const std::string& SaveName) {
  if (!Bitmap) throw Exception("Bitmap is nil");
  if (SaveName.empty()) throw Exception("SaveName is nil");
  TSafeOutput output(SaveName, true);
  WritePdf(*Bitmap, output.Stream());
  output.Commit();
}

}  // namespace pellavo
