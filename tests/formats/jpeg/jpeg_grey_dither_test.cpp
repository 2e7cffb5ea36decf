#include "formats/jpeg/jpeg_grey_dither.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "formats/jpeg/jpeg_encode.h"
#include "formats/jpeg/jpeg_lib.h"

namespace pellavo {
namespace {

using Bytes = std::vector<uint8_t>;

// The file's rows as the library decodes them, grey levels or quantised to colours.
Bytes LibraryGrey(const Bytes& file, int colours, J_DITHER_MODE dither, std::vector<uint8_t>* map = nullptr) {
  jpeg_detail::TDecompressor d(file.data(), file.size());
  d.ReadHeader();
  jpeg_decompress_struct& c = d.Info();
  c.out_color_space = JCS_GRAYSCALE;
  if (colours > 0) {
    c.quantize_colors = TRUE;
    c.desired_number_of_colors = colours;
    c.dither_mode = dither;
  }
  d.Run([&] { jpeg_start_decompress(&c); });
  Bytes out(size_t(c.output_width) * c.output_height);
  while (c.output_scanline < c.output_height) {
    JSAMPROW row = &out[size_t(c.output_scanline) * c.output_width];
    d.Run([&] { jpeg_read_scanlines(&c, &row, 1); });
  }
  if (map) map->assign(c.colormap[0], c.colormap[0] + c.actual_number_of_colors);
  d.Run([&] { jpeg_finish_decompress(&c); });
  return out;
}

// Our quantiser on the library's grey levels gives the library's own quantised rows, its errors
// carried across rows in both directions, and the same colour map.
TEST(JpegGreyDither, QuantisesAsTheLibraryDoes) {
  const int w = 97, h = 41;
  Bytes rgb(size_t(w) * h * 3);
  std::mt19937 random(9);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int k = 0; k < 3; ++k)
        rgb[(size_t(y) * w + size_t(x)) * 3 + size_t(k)] = uint8_t(std::clamp(int(x * 255 / (w - 1)) + int(random() % 41) - 20, 0, 255));
  const Bytes file = test::EncodeJpegRgb(w, h, rgb, {.quality = 95, .gray = true});
  const Bytes levels = LibraryGrey(file, 0, JDITHER_NONE);
  struct Case {
    int colours;
    J_DITHER_MODE dither;
  };
  for (const Case c : {Case{236, JDITHER_FS}, Case{2, JDITHER_FS}, Case{17, JDITHER_FS}, Case{256, JDITHER_FS},
                       Case{236, JDITHER_NONE}, Case{5, JDITHER_NONE}}) {
    SCOPED_TRACE(std::to_string(c.colours) + " colours, dither " + std::to_string(int(c.dither)));
    std::vector<uint8_t> map;
    const Bytes want = LibraryGrey(file, c.colours, c.dither, &map);
    jpeg_detail::TGreyDither dither(c.colours, c.dither, w);
    EXPECT_EQ(dither.Ramp(), map);
    Bytes got(levels.size());
    for (int y = 0; y < h; ++y) dither.Row(&levels[size_t(y) * w], &got[size_t(y) * w]);
    EXPECT_EQ(got, want);
  }
}

}  // namespace
}  // namespace pellavo
