// The AVIF reader as a conversion worker meets it: any bytes, named *.avif. The libraries
// themselves are not instrumented; what is searched is our side of them (size checks, alpha,
// rotation and mirroring).
//
//   fuzz/make_modern_seeds.sh avif seeds
//   build-fuzz/fuzz/avif/avif_fuzz -dict=fuzz/avif/avif.dict -max_len=20000 -rss_limit_mb=2048 -timeout=10 corpus seeds
#include "support/picture_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pellavo::fuzz::ReadPictureFile(data, size, "avif");
  return 0;
}
