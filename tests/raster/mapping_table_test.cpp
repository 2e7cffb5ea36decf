#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "raster/mapping_table.h"

namespace pellavo {
namespace {

TEST(MappingTable, WorkedExamples) {
  struct Case {
    const char* name;
    std::unique_ptr<TCustomKernel> kernel;
    int32_t dst_lo, dst_hi, clip_lo, clip_hi, src_lo, src_hi;
    TMappingTable expected;
  };
  Case cases[] = {
      {"box 4 to 2", std::make_unique<TBoxKernel>(), 0, 2, 0, 2, 0, 4, {{{0, 128}, {1, 128}}, {{2, 128}, {3, 128}}}},
      {"box 6 to 2: the middle entry takes the rounding",
       std::make_unique<TBoxKernel>(), 0, 2, 0, 2, 0, 6,
       {{{0, 85}, {1, 86}, {2, 85}}, {{3, 85}, {4, 86}, {5, 85}}}},
      {"triangle 4 to 2: position -1 is clamped to 0",
       std::make_unique<TLinearKernel>(), 0, 2, 0, 1, 0, 4, {{{0, 32}, {0, 96}, {1, 96}, {2, 32}}}},
      {"one-pixel source span", std::make_unique<TLanczosKernel>(), 0, 3, 0, 3, 7, 8,
       {{{7, 256}}, {{7, 256}}, {{7, 256}}}},
      {"box at scale 1", std::make_unique<TBoxKernel>(), 10, 13, 10, 13, 4, 7, {{{4, 256}}, {{5, 256}}, {{6, 256}}}},
      {"box reduced 512 times: nearest pixel only", std::make_unique<TBoxKernel>(), 0, 2, 0, 2, 0, 1024,
       {{{255, 256}}, {{767, 256}}}},
      {"clipped: only the second destination pixel", std::make_unique<TBoxKernel>(), 0, 2, 1, 2, 0, 4,
       {{{2, 128}, {3, 128}}}},
      {"empty source span", std::make_unique<TBoxKernel>(), 0, 2, 0, 2, 5, 5, {}},
  };
  for (Case& c : cases)
    EXPECT_EQ(BuildMappingTable(c.dst_lo, c.dst_hi, c.clip_lo, c.clip_hi, c.src_lo, c.src_hi, *c.kernel), c.expected)
        << c.name;
}

TEST(MappingTable, ClustersSumTo256InsideTheSourceSpan) {
  for (const auto& name : KernelClassNames()) {
    const auto kernel = CreateKernel(name);
    for (int32_t src : {2, 3, 7, 50, 333})
      for (int32_t dst : {1, 2, 5, 49, 51, 700}) {
        const int32_t src_lo = 3, clip_lo = dst / 3;
        const TMappingTable t = BuildMappingTable(0, dst, clip_lo, dst, src_lo, src_lo + src, *kernel);
        ASSERT_EQ(t.size(), size_t(dst - clip_lo));
        for (const TCluster& c : t) {
          ASSERT_FALSE(c.empty());
          int32_t sum = 0;
          for (const TClusterEntry& e : c) {
            EXPECT_GE(e.Pos, src_lo);
            EXPECT_LT(e.Pos, src_lo + src);
            sum += e.Weight;
          }
          EXPECT_EQ(sum, 256) << std::string(name) << " " << src << "->" << dst;
        }
      }
  }
}

}  // namespace
}  // namespace pellavo
