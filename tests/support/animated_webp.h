#pragma once
// Animated WebP files made by libwebp alone, for the tests that read animations.
#include <gtest/gtest.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

namespace pellavo::test {

// One frame: its pixels as libwebp's ARGB, row by row over the whole canvas, and the time it
// starts in milliseconds.
struct TWebPFrame {
  std::vector<uint32_t> Argb;
  int Start;
};

// The frames on a w x h canvas, the last one ending at end; lossless, so that a test can
// compare pixels exactly. A loop count of 0 loops for ever.
inline std::vector<uint8_t> AnimatedWebP(int w, int h, const std::vector<TWebPFrame>& frames, int end,
                                         int loop_count = 0) {
  WebPAnimEncoderOptions options;
  EXPECT_TRUE(WebPAnimEncoderOptionsInit(&options));
  options.anim_params.loop_count = loop_count;
  std::unique_ptr<WebPAnimEncoder, void (*)(WebPAnimEncoder*)> encoder(WebPAnimEncoderNew(w, h, &options),
                                                                       WebPAnimEncoderDelete);
  WebPConfig config;
  EXPECT_TRUE(WebPConfigInit(&config));
  config.lossless = 1;
  for (const TWebPFrame& frame : frames) {
    WebPPicture picture;
    WebPPictureInit(&picture);
    picture.use_argb = 1;
    picture.width = w;
    picture.height = h;
    EXPECT_TRUE(WebPPictureAlloc(&picture));
    for (int y = 0; y < h; ++y)
      std::copy_n(frame.Argb.begin() + ptrdiff_t(y) * w, w, picture.argb + ptrdiff_t(y) * picture.argb_stride);
    EXPECT_TRUE(WebPAnimEncoderAdd(encoder.get(), &picture, frame.Start, &config));
    WebPPictureFree(&picture);
  }
  WebPAnimEncoderAdd(encoder.get(), nullptr, end, nullptr);
  WebPData data;
  WebPDataInit(&data);
  EXPECT_TRUE(WebPAnimEncoderAssemble(encoder.get(), &data));
  std::vector<uint8_t> bytes(data.bytes, data.bytes + data.size);
  WebPDataClear(&data);
  return bytes;
}

}  // namespace pellavo::test
