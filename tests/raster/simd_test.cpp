#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "raster/bitmap32.h"
#include "raster/mapping_table.h"
#include "raster/simd/routines.h"
#include "raster/simd_level.h"
#include "raster_fixtures.h"

namespace pellavo {
namespace {

using test::RandomSurface;
using test::SurfacePixels;

// The vector variants this processor can run.
std::vector<const simd::TPixelRoutines*> VectorRoutines() {
  std::vector<const simd::TPixelRoutines*> v;
  if (DetectedSimdLevel() >= TSimdLevel::SSE2 && simd::Sse2Routines()) v.push_back(simd::Sse2Routines());
  if (DetectedSimdLevel() >= TSimdLevel::AVX2 && simd::Avx2Routines()) v.push_back(simd::Avx2Routines());
  return v;
}

const simd::TPixelRoutines& Scalar() { return simd::kScalarRoutines; }

std::vector<uint32_t> RandomPixels(std::mt19937& rng, size_t n) {
  std::vector<uint32_t> v(n);
  for (uint32_t& p : v) p = rng();
  return v;
}

TEST(Simd, FillsAndBlendsMatchTheReference) {
  std::mt19937 rng(1);
  for (const auto* r : VectorRoutines())
    for (size_t n = 0; n <= 35; ++n)
      for (uint32_t f : {0x01FFFFFFu, 0x80123456u, 0xFE00FF80u, 0x99000000u}) {
        const std::vector<uint32_t> base = RandomPixels(rng, n + 1);
        std::vector<uint32_t> a = base, b = base;
        Scalar().BlendRun(f, a.data(), n);
        r->BlendRun(f, b.data(), n);
        EXPECT_EQ(a, b) << r->name << " blend n=" << n;
        a = base, b = base;
        Scalar().Fill(a.data(), n, f);
        r->Fill(b.data(), n, f);
        EXPECT_EQ(a, b) << r->name << " fill n=" << n;
        a = base, b = base;
        Scalar().OpaqueAlpha(a.data(), n);
        r->OpaqueAlpha(b.data(), n);
        EXPECT_EQ(a, b) << r->name << " alpha n=" << n;
      }
}

TEST(Simd, KernelVerticalPassMatchesTheReference) {
  std::mt19937 rng(2);
  struct Case {
    int32_t taps;
    int32_t lo, hi;  // weight range
  };
  const Case cases[] = {{1, 256, 256}, {2, -40, 300}, {3, -300, 600}, {5, -40, 300}, {8, 0, 64},  {31, -20, 60},
                        {129, -5, 9},  {300, 0, 3},   {4, -32768, 32767}, {3, 32767, 32767}, {3, -32768, -32768},
                        {2, 40000, 40000},  // beyond 16 bits: the vector variants must not take the madd path
                        {3, -70000, 90000}, {0, 0, 0}};
  for (const auto* r : VectorRoutines())
    for (const Case& c : cases)
      for (int32_t count : {1, 3, 4, 7, 8, 9, 15, 16, 17, 37}) {
        std::vector<std::vector<uint32_t>> rows;
        std::vector<const uint32_t*> ptrs;
        std::vector<int32_t> w;
        for (int32_t k = 0; k < c.taps; ++k) {
          rows.push_back(RandomPixels(rng, size_t(count)));
          w.push_back(std::uniform_int_distribution<int32_t>(c.lo, c.hi)(rng));
        }
        for (const auto& row : rows) ptrs.push_back(row.data());
        std::vector<int32_t> a(size_t(count) * 4, 7), b(size_t(count) * 4, 9);
        Scalar().KernelVertical(ptrs.data(), w.data(), c.taps, count, a.data());
        r->KernelVertical(ptrs.data(), w.data(), c.taps, count, b.data());
        EXPECT_EQ(a, b) << r->name << " taps=" << c.taps << " count=" << count;
      }
}

TEST(Simd, KernelHorizontalPassMatchesTheReference) {
  std::mt19937 rng(3);
  for (const auto* r : VectorRoutines())
    for (bool clamp : {false, true})
      for (int32_t scale : {300, 70000, 1 << 30})  // the last makes the sums wrap
        for (int32_t count : {1, 2, 5, 16, 33}) {
          const int32_t columns = 40;
          for (int32_t taps : {2, 4, 6, 12, 38}) {
            std::vector<int32_t> sums(size_t(columns + taps) * 4);
            for (int32_t& v : sums) v = std::uniform_int_distribution<int32_t>(-scale, scale)(rng);
            std::vector<int32_t> first(static_cast<size_t>(count)), weight(size_t(count) * size_t(taps));
            for (int32_t d = 0; d < count; ++d) first[size_t(d)] = int32_t(rng() % uint32_t(columns));
            for (int32_t& w : weight) w = rng() % 4 == 0 ? 0 : std::uniform_int_distribution<int32_t>(-100, 400)(rng);
            std::vector<int32_t> weight4;
            for (int32_t w : weight) weight4.insert(weight4.end(), 4, w);
            const simd::TKernelHorzTable t{first.data(), weight.data(), weight4.data(), taps};
            std::vector<uint32_t> a(static_cast<size_t>(count)), b(static_cast<size_t>(count));
            Scalar().KernelHorizontal(sums.data(), t, count, clamp, a.data());
            r->KernelHorizontal(sums.data(), t, count, clamp, b.data());
            EXPECT_EQ(a, b) << r->name << " count=" << count << " taps=" << taps << " clamp=" << clamp;
          }
        }
}

TEST(Simd, BilinearAndBlockAverageMatchTheReference) {
  std::mt19937 rng(4);
  for (const auto* r : VectorRoutines()) {
    for (int32_t count : {1, 2, 3, 4, 5, 8, 9, 17, 33}) {
      const std::vector<uint32_t> row = RandomPixels(rng, 50), top = RandomPixels(rng, size_t(count)),
                                  bottom = RandomPixels(rng, size_t(count));
      std::vector<int32_t> pos(static_cast<size_t>(count)), w(static_cast<size_t>(count));
      for (int32_t i = 0; i < count; ++i) {
        pos[size_t(i)] = int32_t(rng() % 49);
        w[size_t(i)] = i % 5 == 0 ? 256 * int32_t(rng() % 2) : int32_t(rng() % 257);
      }
      std::vector<uint32_t> a(static_cast<size_t>(count)), b(static_cast<size_t>(count));
      Scalar().BilinearHorizontal(row.data(), pos.data(), w.data(), count, a.data());
      r->BilinearHorizontal(row.data(), pos.data(), w.data(), count, b.data());
      EXPECT_EQ(a, b) << r->name << " horizontal " << count;
      for (int32_t wy : {0, 1, 128, 255, 256}) {
        Scalar().BilinearVertical(top.data(), bottom.data(), wy, count, a.data());
        r->BilinearVertical(top.data(), bottom.data(), wy, count, b.data());
        EXPECT_EQ(a, b) << r->name << " vertical " << count << " wy=" << wy;
      }
    }
    for (int32_t rows : {1, 2, 3, 256, 257, 258, 600})
      for (int32_t count : {1, 4, 7, 8, 9, 19}) {
        std::vector<uint32_t> image = RandomPixels(rng, size_t(rows) * size_t(count + 3));
        if (rows > 256)  // the 16-bit lanes are worst off with every byte at 255
          for (size_t i = 0; i < image.size(); i += 2) image[i] = 0xFFFFFFFF;
        std::vector<uint32_t> a(size_t(count) * 4), b(size_t(count) * 4);
        Scalar().ColumnSums(image.data() + 1, count + 3, rows, count, a.data());
        r->ColumnSums(image.data() + 1, count + 3, rows, count, b.data());
        ASSERT_EQ(a, b) << r->name << " column sums rows=" << rows << " count=" << count;
        // Blocks of one to three columns; the largest block stays within 65536 pixels.
        if (rows > 21845) continue;
        std::vector<int32_t> bounds{0};
        while (bounds.back() < count) bounds.push_back(std::min(count, bounds.back() + 1 + int32_t(rng() % 3)));
        const int32_t blocks = int32_t(bounds.size()) - 1;
        std::vector<uint32_t> pa(static_cast<size_t>(blocks)), pb(static_cast<size_t>(blocks));
        Scalar().BlockAverage(a.data(), bounds.data(), blocks, rows, pa.data());
        r->BlockAverage(a.data(), bounds.data(), blocks, rows, pb.data());
        EXPECT_EQ(pa, pb) << r->name << " block average rows=" << rows << " count=" << count;
      }
  }
}

class TSimdLevelScope {
 public:
  TSimdLevelScope() : saved_(SimdLevel()) {}
  ~TSimdLevelScope() { SetSimdLevel(saved_); }

 private:
  TSimdLevel saved_;
};

// Whole transfers at every level against the scalar level, over filters, kernels, sizes that
// are not multiples of any vector width, and clipped destinations.
TEST(Simd, WholeTransfersAreBitIdenticalToScalar) {
  TSimdLevelScope restore;
  struct Geometry {
    int32_t sw, sh;
    TRect src, dst, dst_surface;
  };
  const Geometry geometries[] = {
      {97, 61, Rect(0, 0, 97, 61), Rect(0, 0, 23, 17), Rect(0, 0, 23, 17)},      // reduce
      {97, 61, Rect(3, 5, 90, 60), Rect(-4, -3, 31, 19), Rect(0, 0, 29, 15)},    // reduce, cropped and clipped
      {13, 11, Rect(0, 0, 13, 11), Rect(0, 0, 41, 35), Rect(0, 0, 41, 35)},      // enlarge
      {13, 11, Rect(1, 2, 12, 11), Rect(5, 1, 44, 39), Rect(0, 0, 40, 33)},      // enlarge, clipped
      {64, 9, Rect(0, 0, 64, 9), Rect(0, 0, 17, 30), Rect(0, 0, 17, 30)},        // reduce one way, enlarge the other
      {40, 30, Rect(0, 0, 40, 30), Rect(0, 0, 40, 7), Rect(0, 0, 40, 7)},        // one axis kept
      {1, 20, Rect(0, 0, 1, 20), Rect(0, 0, 9, 5), Rect(0, 0, 9, 5)},            // one-pixel-wide source
      {600, 7, Rect(0, 0, 600, 7), Rect(0, 0, 3, 2), Rect(0, 0, 3, 2)},          // long clusters
  };
  const auto run = [](TSimdLevel level, const TBitmap32& src, const Geometry& g, const auto& draw) {
    SetSimdLevel(level);
    TBitmap32 dst;
    dst.SetSize(g.dst_surface.Right, g.dst_surface.Bottom);
    dst.Clear(0x12345678);
    draw(src, dst);
    return SurfacePixels(dst);
  };
  uint32_t seed = 10;
  for (const Geometry& g : geometries) {
    TBitmap32 src;
    RandomSurface(src, g.sw, g.sh, ++seed);
    std::vector<std::pair<std::string, std::function<void(const TBitmap32&, TBitmap32&)>>> draws;
    for (TStretchFilter f : {sfNearest, sfDraft, sfLinear, sfCosine, sfSpline, sfLanczos, sfMitchell, TStretchFilter(255)})
      draws.emplace_back("filter " + std::to_string(f), [f, &g](const TBitmap32& s, TBitmap32& d) {
        TBitmap32 copy;
        copy.Assign(s);
        copy.SetStretchFilter(f);
        copy.DrawTo(d, g.dst, g.src);
      });
    for (const auto& name : KernelClassNames())
      draws.emplace_back(std::string(name), [name, &g](const TBitmap32& s, TBitmap32& d) {
        TRect clip = g.dst;
        IntersectRect(clip, clip, d.BoundsRect());
        Resample(d, g.dst, clip, s, g.src, *CreateKernel(name), dmOpaque, nullptr);
      });
    const std::vector<TSimdLevel> levels = {TSimdLevel::SSE2, TSimdLevel::AVX2};
    for (const auto& [what, draw] : draws) {
      const std::vector<TColor32> reference = run(TSimdLevel::Scalar, src, g, draw);
      for (TSimdLevel level : levels) {
        if (level > DetectedSimdLevel()) continue;
        EXPECT_EQ(run(level, src, g, draw), reference)
            << what << " at " << SimdLevelName(level) << ", " << g.sw << "x" << g.sh << " to " << g.dst.Width() << "x"
            << g.dst.Height();
      }
    }
  }
}

TEST(Simd, LevelCanBeForcedDownButNotUp) {
  TSimdLevelScope restore;
  EXPECT_EQ(SetSimdLevel(TSimdLevel::Scalar), TSimdLevel::Scalar);
  EXPECT_STREQ(simd::Routines().name, "scalar");
  EXPECT_EQ(SetSimdLevel(TSimdLevel::AVX2), DetectedSimdLevel());
  EXPECT_STREQ(simd::Routines().name, SimdLevelName(DetectedSimdLevel()));
}

}  // namespace
}  // namespace pellavo
