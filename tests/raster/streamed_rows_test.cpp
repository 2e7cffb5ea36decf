// Stretching from rows decoded as they are asked for gives exactly what stretching the whole
// surface gives, for every resampling path, while the rows held stay within the window.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "core/memory_budget.h"
#include "raster/bitmap32.h"
#include "raster/source_rows.h"
#include "raster/transfer.h"
#include "raster_fixtures.h"

namespace pellavo {
namespace {

using test::RandomSurface;
using test::SurfacePixels;

// Hands out a surface's rows in batches of an odd size, counting what it was asked for.
class TSurfaceImage final : public TRowImage {
 public:
  TSurfaceImage(const TBitmap32& s, int32_t batch) : s_(s), batch_(batch) {}
  int32_t Width() const override { return s_.Width(); }
  int32_t Height() const override { return s_.Height(); }
  uint64_t WorkingBytes() const override { return 1000; }
  void ReadRows(TColor32* out, int32_t count) override {
    // The window asks for what it needs in one call; a decoder may serve it in pieces.
    ASSERT_LE(next_ + count, Height());
    for (int32_t done = 0; done < count;) {
      const int32_t n = std::min(batch_, count - done);
      std::copy_n(s_.ScanLine(next_), size_t(n) * size_t(Width()), out + size_t(done) * size_t(Width()));
      next_ += n;
      done += n;
    }
  }
  void Finish() override { finished_ = true; }

  int32_t next_ = 0;
  bool finished_ = false;

 private:
  const TBitmap32& s_;
  int32_t batch_;
};

struct TGeometry {
  const char* name;
  int32_t sw, sh;  // source surface
  TRect src;       // source rectangle
  int32_t tw, th;  // target surface
  TRect dst;       // destination rectangle
};

TEST(StreamedRows, EveryPathGivesTheSurfacesPixels) {
  const TGeometry geometries[] = {
      {"reduce by 7", 211, 157, {0, 0, 211, 157}, 30, 22, {0, 0, 30, 22}},
      {"reduce by 40", 400, 300, {0, 0, 400, 300}, 10, 8, {0, 0, 10, 8}},
      // Taller than the window: rows move to its front while later ones are decoded.
      {"tall, reduce by 10", 40, 700, {0, 0, 40, 700}, 20, 70, {0, 0, 20, 70}},
      {"enlarge", 13, 9, {0, 0, 13, 9}, 40, 31, {0, 0, 40, 31}},
      {"reduce one axis only", 64, 200, {0, 0, 64, 200}, 64, 17, {0, 0, 64, 17}},
      {"wide crop", 160, 160, {0, 35, 160, 125}, 32, 18, {0, 0, 32, 18}},
      {"border inset", 120, 90, {0, 0, 120, 90}, 40, 30, {5, 5, 35, 25}},
      {"rectangle past the target", 50, 1, {0, 0, 50, 1}, 7, 1, {-1, -1, 8, 2}},
      {"same size", 37, 23, {0, 0, 37, 23}, 37, 23, {0, 0, 37, 23}},
      {"one row high", 90, 1, {0, 0, 90, 1}, 20, 3, {0, 0, 20, 3}},
  };
  const TStretchFilter filters[] = {sfNearest, sfDraft, sfLinear, sfCosine, sfSpline, sfLanczos, sfMitchell, 255};
  for (const TGeometry& g : geometries)
    for (TStretchFilter f : filters)
      for (int32_t batch : {1, 5}) {
        SCOPED_TRACE(std::string(g.name) + ", filter " + std::to_string(f) + ", batch " + std::to_string(batch));
        TBitmap32 src;
        RandomSurface(src, g.sw, g.sh, 7);
        src.SetStretchFilter(f);
        TBitmap32 whole, streamed;
        whole.SetSize(g.tw, g.th);
        streamed.SetSize(g.tw, g.th);
        src.DrawTo(whole, g.dst, g.src);

        TSurfaceImage image(src, batch);
        TStreamedRows rows(image, TDecodeLimits{});
        StretchRows(streamed, g.dst, rows, g.src, src.Resampler());
        rows.Finish();
        EXPECT_EQ(SurfacePixels(streamed), SurfacePixels(whole));
        // Every row was decoded once, the ones no destination row needs included.
        EXPECT_EQ(image.next_, g.sh);
        EXPECT_TRUE(image.finished_);
      }
}

// A tall source reduced a lot passes through a window of a few kernel heights.
TEST(StreamedRows, TheWindowHoldsAFewKernelHeights) {
  TBitmap32 src;
  RandomSurface(src, 64, 3000, 5);
  for (TStretchFilter f : {sfNearest, sfDraft, TStretchFilter(255)}) {
    src.SetStretchFilter(f);
    TBitmap32 dst;
    dst.SetSize(64, 30);
    TSurfaceImage image(src, 4);
    TStreamedRows rows(image, TDecodeLimits{});
    StretchRows(dst, dst.BoundsRect(), rows, src.BoundsRect(), src.Resampler());
    EXPECT_LE(rows.WindowBytes(), uint64_t(64) * 3000 * 4 / 5) << int(f);
  }
}

// What the window holds is claimed from the run's budget, with what the decoder holds.
TEST(StreamedRows, TheWindowIsClaimedFromTheBudget) {
  TBitmap32 src;
  RandomSurface(src, 300, 200, 3);
  src.SetStretchFilter(sfLanczos);
  TBitmap32 dst;
  dst.SetSize(30, 20);
  auto budget = std::make_shared<TMemoryBudget>(uint64_t{1} << 30);
  TMemoryClaim claim(budget);
  TSurfaceImage image(src, 3);
  TStreamedRows rows(image, TDecodeLimits{kDefaultMaxImageBytes, &claim});
  StretchRows(dst, dst.BoundsRect(), rows, src.BoundsRect(), src.Resampler());
  EXPECT_EQ(claim.Bytes(), rows.WindowBytes() + image.WorkingBytes());
  EXPECT_EQ(budget->Held(), claim.Bytes());
}

// Rows asked for out of order, or more at once than planned, are a fault of the caller.
TEST(StreamedRows, AskingBeyondThePlanIsRefused) {
  TBitmap32 src;
  RandomSurface(src, 8, 40, 1);
  TSurfaceImage image(src, 2);
  TStreamedRows rows(image, TDecodeLimits{});
  rows.Plan(3);
  const TColor32* r = rows.Rows(10, 12);
  EXPECT_EQ(std::vector<TColor32>(r, r + 3 * 8), std::vector<TColor32>(src.ScanLine(10), src.ScanLine(13)));
  EXPECT_EQ(image.next_, 13);
  r = rows.Rows(12, 14);
  EXPECT_EQ(r[0], src.ScanLine(12)[0]);
  EXPECT_EQ(r[2 * 8 + 7], src.ScanLine(14)[7]);
  EXPECT_THROW(rows.Rows(14, 40), EInvalidGraphicOperation);
}

}  // namespace
}  // namespace pellavo
