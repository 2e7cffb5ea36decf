// Differential: wherever the multi-core decoder of large baseline JPEGs at an eighth takes a file,
// its pixels must be the library's, and the library must decode the file without an error. Any
// bytes; the split into parts comes from the input's length so that every split is searched.
//
//   fuzz/jpeg/make_seeds.sh seeds
//   build-fuzz/fuzz/jpeg/jpeg_dc_scan_fuzz -dict=fuzz/jpeg/jpeg.dict -max_len=20000 -rss_limit_mb=2048 -timeout=10 corpus seeds
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "formats/jpeg/jpeg.h"
#include "formats/jpeg/jpeg_dc_scan.h"
#include "formats/jpeg/jpeg_lib.h"

namespace {

using pellavo::TColor32;
using namespace pellavo::jpeg_detail;

// Scale an eighth, BGRA rows: the set-up under which the row reader hands a file over.
void SetUp(jpeg_decompress_struct& c) {
  c.scale_denom = 8;
  c.out_color_space = JCS_EXT_BGRA;
}

std::vector<TColor32> Ours(int fd, const TDcScanSplit& split, bool& taken) {
  taken = false;
  TDecompressor d(fd);
  d.ReadHeader();
  jpeg_decompress_struct& c = d.Info();
  SetUp(c);
  d.Run([&] { jpeg_calc_output_dimensions(&c); });
  if (!TDcScan::Takes(c) || uint64_t(c.output_width) * c.output_height > (uint64_t{1} << 20)) return {};
  const int64_t scan_start = int64_t(::lseek(fd, 0, SEEK_CUR)) - int64_t(c.src->bytes_in_buffer);
  const auto scan = TDcScan::Decode(c, fd, scan_start, split);
  if (!scan) return {};
  taken = true;
  std::vector<TColor32> pixels(size_t(scan->Width()) * size_t(scan->Height()));
  for (int32_t y = 0; y < scan->Height(); ++y) scan->ReadRow(y, &pixels[size_t(y) * size_t(scan->Width())]);
  return pixels;
}

std::vector<TColor32> Library(const uint8_t* data, size_t size) {
  TDecompressor d(data, size);
  d.ReadHeader();
  jpeg_decompress_struct& c = d.Info();
  SetUp(c);
  d.Run([&] { jpeg_start_decompress(&c); });
  std::vector<TColor32> pixels(size_t(c.output_width) * c.output_height);
  while (c.output_scanline < c.output_height) {
    JSAMPROW row = reinterpret_cast<JSAMPROW>(&pixels[size_t(c.output_scanline) * c.output_width]);
    d.Run([&] { jpeg_read_scanlines(&c, &row, 1); });
  }
  d.Run([&] { jpeg_finish_decompress(&c); });
  return pixels;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = memfd_create("jpeg", 0);
  if (fd < 0) return 0;
  if (size > 0 && ::write(fd, data, size) != ssize_t(size)) {
    ::close(fd);
    return 0;
  }
  ::lseek(fd, 0, SEEK_SET);
  const TDcScanSplit split{int(1 + size % 4), 1, size % 3 == 0 ? size_t{1} : size_t{1} << 16};
  bool taken = false;
  std::vector<TColor32> ours;
  try {
    ours = Ours(fd, split, taken);
  } catch (const pellavo::EJPEG&) {
  }
  ::close(fd);
  if (!taken) return 0;
  std::vector<TColor32> reference;
  try {
    reference = Library(data, size);
  } catch (const pellavo::EJPEG&) {
    std::abort();  // taken where the library fails
  }
  if (ours != reference) std::abort();
  return 0;
}
