#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "raster/kernels.h"

namespace pellavo {
namespace {

TEST(Kernels, ValuesAtTheirKeyPoints) {
  struct Case {
    const char* kernel;
    float x;
    float expected;
  };
  const Case cases[] = {
      {"TBoxKernel", 0.5f, 1},          {"TBoxKernel", -0.5f, 1},         {"TBoxKernel", 0.50000006f, 0},
      {"TBoxKernel", 0, 1},             {"TLinearKernel", -1, 0},         {"TLinearKernel", -0.25f, 0.75f},
      {"TLinearKernel", 1, 0},          {"TLinearKernel", 0, 1},          {"TCosineKernel", 0, 1},
      {"TCosineKernel", 0.5f, 0.5f},    {"TCosineKernel", -0.5f, 0.5f},   {"TCosineKernel", 1, 0},
      {"TSplineKernel", 0, 2.0f / 3},   {"TSplineKernel", 1, 1.0f / 6},   {"TSplineKernel", -1, 1.0f / 6},
      {"TSplineKernel", 2, 0},          {"TMitchellKernel", 0, 16.0f / 18}, {"TMitchellKernel", 1, 1.0f / 18},
      {"TMitchellKernel", 2, 0},        {"TLanczosKernel", 0, 1},         {"TLanczosKernel", 3, 0},
      {"TLanczosKernel", -3.5f, 0},
  };
  for (const Case& c : cases) {
    const auto k = CreateKernel(c.kernel);
    ASSERT_TRUE(k) << c.kernel;
    EXPECT_EQ(k->Filter(c.x), c.expected) << c.kernel << "(" << c.x << ")";
  }
}

TEST(Kernels, LobesAndZeroCrossings) {
  TMitchellKernel mitchell;
  EXPECT_NEAR(mitchell.Filter(1.5f), -0.0347f, 0.0001f);
  TLanczosKernel lanczos;
  EXPECT_NEAR(lanczos.Filter(1), 0, 1e-6);
  EXPECT_NEAR(lanczos.Filter(2), 0, 1e-6);
  EXPECT_LT(lanczos.Filter(1.5f), 0);
  EXPECT_GT(lanczos.Filter(2.5f), 0);
  for (float x = -2.5f; x <= 2.5f; x += 0.125f) EXPECT_GE(TSplineKernel().Filter(x), 0) << x;
}

TEST(Kernels, RegistryWidthsRangeChecksAndDefaults) {
  struct Case {
    const char* name;
    float width;
    bool range_check;
  };
  const Case cases[] = {
      {"TBoxKernel", 1, false},      {"TLinearKernel", 1, false},   {"TCosineKernel", 1, false},
      {"TSplineKernel", 2, true},    {"TCubicKernel", 2, true},     {"TMitchellKernel", 2, true},
      {"TLanczosKernel", 3, true},   {"TGaussianKernel", 3, true},  {"TBlackmanKernel", 3, true},
      {"THannKernel", 3, true},      {"THammingKernel", 3, true},   {"TSinshKernel", 3, true},
      {"THermiteKernel", 2, true},
  };
  ASSERT_EQ(KernelClassNames().size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    EXPECT_EQ(KernelClassNames()[i], c.name);
    const auto k = CreateKernel(c.name);
    ASSERT_TRUE(k) << c.name;
    EXPECT_STREQ(k->ClassName(), c.name);
    EXPECT_EQ(k->GetWidth(), c.width) << c.name;
    EXPECT_EQ(k->RangeCheck(), c.range_check) << c.name;
    // Every kernel peaks near 1 at its centre, so an enlarging cluster is never empty.
    EXPECT_GE(k->Filter(0), 0.6f) << c.name;
  }
  EXPECT_EQ(CreateKernel("TNoSuchKernel"), nullptr);
  EXPECT_EQ(TCubicKernel().Coeff(), -0.5f);
  EXPECT_EQ(THermiteKernel().Bias(), 0.0f);
  EXPECT_EQ(THermiteKernel().Tension(), 0.0f);
  EXPECT_EQ(TSinshKernel().Coeff(), 0.5f);
  EXPECT_EQ(TGaussianKernel().Sigma(), 1.33f);
}

TEST(Kernels, PropertyChangesNotifyTheObserverOnce) {
  TNotifiablePersistent observer;
  int changes = 0;
  observer.OnChange = [&](TNotifiablePersistent&) { ++changes; };
  TLanczosKernel k;
  k.SetObserver(&observer);
  k.SetWidth(3);
  EXPECT_EQ(changes, 0);
  k.SetWidth(2);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(k.GetWidth(), 2.0f);
  EXPECT_EQ(k.Filter(2), 0);

  // Assign copies published properties between kernels of one class only.
  TLanczosKernel copy;
  copy.Assign(k);
  EXPECT_EQ(copy.Width(), 2.0f);
  THannKernel other;
  other.Assign(k);
  EXPECT_EQ(other.Width(), 3.0f);
  const auto clone = k.Clone();
  EXPECT_EQ(clone->GetWidth(), 2.0f);
  EXPECT_EQ(clone->Observer(), nullptr);
}

}  // namespace
}  // namespace pellavo
