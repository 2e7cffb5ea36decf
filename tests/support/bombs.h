#pragma once
// Tiny files, one per input format, whose headers claim images far larger than the default
// image limit. Each is a valid start of its format, so that only the size can refuse it.
#include <cstdint>
#include <string>
#include <vector>

namespace pellavo::test {

struct TBomb {
  const char* Extension;  // with the dot
  std::vector<uint8_t> Bytes;
  int32_t Width, Height;  // what the header claims
  // The claim is on the full-size decode; a JPEG decoded at a reduced scale is smaller.
  bool FullScaleOnly = false;
};

// GIF 30000 x 30000 in 35 bytes; PNG 20000 x 20000; EMF 65500 x 65500; JPEG 65500 x 65500;
// BMP 30000 x 30000; ICO holding a PNG of 20000 x 20000; and, made from the fixture in
// tests/data/jpeg2000, a JPEG 2000 codestream of 60000 x 60000; WebP 65536 x 32768; and AVIF
// and HEIC fixtures whose spatial extents say 30000 x 30000; a TIFF directory and a JPEG XL
// size header of 30000 x 30000.
std::vector<TBomb> Bombs();

// A grey PNG of w x h pixels, 8 bits, whose row y is grey (y + x) & 0xFF: row and column
// positions show in the pixels.
std::vector<uint8_t> GradientPng(uint32_t w, uint32_t h);

}  // namespace pellavo::test
