#include "support/images.h"

#include <cstdlib>

namespace pellavo::test {

TColor32 PatternPixel(int32_t x, int32_t y) {
  return ArgbColor(0xFF, uint8_t(x * 7 + y * 3), uint8_t(x * 13 ^ y * 5), uint8_t((x + y) * 11));
}

void WritePatternBmp(const std::string& path, int32_t w, int32_t h) {
  TBitmap b = MakeBitmap32(w, h, PatternPixel);
  b.SetPixelFormat(TPixelFormat::pf24bit);
  b.WriteToFile(path);
}

std::vector<TColor32> Pixels(const TBitmap& b) {
  std::vector<TColor32> out(size_t(b.Width()) * size_t(b.Height()));
  for (int32_t y = 0; y < b.Height(); ++y) b.ReadRow32(y, out.data() + size_t(y) * size_t(b.Width()));
  return out;
}

double MeanRgbDifference(const std::vector<TColor32>& a, const std::vector<TColor32>& b) {
  if (a.size() != b.size()) return 255;
  int64_t sum = 0;
  for (size_t i = 0; i < a.size(); ++i)
    for (int shift : {0, 8, 16}) sum += std::abs(int((a[i] >> shift) & 0xFF) - int((b[i] >> shift) & 0xFF));
  return a.empty() ? 0 : double(sum) / double(3 * a.size());
}

TColor32 SmoothPixel(int32_t x, int32_t y) {
  return ArgbColor(0xFF, uint8_t(4 * x), uint8_t(5 * y), uint8_t(255 - 2 * (x + y)));
}

}  // namespace pellavo::test
