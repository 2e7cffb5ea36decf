#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "formats/picture.h"
#include "raster/bitmap32.h"
#include "raster/raster_errors.h"
#include "raster_fixtures.h"
#include "support/images.h"

namespace pellavo {
namespace {

using test::FillSurface;
using test::MakeBitmap32;
using test::SurfacePixels;

// Paints its own pixels over the target by their alpha, the way a PNG with an alpha channel
// draws itself.
class TAlphaStub : public TGraphic {
  PELLAVO_GRAPHIC_CLASS()

 public:
  std::vector<TColor32> image;
  int32_t w = 0, h = 0;
  void Draw(const TPixels32& target, const TRect& rect) override {
    for (int32_t y = rect.Top; y < rect.Bottom && y < target.Height; ++y)
      for (int32_t x = rect.Left; x < rect.Right && x < target.Width; ++x)
        target.Row(y)[x] = BlendOver(image[size_t(y * w + x)], target.Row(y)[x]);
  }
  bool Empty() const override { return w == 0 || h == 0; }
  int32_t Width() const override { return w; }
  int32_t Height() const override { return h; }
  void LoadFromStream(TStream&) override {}
  void SaveToStream(TStream&) override {}
};
PELLAVO_DEFINE_GRAPHIC(TAlphaStub, TGraphic)

// Paints only some pixels, like an icon through its mask.
class TCoverageStub : public TAlphaStub {
  PELLAVO_GRAPHIC_CLASS()

 public:
  bool UsesCoverageAlpha() const override { return true; }
};
PELLAVO_DEFINE_GRAPHIC(TCoverageStub, TAlphaStub)

template <class G>
std::unique_ptr<G> Stub(int32_t w, int32_t h, std::vector<TColor32> image) {
  auto g = std::make_unique<G>();
  g->w = w;
  g->h = h;
  g->image = std::move(image);
  return g;
}

TEST(Color32, ConvertsWindowColoursAndClampsAlpha) {
  struct Case {
    TColor in;
    TColor32 out;
  };
  const Case cases[] = {
      {0x00123456, 0xFF563412},
      {0x000000FF, 0xFFFF0000},  // pure red
      {0x7F00FF00, 0xFF00FF00},  // the top byte of a non-negative value is ignored
      {static_cast<TColor>(0x8000000F), 0xFFD4D0C8},  // button face, resolved
      {static_cast<TColor>(0x80000005), 0xFFFFFFFF},  // window background
  };
  for (const Case& c : cases) EXPECT_EQ(Color32(c.in), c.out) << std::hex << c.in;
  EXPECT_EQ(SetAlpha(0x12345678, 300), 0xFF345678u);
  EXPECT_EQ(SetAlpha(0x12345678, -5), 0x00345678u);
  EXPECT_EQ(SetAlpha(0x12345678, 153), 0x99345678u);
}

TEST(Bitmap32, SizeRulesAndZeroedPixels) {
  TBitmap32 s;
  EXPECT_TRUE(s.Empty());
  EXPECT_TRUE(s.SetSize(-5, 10));
  EXPECT_EQ(s.Width(), 0);
  EXPECT_EQ(s.Height(), 10);
  EXPECT_TRUE(s.Empty());
  int changes = 0;
  s.OnChange = [&](TNotifiablePersistent&) { ++changes; };
  s.Clear(0xFFFFFFFF);
  EXPECT_EQ(changes, 0);

  EXPECT_TRUE(s.SetSize(3, 2));
  EXPECT_FALSE(s.Empty());
  EXPECT_EQ(s.BoundsRect(), Rect(0, 0, 3, 2));
  EXPECT_EQ(s.ClipRect(), Rect(0, 0, 3, 2));
  EXPECT_EQ(SurfacePixels(s), std::vector<TColor32>(6, 0));
  s.Clear(0x11223344);
  EXPECT_FALSE(s.SetSize(3, 2));
  EXPECT_EQ(SurfacePixels(s), std::vector<TColor32>(6, 0x11223344));
  EXPECT_TRUE(s.SetSize(2, 3));
  EXPECT_EQ(SurfacePixels(s), std::vector<TColor32>(6, 0));

  s.Clear(0x11223344);
  s.ResetAlpha();
  EXPECT_EQ(SurfacePixels(s), std::vector<TColor32>(6, 0xFF223344));
}

TEST(Bitmap32, RefusedAllocationLeavesAnEmptySurface) {
  TBitmap32 s;
  s.SetSize(4, 4);
  try {
    s.SetSize(100000, 100000);
    FAIL() << "no error";
  } catch (const EOutOfResources& e) {
    EXPECT_STREQ(e.what(), "Can't allocate the DIB handle");
    EXPECT_EQ(e.Cause(), "not enough memory for 100000 × 100000 pixels (38146 MB)");
  }
  EXPECT_EQ(s.Width(), 0);
  EXPECT_EQ(s.Height(), 0);
  EXPECT_TRUE(s.Empty());
  EXPECT_EQ(s.Bits(), nullptr);
}

TEST(Bitmap32, NotificationsWaitForTheUpdateBracket) {
  TBitmap32 s;
  s.SetSize(5, 4);
  std::vector<std::string> seen;
  s.OnAreaChanged = [&](TBitmap32&, const TRect& r, uint32_t info) {
    seen.push_back("area " + std::to_string(r.Right) + "x" + std::to_string(r.Bottom) + " " + std::to_string(info));
  };
  s.OnChange = [&](TNotifiablePersistent&) { seen.push_back("change"); };
  s.BeginUpdate();
  s.Clear(1);
  s.SetDrawMode(dmBlend);
  EXPECT_TRUE(seen.empty());
  s.EndUpdate();
  s.Changed();
  EXPECT_EQ(seen, (std::vector<std::string>{"area 5x4 2147483648", "change"}));

  seen.clear();
  s.SetDrawMode(dmBlend);  // unchanged: no notification
  s.SetMasterAlpha(255);
  EXPECT_TRUE(seen.empty());

  try {
    s.EndUpdate();
    FAIL() << "no error";
  } catch (const EAssertionFailed& e) {
    EXPECT_STREQ(e.what(), "Unpaired TThreadPersistent.EndUpdate");
  }
}

TEST(Bitmap32, AssignFromBitmapsFollowsTheirAlpha) {
  const auto pattern = [](int x, int y) { return TColor32(0x40000000u * uint32_t(x) + 0x010203u * uint32_t(1 + x + 3 * y)); };
  TBitmap b32 = MakeBitmap32(3, 2, pattern);
  TBitmap32 s;
  s.Assign(b32);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(s.ScanLine(y)[x], pattern(x, y)) << x << "," << y;

  TBitmap b24 = b32;
  b24.SetPixelFormat(TPixelFormat::pf24bit);
  s.Assign(b24);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(s.ScanLine(y)[x], pattern(x, y) | 0xFF000000u);

  // Transparent white: white pixels lose their alpha, nothing else changes.
  TBitmap t = MakeBitmap32(2, 2, [](int x, int y) { return (x + y) % 2 ? 0xFFFFFFFFu : 0xFF00FF00u; });
  t.SetPixelFormat(TPixelFormat::pf24bit);
  t.SetTransparent(true);
  t.SetTransparentColor(0x00FFFFFF);
  TPicture picture;
  picture.SetGraphic(std::make_unique<TBitmap>(t));
  s.Assign(picture);
  EXPECT_EQ(SurfacePixels(s), (std::vector<TColor32>{0xFF00FF00, 0x00FFFFFF, 0x00FFFFFF, 0xFF00FF00}));
}

TEST(Bitmap32, GraphicsWithAlphaLandOnOpaqueBlack) {
  TPicture picture;
  picture.SetGraphic(Stub<TAlphaStub>(3, 1, {0x00FFFFFF, 0x80FFFFFF, 0xFF123456}));
  TBitmap32 s;
  s.Assign(picture);
  const std::vector<TColor32> expected{0xFF000000, 0xFF808080, 0xFF123456};
  EXPECT_EQ(SurfacePixels(s), expected);
  // A surface that already has the size must not let its old pixels show through.
  s.Clear(0xFFFFFFFF);
  s.Assign(picture);
  EXPECT_EQ(SurfacePixels(s), expected);
  s.Clear(0xFFFFFFFF);
  s.Assign(*picture.Graphic());
  EXPECT_EQ(SurfacePixels(s), expected);
}

TEST(Bitmap32, CoverageGraphicsGetOpaquePaintAndTransparentWhiteElsewhere) {
  // Left out, painted opaque, painted half-transparent (differs between the two passes).
  TPicture picture;
  picture.SetGraphic(Stub<TCoverageStub>(3, 1, {0x00000000, 0xFF123456, 0x80000000}));
  TBitmap32 s;
  s.Assign(picture);
  EXPECT_EQ(SurfacePixels(s), (std::vector<TColor32>{0x00FFFFFF, 0xFF123456, 0x00808080}));
}

TEST(Bitmap32, AssignToPictureGivesA32BitBitmapWithLiteralPixels) {
  TPicture picture;
  picture.SetGraphic(Stub<TAlphaStub>(1, 1, {0xFF000000}));
  TBitmap32 s;
  FillSurface(s, 3, 2, [](int x, int y) { return TColor32(0x10000000u * uint32_t(1 + x + 3 * y) + uint32_t(x + 10 * y)); });
  s.AssignTo(picture);
  ASSERT_TRUE(picture.Graphic()->Is(TBitmap::StaticClass()));
  const TBitmap& b = picture.Bitmap();
  EXPECT_EQ(b.PixelFormat(), TPixelFormat::pf32bit);
  EXPECT_EQ(test::Pixels(b), SurfacePixels(s));

  TBitmap32 empty;
  empty.SetSize(7, 0);
  empty.AssignTo(picture);
  EXPECT_EQ(picture.Bitmap().Width(), 7);
  EXPECT_EQ(picture.Bitmap().Height(), 0);
  EXPECT_EQ(picture.Bitmap().PixelFormat(), TPixelFormat::pf32bit);
}

TEST(Bitmap32, StretchFilterSelectsTheResampler) {
  struct Case {
    TStretchFilter filter;
    const char* resampler;
    const char* kernel;  // nullptr: not a kernel resampler
  };
  const Case cases[] = {
      {sfDraft, "TDraftResampler", nullptr},        {sfLinear, "TLinearResampler", nullptr},
      {sfCosine, "TKernelResampler", "TCosineKernel"}, {sfSpline, "TKernelResampler", "TSplineKernel"},
      {sfLanczos, "TKernelResampler", "TLanczosKernel"}, {sfMitchell, "TKernelResampler", "TMitchellKernel"},
      {7, "TKernelResampler", "TBoxKernel"},        {255, "TKernelResampler", "TBoxKernel"},
      {sfNearest, "TNearestResampler", nullptr},
  };
  TBitmap32 s;
  const TCustomResampler* initial = &s.Resampler();
  s.SetStretchFilter(sfNearest);
  EXPECT_EQ(&s.Resampler(), initial);
  EXPECT_STREQ(s.Resampler().ClassName(), "TNearestResampler");
  for (const Case& c : cases) {
    s.SetStretchFilter(c.filter);
    EXPECT_EQ(s.StretchFilter(), c.filter);
    EXPECT_STREQ(s.Resampler().ClassName(), c.resampler);
    if (c.kernel) {
      const auto& k = dynamic_cast<const TKernelResampler&>(s.Resampler());
      EXPECT_EQ(k.KernelClassName(), c.kernel);
      EXPECT_EQ(k.TableSize(), 32);
    }
  }
  s.SetStretchFilter(255);
  const TCustomResampler* current = &s.Resampler();
  int changes = 0;
  s.OnChange = [&](TNotifiablePersistent&) { ++changes; };
  s.SetStretchFilter(255);
  EXPECT_EQ(&s.Resampler(), current);
  EXPECT_EQ(changes, 0);
  // A change of the resampler's own settings is the surface's change.
  dynamic_cast<TKernelResampler&>(s.Resampler()).SetKernelClassName("TMitchellKernel");
  EXPECT_EQ(changes, 1);
  dynamic_cast<TKernelResampler&>(s.Resampler()).SetKernelClassName("TNoSuchKernel");
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(dynamic_cast<TKernelResampler&>(s.Resampler()).KernelClassName(), "TMitchellKernel");
}

TEST(Bitmap32, AssignFromSurfaceCopiesPixelsAndDrawingProperties) {
  TBitmap32 a;
  test::RandomSurface(a, 5, 3, 7);
  a.SetStretchFilter(sfLanczos);
  dynamic_cast<TLanczosKernel&>(dynamic_cast<TKernelResampler&>(a.Resampler()).Kernel()).SetWidth(2);
  a.SetMasterAlpha(77);
  TBitmap32 b;
  b.Assign(a);
  EXPECT_EQ(SurfacePixels(b), SurfacePixels(a));
  EXPECT_EQ(b.StretchFilter(), sfLanczos);
  EXPECT_EQ(b.MasterAlpha(), 77u);
  const auto& k = dynamic_cast<const TKernelResampler&>(b.Resampler());
  EXPECT_NE(&k, &a.Resampler());
  EXPECT_EQ(&k.Bitmap(), &b);
  EXPECT_EQ(dynamic_cast<const TLanczosKernel&>(k.Kernel()).Width(), 2.0f);
}

}  // namespace
}  // namespace pellavo
