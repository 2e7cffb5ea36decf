#pragma once
// A bitmap through a codec with a quality and an alpha switch (WebP, AVIF, JPEG XL), in memory.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

#include "core/stream.h"
#include "formats/bmp/bitmap.h"
#include "support/images.h"

namespace pellavo::test {

template <class TImage>
std::vector<uint8_t> EncodeAs(const TBitmap& bitmap, int quality, bool keep_alpha) {
  TImage image;
  image.Quality = uint8_t(quality);
  image.KeepAlpha = keep_alpha;
  image.Assign(bitmap);
  TMemoryStream out;
  image.SaveToStream(out);
  out.Seek(0);
  return out.ReadToEnd();
}

template <class TImage>
TImage DecodeAs(const std::vector<uint8_t>& bytes) {
  TImage image;
  TMemoryStream in(bytes);
  image.LoadFromStream(in);
  return image;
}

// Alpha that varies across the image, over colours that do too.
inline TColor32 TranslucentPixel(int32_t x, int32_t y) {
  return (SmoothPixel(x, y) & 0xFFFFFF) | TColor32(x * 6 + y) << 24;
}

// 24 and 32-bit bitmaps, opaque or not, alpha kept or not, come back at their size, with their
// colours within tolerance (mean difference at quality 90) and any alpha they keep unchanged, or,
// for a codec that stores alpha lossily, within alpha_tolerance as a mean difference.
template <class TImage>
void ExpectRoundTripsKeepSizeColoursAndAlpha(double tolerance, std::optional<double> alpha_tolerance = {}) {
  const TBitmap opaque = MakeBitmap32(37, 23, SmoothPixel);
  const TBitmap translucent = MakeBitmap32(37, 23, TranslucentPixel);
  TBitmap rgb24 = opaque;
  rgb24.SetPixelFormat(TPixelFormat::pf24bit);
  struct Case {
    const char* what;
    const TBitmap& source;
    bool keep_alpha;
    int bits;  // of the image read back
  } cases[] = {
      {"24-bit", rgb24, true, 24},
      {"32-bit, every pixel opaque: no alpha is stored", opaque, true, 24},
      {"32-bit with alpha", translucent, true, 32},
      {"32-bit with alpha, alpha not kept", translucent, false, 24},
  };
  for (const Case& c : cases) {
    const TImage back = DecodeAs<TImage>(EncodeAs<TImage>(c.source, 90, c.keep_alpha));
    ASSERT_EQ(back.Width(), 37) << c.what;
    ASSERT_EQ(back.Height(), 23) << c.what;
    EXPECT_EQ(back.BitsPerPixel(), c.bits) << c.what;
    const std::vector<TColor32> want = Pixels(c.source), got = Pixels(back);
    EXPECT_LE(MeanRgbDifference(want, got), tolerance) << c.what;
    if (c.bits == 32 && alpha_tolerance) {
      double sum = 0;
      for (size_t i = 0; i < want.size(); ++i) sum += std::abs(int(AlphaOf(got[i])) - int(AlphaOf(want[i])));
      EXPECT_LE(sum / double(want.size()), *alpha_tolerance) << c.what;
    } else if (c.bits == 32) {
      // Lossy colour, but the alpha plane is stored without loss.
      for (size_t i = 0; i < want.size(); ++i) ASSERT_EQ(AlphaOf(got[i]), AlphaOf(want[i])) << c.what << " pixel " << i;
    }
  }
}

}  // namespace pellavo::test
