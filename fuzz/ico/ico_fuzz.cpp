// The icon reader as a conversion worker meets it: any bytes, named *.ico. Icons draw by
// coverage, so the surface draws each one twice.
//
//   fuzz/ico/make_seeds.py seeds
//   build-fuzz/fuzz/ico/ico_fuzz -dict=fuzz/ico/ico.dict -max_len=65536 -rss_limit_mb=2048 -timeout=10 corpus seeds
#include "support/picture_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pellavo::fuzz::ReadPictureFile(data, size, "ico");
  return 0;
}
