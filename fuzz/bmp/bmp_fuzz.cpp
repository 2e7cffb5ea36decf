// The BMP reader as a conversion worker meets it: any bytes, named *.bmp.
//
//   fuzz/bmp/make_seeds.py seeds
//   build-fuzz/fuzz/bmp/bmp_fuzz -dict=fuzz/bmp/bmp.dict -max_len=270000 -rss_limit_mb=2048 -timeout=10 corpus seeds
#include "support/picture_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pellavo::fuzz::ReadPictureFile(data, size, "bmp");
  return 0;
}
