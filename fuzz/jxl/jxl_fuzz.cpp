// The JPEG XL reader as a conversion worker meets it: any bytes, named *.jxl. libjxl is not
// instrumented; what is searched is our side of it (size checks, the row callback, the metadata
// boxes, the orientation).
//
//   fuzz/jxl/make_seeds.sh seeds
//   build-fuzz/fuzz/jxl/jxl_fuzz -dict=fuzz/jxl/jxl.dict -max_len=20000 -rss_limit_mb=2048 -timeout=10 corpus seeds
#include "support/picture_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pellavo::fuzz::ReadPictureFile(data, size, "jxl");
  return 0;
}
