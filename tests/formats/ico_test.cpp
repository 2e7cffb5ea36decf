#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/errors.h"
#include "core/stream.h"
#include "formats/ico/icon.h"

namespace pellavo {
namespace {

void Add16(std::vector<uint8_t>& f, uint32_t v) {
  for (int s = 0; s < 16; s += 8) f.push_back(uint8_t(v >> s));
}

void Add32(std::vector<uint8_t>& f, uint32_t v) {
  for (int s = 0; s < 32; s += 8) f.push_back(uint8_t(v >> s));
}

// A one-image icon of a w x h image at 1 or 32 bits, black but for a white top-right pixel,
// with an AND mask that keeps nothing of the target, or none.
std::vector<uint8_t> ThinIcon(int32_t w, int32_t h, uint32_t bpp, bool mask) {
  std::vector<uint8_t> dib;
  Add32(dib, 40);
  Add32(dib, uint32_t(w));
  Add32(dib, uint32_t(2 * h));
  Add16(dib, 1);
  Add16(dib, bpp);
  dib.resize(40, 0);
  if (bpp == 1) {
    for (uint32_t c : {0xFF000000u, 0xFFFFFFFFu}) Add32(dib, c);
  }
  const size_t xor_row = (size_t(w) * bpp + 31) / 32 * 4, and_row = (size_t(w) + 31) / 32 * 4;
  std::vector<uint8_t> xor_bits(xor_row * size_t(h), 0);
  uint8_t* top = &xor_bits[xor_row * size_t(h - 1)];  // rows are stored bottom-up
  if (bpp == 1) {
    top[(w - 1) / 8] |= uint8_t(0x80 >> ((w - 1) % 8));
  } else {
    for (size_t i = 3; i < xor_bits.size(); i += 4) xor_bits[i] = 0xFF;  // opaque black
    for (int c = 0; c < 3; ++c) top[4 * (w - 1) + c] = 0xFF;
  }
  dib.insert(dib.end(), xor_bits.begin(), xor_bits.end());
  if (mask) dib.resize(dib.size() + and_row * size_t(h), 0);

  std::vector<uint8_t> f = {0, 0, 1, 0, 1, 0, uint8_t(w), uint8_t(h), 0, 0};
  Add16(f, 1);
  Add16(f, bpp);
  Add32(f, uint32_t(dib.size()));
  Add32(f, 22);
  f.insert(f.end(), dib.begin(), dib.end());
  return f;
}

TEST(Icon, ThinImagesAtTheSizeLimitDrawWhole) {
  for (const int32_t n : {1, 4096}) {
    for (const bool tall : {true, false}) {
      for (const uint32_t bpp : {1u, 32u}) {
        for (const bool mask : {true, false}) {
          const int32_t w = tall ? 1 : n, h = tall ? n : 1;
          const std::string what = std::to_string(w) + " x " + std::to_string(h) + " at " +
                                   std::to_string(bpp) + (mask ? " with mask" : " without mask");
          TMemoryStream in(ThinIcon(w, h, bpp, mask));
          TIcon icon;
          icon.LoadFromStream(in);
          if (icon.Width() != w || icon.Height() != h) {
            ADD_FAILURE() << what << " read as " << icon.Width() << " x " << icon.Height();
            continue;
          }
          std::vector<TColor32> target(size_t(w) * size_t(h), 0xFF123456u);
          icon.Draw(TPixels32{target.data(), w, h}, TRect{0, 0, w, h});
          std::vector<TColor32> expected(target.size(), 0xFF000000u);
          expected[size_t(w - 1)] = 0xFFFFFFFFu;
          EXPECT_EQ(target, expected) << what;
        }
      }
    }
  }
}

}  // namespace
}  // namespace pellavo
