// The TIFF reader as a conversion worker meets it: any bytes, named *.tif. libtiff and exiv2
// are not instrumented; what is searched is our side of them (size checks, bands of rows, the
// CMYK and straight-alpha routines, orientation, pages).
//
//   fuzz/tiff/make_seeds.sh seeds
//   build-fuzz/fuzz/tiff/tiff_fuzz -dict=fuzz/tiff/tiff.dict -max_len=20000 -rss_limit_mb=2048 -timeout=10 corpus seeds
#include "support/picture_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pellavo::fuzz::ReadPictureFile(data, size, "tif");
  return 0;
}
