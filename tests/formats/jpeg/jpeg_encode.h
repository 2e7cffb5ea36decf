#pragma once
#include <cstdint>
#include <vector>

#include "core/stream.h"
#include "formats/jpeg/jpeg.h"
#include "formats/jpeg/jpeg_lib.h"

namespace pellavo::test {

// The bitmap as a JPEG file in memory, written by our own encoder.
inline std::vector<uint8_t> EncodeJpeg(const TBitmap& bitmap, int quality = 90, bool progressive = false,
                                       bool gray = false) {
  TJPEGImage jpeg;
  jpeg.SetJpegQuality(quality);
  jpeg.SetProgressiveOutput(progressive);
  jpeg.SetGrayOutput(gray);
  jpeg.Assign(bitmap);
  TMemoryStream s;
  jpeg.SaveToStream(s);
  return s.Take();
}

// How the library is asked to write a file: the kinds of JPEG that cameras and other programs
// make, which our own encoder never writes.
struct TJpegEncoding {
  int quality = 90;
  int restart_rows = 0;  // a restart interval of this many MCU rows; 0 for none
  int restart_mcus = 0;  // or of this many MCUs
  int luma_h = 1, luma_v = 1;  // the luma's sampling factors (chroma at 1 × 1): 2, 2 for 4:2:0
  bool optimize = false;
  bool progressive = false;  // the library's simple progressive script
  // A progressive script of its own instead: one DC scan for each component, refined in a
  // second. Unless all_bits, no refinement of the AC coefficients' last bit (with the simple
  // script as well: its last scan left out).
  bool dc_apart = false;
  bool all_bits = true;
  // Or a 4:2:0 script whose chroma comes in two bands, the first refined two bits at a time.
  bool chroma_bands = false;
  bool gray = false;         // one grey component
};

// RGB samples, three bytes a pixel from the top row, as a JPEG file written by the library.
inline std::vector<uint8_t> EncodeJpegRgb(int w, int h, const std::vector<uint8_t>& rgb, const TJpegEncoding& e) {
  std::vector<uint8_t> out;
  jpeg_detail::TCompressor comp(out);
  jpeg_compress_struct& c = comp.Info();
  c.image_width = JDIMENSION(w);
  c.image_height = JDIMENSION(h);
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  comp.Run([&] {
    jpeg_set_defaults(&c);
    if (e.gray) jpeg_set_colorspace(&c, JCS_GRAYSCALE);
    jpeg_set_quality(&c, e.quality, TRUE);
    for (int i = 0; i < c.num_components; ++i) {
      c.comp_info[i].h_samp_factor = i == 0 ? e.luma_h : 1;
      c.comp_info[i].v_samp_factor = i == 0 ? e.luma_v : 1;
    }
    c.restart_interval = unsigned(e.restart_mcus);
    c.restart_in_rows = e.restart_rows;
    c.optimize_coding = e.optimize ? TRUE : FALSE;
    if (e.progressive) {
      jpeg_simple_progression(&c);
      if (!e.all_bits) --c.num_scans;  // its last scan refines the AC coefficients' last bit
    }
    static const jpeg_scan_info kDcApart[] = {
        {1, {0}, 0, 0, 0, 1}, {1, {1}, 0, 0, 0, 1}, {1, {2}, 0, 0, 0, 1},   {1, {0}, 1, 63, 0, 1},
        {1, {1}, 1, 63, 0, 1}, {1, {2}, 1, 63, 0, 1}, {3, {0, 1, 2}, 0, 0, 1, 0}, {1, {0}, 1, 63, 1, 0},
        {1, {1}, 1, 63, 1, 0}, {1, {2}, 1, 63, 1, 0}};
    if (e.dc_apart) {
      c.scan_info = kDcApart;
      c.num_scans = e.all_bits ? 10 : 7;
    }
    static const jpeg_scan_info kChromaBands[] = {
        {3, {0, 1, 2}, 0, 0, 0, 2}, {1, {0}, 1, 63, 0, 0},     {1, {1}, 1, 5, 0, 2},   {1, {2}, 1, 5, 0, 2},
        {1, {1}, 6, 63, 0, 1},      {1, {2}, 6, 63, 0, 1},     {3, {0, 1, 2}, 0, 0, 2, 1}, {1, {1}, 1, 5, 2, 1},
        {1, {2}, 1, 5, 2, 1},       {3, {0, 1, 2}, 0, 0, 1, 0}, {1, {1}, 1, 5, 1, 0},   {1, {2}, 1, 5, 1, 0},
        {1, {1}, 6, 63, 1, 0},      {1, {2}, 6, 63, 1, 0}};
    if (e.chroma_bands) {
      c.scan_info = kChromaBands;
      c.num_scans = 14;
    }
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
      JSAMPROW row = const_cast<JSAMPROW>(&rgb[size_t(c.next_scanline) * size_t(w) * 3]);
      jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
  });
  return out;
}

}  // namespace pellavo::test
