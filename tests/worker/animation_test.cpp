// Animated GIF and WebP sources keep every frame in GIF and WebP outputs, one frame at a time.
#include <gtest/gtest.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/decode_limits.h"
#include "core/files.h"
#include "core/memory_budget.h"
#include "formats/all/animations.h"
#include "formats/all/standard_formats.h"
#include "formats/gif/gif_image.h"
#include "support/temp_dir.h"
#include "worker/convert_thread.h"

namespace pellavo {
namespace {

constexpr TColor32 kRed = 0xFFFF0000u, kBlue = 0xFF0000FFu, kGreen = 0xFF00FF00u;

// A GIF frame: a rectangle of one colour index of the global table.
struct TGifFrame {
  int32_t left, top, width, height;
  uint8_t index;
  uint16_t delay_cs;
  TGIFDisposal disposal;
  int transparent = -1;  // the transparent index, or none
};

// A GIF on a screen of w x h with the table red, blue, green, white, and a looping extension of
// `loops` unless none.
std::vector<uint8_t> MakeGif(int32_t w, int32_t h, const std::vector<TGifFrame>& frames, std::optional<uint16_t> loops) {
  TGIFImage gif;
  gif.Header().ScreenWidth = w;
  gif.Header().ScreenHeight = h;
  for (TGIFColor c : {TGIFColor{255, 0, 0}, TGIFColor{0, 0, 255}, TGIFColor{0, 255, 0}, TGIFColor{255, 255, 255}})
    gif.Header().GlobalMap.Add(c);
  for (const TGifFrame& f : frames) {
    TGIFSubImage sub;
    if (loops && gif.Images().empty()) {
      auto loop = std::make_unique<TGIFAppExtNSLoop>();
      loop->Identifier = "NETSCAPE2.0";
      loop->Loops = *loops;
      sub.Extensions().push_back(std::move(loop));
    }
    auto control = std::make_unique<TGIFGraphicControlExtension>();
    control->Packed = static_cast<uint8_t>(uint8_t(f.disposal) << 2 | (f.transparent >= 0 ? 1 : 0));
    control->Delay = f.delay_cs;
    control->TransparentIndex = static_cast<uint8_t>(std::max(f.transparent, 0));
    sub.Extensions().push_back(std::move(control));
    sub.SetImage(f.left, f.top, f.width, f.height, false, 0);
    std::fill_n(sub.AllocateIndices(), size_t(f.width) * size_t(f.height), f.index);
    gif.Images().push_back(std::move(sub));
  }
  TMemoryStream out;
  gif.SaveToStream(out);
  return out.Take();
}

// An animated WebP of solid frames, each starting at its timestamp, through libwebp alone.
std::vector<uint8_t> MakeWebP(int32_t w, int32_t h, const std::vector<TColor32>& colours, const std::vector<int>& starts,
                              int end, int loop_count) {
  WebPAnimEncoderOptions options;
  EXPECT_TRUE(WebPAnimEncoderOptionsInit(&options));
  options.anim_params.loop_count = loop_count;
  std::unique_ptr<WebPAnimEncoder, void (*)(WebPAnimEncoder*)> encoder(WebPAnimEncoderNew(w, h, &options),
                                                                       WebPAnimEncoderDelete);
  WebPConfig config;
  EXPECT_TRUE(WebPConfigInit(&config));
  config.lossless = 1;
  for (size_t i = 0; i < colours.size(); ++i) {
    WebPPicture picture;
    WebPPictureInit(&picture);
    picture.use_argb = 1;
    picture.width = w;
    picture.height = h;
    EXPECT_TRUE(WebPPictureAlloc(&picture));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) picture.argb[size_t(y) * size_t(picture.argb_stride) + size_t(x)] = colours[i];
    EXPECT_TRUE(WebPAnimEncoderAdd(encoder.get(), &picture, starts[i], &config));
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

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  WriteFileSafely(path, true, bytes.data(), bytes.size());
}

std::vector<uint8_t> ReadFile(const std::string& path) { return TFileStream::OpenRead(path).ReadToEnd(); }

// What an animation shows, frame by frame, at a few places.
struct TSeen {
  int32_t width = 0, height = 0;
  TAnimationPlays plays = -1;
  std::vector<int> delays;
  std::vector<TColor32> centre, corner;  // at the middle, and near the top left
};

TSeen Play(const std::string& path) {
  TSeen seen;
  const std::unique_ptr<TFrameSource> frames = OpenFrameSource(path, TDecodeLimits{});
  if (!frames) return seen;
  seen.width = frames->Width();
  seen.height = frames->Height();
  seen.plays = frames->Plays();
  TAnimationFrame f;
  while (frames->Next(f)) {
    seen.delays.push_back(f.DelayMs);
    seen.centre.push_back(f.Pixels[size_t(f.Height / 2) * size_t(f.Width) + size_t(f.Width / 2)]);
    seen.corner.push_back(f.Pixels[size_t(2) * size_t(f.Width) + 2]);
  }
  return seen;
}

// Colours compared within what a lossy WebP keeps of a solid area; a transparent pixel only by
// its alpha, whose colour the encoder may change.
bool Near(TColor32 a, TColor32 b) {
  if (AlphaOf(a) == 0 || AlphaOf(b) == 0) return AlphaOf(a) == AlphaOf(b);
  const auto close = [](int x, int y) { return std::abs(x - y) <= 12; };
  return AlphaOf(a) == AlphaOf(b) && close(RedOf(a), RedOf(b)) && close(GreenOf(a), GreenOf(b)) && close(BlueOf(a), BlueOf(b));
}

class Animation : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterStandardFormats();
    // 40 x 30: red; a blue 20 x 10 block in the middle, cleared to the background after it; then
    // a frame wholly transparent, which shows the red around the cleared hole.
    WriteFile(dir.File("anim.gif"), MakeGif(40, 30,
                                            {{0, 0, 40, 30, 0, 10, TGIFDisposal::dmNone},
                                             {10, 10, 20, 10, 1, 20, TGIFDisposal::dmBackground},
                                             {0, 0, 40, 30, 3, 30, TGIFDisposal::dmNone, 3}},
                                            uint16_t{2}));
    WriteFile(dir.File("anim.webp"), MakeWebP(40, 30, {kRed, kBlue, kGreen}, {0, 100, 250}, 450, 0));
  }

  TConversion Convert(const std::string& source, const std::string& output, bool first_frame) {
    TWorkerOrder order;
    order.Source = dir.File(source);
    order.Output = dir.File(output);
    order.Settings.Overwrite = true;
    order.Settings.FrameOn = false;
    order.Settings.FirstFrame = first_frame;
    order.SizeValue = 20;  // the larger side
    return ConvertFile(order);
  }

  test::TTempDir dir;
};

TEST_F(Animation, FramesDelaysAndLoopsSurviveAResize) {
  constexpr TColor32 kClear = 0;
  const struct {
    const char* source;
    const char* output;
    std::vector<int> delays;
    TAnimationPlays plays;
    std::vector<TColor32> centre, corner;
  } cases[] = {
      // GIF's loop extension counts the showings after the first: 2 means three.
      {"anim.gif", "gif-to.gif", {100, 200, 300}, 3, {kRed, kBlue, kClear}, {kRed, kRed, kRed}},
      {"anim.gif", "gif-to.webp", {100, 200, 300}, 3, {kRed, kBlue, kClear}, {kRed, kRed, kRed}},
      {"anim.webp", "webp-to.webp", {100, 150, 200}, 0, {kRed, kBlue, kGreen}, {kRed, kBlue, kGreen}},
      {"anim.webp", "webp-to.gif", {100, 150, 200}, 0, {kRed, kBlue, kGreen}, {kRed, kBlue, kGreen}},
  };
  for (const auto& c : cases) {
    const TConversion done = Convert(c.source, c.output, false);
    ASSERT_TRUE(done.Report.Outcome.Written) << c.output << ": " << done.Report.Outcome.Error;
    EXPECT_TRUE(done.Report.Outcome.Warnings.empty()) << c.output;
    EXPECT_EQ(done.Report.Outcome.Width, 20) << c.output;
    EXPECT_EQ(done.Report.Outcome.Height, 15) << c.output;
    const TSeen seen = Play(dir.File(c.output));
    EXPECT_EQ(seen.width, 20) << c.output;
    EXPECT_EQ(seen.height, 15) << c.output;
    EXPECT_EQ(seen.plays, c.plays) << c.output;
    EXPECT_EQ(seen.delays, c.delays) << c.output;
    ASSERT_EQ(seen.centre.size(), c.centre.size()) << c.output;
    for (size_t i = 0; i < c.centre.size(); ++i) {
      EXPECT_TRUE(Near(seen.centre[i], c.centre[i])) << c.output << " frame " << i << std::hex << ": " << seen.centre[i];
      EXPECT_TRUE(Near(seen.corner[i], c.corner[i])) << c.output << " frame " << i << std::hex << ": " << seen.corner[i];
    }
  }
  const std::vector<uint8_t> gif = ReadFile(dir.File("gif-to.gif"));
  EXPECT_EQ(std::string(gif.begin(), gif.begin() + 6), "GIF89a");
  EXPECT_NE(std::string(gif.begin(), gif.end()).find("NETSCAPE2.0"), std::string::npos);
}

// A GIF without a looping extension plays once, and so does its output; one that loops for ever
// keeps doing so.
TEST_F(Animation, PlayingOnceOrForEverIsKept) {
  const std::vector<TGifFrame> frames = {{0, 0, 8, 8, 0, 5, TGIFDisposal::dmNone}, {0, 0, 8, 8, 1, 5, TGIFDisposal::dmNone}};
  WriteFile(dir.File("once.gif"), MakeGif(8, 8, frames, std::nullopt));
  WriteFile(dir.File("ever.gif"), MakeGif(8, 8, frames, uint16_t{0}));
  const struct {
    const char* source;
    const char* output;
    TAnimationPlays plays;
    bool loop_extension;
  } cases[] = {
      {"once.gif", "once-out.gif", 1, false},
      {"ever.gif", "ever-out.gif", 0, true},
      {"once.gif", "once-out.webp", 1, false},
      {"ever.gif", "ever-out.webp", 0, false},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(Convert(c.source, c.output, false).Report.Outcome.Written) << c.output;
    EXPECT_EQ(Play(dir.File(c.output)).plays, c.plays) << c.output;
    const std::vector<uint8_t> bytes = ReadFile(dir.File(c.output));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()).find("NETSCAPE2.0") != std::string::npos, c.loop_extension)
        << c.output;
  }
}

// Outputs without animation, and the first frame asked for, give the first frame as before; only
// the first of them is told about the frames left out.
TEST_F(Animation, FirstFrameOnlyAndOutputsWithoutAnimation) {
  const std::string left_out = "the animation has 3 frames; only the first is converted";
  const struct {
    const char* source;
    const char* output;
    bool first_frame;
    std::vector<std::string> warnings;
  } cases[] = {
      {"anim.gif", "first.png", false, {left_out}},
      {"anim.webp", "first.jpg", false, {left_out}},
      {"anim.gif", "first.gif", true, {}},
      {"anim.webp", "first.webp", true, {}},
      {"anim.gif", "first-asked.png", true, {}},
  };
  for (const auto& c : cases) {
    const TConversion done = Convert(c.source, c.output, c.first_frame);
    ASSERT_TRUE(done.Report.Outcome.Written) << c.output << ": " << done.Report.Outcome.Error;
    EXPECT_EQ(done.Report.Outcome.Warnings, c.warnings) << c.output;
    // A still image: no frame reader takes it as an animation.
    EXPECT_EQ(OpenFrameSource(dir.File(c.output), TDecodeLimits{}), nullptr) << c.output;
  }
  // The first frame alone is a still GIF, as it was before animations were kept.
  const std::vector<uint8_t> first = ReadFile(dir.File("first.gif"));
  EXPECT_EQ(std::string(first.begin(), first.begin() + 6), "GIF87a");
}

// Every frame is decorated like a still image, and the options of a still apply to each: a
// border round every frame, transparency laid onto black when it is not kept. A size limit does
// not apply, and says so.
TEST_F(Animation, EveryFrameIsDecoratedLikeAStillImage) {
  for (const char* output : {"framed.gif", "framed.webp"}) {
    TWorkerOrder order;
    order.Source = dir.File("anim.gif");
    order.Output = dir.File(output);
    order.Settings.Overwrite = true;
    order.Settings.FrameOn = false;
    order.Settings.BorderOn = true;
    order.Settings.BorderWidth = 3;
    order.Settings.BorderColor = 0x0000FF00;  // green, red in the low byte
    order.Settings.KeepAlpha = false;
    order.Settings.MaxKb = 500;
    order.SizeValue = 20;
    const TConversion done = ConvertFile(order);
    ASSERT_TRUE(done.Report.Outcome.Written) << output << ": " << done.Report.Outcome.Error;
    const std::string says = std::string(output).ends_with(".webp")
                                 ? "the size limit does not apply to animations; the 3 frames are written at the quality set"
                                 : "the .gif format has no quality to lower; the size limit does not apply";
    EXPECT_EQ(done.Report.Outcome.Warnings, std::vector<std::string>{says}) << output;
    const std::unique_ptr<TFrameSource> frames = OpenFrameSource(dir.File(output), TDecodeLimits{});
    ASSERT_NE(frames, nullptr) << output;
    TAnimationFrame f;
    std::vector<TColor32> edges, centres;
    while (frames->Next(f)) {
      edges.push_back(f.Pixels[size_t(f.Width) * 7]);  // the left edge, halfway down
      centres.push_back(f.Pixels[size_t(f.Height / 2) * size_t(f.Width) + size_t(f.Width / 2)]);
    }
    ASSERT_EQ(centres.size(), 3u) << output;
    for (TColor32 edge : edges) EXPECT_TRUE(Near(edge, kGreen)) << output << std::hex << ": " << edge;
    EXPECT_TRUE(Near(centres[0], kRed)) << output;
    EXPECT_TRUE(Near(centres[1], kBlue)) << output;
    EXPECT_TRUE(Near(centres[2], 0xFF000000u)) << output << std::hex << ": the hole is black, " << centres[2];
  }
}

// Only one frame is held at a time: an animation whose frames together are over the image limit,
// which the whole-file reader refuses, converts when each frame is within it.
TEST_F(Animation, ManyFramesAreNotHeldAtOnce) {
  std::vector<TGifFrame> frames;
  for (int i = 0; i < 100; ++i) frames.push_back({0, 0, 64, 64, uint8_t(i % 3), 4, TGIFDisposal::dmNone});
  WriteFile(dir.File("long.gif"), MakeGif(64, 64, frames, uint16_t{0}));
  const auto convert = [&](const char* output) {
    TWorkerOrder order;
    order.Source = dir.File("long.gif");
    order.Output = dir.File(output);
    order.Settings.Overwrite = true;
    order.Settings.MaxImageBytes = 256 << 10;  // 100 frames of 64 x 64 indices are 400 KB
    order.SizeValue = 32;
    order.Budget = std::make_shared<TMemoryBudget>(uint64_t{1} << 30);
    const TConversion done = ConvertFile(order);
    EXPECT_EQ(order.Budget->Held(), 0u) << output;
    return done;
  };
  const TConversion still = convert("long.png");
  EXPECT_FALSE(still.Report.Outcome.Written);
  EXPECT_NE(still.Report.Outcome.Error.find("image too large"), std::string::npos) << still.Report.Outcome.Error;
  const TConversion animated = convert("long.webp");
  ASSERT_TRUE(animated.Report.Outcome.Written) << animated.Report.Outcome.Error;
  EXPECT_EQ(Play(dir.File("long.webp")).delays.size(), 100u);
}

}  // namespace
}  // namespace pellavo
