// The WebP reader as a conversion worker meets it: any bytes, named *.webp. The library itself
// is not instrumented; what is searched is our side of it (size checks, animation, row order).
//
//   fuzz/make_modern_seeds.sh webp seeds
//   build-fuzz/fuzz/webp/webp_fuzz -dict=fuzz/webp/webp.dict -max_len=20000 -rss_limit_mb=2048 -timeout=10 corpus seeds
#include "support/picture_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pellavo::fuzz::ReadPictureFile(data, size, "webp");
  return 0;
}
