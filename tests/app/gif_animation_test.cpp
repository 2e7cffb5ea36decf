#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/gif_animation.h"
#include "formats/gif/gif_image.h"

namespace pellavo {
namespace {

constexpr TColor32 kBackground = 0xFF808080u;

struct TFrameSpec {
  int32_t left, width;  // every frame is one row high, on a screen one row high
  std::string pixels;   // R, G, B, W as colour indices 0-3; T the transparent index 3
  TGIFDisposal disposal = TGIFDisposal::dmNone;
  uint16_t delay = 10;
};

// A one-row animation over the colours red, green, blue and white.
TGIFImage MakeAnimation(int32_t screen_width, const std::vector<TFrameSpec>& frames, std::optional<uint16_t> loops) {
  TGIFImage gif;
  gif.Header().ScreenWidth = screen_width;
  gif.Header().ScreenHeight = 1;
  for (TGIFColor c : {TGIFColor{255, 0, 0}, TGIFColor{0, 255, 0}, TGIFColor{0, 0, 255}, TGIFColor{255, 255, 255}})
    gif.Header().GlobalMap.Add(c);
  for (size_t i = 0; i < frames.size(); ++i) {
    const TFrameSpec& f = frames[i];
    TGIFSubImage sub;
    if (i == 0 && loops) {
      auto loop = std::make_unique<TGIFAppExtNSLoop>();
      loop->Identifier = "NETSCAPE2.0";
      loop->Loops = *loops;
      sub.Extensions().push_back(std::move(loop));
    }
    auto gce = std::make_unique<TGIFGraphicControlExtension>();
    const bool transparent = f.pixels.find('T') != std::string::npos;
    gce->Packed = uint8_t(uint8_t(f.disposal) << 2 | (transparent ? 1 : 0));
    gce->Delay = f.delay;
    gce->TransparentIndex = 3;
    sub.Extensions().push_back(std::move(gce));
    sub.SetImage(f.left, 0, f.width, 1, false, 0);
    std::vector<uint8_t> indices;
    for (char p : f.pixels) indices.push_back(uint8_t(std::string_view("RGBW").find(p == 'T' ? 'W' : p)));
    sub.SetIndices(std::move(indices));
    gif.Images().push_back(std::move(sub));
  }
  return gif;
}

// The canvas as letters: R, G, B, W, and . for the background.
std::string Letters(const TGifAnimation& a) {
  std::string out;
  for (int32_t x = 0; x < a.Width(); ++x) {
    switch (a.Pixels()[x]) {
      case 0xFFFF0000u: out += 'R'; break;
      case 0xFF00FF00u: out += 'G'; break;
      case 0xFF0000FFu: out += 'B'; break;
      case 0xFFFFFFFFu: out += 'W'; break;
      case kBackground: out += '.'; break;
      default: out += '?';
    }
  }
  return out;
}

TEST(GifAnimation, FramesAreComposedAfterTheDisposalOfTheFrameBefore) {
  using D = TGIFDisposal;
  const struct {
    const char* name;
    int32_t screen;
    std::vector<TFrameSpec> frames;
    std::vector<std::string> canvases;  // after the first frame, then after each Advance
  } cases[] = {
      {"left in place", 2, {{0, 2, "RR", D::dmNoDisposal}, {1, 1, "G"}}, {"RR", "RG"}},
      {"undefined disposal is left in place", 2, {{0, 2, "RR", TGIFDisposal(5)}, {1, 1, "G"}}, {"RR", "RG"}},
      {"restored to background", 2, {{0, 1, "R", D::dmBackground}, {1, 1, "G"}}, {"R.", ".G"}},
      {"restored to what was there before", 3,
       {{0, 3, "RRR"}, {0, 2, "GG", D::dmPrevious}, {2, 1, "B"}},
       {"RRR", "GGR", "RRB"}},
      {"transparent pixels keep what is below", 3, {{0, 3, "BBB"}, {0, 3, "GTG"}}, {"BBB", "GBG"}},
      {"every loop starts on a clear canvas", 2, {{0, 1, "R"}, {1, 1, "G"}}, {"R.", "RG", "R.", "RG"}},
  };
  for (const auto& c : cases) {
    const TGIFImage gif = MakeAnimation(c.screen, c.frames, std::nullopt);
    TGifAnimation animation(gif, c.screen, 1, kBackground);
    std::vector<std::string> seen{Letters(animation)};
    while (seen.size() < c.canvases.size()) {
      animation.Advance();
      seen.push_back(Letters(animation));
    }
    EXPECT_EQ(seen, c.canvases) << c.name;
  }
}

TEST(GifAnimation, DelaysAndLoopCounts) {
  const struct {
    const char* name;
    std::vector<uint16_t> delays;
    std::optional<uint16_t> loops;
    std::vector<std::optional<int>> expected;  // DelayMs of each frame shown, in order
  } cases[] = {
      {"hundredths become milliseconds", {2, 25}, std::nullopt, {20, 250, 20, 250}},
      {"no delay and a hundredth are shown as a tenth", {0, 1}, std::nullopt, {100, 100, 100}},
      {"without a looping extension it loops for ever", {5, 5}, std::nullopt, {50, 50, 50, 50, 50, 50, 50}},
      {"a count of 0 loops for ever", {5, 5}, 0, {50, 50, 50, 50, 50, 50, 50}},
      {"a count of 1 repeats once, then stays on the last frame", {5, 6}, 1, {50, 60, 50, std::nullopt}},
      {"a count of 2 repeats twice", {5, 6}, 2, {50, 60, 50, 60, 50, std::nullopt}},
  };
  for (const auto& c : cases) {
    std::vector<TFrameSpec> frames;
    for (size_t i = 0; i < c.delays.size(); ++i)
      frames.push_back({int32_t(i), 1, "R", TGIFDisposal::dmNone, c.delays[i]});
    const TGIFImage gif = MakeAnimation(int32_t(frames.size()), frames, c.loops);
    TGifAnimation animation(gif, int32_t(frames.size()), 1, kBackground);
    std::vector<std::optional<int>> seen;
    while (seen.size() < c.expected.size()) {
      seen.push_back(animation.DelayMs());
      animation.Advance();
    }
    EXPECT_EQ(seen, c.expected) << c.name;
  }
}

TEST(GifAnimation, AnEndedAnimationStaysOnItsLastFrame) {
  const TGIFImage gif = MakeAnimation(2, {{0, 1, "R"}, {1, 1, "G"}}, 1);
  TGifAnimation animation(gif, 2, 1, kBackground);
  for (int i = 0; i < 10; ++i) animation.Advance();
  EXPECT_EQ(animation.Frame(), 1);
  EXPECT_EQ(Letters(animation), "RG");
  EXPECT_EQ(animation.DelayMs(), std::nullopt);
}

TEST(GifAnimation, ACanvasSmallerThanTheScreenPlacesFramesAsAStillIsDrawn) {
  // Frames on a 4-pixel screen shown on a 2-pixel canvas: each lands where DrawFrame puts it,
  // and disposal clears exactly the place the frame was painted at.
  const TGIFImage gif = MakeAnimation(4, {{0, 4, "RRRR"}, {2, 2, "GG", TGIFDisposal::dmBackground}, {0, 2, "BB"}},
                                      std::nullopt);
  TGifAnimation animation(gif, 2, 1, kBackground);
  EXPECT_EQ(Letters(animation), "RR");
  animation.Advance();
  EXPECT_EQ(Letters(animation), "RG");
  animation.Advance();
  EXPECT_EQ(Letters(animation), "B.");
}

}  // namespace
}  // namespace pellavo
