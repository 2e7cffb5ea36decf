#pragma once
// A JPEG decoded at an eighth into BGRA pixels, as the row reader asks for it, two ways: by
// libjpeg alone and by the multi-core DC decoder. Shared by the tests, the fuzz target and the
// benchmark.
#include <unistd.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "formats/jpeg/jpeg_dc_scan.h"
#include "formats/jpeg/jpeg_lib.h"

namespace pellavo::test {

struct TEighth {
  bool taken = false;           // the DC decoder took the file (always for libjpeg)
  bool descriptor_kept = true;  // the DC decoder left the file where the library had read to
  std::vector<TColor32> pixels;
  int parts_decoded = 0;  // how many parts of the DC decoder the rows come from
};

// Reads the header and sets the decoder up as the row reader does for an eighth.
inline void SetUpEighth(jpeg_detail::TDecompressor& d) {
  d.ReadHeader();
  jpeg_decompress_struct& c = d.Info();
  c.scale_denom = 8;
  c.out_color_space = JCS_EXT_BGRA;
  d.Run([&] { jpeg_calc_output_dimensions(&c); });
}

// libjpeg alone, from a decompressor just made; throws EJPEG.
inline TEighth LibraryEighth(jpeg_detail::TDecompressor& d) {
  SetUpEighth(d);
  jpeg_decompress_struct& c = d.Info();
  d.Run([&] { jpeg_start_decompress(&c); });
  TEighth out{true, true, std::vector<TColor32>(size_t(c.output_width) * c.output_height)};
  while (c.output_scanline < c.output_height) {
    JSAMPROW row = reinterpret_cast<JSAMPROW>(&out.pixels[size_t(c.output_scanline) * c.output_width]);
    d.Run([&] { jpeg_read_scanlines(&c, &row, 1); });
  }
  d.Run([&] { jpeg_finish_decompress(&c); });
  return out;
}

// The DC decoder on an open file read from its start; not taken when it does not take the file,
// gives up, or the image has more than max_pixels at an eighth. Throws EJPEG for a bad header.
inline TEighth DcScanEighth(int fd, const jpeg_detail::TDcScanSplit& split,
                            uint64_t max_pixels = std::numeric_limits<uint64_t>::max()) {
  jpeg_detail::TDecompressor d(fd);
  SetUpEighth(d);
  const jpeg_decompress_struct& c = d.Info();
  TEighth out;
  if (!jpeg_detail::TDcScan::Takes(c) || uint64_t(c.output_width) * c.output_height > max_pixels) return out;
  const off_t read_to = ::lseek(fd, 0, SEEK_CUR);
  const auto scan = jpeg_detail::TDcScan::Decode(c, fd, int64_t(read_to) - int64_t(c.src->bytes_in_buffer), split);
  out.descriptor_kept = ::lseek(fd, 0, SEEK_CUR) == read_to;
  if (!scan) return out;
  out.taken = true;
  out.parts_decoded = scan->PartsDecoded();
  out.pixels.resize(size_t(scan->Width()) * size_t(scan->Height()));
  for (int32_t y = 0; y < scan->Height(); ++y) scan->ReadRow(y, &out.pixels[size_t(y) * size_t(scan->Width())]);
  return out;
}

}  // namespace pellavo::test
