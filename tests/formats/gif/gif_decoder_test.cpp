#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/errors.h"
#include "formats/all/standard_formats.h"
#include "formats/gif/gif_image.h"
#include "formats/picture.h"
#include "support/images.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

const std::string kData = "tests/data/gif/";

struct TLoaded {
  TGIFImage image;
  std::vector<std::string> warnings;
};

TLoaded Load(const std::string& name, const TDecodeLimits& limits = {}) {
  TLoaded out;
  out.image.SetDecodeLimits(limits);
  out.image.OnWarning = [&w = out.warnings](const std::string& text) { w.push_back(text); };
  out.image.ReadFromFile(kData + name);
  out.image.OnWarning = nullptr;
  return out;
}

bool Warned(const TLoaded& l, const std::string& text) {
  for (const auto& w : l.warnings)
    if (w == text) return true;
  return false;
}

// What the conversion worker does with a source: paint onto transparent black, then make every
// pixel opaque.
std::vector<TColor32> DrawAsWorker(TGraphic& g) {
  std::vector<TColor32> px(size_t(g.Width()) * size_t(g.Height()), 0);
  g.Draw(TPixels32{px.data(), g.Width(), g.Height()}, TRect{0, 0, g.Width(), g.Height()});
  for (TColor32& c : px) c |= kOpaque;
  return px;
}

std::vector<uint8_t> AllIndices(const TGIFSubImage& f) {
  std::vector<uint8_t> out(size_t(f.Width()) * size_t(f.Height()));
  for (int32_t y = 0; y < f.Height(); ++y) f.ReadIndexRow(y, out.data() + size_t(y) * size_t(f.Width()));
  return out;
}

// The pattern the fixture script draws on its 5 x 11 screen.
uint8_t PatternIndex(int x, int y) { return uint8_t((x + 2 * y + (x * y) / 3) % 4); }

constexpr TColor32 kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF, kWhite = 0xFFFFFFFF, kBlack = kOpaque;
const TColor32 kPalette[4] = {kRed, kGreen, kBlue, kWhite};

TEST(GifDecoder, ReadsFilesThatDecodeToThePlainPattern) {
  // The interlaced twin and the file with four bytes in front are the same picture.
  for (const char* name : {"plain.gif", "interlaced.gif", "prefixed-4-bytes.gif"}) {
    SCOPED_TRACE(name);
    TLoaded l = Load(name);
    ASSERT_EQ(l.image.FrameCount(), 1);
    EXPECT_EQ(l.image.Width(), 5);
    EXPECT_EQ(l.image.Height(), 11);
    const std::vector<TColor32> px = DrawAsWorker(l.image);
    for (int y = 0; y < 11; ++y)
      for (int x = 0; x < 5; ++x) ASSERT_EQ(px[size_t(y * 5 + x)], kPalette[PatternIndex(x, y)]) << x << "," << y;
    EXPECT_TRUE(l.warnings.empty()) << l.warnings.front();
  }
}

TEST(GifDecoder, TruncatedDataKeepsTheFillValue) {
  // Both files stop inside the first data block. The missing pixels hold colour 0 of the map, or
  // the transparent index when the frame is transparent (drawn as untouched, so black).
  struct TCase {
    const char* name;
    TColor32 missing;
  } const cases[] = {{"truncated.gif", kRed}, {"truncated-transparent.gif", kBlack}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TLoaded l = Load(c.name);
    EXPECT_TRUE(Warned(l, "Premature end of data"));
    const TGIFSubImage& f = l.image.Frame(0);
    ASSERT_GT(f.StoredCount(), 15u);
    ASSERT_LT(f.StoredCount(), 25u);
    const std::vector<TColor32> px = DrawAsWorker(l.image);
    for (int i = 0; i < 55; ++i) {
      const int x = i % 5, y = i / 5;
      const TColor32 expected = size_t(i) < f.StoredCount() ? kPalette[PatternIndex(x, y)] : c.missing;
      // A decoded pixel equal to the transparent index is not painted either.
      if (c.missing == kBlack && PatternIndex(x, y) == 3) continue;
      EXPECT_EQ(px[size_t(i)], expected) << x << "," << y;
    }
  }
}

TEST(GifDecoder, UnknownBlockTypeEndsTheFramesAndKeepsThoseRead) {
  TLoaded l = Load("unknown-block-after-first-frame.gif");
  EXPECT_TRUE(Warned(l, "Unknown GIF block type"));
  EXPECT_TRUE(Warned(l, "Invalid Image trailer"));
  ASSERT_EQ(l.image.Images().size(), 1u);
  EXPECT_EQ(l.image.Frame(0).Index(1, 0), PatternIndex(1, 0));
}

TEST(GifDecoder, ZeroSizedDescriptorTakesTheScreenSize) {
  TLoaded l = Load("zero-size-descriptor.gif");
  EXPECT_TRUE(Warned(l, "Image exceeds Logical Screen size"));
  const TGIFSubImage& f = l.image.Frame(0);
  EXPECT_EQ(f.Width(), 3);
  EXPECT_EQ(f.Height(), 2);
  EXPECT_EQ(AllIndices(f), (std::vector<uint8_t>{0, 1, 2, 3, 2, 1}));
}

TEST(GifDecoder, GraphicControlBlocksOfOtherSizesKeepTheirFields) {
  // plain.gif with a graphic control extension put before its image descriptor.
  struct TCase {
    std::vector<uint8_t> gce;
    bool short_warning;
    bool transparent;
  } const cases[] = {
      {{'!', 0xF9, 4, 0x01, 10, 0, 2, 0}, false, true},           // the usual size
      {{'!', 0xF9, 5, 0x01, 10, 0, 2, 0x99, 0}, false, true},     // one byte more, passed over
      {{'!', 0xF9, 2, 0x01, 10, 0}, true, true},                  // transparency bit, no index
      {{'!', 0xF9, 0}, true, false},                              // nothing but the terminator
  };
  const std::vector<uint8_t> plain = test::ReadBytes(kData + "plain.gif");
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    std::vector<uint8_t> bytes = plain;
    bytes.insert(bytes.begin() + 13 + 12, cases[i].gce.begin(), cases[i].gce.end());
    TGIFImage image;
    std::vector<std::string> warnings;
    image.OnWarning = [&](const std::string& w) { warnings.push_back(w); };
    TMemoryStream s(bytes);
    image.LoadFromStream(s);
    EXPECT_EQ(warnings, cases[i].short_warning ? std::vector<std::string>{"Premature end of data"} : std::vector<std::string>{});
    ASSERT_EQ(image.FrameCount(), 1);
    const TGIFSubImage& f = image.Frame(0);
    EXPECT_EQ(f.Transparent(), cases[i].transparent);
    EXPECT_EQ(f.Delay(), cases[i].gce.size() > 4 ? 10 : 0);
    if (cases[i].gce[2] >= 4) {
      EXPECT_EQ(f.TransparentIndex(), 2);
    }
    for (int y = 0; y < 11; ++y)
      for (int x = 0; x < 5; ++x) ASSERT_EQ(f.Index(x, y), PatternIndex(x, y));
  }
}

TEST(GifDecoder, MalformedFilesFailWithTheirMessage) {
  struct TCase {
    const char* name;
    const char* message;
  } const cases[] = {
      {"unknown-extension-label.gif", "Unknown extension type"},
      {"circular-code.gif", "Circular decoder table entry"},
      {"bad-app-extension-size.gif", "Unsupported Application Extension block size"},
      {"short-loop-block.gif", "Invalid GIF data"},
      {"cut-descriptor.gif", "Premature end of data"},
  };
  for (const TCase& c : cases) {
    TGIFImage image;
    try {
      image.ReadFromFile(kData + c.name);
      ADD_FAILURE() << c.name << " was read";
    } catch (const GIFException& e) {
      EXPECT_STREQ(e.what(), c.message) << c.name;
    }
  }
}

TEST(GifDecoder, OtherContentIsNotASignature) {
  // Neither at the start nor after four bytes.
  for (std::string text : {std::string("\x89PNG\r\n\x1a\n0000"), std::string("0000GIX89a"), std::string("GI")}) {
    TMemoryStream s(std::vector<uint8_t>(text.begin(), text.end()));
    TGIFImage image;
    try {
      image.LoadFromStream(s);
      ADD_FAILURE() << text << " was read";
    } catch (const GIFException& e) {
      EXPECT_STREQ(e.what(), "Invalid GIF signature");
    }
  }
}

TEST(GifDecoder, FailedReadLeavesImageAndStreamAsTheyWere) {
  TGIFImage image;
  image.ReadFromFile(kData + "plain.gif");
  std::vector<uint8_t> bytes = test::ReadBytes(kData + "circular-code.gif");
  bytes.insert(bytes.begin(), {1, 2, 3});  // not at the start of the stream
  TMemoryStream s(bytes);
  s.Seek(3);
  EXPECT_THROW(image.LoadFromStream(s), GIFException);
  EXPECT_EQ(s.Position(), 3);
  EXPECT_EQ(image.Width(), 5);
  EXPECT_EQ(image.FrameCount(), 1);
}

TEST(GifDecoder, ReadingStopsAfterTheTrailer) {
  std::vector<uint8_t> bytes = test::ReadBytes(kData + "plain.gif");
  const size_t size = bytes.size();
  bytes.insert(bytes.end(), {'t', 'a', 'i', 'l'});
  TMemoryStream s(bytes);
  TGIFImage image;
  image.LoadFromStream(s);
  EXPECT_EQ(s.Position(), int64_t(size));
}

TEST(GifDecoder, NoColorTableReadsButCannotDraw) {
  TLoaded l = Load("no-color-table.gif");
  ASSERT_EQ(l.image.FrameCount(), 1);
  try {
    DrawAsWorker(l.image);
    ADD_FAILURE() << "drawn without colours";
  } catch (const GIFException& e) {
    EXPECT_STREQ(e.what(), "No global or local color table defined");
  }
}

TEST(GifDecoder, TransparentFrameAtOffsetBecomesOpaqueBlackAroundAndInside) {
  // A 3 x 2 frame at (2, 1) on 6 x 5, indices 0 1 2 / 1 3 1 with index 1 transparent.
  TLoaded l = Load("transparent-offset.gif");
  const std::vector<TColor32> px = DrawAsWorker(l.image);
  std::vector<TColor32> expected(30, kBlack);
  expected[1 * 6 + 2] = kRed;
  expected[1 * 6 + 4] = kBlue;
  expected[2 * 6 + 3] = kWhite;
  EXPECT_EQ(px, expected);

  // Transparent pixels leave whatever is below them.
  std::vector<TColor32> under(30, 0xFF123456);
  l.image.Draw(TPixels32{under.data(), 6, 5}, TRect{0, 0, 6, 5});
  EXPECT_EQ(under[1 * 6 + 3], 0xFF123456u);
  EXPECT_EQ(under[1 * 6 + 2], kRed);
}

TEST(GifDecoder, FramesScaleIntoTheDrawRectangle) {
  // The same offset frame drawn twice as large: the frame lands at (4, 2)-(10, 6).
  TLoaded l = Load("transparent-offset.gif");
  std::vector<TColor32> px(12 * 10, 0);
  l.image.Draw(TPixels32{px.data(), 12, 10}, TRect{0, 0, 12, 10});
  EXPECT_EQ(px[2 * 12 + 4], kRed);
  EXPECT_EQ(px[3 * 12 + 5], kRed);
  EXPECT_EQ(px[2 * 12 + 3], 0u);
  EXPECT_EQ(px[5 * 12 + 7], kWhite);
  EXPECT_EQ(px[2 * 12 + 8], kBlue);
}

TEST(GifDecoder, AnimationKeepsFramesTimingAndLoopsAndDrawsTheFirstAsAStill) {
  TLoaded l = Load("animated.gif");
  ASSERT_EQ(l.image.FrameCount(), 3);
  EXPECT_EQ(l.image.LoopCount(), std::optional<uint16_t>(3));
  const TGIFDisposal disposal[] = {TGIFDisposal::dmNoDisposal, TGIFDisposal::dmBackground, TGIFDisposal::dmPrevious};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(l.image.Frame(i).Delay(), 10 * (i + 1));
    EXPECT_EQ(l.image.Frame(i).Disposal(), disposal[i]);
  }
  EXPECT_EQ(l.image.Frame(1).Left(), 2);
  EXPECT_TRUE(l.image.Frame(1).Transparent());

  EXPECT_EQ(DrawAsWorker(l.image), std::vector<TColor32>(16, kRed));

  // A viewer composes the frames on one canvas; the third uses its own colour table.
  std::vector<TColor32> canvas(16, 0);
  const TPixels32 target{canvas.data(), 4, 4};
  for (int i = 0; i < 3; ++i) l.image.DrawFrame(i, target, TRect{0, 0, 4, 4});
  EXPECT_EQ(canvas[0], 0xFF28323Cu);  // (40, 50, 60)
  EXPECT_EQ(canvas[1], 0xFF0A141Eu);  // (10, 20, 30)
  EXPECT_EQ(canvas[2 * 4 + 2], kGreen);
  EXPECT_EQ(canvas[2 * 4 + 3], kRed);  // transparent in the second frame
}

TEST(GifDecoder, EveryExtensionKindIsKeptAndWrittenBack) {
  TLoaded l = Load("all-extensions.gif");
  const auto check = [](const TGIFImage& image) {
    ASSERT_EQ(image.Images().size(), 1u);
    const TGIFExtensionList& ext = image.Images()[0].Extensions();
    ASSERT_EQ(ext.size(), 6u);
    const auto* loop = dynamic_cast<const TGIFAppExtNSLoop*>(ext[0].get());
    ASSERT_TRUE(loop);
    EXPECT_EQ(loop->Loops, 0);
    EXPECT_TRUE(loop->HasBufferSize);
    EXPECT_EQ(loop->BufferSize, 70000u);
    const auto* comment = dynamic_cast<const TGIFCommentExtension*>(ext[1].get());
    ASSERT_TRUE(comment);
    EXPECT_EQ(comment->Lines, std::vector<std::string>{"made for the tests"});
    const auto* text = dynamic_cast<const TGIFTextExtension*>(ext[2].get());
    ASSERT_TRUE(text);
    EXPECT_EQ(text->Header[0], 12);
    EXPECT_EQ(text->Header[5], 16);
    EXPECT_EQ(text->Lines, std::vector<std::string>{"hello"});
    const auto* app = dynamic_cast<const TGIFUnknownAppExtension*>(ext[3].get());
    ASSERT_TRUE(app);
    EXPECT_EQ(app->Identifier, "PELLAVOTEST");
    EXPECT_EQ(app->Blocks, (std::vector<std::vector<uint8_t>>{{'x', 'y'}, {'z'}}));
    const auto* short_app = dynamic_cast<const TGIFUnknownAppExtension*>(ext[4].get());
    ASSERT_TRUE(short_app);
    EXPECT_EQ(short_app->Identifier, "PELLAVO10A");
    const auto* gce = image.Images()[0].GraphicControl();
    ASSERT_TRUE(gce);
    EXPECT_EQ(gce->Delay, 7);
    EXPECT_EQ(gce->Disposal(), TGIFDisposal::dmBackground);
    EXPECT_TRUE(image.Images()[0].Transparent());
  };
  check(l.image);

  TMemoryStream s;
  l.image.SaveToStream(s);
  EXPECT_EQ(std::string(s.Bytes().begin(), s.Bytes().begin() + 6), "GIF89a");
  s.Seek(0);
  TGIFImage back;
  back.LoadFromStream(s);
  check(back);
  EXPECT_EQ(AllIndices(back.Frame(0)), (std::vector<uint8_t>{0, 1}));
}

TEST(GifDecoder, SmallGlobalTableBesideALargeLocalOneIsWrittenReadably) {
  // The 4-colour global table of the file, then a 256-colour frame of our own: the screen's size
  // field must describe the global table written, not the largest table of the file.
  TLoaded l = Load("interlaced.gif");
  TGIFSubImage added;
  added.Assign(test::MakeBitmap32(3, 2, [](int x, int y) { return ArgbColor(0xFF, uint8_t(50 * x), uint8_t(90 * y), 7); }),
               TGIFReductionMode::SystemOctreePalette);
  l.image.Images().push_back(added);
  TMemoryStream s;
  l.image.SaveToStream(s);
  s.Seek(0);
  TGIFImage back;
  back.LoadFromStream(s);
  ASSERT_EQ(back.FrameCount(), 2);
  EXPECT_EQ(back.Header().GlobalMap.Count(), 4);
  EXPECT_FALSE(back.Frame(0).Interlaced());  // rows are written in order
  EXPECT_EQ(AllIndices(back.Frame(0)), AllIndices(l.image.Frame(0)));
  EXPECT_EQ(AllIndices(back.Frame(1)), AllIndices(added));
  EXPECT_EQ(back.Frame(1).ColorMap().Colors(), added.ColorMap().Colors());
}

TEST(GifDecoder, HugeDescriptorInATinyFileAllocatesOnlyWhatTheDataHolds) {
  // Past the image limit, which refuses such a file by default, the frame still costs no more
  // than its data.
  TLoaded l = Load("bomb-65535x65535.gif", TDecodeLimits{UINT64_MAX});
  const TGIFSubImage& f = l.image.Frame(0);
  EXPECT_EQ(f.Width(), 65535);
  EXPECT_EQ(f.StoredCount(), 4u);
  EXPECT_EQ(f.Index(2, 0), 3);
  EXPECT_EQ(f.Index(4, 0), 0);          // the fill value
  EXPECT_EQ(f.Index(65534, 65534), 0);  // far beyond the data, nothing stored
  std::vector<TColor32> px(16 * 16, 0);
  l.image.Draw(TPixels32{px.data(), 16, 16}, TRect{0, 0, 16, 16});
  EXPECT_EQ(px[0], kGreen);
}

TEST(GifDecoder, PictureChoosesTheClassByExtension) {
  RegisterStandardFormats();
  test::TTempDir dir;
  const std::string path = dir.File("Photo.GIF");
  test::WriteBytes(path, test::ReadBytes(kData + "transparent-offset.gif"));
  TPicture picture;
  picture.ReadFromFile(path);
  ASSERT_TRUE(picture.Graphic()->Is(TGIFImage::StaticClass()));
  EXPECT_EQ(picture.Width(), 6);
  EXPECT_EQ(picture.Height(), 5);

  // The same file as a bitmap: the first frame with transparency left at zero.
  TBitmap bitmap;
  bitmap.Assign(*picture.Graphic());
  EXPECT_EQ(bitmap.Width(), 6);
  std::vector<TColor32> row(6);
  bitmap.ReadRow32(1, row.data());
  EXPECT_EQ(row[2], kRed);
  EXPECT_EQ(row[3], 0u);
}

}  // namespace
}  // namespace pellavo
