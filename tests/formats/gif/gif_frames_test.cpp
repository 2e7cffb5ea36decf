// The frames of an animated GIF, composed one at a time as each frame's disposal says.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/decode_limits.h"
#include "formats/gif/gif_frames.h"
#include "formats/gif/gif_image.h"

namespace pellavo {
namespace {

constexpr TColor32 R = 0xFFFF0000u, B = 0xFF0000FFu, G = 0xFF00FF00u, _ = 0;

// A frame of one colour index (0 red, 1 blue, 2 green) on row 0.
struct TFrame {
  int32_t left, width;
  uint8_t index;
  TGIFDisposal disposal;
};

std::vector<uint8_t> MakeGif(int32_t screen_width, const std::vector<TFrame>& frames) {
  TGIFImage gif;
  gif.Header().ScreenWidth = screen_width;
  gif.Header().ScreenHeight = 1;
  for (TGIFColor c : {TGIFColor{255, 0, 0}, TGIFColor{0, 0, 255}, TGIFColor{0, 255, 0}, TGIFColor{0, 0, 0}})
    gif.Header().GlobalMap.Add(c);
  for (const TFrame& f : frames) {
    TGIFSubImage sub;
    auto control = std::make_unique<TGIFGraphicControlExtension>();
    control->Packed = static_cast<uint8_t>(uint8_t(f.disposal) << 2);
    control->Delay = 7;
    sub.Extensions().push_back(std::move(control));
    sub.SetImage(f.left, 0, f.width, 1, false, 0);
    std::fill_n(sub.AllocateIndices(), size_t(f.width), f.index);
    gif.Images().push_back(std::move(sub));
  }
  TMemoryStream out;
  gif.SaveToStream(out);
  return out.Take();
}

TEST(GifFrames, EachFrameIsComposedAfterTheDisposalOfTheOneBefore) {
  using D = TGIFDisposal;
  const struct {
    const char* what;
    int32_t screen_width;
    std::vector<TFrame> frames;
    std::vector<std::vector<TColor32>> seen;  // the canvas after each frame
  } cases[] = {
      {"left in place", 4, {{0, 4, 0, D::dmNone}, {1, 1, 1, D::dmNoDisposal}, {2, 1, 2, D::dmNone}},
       {{R, R, R, R}, {R, B, R, R}, {R, B, G, R}}},
      {"restored to the background: transparent", 4, {{0, 4, 0, D::dmNone}, {1, 1, 1, D::dmBackground}, {2, 1, 2, D::dmNone}},
       {{R, R, R, R}, {R, B, R, R}, {R, _, G, R}}},
      {"restored to the canvas before it", 4, {{0, 4, 0, D::dmNone}, {1, 2, 1, D::dmPrevious}, {2, 1, 2, D::dmNone}},
       {{R, R, R, R}, {R, B, B, R}, {R, R, G, R}}},
      {"a first frame restored to previous leaves the empty canvas", 4,
       {{0, 4, 0, D::dmPrevious}, {1, 1, 1, D::dmNone}}, {{R, R, R, R}, {_, B, _, _}}},
      {"the canvas grows to hold a frame past the screen", 2, {{0, 2, 0, D::dmNone}, {2, 1, 1, D::dmNone}},
       {{R, R, _}, {R, R, B}}},
  };
  for (const auto& c : cases) {
    const std::unique_ptr<TFrameSource> frames = OpenGIFFrames(MakeGif(c.screen_width, c.frames), TDecodeLimits{});
    ASSERT_NE(frames, nullptr) << c.what;
    EXPECT_EQ(frames->FrameCount(), int(c.frames.size())) << c.what;
    EXPECT_EQ(frames->Width(), int32_t(c.seen[0].size())) << c.what;
    EXPECT_EQ(frames->Plays(), 1) << c.what << ": without a looping extension a GIF plays once";
    std::vector<std::vector<TColor32>> seen;
    TAnimationFrame frame;
    while (frames->Next(frame)) {
      seen.emplace_back(frame.Pixels, frame.Pixels + frame.Width);
      EXPECT_EQ(frame.DelayMs, 70) << c.what;
    }
    EXPECT_EQ(seen, c.seen) << c.what;
  }
}

// The first pass, which only counts the frames, and the second, which decodes them, agree on a
// file cut inside its last frame's data: the frame is there with what its data holds.
TEST(GifFrames, AFileCutInsideItsLastFrameGivesEveryFrame) {
  std::vector<uint8_t> bytes = MakeGif(4, {{0, 4, 0, TGIFDisposal::dmNone}, {0, 4, 1, TGIFDisposal::dmNone}});
  bytes.resize(bytes.size() - 4);  // the trailer, the zero-length block and two data bytes
  const std::unique_ptr<TFrameSource> frames = OpenGIFFrames(bytes, TDecodeLimits{});
  ASSERT_NE(frames, nullptr);
  EXPECT_EQ(frames->FrameCount(), 2);
  TAnimationFrame frame;
  int seen = 0;
  while (frames->Next(frame)) ++seen;
  EXPECT_EQ(seen, 2);
}

TEST(GifFrames, AStillImageIsNoAnimationAndAHugeScreenIsRefused) {
  EXPECT_EQ(OpenGIFFrames(MakeGif(4, {{0, 4, 0, TGIFDisposal::dmNone}}), TDecodeLimits{}), nullptr);
  // Frames whose descriptors say 0 x 0 take the screen's size, here none: no animation.
  std::vector<uint8_t> empty = MakeGif(0, {{0, 0, 0, TGIFDisposal::dmNone}, {0, 0, 1, TGIFDisposal::dmNone}});
  EXPECT_EQ(OpenGIFFrames(empty, TDecodeLimits{}), nullptr);
  // Two frames of 2 x 1 on a screen that claims 65535 x 65535 pixels: refused before a canvas is
  // made for it.
  std::vector<uint8_t> bytes = MakeGif(2, {{0, 2, 0, TGIFDisposal::dmNone}, {0, 2, 1, TGIFDisposal::dmNone}});
  bytes[6] = bytes[7] = bytes[8] = bytes[9] = 0xFF;
  EXPECT_THROW(OpenGIFFrames(bytes, TDecodeLimits{uint64_t{64} << 20}), EImageTooLarge);
}

}  // namespace
}  // namespace pellavo
