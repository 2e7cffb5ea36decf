// Differential: wherever the multi-core decoder of large baseline JPEGs at an eighth takes a file,
// its pixels must be the library's, and the library must decode the file without an error. Any
// bytes; the split into parts comes from the input's length so that every split is searched.
//
//   fuzz/jpeg/make_seeds.sh seeds
//   build-fuzz/fuzz/jpeg/jpeg_dc_scan_fuzz -dict=fuzz/jpeg/jpeg.dict -max_len=20000 -rss_limit_mb=2048 -timeout=10 corpus seeds
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>

#include "formats/jpeg/jpeg.h"
#include "formats/jpeg/jpeg_eighth.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace pellavo;
  const int fd = memfd_create("jpeg", 0);
  if (fd < 0) return 0;
  if (size > 0 && ::write(fd, data, size) != ssize_t(size)) {
    ::close(fd);
    return 0;
  }
  ::lseek(fd, 0, SEEK_SET);
  const jpeg_detail::TDcScanSplit split{int(1 + size % 4), 1, size % 3 == 0 ? size_t{1} : size_t{1} << 16};
  test::TEighth ours;
  try {
    ours = test::DcScanEighth(fd, split, uint64_t{1} << 20);
  } catch (const EJPEG&) {
  }
  ::close(fd);
  if (!ours.taken) return 0;
  try {
    jpeg_detail::TDecompressor d(data, size);
    if (test::LibraryEighth(d).pixels != ours.pixels) std::abort();
  } catch (const EJPEG&) {
    std::abort();  // taken where the library fails
  }
  return 0;
}
