#include "formats/png/reference_png.h"

#include <png.h>

#include <cstring>
#include <memory>
#include <stdexcept>

namespace pellavo::test {
namespace {

struct TReadCursor {
  const std::vector<uint8_t>* Bytes;
  size_t At;
};

void ReadFn(png_structp png, png_bytep out, png_size_t n) {
  auto* c = static_cast<TReadCursor*>(png_get_io_ptr(png));
  if (c->At + n > c->Bytes->size()) png_error(png, "read past the end");
  std::memcpy(out, c->Bytes->data() + c->At, n);
  c->At += n;
}

void WriteFn(png_structp png, png_bytep data, png_size_t n) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + n);
}

void FlushFn(png_structp) {}

// libpng reports errors by a long jump back into Guarded; only libpng calls run in between, so
// no destructor is skipped.
std::string g_last_error;  // only the test thread uses libpng
void ErrorFn(png_structp png, png_const_charp message) {
  g_last_error = message;
  png_longjmp(png, 1);
}
void WarningFn(png_structp, png_const_charp) {}

template <class F>
void Guarded(png_structp png, F&& f) {
  if (setjmp(png_jmpbuf(png))) throw std::runtime_error("libpng: " + g_last_error);
  f();
}

struct TReader {
  png_structp png = nullptr;
  png_infop info = nullptr;
  TReader() {
    png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, ErrorFn, WarningFn);
    info = png_create_info_struct(png);
  }
  ~TReader() { png_destroy_read_struct(&png, &info, nullptr); }
};

struct TWriter {
  png_structp png = nullptr;
  png_infop info = nullptr;
  TWriter() {
    png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, ErrorFn, WarningFn);
    info = png_create_info_struct(png);
  }
  ~TWriter() { png_destroy_write_struct(&png, &info); }
};

}  // namespace

TReferenceImage ReferenceDecode(const std::vector<uint8_t>& bytes) {
  TReader r;
  TReadCursor cursor{&bytes, 0};
  png_set_read_fn(r.png, &cursor, ReadFn);
  png_fixed_point gamma = 0;
  Guarded(r.png, [&] {
    png_read_info(r.png, r.info);
    png_get_gAMA_fixed(r.png, r.info, &gamma);
    png_set_expand(r.png);  // palette to RGB, low depths to 8 bits, tRNS to alpha
    png_set_strip_16(r.png);
    png_set_gray_to_rgb(r.png);
    png_set_filler(r.png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(r.png);
    png_read_update_info(r.png, r.info);
  });
  TReferenceImage image;
  image.Width = png_get_image_width(r.png, r.info);
  image.Height = png_get_image_height(r.png, r.info);
  image.Gamma = static_cast<uint32_t>(gamma);
  if (png_get_rowbytes(r.png, r.info) != size_t{image.Width} * 4) throw std::runtime_error("unexpected row layout");

  std::vector<uint8_t> rgba(size_t{image.Width} * image.Height * 4);
  std::vector<png_bytep> rows(image.Height);
  for (uint32_t y = 0; y < image.Height; ++y) rows[y] = rgba.data() + size_t{y} * image.Width * 4;
  Guarded(r.png, [&] {
    png_read_image(r.png, rows.data());
    png_read_end(r.png, nullptr);
  });

  image.Pixels.resize(size_t{image.Width} * image.Height);
  for (size_t i = 0; i < image.Pixels.size(); ++i)
    image.Pixels[i] = ArgbColor(rgba[4 * i + 3], rgba[4 * i], rgba[4 * i + 1], rgba[4 * i + 2]);
  return image;
}

std::vector<uint8_t> ReferenceInterlacedCopy(const std::vector<uint8_t>& bytes) {
  TReader r;
  TReadCursor cursor{&bytes, 0};
  png_set_read_fn(r.png, &cursor, ReadFn);
  png_uint_32 w = 0, h = 0;
  int depth = 0, type = 0, interlace = 0, compression = 0, filter = 0;
  Guarded(r.png, [&] {
    png_read_info(r.png, r.info);
    png_get_IHDR(r.png, r.info, &w, &h, &depth, &type, &interlace, &compression, &filter);
    png_set_interlace_handling(r.png);
    png_read_update_info(r.png, r.info);
  });
  const size_t row_bytes = png_get_rowbytes(r.png, r.info);
  std::vector<uint8_t> pixels(row_bytes * h);
  std::vector<png_bytep> rows(h);
  for (png_uint_32 y = 0; y < h; ++y) rows[y] = pixels.data() + y * row_bytes;
  Guarded(r.png, [&] { png_read_image(r.png, rows.data()); });

  std::vector<uint8_t> out;
  TWriter wr;
  png_set_write_fn(wr.png, &out, WriteFn, FlushFn);
  Guarded(wr.png, [&] {
  png_set_IHDR(wr.png, wr.info, w, h, depth, type, PNG_INTERLACE_ADAM7, compression, filter);
  png_colorp palette;
  int palette_count;
  if (png_get_PLTE(r.png, r.info, &palette, &palette_count)) png_set_PLTE(wr.png, wr.info, palette, palette_count);
  png_bytep trans_alpha;
  int trans_count;
  png_color_16p trans_color;
  if (png_get_tRNS(r.png, r.info, &trans_alpha, &trans_count, &trans_color))
    png_set_tRNS(wr.png, wr.info, trans_alpha, trans_count, trans_color);
  png_fixed_point gamma;
  if (png_get_gAMA_fixed(r.png, r.info, &gamma)) png_set_gAMA_fixed(wr.png, wr.info, gamma);
  png_write_info(wr.png, wr.info);
  png_set_interlace_handling(wr.png);
  png_write_image(wr.png, rows.data());
  png_write_end(wr.png, nullptr);
  });
  return out;
}

}  // namespace pellavo::test
