// The HEIF reader as a conversion worker meets it: any bytes, named *.heic. The libraries
// themselves are not instrumented; what is searched is our side of them (size checks, alpha,
// the ICC conversion).
//
//   fuzz/make_modern_seeds.sh heif seeds
//   build-fuzz/fuzz/heif/heif_fuzz -dict=fuzz/heif/heif.dict -max_len=20000 -rss_limit_mb=2048 -timeout=10 corpus seeds
#include "support/picture_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pellavo::fuzz::ReadPictureFile(data, size, "heic");
  return 0;
}
